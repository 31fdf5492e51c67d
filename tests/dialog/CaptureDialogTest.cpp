// The capture dialog driven as a user would, against the simulator.

#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QTabWidget>
#include <QTest>
#include <atomic>
#include <functional>
#include <thread>

#include "tests/dialog/DialogTestSupport.h"
#include "tests/io/LoopbackPeer.h"

namespace cvn::test {
namespace {

using D = FWCdlgHalv;

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

TEST_F(CaptureDialogTest, FourChannelModelOffersTheDisplayedChannels) {
    sim::SimProcess sim({"--model", "HV1014"});
    store(kKeyAddress, sim.address());

    FWCdlgHalv& dlg = captureDialog();
    // Names and array elements are found the same way tests and the
    // localisation address them.
    EXPECT_EQ(dlg.control("chkChan", 2), dlg.chkChan[2]);
    EXPECT_EQ(dlg.control("chkChan_2"), dlg.chkChan[2]);
    EXPECT_EQ(dlg.control("txtMeaFreq"), dlg.txtMea[7]);
    EXPECT_EQ(caption(dlg.control("chkMeaFreq")), "Freqeuncy");
    EXPECT_EQ(caption(dlg.frameAcq), "Acquistions");
    EXPECT_EQ(dlg.control("nothing"), nullptr);
    EXPECT_EQ(dlg.windowTitle(), "Corvane Wavecatch");
    EXPECT_EQ(dlg.lblSupportedInstruments->text(),
              "This Add-In supports the Corvane Halvio Series.");

    ASSERT_TRUE(show([&](D& d) {
        EXPECT_TRUE(d.isVisible());
        EXPECT_EQ(d.SSTab1->currentIndex(), D::kTabWaveform);
        for (int t = 0; t < 4; ++t) EXPECT_TRUE(d.SSTab1->isTabEnabled(t)) << t;
        EXPECT_EQ(d.instrumentModel(), "HV1014");
        EXPECT_EQ(d.lblConnected->text(), "");
        // Channels 1 and 2 are on the screen, 3 and 4 are not.
        for (int i = 0; i < 4; ++i) {
            EXPECT_TRUE(D::isShown(d.chkChan[i])) << i;
            EXPECT_EQ(D::isAvailable(d.chkChan[i]), i < 2) << i;
        }
        EXPECT_TRUE(d.chkChan[0]->isChecked());  // the stored default
        EXPECT_FALSE(d.chkChan[1]->isChecked());
        EXPECT_FALSE(D::isShown(d.lblLogic));
        for (int i = 0; i < 2; ++i) {
            EXPECT_FALSE(D::isShown(d.chkPod[i]));
            EXPECT_FALSE(D::isShown(d.chkData[i]));
        }
        EXPECT_EQ(items(d.cboSource1), QStringList({"CHAN1", "CHAN2"}));
        EXPECT_EQ(items(d.cboSource2), QStringList({"CHAN1", "CHAN2"}));
        EXPECT_EQ(d.txtWFNumberPoints->text(), "1000");
        EXPECT_TRUE(d.cmdOK->isEnabled());
        EXPECT_TRUE(d.cmdOK->isDefault());
        for (auto* box : d.chkMea) EXPECT_TRUE(D::isAvailable(box));
        d.chkChan[1]->setChecked(true);
        d.cmdCancel_Click();
    }));
    EXPECT_TRUE(dlg.Cancel());
    EXPECT_FALSE(dlg.isVisible());
    // Cancel stores nothing; the connection stored its address only.
    EXPECT_EQ(stored(kKeyActiveChannels), kMissing);
    EXPECT_EQ(stored(kKeyScreen), kMissing);
    EXPECT_EQ(stored(kKeyAddress), sim.address());
}

TEST_F(CaptureDialogTest, MixedSignalModelOffersPodsBitsAndFunctions) {
    sim::SimProcess sim({"--model", "MSOHX5104"});
    tell(sim, ":CHANnel3:DISPlay 1");
    tell(sim, ":FUNCtion1:FFT CHAN1");
    tell(sim, ":FUNCtion3:FFT CHAN2");
    store(kKeyAddress, sim.address());
    store(kKeyActiveChannels, "CHAN3,POD1,POD2");
    store(kKeyD0D7, "True");
    store(kKeyD8D15, "1");
    captureDialog().chkMea[7]->setChecked(true);  // Freqeuncy, not possible on an FFT

    ASSERT_TRUE(show([&](D& d) {
        EXPECT_TRUE(D::isShown(d.lblLogic));
        EXPECT_TRUE(D::isAvailable(d.chkPod[0]));
        EXPECT_TRUE(d.chkPod[0]->isChecked());
        EXPECT_TRUE(d.chkData[0]->isChecked());
        // Pod 2 is switched off on the scope: shown, but not offered.
        EXPECT_TRUE(D::isShown(d.chkPod[1]));
        EXPECT_FALSE(D::isAvailable(d.chkPod[1]));
        EXPECT_FALSE(d.chkPod[1]->isChecked());
        EXPECT_FALSE(D::isAvailable(d.chkData[1]));
        EXPECT_FALSE(d.chkData[1]->isChecked());
        EXPECT_FALSE(d.chkChan[0]->isChecked());
        EXPECT_TRUE(d.chkChan[2]->isChecked());
        EXPECT_EQ(items(d.cboSource1),
                  QStringList({"DIG0", "DIG1", "DIG2", "DIG3", "DIG4", "DIG5", "DIG6", "DIG7",
                               "CHAN1", "CHAN2", "CHAN3", "MATH", "MATH"}));
        EXPECT_EQ(items(d.cboSource2), QStringList({"CHAN1", "CHAN2", "CHAN3", "MATH", "MATH"}));
        // An FFT is on: only the amplitude-like measurements remain.
        EXPECT_FALSE(D::isAvailable(d.control("chkMeaFreq")));
        EXPECT_FALSE(d.chkMea[7]->isChecked());
        EXPECT_TRUE(D::isAvailable(d.control("chkMeaP2P")));
        EXPECT_FALSE(D::isAvailable(d.control("chkMeaRMS")));

        // Pod and its bits are independent of each other.
        d.chkData[0]->setChecked(false);
        EXPECT_TRUE(d.chkPod[0]->isChecked());
        d.chkChan[1]->setChecked(true);
        d.cmdOK_Click();
    }));
    FWCdlgHalv& dlg = captureDialog();
    EXPECT_FALSE(dlg.Cancel());
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_EQ(dlg.activeChannels(), "CHAN2,CHAN3,POD1");
    EXPECT_EQ(stored(kKeyActiveChannels), "CHAN2,CHAN3,POD1");
    EXPECT_EQ(stored(kKeyD0D7), "0");
    EXPECT_EQ(stored(kKeyD8D15), "0");
    EXPECT_EQ(stored(kKeyScreen), "1");
    EXPECT_EQ(stored(kKeyInvertColor), "1");
    EXPECT_EQ(stored(kKeyWaveform), "1");
    EXPECT_EQ(stored(kKeyNewAcquisition), "False");
}

TEST_F(CaptureDialogTest, CaptureBoxesDriveInvertSelectionTabsAndOk) {
    sim::SimProcess sim({"--model", "MSOHX5104"});
    store(kKeyAddress, sim.address());
    int fileActions = 0;
    captureDialog().scopeSettingsAction = [&](D&) { ++fileActions; };

    ASSERT_TRUE(show([&](D& d) {
        ASSERT_TRUE(d.chkBitMap->isChecked());
        EXPECT_TRUE(D::isAvailable(d.chkInvert));
        QTest::mouseClick(d.chkBitMap, Qt::LeftButton);
        EXPECT_FALSE(d.chkBitMap->isChecked());
        EXPECT_FALSE(D::isAvailable(d.chkInvert));
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
        EXPECT_FALSE(D::isAvailable(d.fraWFselection));
        EXPECT_FALSE(D::isAvailable(d.txtWFNumberPoints));
        for (auto* box : d.chkChan) EXPECT_FALSE(box->isChecked() || D::isAvailable(box));
        for (auto* box : d.chkPod) EXPECT_FALSE(box->isChecked() || D::isAvailable(box));
        for (auto* box : d.chkData) EXPECT_FALSE(box->isChecked() || D::isAvailable(box));
        EXPECT_FALSE(d.cmdOK->isEnabled());
        d.chkWaveform->setChecked(true);
        EXPECT_TRUE(D::isAvailable(d.fraWFselection));
        EXPECT_TRUE(D::isAvailable(d.chkChan[0]));
        EXPECT_TRUE(D::isAvailable(d.chkPod[0]));
        EXPECT_FALSE(D::isAvailable(d.chkPod[1]));
        for (auto* box : d.chkChan) EXPECT_FALSE(box->isChecked());
        EXPECT_FALSE(d.chkPod[0]->isChecked());
        EXPECT_FALSE(d.cmdOK->isEnabled());

        // OK follows the tab: files on tab 1, nothing on tabs 2 and 3.
        d.SSTab1->setCurrentIndex(D::kTabScopeSettings);
        EXPECT_TRUE(d.cmdOK->isEnabled());
        QTest::mouseClick(d.cmdOK, Qt::LeftButton);
        EXPECT_EQ(fileActions, 1);
        EXPECT_TRUE(d.isVisible());
        d.SSTab1->setCurrentIndex(D::kTabMeasurement);
        EXPECT_FALSE(d.cmdOK->isEnabled());
        d.SSTab1->setCurrentIndex(D::kTabIo);
        EXPECT_FALSE(d.cmdOK->isEnabled());
        d.SSTab1->setCurrentIndex(D::kTabWaveform);
        EXPECT_FALSE(d.cmdOK->isEnabled());

        d.chkBitMap->setChecked(true);
        d.chkInvert->setChecked(false);
        d.optNewAcq->setChecked(true);
        EXPECT_FALSE(d.optCurAcq->isChecked());
        d.chkChan[3]->setChecked(true);  // not displayed, but a value all the same
        d.setGeometry(QRect(QPoint(100, 200), d.size()));
        QTest::mouseClick(d.cmdOK, Qt::LeftButton);
    }));
    FWCdlgHalv& dlg = captureDialog();
    EXPECT_FALSE(dlg.Cancel());
    EXPECT_EQ(stored(kKeyActiveChannels), "CHAN4");
    EXPECT_EQ(stored(kKeyScreen), "1");
    EXPECT_EQ(stored(kKeyInvertColor), "0");
    EXPECT_EQ(stored(kKeyNewAcquisition), "True");
    EXPECT_EQ(stored(kKeyLeft), "1500");
    EXPECT_EQ(stored(kKeyTop), "3000");

    // Read back on the next show: the same option, the same place.
    ASSERT_TRUE(show([&](D& d) {
        EXPECT_TRUE(d.optNewAcq->isChecked());
        EXPECT_FALSE(d.chkInvert->isChecked());
        EXPECT_EQ(d.geometry().topLeft(), QPoint(100, 200));
        // Channel 4 is not displayed, so the stored choice cannot return.
        EXPECT_FALSE(d.chkChan[3]->isChecked());
        d.close();  // the close box is Cancel
    }));
    EXPECT_TRUE(dlg.Cancel());
    EXPECT_EQ(stored(kKeyNewAcquisition), "True");
}

TEST_F(CaptureDialogTest, SecondShowKeepsControlStatesAndRereadsTheProfile) {
    sim::SimProcess sim({"--model", "HV1014"});
    store(kKeyAddress, sim.address());
    ASSERT_TRUE(show([&](D& d) {
        EXPECT_TRUE(d.dialogLocalized());
        d.optSendToScope->setChecked(true);
        d.control<QCheckBox>("chkMeaRMS")->setChecked(true);
        d.txtMea[15]->setText("1.2 V");
        d.chkChan[0]->setChecked(false);
        d.chkChan[1]->setChecked(true);
        d.cmdOK_Click();
    }));
    FWCdlgHalv* first = &captureDialog();
    // Localisation runs once per load: a caption changed afterwards stays.
    first->optSaveToFile->setText("changed");
    tell(sim, ":CHANnel1:DISPlay 0");
    ASSERT_TRUE(show([&](D& d) {
        EXPECT_EQ(&d, first);
        EXPECT_TRUE(d.optSendToScope->isChecked());
        EXPECT_TRUE(d.control<QCheckBox>("chkMeaRMS")->isChecked());
        EXPECT_EQ(d.txtMea[15]->text(), "1.2 V");
        EXPECT_EQ(d.optSaveToFile->text(), "changed");
        EXPECT_FALSE(D::isAvailable(d.chkChan[0]));
        EXPECT_TRUE(d.chkChan[1]->isChecked());
        EXPECT_EQ(items(d.cboSource1), QStringList({"CHAN2"}));
        d.cmdCancel_Click();
    }));

    // Stored values override what was left on screen.
    store(kKeyScreen, "0");
    store(kKeyWaveform, "garbage");  // unreadable: the box keeps its state
    ASSERT_TRUE(show([&](D& d) {
        EXPECT_FALSE(d.chkBitMap->isChecked());
        EXPECT_TRUE(d.chkWaveform->isChecked());
        d.cmdCancel_Click();
    }));
}

TEST_F(CaptureDialogTest, WithoutAConnectionOnlySetIoIsUsable) {
    std::string gone;
    {
        sim::SimProcess sim({"--model", "HV1014"});
        gone = sim.address();
    }
    store(kKeyAddress, gone);
    ASSERT_TRUE(show([&](D& d) {
        EXPECT_EQ(d.SSTab1->currentIndex(), D::kTabIo);
        for (int t = 0; t < 3; ++t) EXPECT_FALSE(d.SSTab1->isTabEnabled(t)) << t;
        EXPECT_TRUE(d.SSTab1->isTabEnabled(D::kTabIo));
        EXPECT_EQ(d.lblConnected->text(), "The instrument is not connected.");
        EXPECT_EQ(d.lblAddress->text(), QString::fromStdString(gone));
        EXPECT_EQ(d.instrumentModel(), "");
        EXPECT_FALSE(d.cmdOK->isEnabled());
        // The user cannot get to the other tabs with the keyboard either.
        QTest::keyClick(d.SSTab1->tabBar(), Qt::Key_Left);
        EXPECT_EQ(d.SSTab1->currentIndex(), D::kTabIo);
        QTest::keyClick(&d, Qt::Key_Escape);
        EXPECT_FALSE(d.isVisible());
    }));
    EXPECT_TRUE(captureDialog().Cancel());
    // Step 6 does not report: the dialog's state says it all.
    EXPECT_TRUE(ui_->boxes().empty());
    EXPECT_GT(ui_->busyOnCount(), 0);
    EXPECT_FALSE(ui_->busy());

    // A stored but empty address: the factory address is tried, and with
    // the dialog wanted the user hears why it failed.
    unloadCaptureDialog();
    store(kKeyAddress, "");
    ASSERT_TRUE(show([&](D& d) {
        EXPECT_EQ(d.lblAddress->text(), "GPIB::7");
        EXPECT_EQ(d.SSTab1->currentIndex(), D::kTabIo);
        EXPECT_FALSE(D::isAvailable(d.chkBitMap));
        EXPECT_FALSE(D::isAvailable(d.chkWaveform));
        EXPECT_TRUE(d.chkBitMap->isChecked());  // the stored default, unavailable
        EXPECT_TRUE(d.dialogLocalized());
        d.cmdCancel_Click();
    }));
    ASSERT_EQ(ui_->boxes().size(), 1u);
    EXPECT_EQ(ui_->boxes()[0].text.rfind("No connection.", 0), 0u) << ui_->boxes()[0].text;
}

TEST_F(CaptureDialogTest, NothingIsShownWhenTheHostDoesNotWantTheDialog) {
    store(kKeyAddress, "127.0.0.1:1");
    store(kKeyScreen, "0");
    EXPECT_FALSE(show(nullptr, false));
    FWCdlgHalv& dlg = captureDialog();
    EXPECT_FALSE(dlg.isVisible());
    EXPECT_FALSE(dlg.Cancel());
    EXPECT_FALSE(dlg.chkBitMap->isChecked());  // settings were read all the same
    EXPECT_EQ(dlg.InstrumentAddress(), "127.0.0.1:1");
    dlg.setInstrumentAddress("TCPIP::host");
    EXPECT_EQ(dlg.lblAddress->text(), "TCPIP::host");
}

TEST_F(CaptureDialogTest, LocalisedRunReplacesTheNumberedCaptions) {
    sim::SimProcess sim({"--model", "HV1014"});
    store(kKeyAddress, sim.address());
    FWCdlgHalv& dlg = captureDialog();
    EXPECT_FALSE(dlg.dialogLocalized());
    EXPECT_EQ(caption(dlg.optSaveToFile), "Get setting from scope and Save to file");
    EXPECT_EQ(caption(dlg.optSendToScope), "Open file and Send settings to Scope");
    ASSERT_TRUE(show([&](D& d) {
        EXPECT_TRUE(d.dialogLocalized());
        EXPECT_EQ(d.windowTitle(), "Corvane Halvio Series Add-In");
        EXPECT_EQ(d.font().pointSize(), 8);
        EXPECT_EQ(caption(d.cmdOK), "OK");
        EXPECT_EQ(caption(d.cmdFindInstrument), "Find Instrument");
        EXPECT_EQ(caption(d.optSaveToFile), "Get setting from scope and save to file");
        EXPECT_EQ(caption(d.optSendToScope), "Open file and send settings to scope");
        EXPECT_EQ(caption(d.chkBitMap), "Get Screen Image");
        EXPECT_EQ(caption(d.frameAcq), "Acquistions");
        EXPECT_EQ(d.SSTab1->tabText(3), "Set I/O");
        d.cmdCancel_Click();
    }));
}

TEST_F(CaptureDialogTest, KeyboardAloneOperatesTheDialog) {
    sim::SimProcess sim({"--model", "HV1014"});
    store(kKeyAddress, sim.address());
    ASSERT_TRUE(show([&](D& d) {
        d.activateWindow();
        d.chkBitMap->setFocus();
        // Reading order is tab order.
        EXPECT_EQ(d.chkBitMap->nextInFocusChain(), d.chkInvert);
        EXPECT_EQ(d.chkInvert->nextInFocusChain(), d.chkWaveform);
        QTest::keyClick(d.chkBitMap, Qt::Key_Space);
        EXPECT_FALSE(d.chkBitMap->isChecked());
        QTest::keyClick(&d, Qt::Key_Return);  // OK is the default button
    }));
    EXPECT_FALSE(captureDialog().Cancel());
    EXPECT_EQ(stored(kKeyScreen), "0");
    EXPECT_EQ(stored(kKeyActiveChannels), "CHAN1");
}

// OK stores where the dialog is and the next show puts it back there, use
// after use: the corner written is the corner read back, with no frame size
// in between (a reparenting window manager drops the frame of a hidden
// window, so a frame-based place read back while hidden moves each time).
TEST_F(CaptureDialogTest, PositionSurvivesManyOkAndReopenCycles) {
    sim::SimProcess sim({"--model", "HV1014"});
    store(kKeyAddress, sim.address());
    // Once with the window made by the first show, once with a native
    // window that existed before the dialog was first placed.
    for (bool early : {false, true}) {
        SCOPED_TRACE(early ? "window made early" : "window made by the first show");
        unloadCaptureDialog();
        if (early) captureDialog().winId();
        store(kKeyLeft, "3000");
        store(kKeyTop, "4500");
        QRect firstFrame;
        for (int cycle = 0; cycle < 6; ++cycle) {
            ASSERT_TRUE(show([&](D& d) {
                EXPECT_EQ(d.geometry().topLeft(), QPoint(200, 300)) << "cycle " << cycle;
                if (cycle == 0) {
                    firstFrame = d.frameGeometry();
                    EXPECT_EQ(d.size(), d.sizeHint());  // its natural size
                }
                EXPECT_EQ(d.frameGeometry(), firstFrame) << "cycle " << cycle;
                d.cmdOK_Click();
            }));
            EXPECT_EQ(stored(kKeyLeft), "3000") << "cycle " << cycle;
            EXPECT_EQ(stored(kKeyTop), "4500") << "cycle " << cycle;
        }
        // Moved by the user: the new place is kept from then on.
        for (int cycle = 0; cycle < 5; ++cycle) {
            ASSERT_TRUE(show([&](D& d) {
                if (cycle == 0) d.move(d.pos() + QPoint(40, 60));
                EXPECT_EQ(d.geometry().topLeft(), QPoint(240, 360)) << "cycle " << cycle;
                d.cmdOK_Click();
            }));
            EXPECT_EQ(stored(kKeyLeft), "3600") << "cycle " << cycle;
            EXPECT_EQ(stored(kKeyTop), "5400") << "cycle " << cycle;
        }
    }
}

// A scope on 127.0.0.1 that notes whether the dialog had been painted when
// the first command arrived, then hangs up (the check fails at once).
class PaintWitness {
public:
    explicit PaintWitness(const std::atomic<int>& paints)
        : peer_(
              [this, &paints](int, const std::string&) {
                  if (paintsAtFirstCommand_ < 0) paintsAtFirstCommand_ = paints.load();
              },
              16) {}  // bounded: the dialog connects a few times at most
    std::string address() const { return peer_.address(); }
    int paintsAtFirstCommand() const { return paintsAtFirstCommand_; }

private:
    std::atomic<int> paintsAtFirstCommand_{-1};
    test::LoopbackPeer peer_;
};

// While the dialog asks the scope it is on screen, painted, with the busy
// pointer: the queries block the thread, so nothing paints during them.
TEST_F(CaptureDialogTest, DialogIsPaintedBeforeTheScopeIsAsked) {
    std::atomic<int> paints{0};
    bool busyWhenPainted = false;
    PaintWitness scope(paints);
    store(kKeyAddress, scope.address());
    FWCdlgHalv& dlg = captureDialog();
    auto* filter = new EventCounter(&dlg, QEvent::Paint, [&] {
        if (paints++ == 0) busyWhenPainted = ui_->busy();
    });
    dlg.installEventFilter(filter);
    ASSERT_TRUE(show([&](D& d) {
        EXPECT_EQ(d.SSTab1->currentIndex(), D::kTabIo);  // that scope hung up
        d.cmdCancel_Click();
    }));
    EXPECT_GE(scope.paintsAtFirstCommand(), 1);
    EXPECT_TRUE(busyWhenPainted);
    EXPECT_FALSE(ui_->busy());
}

}  // namespace
}  // namespace cvn::test
