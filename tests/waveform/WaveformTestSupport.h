// What the acquisition tests share: a private home and temporary folder,
// the scripted UI, an error log of their own, the built-in model table, no
// session left over from an earlier test, and ways to reach the simulator
// beside the session under test.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>

#include "io/IoSession.h"
#include "scope/Connection.h"
#include "scope/ModelTable.h"
#include "sim/launch/SimProcess.h"
#include "support/ErrorHandler.h"
#include "support/ScriptedUi.h"
#include "tests/support/TempHome.h"
#include "waveform/WaveformTransfer.h"

namespace cvn::test {

class AcquisitionFixture : public ::testing::Test {
protected:
    void SetUp() override {
        ::setenv("TMPDIR", home_.root().c_str(), 1);
        std::filesystem::remove(ModelOverridePath());
        LoadModelTable();
        ui_ = ScriptedUi::install();
        gErrorHandler = std::make_shared<CErrorHandler>(home_.root() + "/log");
        gSession.reset();
    }
    void TearDown() override {
        gSession.reset();
        ScriptedUi::uninstall();
        ::unsetenv("TMPDIR");
    }

    static void Connect(const sim::SimProcess& sim) {
        std::string model;
        bool connected = false;
        ASSERT_TRUE(isConnected(sim.address(), false, model, connected)) << sim.address();
    }
    // Sends commands to the simulator on a connection of its own and waits
    // until they ran; simulator commands are never hit by its faults.
    static void Control(const sim::SimProcess& sim, const std::string& commands) {
        auto s = io::IoManager().Open(sim.address());
        s->Output(commands);
        s->Output(":SIMulator:LOG:COUNt?");
        s->EnterText();
    }
    // Instrument settings through gSession, finished before the next step.
    static void Setup(const std::string& commands) {
        gSession->Output(commands);
        gSession->Output("*OPC?");
        gSession->EnterText();
    }
    // The simulator's record of the messages it received, oldest first. A
    // query on gSession first makes sure everything sent there has been run.
    static std::string Log(const sim::SimProcess& sim) {
        if (gSession) {
            gSession->Output("*OPC?");
            gSession->EnterText();
        }
        auto s = io::IoManager().Open(sim.address());
        s->Output(":SIMulator:LOG?");
        auto bytes = s->EnterBytes();
        return std::string(bytes.begin(), bytes.end());
    }
    // One source read through gSession the way the host reads it; `data`
    // starts as whatever an earlier read left there.
    struct Read {
        PreambleBlock pre{};
        RawData data;
        bool cancel = false;
    };
    static Read ReadSource(const std::string& source, RawData data = {}) {
        Read r{{}, std::move(data)};
        ReadSourceWaveform(gSession, r.data, r.pre, source, r.cancel);
        return r;
    }
    static void ClearLog(const sim::SimProcess& sim) { Control(sim, ":SIMulator:LOG:CLEar"); }

    TempHome home_;
    std::shared_ptr<ScriptedUi> ui_;
};

}  // namespace cvn::test
