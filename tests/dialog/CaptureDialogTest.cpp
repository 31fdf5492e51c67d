// The capture dialog driven as a user would, against the simulator.
#include <QCheckBox>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <atomic>
#include <functional>

#include "tests/dialog/DialogTestSupport.h"
#include "tests/io/LoopbackPeer.h"

namespace cvn::test {
namespace {

using D = FWCdlgHalv;
using L = QStringList;

// Counts the events of one type that reach the object it filters.
class EventCounter : public QObject {
public:
    EventCounter(QObject* parent, QEvent::Type type, std::function<void()> seen)
        : QObject(parent), type_(type), seen_(std::move(seen)) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == type_) seen_();
        return false;
    }

private:
    QEvent::Type type_;
    std::function<void()> seen_;
};

class CaptureDialogTest : public DialogTest {};

// Which boxes are shown and which offered: bits as text, one per box.
std::string offered(const std::vector<QCheckBox*>& boxes) {
    std::string s;
    for (auto* b : boxes) s += !D::isShown(b) ? '-' : D::isAvailable(b) ? 'A' : 'x';
    return s;
}

TEST_F(CaptureDialogTest, FourChannelModelOffersTheDisplayedChannelsAndCancelStoresNothing) {
    sim::SimProcess sim({"--model", "HV1014"});
    store("Corvane Halvio Series", sim.address());
    FWCdlgHalv& dlg = captureDialog();
    // Names and array elements are found the way the localisation does.
    EXPECT_EQ(dlg.control("chkChan_2"), dlg.chkChan[2]);
    EXPECT_EQ(dlg.control("txtMeaFreq"), dlg.txtMea[7]);
    EXPECT_FALSE(dlg.dialogLocalized());
    EXPECT_EQ(PlainCaption(dlg.optSaveToFile->text()), "Get setting from scope and Save to file");
    ASSERT_TRUE(show([&](D& d) {
        for (int t = 0; t < 4; ++t) EXPECT_TRUE(d.SSTab1->isTabEnabled(t)) << t;
        EXPECT_EQ(d.SSTab1->currentIndex(), D::kTabWaveform);
        EXPECT_EQ(d.instrumentModel(), "HV1014");
        EXPECT_EQ(d.lblConnected->text(), "");
        // Channels 1 and 2 are on the screen, 3 and 4 are not; no pods.
        EXPECT_EQ(offered({d.chkChan.begin(), d.chkChan.end()}), "AAxx");
        EXPECT_EQ(offered({d.chkPod[0], d.chkPod[1], d.chkData[0], d.chkData[1]}), "----");
        EXPECT_TRUE(d.chkChan[0]->isChecked());  // the stored default
        EXPECT_FALSE(d.chkChan[1]->isChecked());
        EXPECT_EQ(items(d.cboSource1), L({"CHAN1", "CHAN2"}));
        EXPECT_EQ(items(d.cboSource2), L({"CHAN1", "CHAN2"}));
        EXPECT_EQ(d.txtWFNumberPoints->text(), "1000");
        EXPECT_TRUE(d.cmdOK->isEnabled() && d.cmdOK->isDefault());
        // Localised on the first show, from the string table.
        EXPECT_EQ(d.windowTitle(), "Corvane Halvio Series Add-In");
        EXPECT_EQ(PlainCaption(d.optSaveToFile->text()), "Get setting from scope and save to file");
        EXPECT_EQ(d.SSTab1->tabText(3), "Set I/O");
        d.chkChan[1]->setChecked(true);
        d.cmdCancel_Click();
    }));
    EXPECT_TRUE(dlg.Cancel());
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(stored("ActiveChannels"), kMissing);
    EXPECT_EQ(stored("Screen"), kMissing);
    EXPECT_EQ(stored("Corvane Halvio Series"), sim.address());  // the connection's only
}

