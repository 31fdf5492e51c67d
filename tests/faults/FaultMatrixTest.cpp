// Every way the simulator can misbehave, crossed with every operation that
// talks to the scope. Each cell checks that the operation comes back within
// its own time-outs, that the user sees the box the system defines for that
// failure (or none where the operation fails quietly), that both sessions
// answer again once the fault is switched off, and that no file the user had
// is changed or left half-written. The outcomes are printed as a table.
#include <gtest/gtest.h>
#include <unistd.h>

#include <QCheckBox>
#include <QComboBox>
#include <QImage>
#include <QLineEdit>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iomanip>
#include <iostream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dialog/FWCdlgHalv.h"
#include "dialog/MeasurementTab.h"
#include "io/IoSession.h"
#include "scope/CScope.h"
#include "scope/Connection.h"
#include "scope/ModelTable.h"
#include "setupfile/CSetupFile.h"
#include "setupfile/ScopeSettingsActions.h"
#include "sim/launch/SimProcess.h"
#include "support/ErrorHandler.h"
#include "support/ScriptedUi.h"
#include "tests/faults/FaultCells.h"

namespace cvn {
namespace {

using namespace test;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

const std::string kUserSetup = "the user's own setup file\n";
const std::string kUserCsv = "the user's own measurement results\n";

// Faults after which the very session that met them must answer the next
// operation: nothing about them is a reason to reconnect.
bool KeepsSessionsInStep(FaultKind kind) {
    return kind == kNone || kind == kLateTerminator || kind == kIndefinite;
}

// What one operation reports of itself, before the boxes are looked at.
struct Seen {
    Seen(bool ok = false) : worked(ok) {}
    bool worked;        // the operation's own sign of success
    bool lost = false;  // no error, yet the scope never got what was sent
    std::string note;   // anything else wrong, for the failure message
};

struct Cell {
    const Fault& fault;
    std::string address;  // the operation's address (the refused one for kRefused)
    std::string simAddress;
    fs::path files;  // the user's folder
    ScriptedUi& ui;
    std::string imagePath;
    std::string stateBaseline;  // the dialog state read without faults
};

struct Operation {
    const char* name;
    bool scopeSession;  // talks over gScope's session rather than gSession
    int limitMs;        // its own time-outs added up, with the cell's session time-out
    std::set<FaultKind> notApplicable;
    std::set<FaultKind> skipped;  // would only wait out a long time-out of its own
    const char* product;          // the user's file it is asked to write, if any
    std::function<Seen(Cell&)> run;
    std::vector<std::string> expected;  // per fault, in the order of kFaults
};

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

void WriteAll(const fs::path& p, const std::string& bytes) {
    std::ofstream(p, std::ios::binary | std::ios::trunc) << bytes;
}

std::map<std::string, std::string> Snapshot(const fs::path& folder) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::directory_iterator(folder))
        out[e.path().filename().string()] = ReadAll(e.path());
    return out;
}

int LogCount(const std::string& address) {
    return std::stoi(Side(address, ""));
}

// "ok", "quiet" (failed, nothing shown), "lost", or the boxes shown.
std::string Outcome(const Seen& seen, const std::vector<MessageBoxRequest>& boxes) {
    if (boxes.empty()) return seen.lost ? "lost" : seen.worked ? "ok" : "quiet";
    return BoxKinds(boxes);
}

std::string StateSignature(FWCdlgHalv& dlg) {
    std::string s;
    for (int i = 0; i < dlg.cboSource1->count(); ++i)
        s += dlg.cboSource1->itemText(i).toStdString() + ",";
    s += "|" + dlg.txtWFNumberPoints->text().toStdString() + "|";
    for (auto* box : dlg.chkPod) s += FWCdlgHalv::isAvailable(box) ? "1" : "0";
    return s;
}

Seen Connect(Cell& c) {
    std::string model;
    bool connected = false;
    return {isConnected(c.address, true, model, connected) && !model.empty()};
}

