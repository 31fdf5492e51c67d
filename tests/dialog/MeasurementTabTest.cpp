// The Measurement and Scope Settings tabs of the shown dialog against the
// simulator: buttons, lists, result boxes, the export and the setup file.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "dialog/MeasurementTab.h"
#include "support/qt/QtUiServices.h"
#include "tests/dialog/DialogTestSupport.h"

namespace cvn::test {
namespace {

using D = FWCdlgHalv;
using namespace std::chrono_literals;

class MeasurementTabTest : public DialogTest {
protected:
    std::string path(const std::string& name) const {
        return std::string(std::getenv("HOME")) + "/" + name;
    }
};

std::string ask(const sim::SimProcess& sim, const std::string& query) {
    auto session = io::IoManager().Open(sim.address());
    session->Output(query);
    return session->EnterText();
}

std::string readAll(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

QCheckBox* box(D& d, const char* name) {
    return d.control<QCheckBox>(std::string("chkMea") + name);
}
QLineEdit* result(D& d, const char* name) {
    return d.control<QLineEdit>(std::string("txtMea") + name);
}

void pick(QComboBox* list, const QString& entry) {
    const int i = list->findText(entry);
    ASSERT_GE(i, 0) << entry.toStdString();
    list->setCurrentIndex(i);
    emit list->activated(i);
}

TEST_F(MeasurementTabTest, MeasureSelectClearSaveAndPickSources) {
    sim::SimProcess sim({"--model", "MSOHX5104"});
    store(kKeyAddress, sim.address());
    const std::string csv = path("results.csv");
    ASSERT_TRUE(show([&](D& d) {
        ASSERT_TRUE(items(d.cboSource1).contains("DIG3"));
        ClearAllMeasurements(d);
        box(d, "Freq")->setChecked(true);
        box(d, "Amplitude")->setChecked(true);
        result(d, "RMS")->setText("stale");
        ui_->reset();
        d.cmdMeasure->click();
        EXPECT_EQ(result(d, "Freq")->text(), "+1.00000kHz");
        EXPECT_TRUE(result(d, "Amplitude")->text().startsWith("+2.3"));
        EXPECT_TRUE(result(d, "Amplitude")->text().endsWith("V"));
        EXPECT_EQ(result(d, "RMS")->text(), "");
        EXPECT_EQ(d.cboSource1->currentText(), "CHAN1");
        EXPECT_EQ(d.cboSource2->currentText(), "CHAN2");
        EXPECT_TRUE(ui_->boxes().empty());
        EXPECT_EQ(ui_->busyOnCount(), 1);
        EXPECT_FALSE(ui_->busy());

        // The export: ticked rows in the tab's order, as shown; a row ticked
        // after the measurement has an empty result.
        box(d, "RMS")->setChecked(true);
        ui_->queueSave(csv);
        d.cmdSaveMeaData->click();
        EXPECT_EQ(readAll(csv), "Amplitude," + result(d, "Amplitude")->text().toStdString() +
                                    ",\r\nFreq,+1.00000kHz,\r\nRMS,,\r\n");

        // Select All leaves unavailable boxes alone; Clear All takes all.
        box(d, "Phase")->setEnabled(false);
        d.cmdSelectAll->click();
        for (QCheckBox* b : d.chkMea) EXPECT_EQ(b->isChecked(), b != box(d, "Phase"));
        d.cmdClearAll->click();
        for (QCheckBox* b : d.chkMea) EXPECT_FALSE(b->isChecked());
        for (QLineEdit* t : d.txtMea) EXPECT_TRUE(t->text().isEmpty());
        box(d, "Phase")->setEnabled(true);

        // A logic bit in the first list: the scope measures it, and only the
        // timing measurements stay on offer.
        box(d, "RMS")->setChecked(true);
        pick(d.cboSource1, "DIG3");
        EXPECT_EQ(ask(sim, ":MEASure:SOURce?"), "DIG3,DIG3\n");
        EXPECT_FALSE(D::isAvailable(box(d, "RMS")));
        EXPECT_FALSE(box(d, "RMS")->isChecked());
        EXPECT_TRUE(D::isAvailable(box(d, "Freq")));
        d.cmdMeasureNew->click();
        EXPECT_EQ(ui_->waits().back(), 500ms);
        EXPECT_EQ(d.cboSource1->currentText(), "DIG3");

        pick(d.cboSource1, "CHAN1");
        pick(d.cboSource2, "CHAN2");
        EXPECT_EQ(ask(sim, ":MEASure:SOURce?"), "CHAN1,CHAN2\n");
        EXPECT_TRUE(D::isAvailable(box(d, "RMS")));
        EXPECT_TRUE(ui_->boxes().empty());

        // Without a connection the user hears so, and the results stay.
        gSession.reset();
        box(d, "Freq")->setChecked(true);
        result(d, "Freq")->setText("kept");
        d.cmdMeasure->click();
        ASSERT_EQ(ui_->boxes().size(), 1u);
        EXPECT_EQ(ui_->boxes()[0].text.rfind("No connection.", 0), 0u);
        EXPECT_EQ(result(d, "Freq")->text(), "kept");
    }));
}

// The source lists are filled with what the scope offers and show no entry
// until the scope names one: the scope's own setting applies meanwhile,
// and a pick in the second list sends only what the user chose.
TEST_F(MeasurementTabTest, SourceListsShowNothingTheScopeDidNotChoose) {
    sim::SimProcess sim({"--model", "MSOHX5104"});
    store(kKeyAddress, sim.address());
    ASSERT_TRUE(show([&](D& d) {
        ASSERT_TRUE(items(d.cboSource1).contains("DIG0"));
        ASSERT_TRUE(items(d.cboSource2).contains("CHAN2"));
        for (QComboBox* list : {d.cboSource1, d.cboSource2}) {
            EXPECT_EQ(list->currentIndex(), -1);
            EXPECT_EQ(list->currentText(), "");
        }
        EXPECT_TRUE(D::isShown(d.Label10));  // the note on what applies now
        EXPECT_EQ(ask(sim, ":MEASure:SOURce?"), "CHAN1,CHAN2\n");

        // Only the second list picked: the first list's (empty) text goes
        // with it, never an entry the user did not choose.
        auto real = gSession;
        ScriptedSession scripted;
        (*scripted.replies)[":MEASure:SOURce?"] = "CHAN2\n";
        for (int k = 1; k <= 4; ++k)
            (*scripted.replies)[":FUNCtion" + std::to_string(k) + "?"] = "OFF\n";
        scripted.install();
        pick(d.cboSource2, "CHAN2");
        ASSERT_FALSE(scripted.log->empty());
        EXPECT_EQ(scripted.log->front(), ":MEASure:SOURce ,CHAN2");
        gSession = real;

        // A measurement shows what the scope measures.
        d.cmdMeasure->click();
        EXPECT_EQ(d.cboSource1->currentText(), "CHAN1");
        EXPECT_EQ(d.cboSource2->currentText(), "CHAN2");
        d.cmdCancel_Click();
    }));
    // Shown again: the lists are filled anew, and again nothing is shown.
    ASSERT_TRUE(show([&](D& d) {
        EXPECT_EQ(d.cboSource1->currentIndex(), -1);
        EXPECT_EQ(d.cboSource2->currentIndex(), -1);
        d.cmdCancel_Click();
    }));
}

// "Current Acquisition" clicked while "New Acquisition" pauses: the pause
// blocks, so the click runs after the first sequence, never inside it.
TEST_F(MeasurementTabTest, AClickDuringThePauseRunsAfterTheSequence) {
    setUiServices(std::make_shared<QtUiServices>());
    ScriptedSession scope;
    (*scope.replies)[":MEASure:SOURce?"] = "CHAN1,CHAN2\n";
    (*scope.replies)[":CHAN2:DISP?"] = "1\n";
    for (int k = 1; k <= 4; ++k) (*scope.replies)[":FUNCtion" + std::to_string(k) + "?"] = "OFF\n";
    scope.install();
    D& d = captureDialog();
    ClearAllMeasurements(d);
    d.show();
    bool clicked = false;
    QTimer::singleShot(20, &d, [&] {
        clicked = true;
        d.cmdMeasure->click();
    });
    MeasureNewAcquisition(d);
    EXPECT_FALSE(clicked) << "the click ran inside the pause";
    const auto stops = [&] { return std::count(scope.log->begin(), scope.log->end(), ":STOP"); };
    EXPECT_EQ(stops(), 1);
    ASSERT_FALSE(scope.log->empty());
    EXPECT_EQ(scope.log->front(), ":SINGle");
    EXPECT_EQ(scope.log->back(), ":MEASure:CLEar");
    // Afterwards the queued click gets its own whole sequence.
    QTRY_VERIFY(clicked);
    EXPECT_EQ(stops(), 2);
    EXPECT_EQ(scope.log->back(), ":MEASure:CLEar");
    d.hide();
}

TEST_F(MeasurementTabTest, ScopeSettingsOkSavesAndSendsAndKeepsTheDialogOpen) {
    sim::SimProcess sim({"--model", "MSOHX5104"});
    store(kKeyAddress, sim.address());
    const std::string file = path("bench.scp");
    ASSERT_TRUE(show([&](D& d) {
        tell(sim, ":TIM:SCAL 2e-6;:CHAN3:DISP 1");
        const std::string saved = ask(sim, ":SYSTem:SETup?");
        d.SSTab1->setCurrentIndex(D::kTabScopeSettings);
        ASSERT_TRUE(d.optSaveToFile->isChecked());
        ui_->reset();
        ui_->queueSave(file);
        d.cmdOK->click();
        EXPECT_TRUE(std::filesystem::exists(file));
        EXPECT_TRUE(d.isVisible());

        tell(sim, "*RST");
        d.optSendToScope->setChecked(true);
        ui_->queueOpen(file);
        d.cmdOK->click();
        // The setup went out on the add-in's own session with no reply;
        // its answer to *OPC? says the scope has taken it, before the
        // state is asked for over another connection.
        gSession->Output("*OPC?");
        gSession->EnterText();
        EXPECT_EQ(ask(sim, ":SYSTem:SETup?"), saved);
        EXPECT_TRUE(d.isVisible());
        EXPECT_FALSE(d.Cancel());
        EXPECT_TRUE(ui_->boxes().empty());
        EXPECT_EQ(ui_->busyOnCount(), 2);
    }));
}

}  // namespace
}  // namespace cvn::test