TEST_F(CaptureDialogTest, MixedSignalModelOffersPodsBitsAndFunctionsAndOkStoresThem) {
    sim::SimProcess sim({"--model", "MSOHX5104"});
    tell(sim, ":CHANnel3:DISPlay 1");
    tell(sim, ":FUNCtion1:FFT CHAN1");
    tell(sim, ":FUNCtion3:FFT CHAN2");
    store("Corvane Halvio Series", sim.address());
    store("ActiveChannels", "CHAN3,POD1,POD2");
    store("D0D7", "True");
    store("D8D15", "1");
    captureDialog().chkMea[7]->setChecked(true);  // Freqeuncy, not possible on an FFT
    ASSERT_TRUE(show([&](D& d) {
        EXPECT_TRUE(D::isShown(d.lblLogic));
        // Pod 2 is switched off on the scope: shown, but not offered.
        EXPECT_EQ(offered({d.chkPod[0], d.chkPod[1], d.chkData[0], d.chkData[1]}), "AxAx");
        EXPECT_TRUE(d.chkPod[0]->isChecked() && d.chkData[0]->isChecked());
        EXPECT_FALSE(d.chkPod[1]->isChecked() || d.chkData[1]->isChecked());
        EXPECT_FALSE(d.chkChan[0]->isChecked());
        EXPECT_TRUE(d.chkChan[2]->isChecked());
        EXPECT_EQ(items(d.cboSource1), L({"DIG0", "DIG1", "DIG2", "DIG3", "DIG4", "DIG5", "DIG6",
                                          "DIG7", "CHAN1", "CHAN2", "CHAN3", "MATH", "MATH"}));
        EXPECT_EQ(items(d.cboSource2), L({"CHAN1", "CHAN2", "CHAN3", "MATH", "MATH"}));
        // An FFT is on: only the amplitude-like measurements remain.
        EXPECT_FALSE(D::isAvailable(d.control("chkMeaFreq")) || d.chkMea[7]->isChecked());
        EXPECT_TRUE(D::isAvailable(d.control("chkMeaP2P")));
        EXPECT_FALSE(D::isAvailable(d.control("chkMeaRMS")));
        d.chkData[0]->setChecked(false);  // pod and its bits are independent
        EXPECT_TRUE(d.chkPod[0]->isChecked());
        d.chkChan[1]->setChecked(true);
        d.cmdOK_Click();
    }));
    FWCdlgHalv& dlg = captureDialog();
    EXPECT_FALSE(dlg.Cancel() || dlg.isVisible());
    EXPECT_EQ(dlg.activeChannels(), "CHAN2,CHAN3,POD1");
    const std::pair<const char*, const char*> saved[] = {{"ActiveChannels", "CHAN2,CHAN3,POD1"},
                                                         {"D0D7", "0"},
                                                         {"D8D15", "0"},
                                                         {"Screen", "1"},
                                                         {"InvertColor", "1"},
                                                         {"Waveform", "1"},
                                                         {"MakeNewAcquisition", "False"}};
    for (const auto& [key, value] : saved) EXPECT_EQ(stored(key), value) << key;
}

TEST_F(CaptureDialogTest, CaptureBoxesDriveInvertSelectionTabsAndOk) {
    sim::SimProcess sim({"--model", "MSOHX5104"});
    store("Corvane Halvio Series", sim.address());
    int fileActions = 0;
    captureDialog().scopeSettingsAction = [&](D&) { ++fileActions; };
    ASSERT_TRUE(show([&](D& d) {
        QTest::mouseClick(d.chkBitMap, Qt::LeftButton);
        EXPECT_FALSE(d.chkBitMap->isChecked() || D::isAvailable(d.chkInvert));
        EXPECT_TRUE(d.cmdOK->isEnabled());  // channel 1 is still selected
        d.chkChan[0]->setChecked(false);
        EXPECT_FALSE(d.cmdOK->isEnabled());
        d.chkData[0]->setChecked(true);  // a single-bit capture counts as a source
        EXPECT_TRUE(d.cmdOK->isEnabled());
        d.chkPod[0]->setChecked(true);
        d.chkChan[1]->setChecked(true);
        // Unchecking waveform data closes the whole selection; checking it
        // again brings the boxes back empty.
        QTest::mouseClick(d.chkWaveform, Qt::LeftButton);
        EXPECT_FALSE(D::isAvailable(d.fraWFselection) || D::isAvailable(d.txtWFNumberPoints));
        for (auto* box : {d.chkChan[0], d.chkChan[1], d.chkPod[0], d.chkData[0]})
            EXPECT_FALSE(box->isChecked() || D::isAvailable(box));
        EXPECT_FALSE(d.cmdOK->isEnabled());
        d.chkWaveform->setChecked(true);
        EXPECT_EQ(offered({d.chkChan[0], d.chkPod[0], d.chkPod[1]}), "AAx");
        EXPECT_FALSE(d.chkChan[1]->isChecked() || d.chkPod[0]->isChecked());
        // OK follows the tab: files on the settings tab, nothing on the others.
        const std::pair<int, bool> tabs[] = {{D::kTabScopeSettings, true},
                                             {D::kTabMeasurement, false},
                                             {D::kTabIo, false},
                                             {D::kTabWaveform, false}};
        for (const auto& [tab, ok] : tabs) {
            d.SSTab1->setCurrentIndex(tab);
            EXPECT_EQ(d.cmdOK->isEnabled(), ok) << tab;
            if (ok) QTest::mouseClick(d.cmdOK, Qt::LeftButton);
        }
        EXPECT_EQ(fileActions, 1);
        EXPECT_TRUE(d.isVisible());
        d.chkBitMap->setChecked(true);
        d.chkInvert->setChecked(false);
        d.optNewAcq->setChecked(true);
        EXPECT_FALSE(d.optCurAcq->isChecked());
        d.chkChan[3]->setChecked(true);  // not displayed, but a value all the same
        d.setGeometry(QRect(QPoint(100, 200), d.size()));
        QTest::mouseClick(d.cmdOK, Qt::LeftButton);
    }));
    EXPECT_FALSE(captureDialog().Cancel());
    const std::pair<const char*, const char*> saved[] = {
        {"ActiveChannels", "CHAN4"},    {"Screen", "1"},  {"InvertColor", "0"},
        {"MakeNewAcquisition", "True"}, {"Left", "1500"}, {"top", "3000"}};
    for (const auto& [key, value] : saved) EXPECT_EQ(stored(key), value) << key;
    // Read back on the next show; channel 4 is not displayed, so it cannot return.
    store("Screen", "0");
    store("Waveform", "garbage");  // unreadable: the box keeps its state
    ASSERT_TRUE(show([&](D& d) {
        EXPECT_TRUE(d.optNewAcq->isChecked());
        EXPECT_FALSE(d.chkInvert->isChecked() || d.chkBitMap->isChecked());
        EXPECT_TRUE(d.chkWaveform->isChecked());
        EXPECT_EQ(d.geometry().topLeft(), QPoint(100, 200));
        EXPECT_FALSE(d.chkChan[3]->isChecked());
        d.close();  // the close box is Cancel
    }));
    EXPECT_TRUE(captureDialog().Cancel());
}