Seen StateRead(Cell& c) {
    FWCdlgHalv& dlg = captureDialog();
    dlg.txtWFNumberPoints->clear();
    dlg.ReadScopeState(false);
    if (c.stateBaseline.empty()) c.stateBaseline = StateSignature(dlg);
    return {StateSignature(dlg) == c.stateBaseline};
}

Seen Transfer(Cell& c) {
    return {TransferChannelAndPod(c.fault.kind)};
}

Seen Image(Cell& c) {
    bool error = false;
    scope().GetBitMap(c.imagePath, error, false);
    return {!error && !c.imagePath.empty() &&
            !QImage(QString::fromStdString(c.imagePath), "BMP").isNull()};
}

Seen Measure(Cell& c) {
    FWCdlgHalv& dlg = captureDialog();
    ClearAllMeasurements(dlg);
    for (size_t i = 0; i < 6; ++i) dlg.chkMea[i]->setChecked(true);
    const size_t boxes = c.ui.boxes().size();
    MeasureCurrentAcquisition(dlg);
    if (c.ui.boxes().size() != boxes) return {};
    // The user saves what the tab shows.
    c.ui.queueSave((c.files / "Wavecatch.csv").string());
    SaveMeasurementResults(dlg);
    const std::string csv = ReadAll(c.files / "Wavecatch.csv");
    Seen seen{csv != kUserCsv && !csv.empty()};
    for (char ch : csv)
        if (static_cast<unsigned char>(ch) < 0x20 && ch != '\r' && ch != '\n')
            seen.note = "control characters in the saved results: " + csv;
    return seen;
}

Seen SaveSetup(Cell& c) {
    const fs::path target = c.files / "Wavecatch.scp";
    c.ui.queueSave(target.string());
    RunScopeSettingsAction(true);
    Seen seen{ReadAll(target) != kUserSetup && CSetupFile::IsACompatibleFile(target.string())};
    if (seen.worked) {
        CSetupFile record;
        record.ReadFile(target.string());
        const auto& bytes = record.LearnString();
        if (bytes.empty() || bytes[0] != '#') seen.note = "the saved setup is not a block";
    }
    return seen;
}

