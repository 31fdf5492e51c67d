// Scope-state reading with replies a healthy simulator would not give:
// digital measurement sources, garbage, silence.
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <algorithm>

#include "tests/dialog/DialogTestSupport.h"

namespace cvn::test {
namespace {

using D = FWCdlgHalv;

class ScopeStateTest : public DialogTest {};

TEST_F(ScopeStateTest, MeasurementChoicesFollowTheMeasurementSource) {
    ScriptedSession scope;
    auto& r = *scope.replies;
    r[":MEASure:SOURce?"] = "DIG5,CHAN2\n";
    for (int k = 1; k <= 4; ++k) r[":FUNCtion" + std::to_string(k) + "?"] = "ADD CHAN1,CHAN2\n";
    scope.install();

    FWCdlgHalv& dlg = captureDialog();
    QCheckBox* freq = dlg.control<QCheckBox>("chkMeaFreq");
    QCheckBox* rms = dlg.control<QCheckBox>("chkMeaRMS");
    freq->setChecked(true);
    rms->setChecked(true);
    dlg.UpdateMeasurementChoices();
    int available = 0;
    for (auto* box : dlg.chkMea) available += D::isAvailable(box);
    EXPECT_EQ(available, 5);
    EXPECT_TRUE(D::isAvailable(freq));
    EXPECT_TRUE(freq->isChecked());
    EXPECT_FALSE(D::isAvailable(rms));
    EXPECT_FALSE(rms->isChecked());
    EXPECT_EQ(std::count(scope.log->begin(), scope.log->end(), ":FUNCtion4?"), 1);

    // Back on an analog channel everything is offered, nothing is ticked.
    r[":MEASure:SOURce?"] = "CHAN1,CHAN2\n";
    dlg.UpdateMeasurementChoices();
    for (auto* box : dlg.chkMea) EXPECT_TRUE(D::isAvailable(box));
    EXPECT_FALSE(rms->isChecked());
    EXPECT_TRUE(freq->isChecked());

    // No source named: nothing to go by, so nothing changes.
    rms->setEnabled(false);
    r[":MEASure:SOURce?"] = "\n";
    dlg.UpdateMeasurementChoices();
    EXPECT_FALSE(D::isAvailable(rms));
    // An FFT anywhere wins over the source.
    r[":FUNCtion3?"] = "fft CHAN1\n";
    dlg.UpdateMeasurementChoices();
    EXPECT_FALSE(D::isAvailable(freq));
    EXPECT_FALSE(freq->isChecked());
    EXPECT_TRUE(D::isAvailable(dlg.control("chkMeaTMin")));

    // A silent scope ends the routine with an error for its caller.
    r.erase(":FUNCtion2?");
    EXPECT_THROW(dlg.UpdateMeasurementChoices(), io::IoError);
    gSession.reset();
    EXPECT_THROW(dlg.UpdateMeasurementChoices(), Error);
}

TEST_F(ScopeStateTest, BadRepliesLeaveTheirControlsAsTheyWere) {
    sim::SimProcess sim({"--model", "MSOHX5104"});
    store(kKeyAddress, sim.address());
    ASSERT_TRUE(show([&](D& d) {
        ASSERT_EQ(d.txtWFNumberPoints->text(), "1000");
        ScriptedSession scope;
        auto& r = *scope.replies;
        r[":STAT? CHAN1"] = "1\n";
        r[":STAT? CHAN2"] = "garbage\n";
        // channel 3: no answer at all
        r[":STAT? CHAN4"] = "+0.0E+00\n";
        r[":POD1:DISP?"] = "1\n";
        r[":POD2:DISP?"] = "on\n";
        r[":FUNCtion1?"] = "FFT CHAN1\n";
        r[":Waveform:Points?"] = "lots\n";
        scope.install();
        d.chkChan[1]->setChecked(true);
        d.ReadScopeState(false);

        EXPECT_TRUE(D::isAvailable(d.chkChan[0]));
        EXPECT_TRUE(D::isAvailable(d.chkChan[1]));  // unreadable: left as step 1 made it
        EXPECT_TRUE(d.chkChan[1]->isChecked());     // kept without a reset
        EXPECT_TRUE(D::isAvailable(d.chkChan[2]));
        EXPECT_FALSE(D::isAvailable(d.chkChan[3]));
        EXPECT_TRUE(D::isAvailable(d.chkPod[0]));
        EXPECT_FALSE(D::isAvailable(d.chkPod[1]));
        EXPECT_TRUE(D::isShown(d.chkPod[1]));
        EXPECT_EQ(items(d.cboSource1), QStringList({"DIG0", "DIG1", "DIG2", "DIG3", "DIG4", "DIG5",
                                                    "DIG6", "DIG7", "CHAN1", "MATH"}));
        EXPECT_EQ(items(d.cboSource2), QStringList({"CHAN1", "MATH"}));
        EXPECT_EQ(d.txtWFNumberPoints->text(), "1000");
        const std::vector<std::string> expected{":POD1:DISP?",
                                                ":POD2:DISP?",
                                                ":STAT? CHAN1",
                                                ":STAT? CHAN2",
                                                ":STAT? CHAN3",
                                                ":STAT? CHAN4",
                                                ":FUNCtion1?",
                                                ":FUNCtion2?",
                                                ":FUNCtion3?",
                                                ":FUNCtion4?",
                                                ":Waveform:Source CHAN1",
                                                ":Waveform:Points?"};
        EXPECT_EQ(*scope.log, expected);

        // A reset rebuilds the selection from the profile.
        r[":Waveform:Points?"] = "2000000\n";
        d.ReadScopeState(true);
        EXPECT_TRUE(d.chkChan[0]->isChecked());
        EXPECT_FALSE(d.chkChan[1]->isChecked());
        EXPECT_EQ(d.txtWFNumberPoints->text(), "2000000");
        d.cmdCancel_Click();
    }));
}

}  // namespace
}  // namespace cvn::test
