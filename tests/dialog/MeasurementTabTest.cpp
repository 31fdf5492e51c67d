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

#include "dialog/MeasurementTab.h"
#include "support/qt/QtUiServices.h"
#include "tests/dialog/DialogTestSupport.h"
#include "tests/support/TempHome.h"

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
    store("Corvane Halvio Series", sim.address());
    const std::string csv = path("results.csv");
    ASSERT_TRUE(show([&](D& d) {
        // The lists show no entry until the scope names one.
        EXPECT_EQ(d.cboSource1->currentIndex(), -1);
        EXPECT_EQ(d.cboSource2->currentText(), "");
        EXPECT_TRUE(D::isShown(d.Label10));  // the note on what applies now
        ClearAllMeasurements(d);
        box(d, "Freq")->setChecked(true);
        box(d, "Amplitude")->setChecked(true);
        result(d, "RMS")->setText("stale");
        ui_->reset();
        d.cmdMeasure->click();
        EXPECT_EQ(result(d, "Freq")->text(), "+1.00000kHz");
        EXPECT_TRUE(result(d, "Amplitude")->text().startsWith("+2.3"));
        EXPECT_EQ(result(d, "RMS")->text(), "");
        EXPECT_EQ(d.cboSource1->currentText(), "CHAN1");  // what the scope measures
        EXPECT_EQ(d.cboSource2->currentText(), "CHAN2");
        EXPECT_EQ(ui_->busyOnCount(), 1);
        EXPECT_FALSE(ui_->busy());
        // The export: ticked rows in the tab's order, as shown; a row ticked
        // after the measurement has an empty result.
        box(d, "RMS")->setChecked(true);
        ui_->queueSave(csv);
        d.cmdSaveMeaData->click();
        EXPECT_EQ(readFile(csv), "Amplitude," + result(d, "Amplitude")->text().toStdString() +
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
        EXPECT_FALSE(D::isAvailable(box(d, "RMS")) || box(d, "RMS")->isChecked());
        EXPECT_TRUE(D::isAvailable(box(d, "Freq")));
        d.cmdMeasureNew->click();
        EXPECT_EQ(ui_->waits().back(), 500ms);
        pick(d.cboSource1, "CHAN1");
        pick(d.cboSource2, "CHAN2");
        EXPECT_EQ(ask(sim, ":MEASure:SOURce?"), "CHAN1,CHAN2\n");
        EXPECT_TRUE(D::isAvailable(box(d, "RMS")));
        EXPECT_TRUE(ui_->boxes().empty());
        // A pick in the second list alone sends only what the user chose.
        auto real = gSession;
        ScriptedSession scripted;
        (*scripted.replies)[":MEASure:SOURce?"] = "CHAN2\n";
        for (int k = 1; k <= 4; ++k)
            (*scripted.replies)[":FUNCtion" + std::to_string(k) + "?"] = "OFF\n";
        scripted.install();
        d.cboSource1->setCurrentIndex(-1);
        pick(d.cboSource2, "CHAN2");
        ASSERT_FALSE(scripted.log->empty());
        EXPECT_EQ(scripted.log->front(), ":MEASure:SOURce ,CHAN2");
        // Without a connection the user hears so, and the results stay.
        gSession.reset();
        result(d, "Freq")->setText("kept");
        d.cmdMeasure->click();
        ASSERT_EQ(ui_->boxes().size(), 1u);
        EXPECT_EQ(ui_->boxes()[0].text.rfind("No connection.", 0), 0u);
        EXPECT_EQ(result(d, "Freq")->text(), "kept");
        d.cmdCancel_Click();
    }));
    ASSERT_TRUE(show([&](D& d) {  // shown again: the lists are filled anew, showing nothing
        EXPECT_EQ(d.cboSource1->currentIndex(), -1);
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
    QTRY_VERIFY(clicked);  // afterwards the queued click gets its own whole sequence
    EXPECT_EQ(stops(), 2);
    EXPECT_EQ(scope.log->back(), ":MEASure:CLEar");
    d.hide();
}

TEST_F(MeasurementTabTest, ScopeSettingsOkSavesAndSendsAndKeepsTheDialogOpen) {
    sim::SimProcess sim({"--model", "MSOHX5104"});
    store("Corvane Halvio Series", sim.address());
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
        tell(sim, "*RST");
        d.optSendToScope->setChecked(true);
        ui_->queueOpen(file);
        d.cmdOK->click();
        // The setup went out on the add-in's own session with no reply; its
        // answer to *OPC? says the scope has taken it.
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