TEST_F(CaptureDialogTest, SecondShowKeepsControlStatesAndRereadsTheScope) {
    sim::SimProcess sim({"--model", "HV1014"});
    store("Corvane Halvio Series", sim.address());
    ASSERT_TRUE(show([&](D& d) {
        d.optSendToScope->setChecked(true);
        d.txtMea[15]->setText("1.2 V");
        d.chkChan[0]->setChecked(false);
        d.chkChan[1]->setChecked(true);
        d.activateWindow();
        d.chkBitMap->setFocus();
        // Keyboard alone: reading order is tab order, Return is OK.
        EXPECT_EQ(d.chkBitMap->nextInFocusChain(), d.chkInvert);
        EXPECT_EQ(d.chkInvert->nextInFocusChain(), d.chkWaveform);
        QTest::keyClick(d.chkBitMap, Qt::Key_Space);
        QTest::keyClick(&d, Qt::Key_Return);
    }));
    EXPECT_FALSE(captureDialog().Cancel());
    EXPECT_EQ(stored("Screen"), "0");
    EXPECT_EQ(stored("ActiveChannels"), "CHAN2");
    FWCdlgHalv* first = &captureDialog();
    first->optSaveToFile->setText("changed");  // localised once per load
    tell(sim, ":CHANnel1:DISPlay 0");
    ASSERT_TRUE(show([&](D& d) {
        EXPECT_EQ(&d, first);
        EXPECT_TRUE(d.optSendToScope->isChecked());
        EXPECT_EQ(d.txtMea[15]->text(), "1.2 V");
        EXPECT_EQ(d.optSaveToFile->text(), "changed");
        EXPECT_FALSE(D::isAvailable(d.chkChan[0]));
        EXPECT_TRUE(d.chkChan[1]->isChecked());
        EXPECT_EQ(items(d.cboSource1), L({"CHAN2"}));
        d.cmdCancel_Click();
    }));
}

