// Shared pieces of the measurement tests: a private home, the scripted UI,
// and a second connection to look at the simulator.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "io/IoSession.h"
#include "sim/launch/SimProcess.h"
#include "support/ScriptedUi.h"
#include "tests/support/TempHome.h"

namespace cvn::test {

class MeasureTest : public ::testing::Test {
protected:
    void SetUp() override { ui_ = ScriptedUi::install(); }
    void TearDown() override { ScriptedUi::uninstall(); }

    TempHome home_;
    std::shared_ptr<ScriptedUi> ui_;
};

// A second connection to the simulator, for commands and for its log.
class SimProbe {
public:
    explicit SimProbe(const sim::SimProcess& sim) : session_(io::IoManager().Open(sim.address())) {}
    // A query of the probe's own, left out of the log; ask only while the
    // session under test is idle.
    std::string ask(const std::string& query) {
        session_->Output(query);
        std::string reply = session_->EnterText();
        forget();
        return reply;
    }
    // Changes the simulator; the change is left out of its log.
    void tell(const std::string& command) {
        session_->Output(command);
        ask("*OPC?");
    }
    // The messages the scope received since the last look, oldest first.
    // `sender` is asked a query first, so everything it sent has been handled.
    std::vector<std::string> log(io::IoSession& sender) {
        sender.Output("*OPC?");
        sender.EnterText();
        session_->Output(":SIMulator:LOG?");
        const auto bytes = session_->EnterBytes();
        std::vector<std::string> lines;
        std::string text(bytes.begin(), bytes.end());
        std::size_t start = 0;
        while (!text.empty() && start <= text.size()) {
            const auto end = text.find('\n', start);
            lines.push_back(text.substr(start, end == std::string::npos ? end : end - start));
            if (end == std::string::npos) break;
            start = end + 1;
        }
        // The query that made sure everything had arrived is not part of it.
        if (!lines.empty() && lines.back() == "*OPC?") lines.pop_back();
        forget();
        return lines;
    }

private:
    // Clears the log and waits until that is done (simulator commands are
    // not logged themselves).
    void forget() {
        session_->Output(":SIMulator:LOG:CLEar;:SIMulator:LOG:COUNt?");
        session_->EnterText();
    }

    io::IoSessionPtr session_;
};

}  // namespace cvn::test
