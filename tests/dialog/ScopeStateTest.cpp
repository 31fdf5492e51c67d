// Scope-state reading with replies a healthy simulator would not give:
// digital measurement sources, garbage, silence.
#include <QCheckBox>
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
    for (int k = 1; k <= 4; ++k) r[":FUNCtion" + std::to_string(k) + "?"] = "ADD CHAN1,CHAN2\n";
    scope.install();
    FWCdlgHalv& dlg = captureDialog();
    QCheckBox* freq = dlg.control<QCheckBox>("chkMeaFreq");
    QCheckBox* rms = dlg.control<QCheckBox>("chkMeaRMS");
    const auto available = [&] {
        return std::count_if(dlg.chkMea.begin(), dlg.chkMea.end(), D::isAvailable);
    };
    struct Cell {
        const char* source;  // the reply to ":MEASure:SOURce?"
        const char* fft;     // the reply to ":FUNCtion3?"
        long available;
        bool freq, rms;  // still ticked
    } cells[] = {
        {"DIG5,CHAN2\n", "ADD CHAN1,CHAN2\n", 5, true, false},
        {"CHAN1,CHAN2\n", "ADD CHAN1,CHAN2\n", 24, true, false},  // everything, nothing re-ticked
        {"\n", "ADD CHAN1,CHAN2\n", 23, true, false},             // no source: nothing changes
        {"\n", "fft CHAN1\n", 6, false, false},  // an FFT anywhere wins over the source
    };
    freq->setChecked(true);
    rms->setChecked(true);
    for (const Cell& c : cells) {
        SCOPED_TRACE(c.source);
        if (c.available == 23) rms->setEnabled(false);
        r[":MEASure:SOURce?"] = c.source;
        r[":FUNCtion3?"] = c.fft;
        dlg.UpdateMeasurementChoices();
        EXPECT_EQ(available(), c.available);
        EXPECT_EQ(freq->isChecked(), c.freq);
        EXPECT_EQ(rms->isChecked(), c.rms);
    }
    EXPECT_EQ(std::count(scope.log->begin(), scope.log->end(), ":FUNCtion4?"), 4);
    // A silent scope ends the routine with an error for its caller.
    r.erase(":FUNCtion2?");
    EXPECT_THROW(dlg.UpdateMeasurementChoices(), io::IoError);
    gSession.reset();
    EXPECT_THROW(dlg.UpdateMeasurementChoices(), Error);
}

TEST_F(ScopeStateTest, BadRepliesLeaveTheirControlsAsTheyWere) {
    sim::SimProcess sim({"--model", "MSOHX5104"});
    store("Corvane Halvio Series", sim.address());
    ASSERT_TRUE(show([&](D& d) {
        ASSERT_EQ(d.txtWFNumberPoints->text(), "1000");
        ScriptedSession scope;
        auto& r = *scope.replies;
        r[":STAT? CHAN1"] = "1\n";
        r[":STAT? CHAN2"] = "garbage\n";  // channel 3: no answer at all
        r[":STAT? CHAN4"] = "+0.0E+00\n";
        r[":POD1:DISP?"] = "1\r\n";
        r[":POD2:DISP?"] = "on\n";
        r[":FUNCtion1?"] = "FFT CHAN1\n";
        r[":Waveform:Points?"] = "lots\n";
        scope.install();
        d.chkChan[1]->setChecked(true);
        d.ReadScopeState(false);
        // Unreadable replies leave their box as the first step made it.
        for (int i = 0; i < 4; ++i) EXPECT_EQ(D::isAvailable(d.chkChan[i]), i < 3) << i;
        EXPECT_TRUE(d.chkChan[1]->isChecked());  // kept without a reset
        EXPECT_TRUE(D::isAvailable(d.chkPod[0]));
        EXPECT_FALSE(D::isAvailable(d.chkPod[1]));
        EXPECT_EQ(items(d.cboSource2), QStringList({"CHAN1", "MATH"}));
        EXPECT_EQ(d.txtWFNumberPoints->text(), "1000");
        EXPECT_EQ(*scope.log,
                  (std::vector<std::string>{
                      ":POD1:DISP?", ":POD2:DISP?", ":STAT? CHAN1", ":STAT? CHAN2", ":STAT? CHAN3",
                      ":STAT? CHAN4", ":FUNCtion1?", ":FUNCtion2?", ":FUNCtion3?", ":FUNCtion4?",
                      ":Waveform:Source CHAN1", ":Waveform:Points?"}));
        // A reset rebuilds the selection from the profile.
        r[":Waveform:Points?"] = "+2000000\n";
        d.ReadScopeState(true);
        EXPECT_TRUE(d.chkChan[0]->isChecked());
        EXPECT_FALSE(d.chkChan[1]->isChecked());
        EXPECT_EQ(d.txtWFNumberPoints->text(), "2000000");
        d.cmdCancel_Click();
    }));
}

}  // namespace
}  // namespace cvn::test