TEST_F(CaptureDialogTest, WithoutAConnectionOnlySetIoIsUsable) {
    std::string gone;
    {
        sim::SimProcess sim({"--model", "HV1014"});
        gone = sim.address();
    }
    // A stored but empty address: the factory address is tried.
    for (const std::string& address : {gone, std::string()}) {
        SCOPED_TRACE(address);
        unloadCaptureDialog();
        store("Corvane Halvio Series", address);
        ui_->reset();
        ASSERT_TRUE(show([&](D& d) {
            EXPECT_EQ(d.SSTab1->currentIndex(), D::kTabIo);
            for (int t = 0; t < 3; ++t) EXPECT_FALSE(d.SSTab1->isTabEnabled(t)) << t;
            EXPECT_EQ(d.lblConnected->text(), "The instrument is not connected.");
            EXPECT_EQ(d.lblAddress->text().toStdString(), address.empty() ? "GPIB::7" : gone);
            EXPECT_EQ(d.instrumentModel(), "");
            EXPECT_FALSE(d.cmdOK->isEnabled());
            EXPECT_TRUE(d.chkBitMap->isChecked());  // the stored default
            if (address.empty()) {
                EXPECT_FALSE(D::isAvailable(d.chkBitMap) || D::isAvailable(d.chkWaveform));
            }
            QTest::keyClick(d.SSTab1->tabBar(), Qt::Key_Left);  // nor by keyboard
            EXPECT_EQ(d.SSTab1->currentIndex(), D::kTabIo);
            QTest::keyClick(&d, Qt::Key_Escape);
            EXPECT_FALSE(d.isVisible());
        }));
        EXPECT_TRUE(captureDialog().Cancel());
        EXPECT_FALSE(ui_->busy());
        // A stored address that fails says nothing: the dialog's state says
        // it all. With the factory address the user hears why it failed.
        ASSERT_EQ(ui_->boxes().size(), address.empty() ? 1u : 0u);
        if (address.empty()) {
            EXPECT_EQ(ui_->boxes()[0].text.rfind("No connection.", 0), 0u);
        }
    }

    unloadCaptureDialog();
    store("Corvane Halvio Series", "127.0.0.1:1");
    store("Screen", "0");
    EXPECT_FALSE(show(nullptr, false)) << "the host did not want the dialog";
    EXPECT_FALSE(captureDialog().isVisible() || captureDialog().Cancel());
    EXPECT_FALSE(captureDialog().chkBitMap->isChecked());  // settings were read all the same
    EXPECT_EQ(captureDialog().InstrumentAddress(), "127.0.0.1:1");
}

// OK stores where the dialog is and the next show puts it back there, use
// after use: the corner written is the corner read back, with no frame size
// in between (a reparenting window manager drops the frame of a hidden
// window, so a frame-based place read back while hidden moves each time).
TEST_F(CaptureDialogTest, PositionSurvivesManyOkAndReopenCycles) {
    sim::SimProcess sim({"--model", "HV1014"});
    store("Corvane Halvio Series", sim.address());
    // Once with the window made by the first show, once with a native
    // window that existed before the dialog was first placed.
    for (bool early : {false, true}) {
        SCOPED_TRACE(early ? "window made early" : "window made by the first show");
        unloadCaptureDialog();
        if (early) captureDialog().winId();
        store("Left", "3000");
        store("top", "4500");
        QRect firstFrame;
        // Moved by the user in cycle 3: the new place is kept from then on.
        for (int cycle = 0; cycle < 6; ++cycle) {
            SCOPED_TRACE(cycle);
            const QPoint moved = cycle < 3 ? QPoint(0, 0) : QPoint(40, 60);
            ASSERT_TRUE(show([&](D& d) {
                if (cycle == 3) d.move(d.pos() + moved);
                EXPECT_EQ(d.geometry().topLeft(), QPoint(200, 300) + moved);
                if (cycle == 0) {
                    firstFrame = d.frameGeometry();
                    EXPECT_EQ(d.size(), d.sizeHint());  // its natural size
                }
                EXPECT_EQ(d.frameGeometry(), firstFrame.translated(moved));
                d.cmdOK_Click();
            }));
            EXPECT_EQ(stored("Left"), std::to_string(3000 + moved.x() * 15));
            EXPECT_EQ(stored("top"), std::to_string(4500 + moved.y() * 15));
        }
    }
}

// While the dialog asks the scope it is on screen, painted, with the busy
// pointer: the queries block the thread, so nothing paints during them.
TEST_F(CaptureDialogTest, DialogIsPaintedBeforeTheScopeIsAsked) {
    std::atomic<int> paints{0};
    bool busyWhenPainted = false;
    // A scope on 127.0.0.1 that notes whether the dialog had been painted
    // when the first command arrived, then hangs up (the check fails at once).
    std::atomic<int> paintsAtFirstCommand{-1};
    test::LoopbackPeer scope(
        [&](int, const std::string&) {
            if (paintsAtFirstCommand < 0) paintsAtFirstCommand = paints.load();
        },
        16);  // bounded: the dialog connects a few times at most
    store("Corvane Halvio Series", scope.address());
    FWCdlgHalv& dlg = captureDialog();
    auto* filter = new EventCounter(&dlg, QEvent::Paint, [&] {
        if (paints++ == 0) busyWhenPainted = ui_->busy();
    });
    dlg.installEventFilter(filter);
    ASSERT_TRUE(show([&](D& d) {
        EXPECT_EQ(d.SSTab1->currentIndex(), D::kTabIo);  // that scope hung up
        d.cmdCancel_Click();
    }));
    EXPECT_GE(paintsAtFirstCommand.load(), 1);
    EXPECT_TRUE(busyWhenPainted);
    EXPECT_FALSE(ui_->busy());
}

}  // namespace
}  // namespace cvn::test
