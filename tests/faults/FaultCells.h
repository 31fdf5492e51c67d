// What the fault tables share: the simulator's faults as cells name them,
// the short session time-out every cell runs with, how a cell reaches the
// simulator past the faults, how it tells that both sessions answer again,
// and how the boxes a cell showed are written in the tables.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "io/IoSession.h"
#include "scope/CScope.h"
#include "scope/Connection.h"
#include "scope/ModelTable.h"
#include "support/ErrorHandler.h"
#include "support/ScriptedUi.h"
#include "waveform/SourceNames.h"
#include "waveform/WaveformTransfer.h"

namespace cvn::test {

// Short session time-out for every operation that uses the session's own.
constexpr int kSessionTimeoutMs = 250;
// Slower than both the 500 ms identification and the session time-out.
constexpr int kIdnDelayMs = 1000;
constexpr int kMarginMs = 2000;
// Late, but within the session time-out of the operation that waits for it.
constexpr int kLateTerminatorMs = 200;

enum FaultKind {
    kNone,
    kSlowIdn,
    kSilent,
    kGarbage,
    kTruncate,
    kLie,
    kShort,
    kCut,
    kDrop,
    kScreenReset,
    kRefused,
    kLateTerminator,
    kIndefinite
};

struct Fault {
    FaultKind kind;
    const char* name;
    std::string on, off;  // simulator commands; a drop's count is worked out per cell
};

inline const std::vector<Fault> kFaults = {
    {kNone, "none", "", ""},
    {kSlowIdn, "slow-idn", ":SIMulator:FAULt:IDNDelay " + std::to_string(kIdnDelayMs),
     ":SIMulator:FAULt:IDNDelay 0"},
    {kSilent, "no-reply", ":SIMulator:FAULt:SILent ON", ":SIMulator:FAULt:SILent OFF"},
    {kGarbage, "garbage", ":SIMulator:FAULt:GARBage ON", ":SIMulator:FAULt:GARBage OFF"},
    {kTruncate, "trunc-blk", ":SIMulator:FAULt:TRUNcate ON", ":SIMulator:FAULt:TRUNcate OFF"},
    {kLie, "lying-hdr", ":SIMulator:FAULt:LIE CLOSe", ":SIMulator:FAULt:LIE OFF"},
    {kShort, "pts-count", ":SIMulator:FAULt:SHORt ON", ":SIMulator:FAULt:SHORt OFF"},
    {kCut, "drop-blk", ":SIMulator:FAULt:CUT ON", ":SIMulator:FAULt:CUT OFF"},
    {kDrop, "drop-seq", "", ":SIMulator:FAULt:DROP -1"},
    {kScreenReset, "img-reset", ":SIMulator:FAULt:SCReenreset ON",
     ":SIMulator:FAULt:SCReenreset OFF"},
    {kRefused, "refused", "", ""},
    // Framing: a block's line feed late (within the operation's time-out),
    // and blocks of indefinite length whose data holds line feeds.
    {kLateTerminator, "late-term", ":SIMulator:FAULt:LATEterm " + std::to_string(kLateTerminatorMs),
     ":SIMulator:FAULt:LATEterm 0"},
    {kIndefinite, "indef-blk", ":SIMulator:FAULt:INDefinite ON", ":SIMulator:FAULt:INDefinite OFF"},
};

// A connection of its own to the simulator: simulator commands on it are
// exempt from the faults. Returns once everything sent has run.
inline std::string Side(const std::string& address, const std::string& commands,
                        const std::string& query = ":SIMulator:LOG:COUNt?") {
    auto s = io::IoManager().Open(address);
    if (!commands.empty()) s->Output(commands);
    s->Output(query);
    return s->EnterText();
}

// The session answers a query, in step.
inline bool Answers(const io::IoSessionPtr& s) {
    try {
        if (!s) return false;
        s->Output("*OPC?");
        return s->EnterText() == "1\n";
    } catch (const std::exception&) {
        return false;
    }
}

// Both sessions from scratch, with the short time-out.
inline bool Reconnect(const std::string& address) {
    gSession.reset();
    gScope.reset();
    std::string model;
    bool connected = false;
    const bool ok = isConnected(address, false, model, connected);
    if (gSession) gSession->SetTimeout(kSessionTimeoutMs);
    if (scope().session()) scope().session()->SetTimeout(kSessionTimeoutMs);
    return ok;
}

// Channel 1 and pod 1 read over gSession as a capture reads them; true when
// both came whole. Under the silent fault, the transfer alone: the 40 s
// transfer time-out would only slow the table down, the session's short
// one ends it as well.
inline bool TransferChannelAndPod(FaultKind fault) {
    bool all = true;
    for (const char* source : {"CHAN1", "POD1"}) {
        RawData data;
        PreambleBlock pre{};
        bool cancel = false;
        if (fault == kSilent) {
            std::string keyword = source;
            int32_t code = 0;
            SourceKeyword(keyword, code);
            GetWaveformData(*gSession, keyword, pre, data);
        } else {
            ReadSourceWaveform(gSession, data, pre, source, cancel);
        }
        all = all && !cancel && RawDataSize(data) > 0 &&
              static_cast<double>(RawDataSize(data)) == pre[2];
    }
    return all;
}

inline std::string BoxKind(const MessageBoxRequest& box) {
    if (box.text.rfind("Error retreiving scope data.\r\n\r\n", 0) == 0) return "E202";
    if (box.text == "No connection.\r\n\r\n") return "E115";
    if (box.text == "Incorrect model.\r\n\r\n") return "E116";
    if (box.text.rfind("Returned number of points incorrect.", 0) == 0) return "PTS";
    return "?" + box.text;
}

// The boxes shown, by kind ("E202+PTS"; "E202x2": the same box twice);
// empty when none was.
inline std::string BoxKinds(const std::vector<MessageBoxRequest>& boxes) {
    std::string kinds;
    for (const auto& b : boxes) {
        const std::string k = BoxKind(b);
        if (kinds.find(k) == std::string::npos) kinds += (kinds.empty() ? "" : "+") + k;
    }
    if (boxes.size() > 1 && kinds.find('+') == std::string::npos)
        kinds += "x" + std::to_string(boxes.size());
    return kinds;
}

// A table's surroundings: a private folder (the user's "files", "temp" as
// TMPDIR so screen images land where leftovers show, "log" for the error
// log), the built-in model table and the scripted UI; no session is left
// over afterwards.
class FaultTableTest : public ::testing::Test {
protected:
    void SetUp() override {
        tmp_ = std::getenv("TMPDIR");
        root_ = std::filesystem::path(tmp_) / ("fault-cells-" + std::to_string(::getpid()));
        for (const char* sub : {"files", "temp", "log"})
            std::filesystem::create_directories(root_ / sub);
        ::setenv("TMPDIR", (root_ / "temp").c_str(), 1);
        LoadModelTable();
        ui_ = ScriptedUi::install();
        gErrorHandler = std::make_shared<CErrorHandler>((root_ / "log").string());
    }
    void TearDown() override {
        gSession.reset();
        gScope.reset();
        ScriptedUi::uninstall();
        ::setenv("TMPDIR", tmp_.c_str(), 1);
        std::filesystem::remove_all(root_);
    }

    std::string tmp_;
    std::filesystem::path root_;
    std::shared_ptr<ScriptedUi> ui_;
};

}  // namespace cvn::test