Seen LoadSetup(Cell& c) {
    c.ui.queueOpen((c.files / "restore.scp").string());
    RunScopeSettingsAction(false);
    Seen seen{true};
    if (!c.ui.boxes().empty()) return seen;
    // Sending reads no reply: whether the scope got it shows in its log.
    for (int i = 0; i < 50; ++i) {
        auto s = io::IoManager().Open(c.simAddress);
        s->Output(":SIMulator:LOG? 3");
        const auto log = s->EnterBytes();
        if (std::string(log.begin(), log.end()).find("Syst:Set ") != std::string::npos) return seen;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    seen.lost = true;
    return seen;
}

std::vector<Operation> Operations() {
    const int t = kSessionTimeoutMs;
    // Columns: none slow-idn no-reply garbage trunc-blk lying-hdr pts-count
    //          drop-blk drop-seq img-reset refused late-term indef-blk
    return {
        {"connect",
         false,
         2 * t + 500,
         {kTruncate, kLie, kShort, kCut, kScreenReset},
         {},
         nullptr,
         Connect,
         {"ok", "E115", "E115", "E116", "n/a", "n/a", "n/a", "n/a", "quiet", "n/a", "E115", "ok",
          "ok"}},
        {"state read",
         false,
         12 * t,
         {kSlowIdn, kTruncate, kLie, kShort, kCut, kScreenReset},
         {},
         nullptr,
         StateRead,
         {"ok", "n/a", "quiet", "quiet", "n/a", "n/a", "n/a", "n/a", "quiet", "n/a", "quiet", "ok",
          "ok"}},
        {"transfer",
         false,
         2 * 40000,
         {kScreenReset},
         {},
         nullptr,
         Transfer,
         {"ok", "ok", "E202x2", "E202x2", "E202x2", "E202x2", "PTSx2", "E202x2", "E202", "n/a",
          "quiet", "ok", "ok"}},
        {"image",
         true,
         210000,
         {kSlowIdn, kLie, kShort, kCut},
         {kSilent},
         nullptr,
         Image,
         {"ok", "n/a", "skip", "E202", "E202", "n/a", "n/a", "n/a", "E202", "E202", "quiet", "ok",
          "ok"}},
        {"measure",
         false,
         40 * t,
         {kSlowIdn, kTruncate, kLie, kShort, kCut, kScreenReset},
         {},
         "Wavecatch.csv",
         Measure,
         {"ok", "n/a", "E202", "E202", "n/a", "n/a", "n/a", "n/a", "E202", "n/a", "E115", "ok",
          "ok"}},
        {"setup save",
         false,
         t + 10000,
         {kLie, kShort, kCut, kScreenReset},
         {},
         "Wavecatch.scp",
         SaveSetup,
         {"ok", "E202", "E202", "E202", "E202", "n/a", "n/a", "n/a", "E202", "n/a", "E115", "ok",
          "ok"}},
        {"setup load",
         false,
         t,
         {kSlowIdn, kTruncate, kLie, kShort, kCut, kScreenReset},
         {},
         nullptr,
         LoadSetup,
         {"ok", "n/a", "ok", "ok", "n/a", "n/a", "n/a", "n/a", "lost", "n/a", "E115", "ok", "ok"}},
    };
}

class FaultMatrixTest : public FaultTableTest {};

TEST_F(FaultMatrixTest, EveryFaultAgainstEveryOperation) {
    sim::SimProcess sim;
    const std::string addr = sim.address();
    std::string refused;
    {
        sim::SimProcess gone;
        refused = gone.address();
    }
    const fs::path files = root_ / "files";
    const fs::path temp = root_ / "temp";

    // How many messages each session has sent once connected: a drop is
    // placed by counting from there.
    Side(addr, ":SIMulator:RESet");
    int before = LogCount(addr);
    {
        CScope probe;
        ASSERT_TRUE(probe.Connect(addr));
    }
    const int scopeBase = LogCount(addr) - before;
    before = LogCount(addr);
    ASSERT_TRUE(Reconnect(addr));
    const int sessionBase = LogCount(addr) - before - scopeBase;
    SaveLearnString((files / "restore.scp").string());
    ASSERT_TRUE(CSetupFile::IsACompatibleFile((files / "restore.scp").string()));

    const std::vector<Operation> ops = Operations();
    std::map<std::string, int> opMessages;  // sent by each operation, without faults
    std::vector<std::vector<std::string>> table(ops.size());
    std::string stateBaseline;
    // The fault-free column comes first: it measures what the others compare with.
    for (size_t f = 0; f < kFaults.size(); ++f) {
        const Fault& fault = kFaults[f];
        for (size_t o = 0; o < ops.size(); ++o) {
            const Operation& op = ops[o];
            SCOPED_TRACE(std::string(op.name) + " x " + fault.name);
            std::string& shown = table[o].emplace_back();
            if (op.notApplicable.count(fault.kind) != 0 || op.skipped.count(fault.kind) != 0) {
                shown = op.notApplicable.count(fault.kind) != 0 ? "n/a" : "skip";
                EXPECT_EQ(shown, op.expected[f]);
                continue;
            }
            Side(addr, ":SIMulator:RESet");
            Side(addr, ":CHAN1:DISP ON;:CHAN2:DISP ON;:POD1:DISP ON;:WAVeform:POINts 1000");
            const std::string target = fault.kind == kRefused ? refused : addr;
            ASSERT_EQ(Reconnect(target), fault.kind != kRefused);
            WriteAll(files / "Wavecatch.scp", kUserSetup);
            WriteAll(files / "Wavecatch.csv", kUserCsv);
            const auto userFiles = Snapshot(files);
            ui_->reset();
            Cell cell{fault, target, addr, files, *ui_, "", stateBaseline};

            const int count0 = LogCount(addr);
            std::string on = fault.on;
            if (fault.kind == kDrop) {
                // In the middle of the operation; for the transfer, between
                // its two sources.
                const int base = op.scopeSession ? scopeBase : sessionBase;
                on = ":SIMulator:FAULt:DROP " + std::to_string(base + opMessages[op.name] / 2);
            }
            if (!on.empty()) Side(addr, on);
            const auto start = Clock::now();
            const Seen seen = op.run(cell);
            const long ms =
                std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
            if (!fault.off.empty()) Side(addr, fault.off);
            shown = Outcome(seen, ui_->boxes());
            if (fault.kind == kNone) {
                Answers(gSession);  // everything sent has run: the count is complete
                opMessages[op.name] = LogCount(addr) - count0 - 1;
                stateBaseline = cell.stateBaseline;
            }

            EXPECT_LE(ms, op.limitMs + kMarginMs) << "the operation took " << ms << " ms";
            EXPECT_EQ(shown, op.expected[f]);
            EXPECT_TRUE(seen.note.empty()) << seen.note;
            if (!seen.note.empty()) shown += " !data";

            // After a framing fault the same sessions answer the next
            // operation in step: no reconnection hides a shifted reply.
            if (KeepsSessionsInStep(fault.kind) && fault.kind != kRefused) {
                const bool same = Answers(gSession) && Answers(scope().session());
                EXPECT_TRUE(same) << "the sessions that met the fault are out of step";
                if (!same) shown += " !step";
            }

            // The next call finds a scope that answers on both sessions.
            std::string model;
            bool connected = false;
            const bool reconnected = isConnected(addr, false, model, connected);
            const bool session = Answers(gSession);
            const bool scopeSession = Answers(scope().session());
            const bool usable = reconnected && session && scopeSession;
            EXPECT_TRUE(usable) << "afterwards: isConnected " << reconnected << ", gSession "
                                << session << ", gScope's session " << scopeSession;
            if (!usable) shown += " !rec";

            // The user's files are as they were, but for a product written whole.
            auto now = Snapshot(files);
            if (op.product != nullptr && seen.worked) now[op.product] = userFiles.at(op.product);
            EXPECT_EQ(now, userFiles) << "the user's folder changed";
            if (now != userFiles) shown += " !file";
            // The screen image is the only thing left in the temporary folder:
            // whole, or the empty file named for the host when it failed.
            for (const auto& e : fs::directory_iterator(temp)) {
                const bool ours = e.path().string() == cell.imagePath &&
                                  (seen.worked || fs::file_size(e.path()) == 0);
                EXPECT_TRUE(ours) << "left in the temporary folder: " << e.path();
                if (!ours) shown += " !temp";
                fs::remove(e.path());
            }
        }
    }

    std::ostringstream out;
    out << std::left << std::setw(12) << "op \\ fault";
    for (const Fault& fault : kFaults) out << std::setw(11) << fault.name << ' ';
    out << "\n";
    for (size_t o = 0; o < ops.size(); ++o) {
        out << std::setw(12) << ops[o].name;
        for (const std::string& cell : table[o]) out << std::setw(11) << cell << ' ';
        out << "\n";
    }
    out << "ok: worked, no box; quiet: failed without a box; lost: sent without error but the\n"
           "scope never got it; E202 \"Error retreiving scope data.\", E115 \"No connection.\",\n"
           "E116 \"Incorrect model.\", PTS \"Returned number of points incorrect\" (xN: N boxes);\n"
           "n/a: the fault never reaches the operation; skip: only its own 210 s time-out would\n"
           "end it. Failed checks: !rec no usable session afterwards, !file the user's folder\n"
           "changed, !temp something left in the temporary folder, !data wrong data kept,\n"
           "!step the session that met the fault answered the next query out of step.\n";
    std::cout << out.str();
}

}  // namespace
}  // namespace cvn
