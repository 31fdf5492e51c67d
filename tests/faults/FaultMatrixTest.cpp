// Every way the simulator can misbehave, crossed with every operation that
// talks to the scope, over every way to reach it: the raw socket, the serial
// line (the simulator's pseudo-terminal) and USBTMC (the emulated usbtmc
// driver). One table of cells, fault x operation, holds the outcome the user
// must see on every link. Each cell checks that the operation comes back
// within its own time-outs, that the user sees the box the system defines for
// that failure (or none where the operation fails quietly), and that both
// sessions answer again once the fault is switched off; over the socket also
// that the sessions that met the fault stay in step and that no file the user
// had is changed or left half-written. No real serial or USB device is opened.
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
#include <iterator>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "dialog/FWCdlgHalv.h"
#include "dialog/InstrumentSearch.h"
#include "dialog/MeasurementTab.h"
#include "io/IoSession.h"
#include "io/UsbtmcPort.h"
#include "scope/CScope.h"
#include "scope/Connection.h"
#include "scope/ModelTable.h"
#include "setupfile/CSetupFile.h"
#include "setupfile/ScopeSettingsActions.h"
#include "sim/fronts/UsbtmcEmulation.h"
#include "sim/instrument/Instrument.h"
#include "sim/launch/SimProcess.h"
#include "support/ErrorHandler.h"
#include "support/ScriptedUi.h"
#include "tests/io/TransportChecks.h"
#include "waveform/SourceNames.h"
#include "waveform/WaveformTransfer.h"

namespace cvn {
namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// Short session time-out for every operation that uses the session's own.
constexpr int kSessionTimeoutMs = 250;
// Slower than both the 500 ms identification and the session time-out.
constexpr int kIdnDelayMs = 1000;
constexpr int kMarginMs = 2000;
// Late, but within the session time-out of the operation that waits for it.
constexpr int kLateTerminatorMs = 200;
constexpr const char* kUsbNode = "/dev/usbtmc97";  // answered by the emulation

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

const std::string kF = ":SIMulator:FAULt:";
const std::vector<Fault> kFaults = {
    {kNone, "none", "", ""},
    {kSlowIdn, "slow-idn", kF + "IDNDelay " + std::to_string(kIdnDelayMs), kF + "IDNDelay 0"},
    {kSilent, "no-reply", kF + "SILent ON", kF + "SILent OFF"},
    {kGarbage, "garbage", kF + "GARBage ON", kF + "GARBage OFF"},
    {kTruncate, "trunc-blk", kF + "TRUNcate ON", kF + "TRUNcate OFF"},
    {kLie, "lying-hdr", kF + "LIE CLOSe", kF + "LIE OFF"},
    {kShort, "pts-count", kF + "SHORt ON", kF + "SHORt OFF"},
    {kCut, "drop-blk", kF + "CUT ON", kF + "CUT OFF"},
    {kDrop, "drop-seq", "", kF + "DROP -1"},
    {kScreenReset, "img-reset", kF + "SCReenreset ON", kF + "SCReenreset OFF"},
    {kRefused, "refused", "", ""},
    // Framing: a block's line feed late (within the operation's time-out),
    // and blocks of indefinite length whose data holds line feeds.
    {kLateTerminator, "late-term", kF + "LATEterm " + std::to_string(kLateTerminatorMs),
     kF + "LATEterm 0"},
    {kIndefinite, "indef-blk", kF + "INDefinite ON", kF + "INDefinite OFF"},
};

const std::string kUserSetup = "the user's own setup file\n";
const std::string kUserCsv = "the user's own measurement results\n";

using io::test::Answers;
using io::test::Side;

// Both sessions from scratch, with the short time-out.
bool Reconnect(const std::string& address) {
    gSession.reset();
    gScope.reset();
    std::string model;
    bool connected = false;
    const bool ok = isConnected(address, false, model, connected);
    if (gSession) gSession->SetTimeout(kSessionTimeoutMs);
    if (scope().session()) scope().session()->SetTimeout(kSessionTimeoutMs);
    return ok;
}

// Faults after which the very session that met them must answer the next
// operation: nothing about them is a reason to reconnect.
bool KeepsSessionsInStep(FaultKind kind) {
    return kind == kNone || kind == kLateTerminator || kind == kIndefinite;
}

std::string BoxKind(const MessageBoxRequest& box) {
    if (box.text.rfind("Error retreiving scope data.\r\n\r\n", 0) == 0) return "E202";
    if (box.text == "No connection.\r\n\r\n") return "E115";
    if (box.text == "Incorrect model.\r\n\r\n") return "E116";
    if (box.text.rfind("Returned number of points incorrect.", 0) == 0) return "PTS";
    return "?" + box.text;
}

// What one operation reports of itself, before the boxes are looked at.
struct Seen {
    Seen(bool ok = false) : worked(ok) {}
    bool worked;        // the operation's own sign of success
    bool lost = false;  // no error, yet the scope never got what was sent
    std::string note;   // anything else wrong, for the failure message
};

// "ok", "quiet" (failed, nothing shown), "lost", or the boxes shown by kind
// ("E202+PTS"; "E202x2": the same box twice).
std::string Outcome(const Seen& seen, const std::vector<MessageBoxRequest>& boxes) {
    if (boxes.empty()) return seen.lost ? "lost" : seen.worked ? "ok" : "quiet";
    std::string kinds;
    for (const auto& b : boxes) {
        const std::string k = BoxKind(b);
        if (kinds.find(k) == std::string::npos) kinds += (kinds.empty() ? "" : "+") + k;
    }
    if (boxes.size() > 1 && kinds.find('+') == std::string::npos)
        kinds += "x" + std::to_string(boxes.size());
    return kinds;
}

std::string ReadAll(const fs::path& p) {
    std::ifstream in(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

std::map<std::string, std::string> Snapshot(const fs::path& folder) {
    std::map<std::string, std::string> out;
    for (const auto& e : fs::directory_iterator(folder))
        out[e.path().filename().string()] = ReadAll(e.path());
    return out;
}

struct Cell {
    const Fault& fault;
    std::string address;  // the operation's address (the refused one for kRefused)
    std::string simAddress;
    fs::path files;  // the user's folder
    ScriptedUi& ui;
    std::string imagePath;
    std::string stateBaseline;  // the dialog state read without faults
};

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

// Channel 1 and pod 1 read over gSession as a capture reads them, both
// whole. Under the silent fault, the transfer alone: the 40 s transfer
// time-out would only slow the table down, the session's short one ends it.
Seen Transfer(Cell& c) {
    bool all = true;
    for (const char* source : {"CHAN1", "POD1"}) {
        RawData data;
        PreambleBlock pre{};
        bool cancel = false;
        if (c.fault.kind == kSilent) {
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
    return {all};
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
        if (io::test::SimLog(c.simAddress, ":SIMulator:LOG? 3").find("Syst:Set ") !=
            std::string::npos)
            return seen;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    seen.lost = true;
    return seen;
}

struct Operation {
    const char* name;
    bool scopeSession;    // talks over gScope's session rather than gSession
    bool everyLink;       // run over the serial line and USBTMC as well as the socket
    int limitMs;          // its own time-outs added up, with the cell's session time-out
    const char* product;  // the user's file it is asked to write, if any
    std::function<Seen(Cell&)> run;
    // Per fault, in the order of kFaults. "n/a": the fault never reaches the
    // operation; "skip": only a long time-out of its own would end it.
    std::vector<std::string> expected;
};

std::vector<std::string> Columns(const std::string& row) {
    std::istringstream in(row);
    return {std::istream_iterator<std::string>(in), {}};
}

std::vector<Operation> Operations() {
    const int t = kSessionTimeoutMs;
    // Columns: none slow-idn no-reply garbage trunc-blk lying-hdr pts-count
    //          drop-blk drop-seq img-reset refused late-term indef-blk
    return {
        {"connect", false, true, 2 * t + 500, nullptr, Connect,
         Columns("ok E115 E115 E116 n/a n/a n/a n/a quiet n/a E115 ok ok")},
        {"state read", false, false, 12 * t, nullptr, StateRead,
         Columns("ok n/a quiet quiet n/a n/a n/a n/a quiet n/a quiet ok ok")},
        {"transfer", false, true, 2 * 40000, nullptr, Transfer,
         Columns("ok ok E202x2 E202x2 E202x2 E202x2 PTSx2 E202x2 E202 n/a quiet ok ok")},
        {"image", true, true, 210000, nullptr, Image,
         Columns("ok n/a skip E202 E202 n/a n/a n/a E202 E202 quiet ok ok")},
        {"measure", false, false, 40 * t, "Wavecatch.csv", Measure,
         Columns("ok n/a E202 E202 n/a n/a n/a n/a E202 n/a E115 ok ok")},
        {"setup save", false, false, t + 10000, "Wavecatch.scp", SaveSetup,
         Columns("ok E202 E202 E202 E202 n/a n/a n/a E202 n/a E115 ok ok")},
        {"setup load", false, false, t, nullptr, LoadSetup,
         Columns("ok n/a ok ok n/a n/a n/a n/a lost n/a E115 ok ok")},
    };
}

// One way to the same scope: the address the add-in opens and a way to give
// the simulator commands that no fault touches. Only the socket carries the
// faults that count messages or refuse the connection.
struct Link {
    const char* name;
    std::string address;
    std::function<void(const std::string&)> side;
    // Cells after which the link needs time before it answers in step.
    std::set<std::string> settle = {};
};

// A serial line has no connections: gScope's session and gSession share it.
// Identifications that come after their time-out stay owed on the line, and
// each answers the next question asked there, whichever session asks, until
// the scope has sent them all; a block's late line feed likewise reaches
// the session that asks next. What arrived before a command is dropped, so
// once the line is quiet both sessions are in step again. Over a socket each
// session has a connection of its own and drops its own late bytes.
const std::set<std::string> kSerialSettle = {"connect x slow-idn", "transfer x late-term"};
// How long the scope needs to send every identification still owed.
constexpr int kSettleMs = 3 * kIdnDelayMs;

class FaultMatrixTest : public ::testing::Test {
protected:
    void SetUp() override {
        tmp_ = std::getenv("TMPDIR");
        root_ = fs::path(tmp_) / ("fault-cells-" + std::to_string(::getpid()));
        for (const char* sub : {"files", "temp", "log"}) fs::create_directories(root_ / sub);
        // Screen images land in "temp", where leftovers show.
        ::setenv("TMPDIR", (root_ / "temp").c_str(), 1);
        LoadModelTable();
        ui_ = ScriptedUi::install();
        gErrorHandler = std::make_shared<CErrorHandler>((root_ / "log").string());
    }
    void TearDown() override {
        gSession.reset();
        gScope.reset();
        ScriptedUi::uninstall();
        io::SetUsbtmcPortFactory({});
        ::setenv("TMPDIR", tmp_.c_str(), 1);
        fs::remove_all(root_);
    }

    // Every cell of one link, checked against the table.
    // The socket link (sim set) also places drops, refuses connections and
    // checks the user's files and the sessions' step.
    void RunLink(const Link& link, const sim::SimProcess* sim) {
        const std::string& addr = link.address;
        const fs::path files = root_ / "files";
        const fs::path temp = root_ / "temp";
        std::string refused;
        int scopeBase = 0, sessionBase = 0;
        if (sim) {
            {
                sim::SimProcess gone;
                refused = gone.address();
            }
            // How many messages each session has sent once connected: a drop
            // is placed by counting from there.
            Side(addr, ":SIMulator:RESet");
            int before = LogCount(addr);
            {
                CScope probe;
                ASSERT_TRUE(probe.Connect(addr));
            }
            scopeBase = LogCount(addr) - before;
            before = LogCount(addr);
            ASSERT_TRUE(Reconnect(addr));
            sessionBase = LogCount(addr) - before - scopeBase;
            SaveLearnString((files / "restore.scp").string());
            ASSERT_TRUE(CSetupFile::IsACompatibleFile((files / "restore.scp").string()));
        }

        const std::vector<Operation> ops = Operations();
        std::map<std::string, int> opMessages;  // sent by each operation, without faults
        std::string stateBaseline;
        // The fault-free column comes first: it measures what the others compare with.
        for (size_t f = 0; f < kFaults.size(); ++f) {
            const Fault& fault = kFaults[f];
            for (const Operation& op : ops) {
                const std::string name = std::string(op.name) + " x " + fault.name;
                SCOPED_TRACE(std::string(link.name) + ": " + name);
                ASSERT_EQ(op.expected.size(), kFaults.size());
                const std::string& expected = op.expected[f];
                if (expected == "n/a" || expected == "skip") continue;
                if (!sim && (!op.everyLink || fault.kind == kDrop || fault.kind == kRefused))
                    continue;
                link.side(":SIMulator:RESet");
                link.side(":CHAN1:DISP ON;:CHAN2:DISP ON;:POD1:DISP ON;:WAVeform:POINts 1000");
                const std::string target = fault.kind == kRefused ? refused : addr;
                ASSERT_EQ(Reconnect(target), fault.kind != kRefused);
                if (sim) {
                    std::ofstream(files / "Wavecatch.scp", std::ios::binary) << kUserSetup;
                    std::ofstream(files / "Wavecatch.csv", std::ios::binary) << kUserCsv;
                }
                const auto userFiles = Snapshot(files);
                ui_->reset();
                Cell cell{fault, target, addr, files, *ui_, "", stateBaseline};

                const int count0 = sim ? LogCount(addr) : 0;
                std::string on = fault.on;
                if (fault.kind == kDrop) {
                    // In the middle of the operation; for the transfer, between
                    // its two sources.
                    const int base = op.scopeSession ? scopeBase : sessionBase;
                    on = ":SIMulator:FAULt:DROP " + std::to_string(base + opMessages[op.name] / 2);
                }
                if (!on.empty()) link.side(on);
                const auto start = Clock::now();
                const Seen seen = op.run(cell);
                const long ms =
                    std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start)
                        .count();
                if (!fault.off.empty()) link.side(fault.off);
                if (link.settle.count(name) != 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
                const std::string shown = Outcome(seen, ui_->boxes());
                if (sim && fault.kind == kNone) {
                    Answers(gSession);  // everything sent has run: the count is complete
                    opMessages[op.name] = LogCount(addr) - count0 - 1;
                    stateBaseline = cell.stateBaseline;
                }

                EXPECT_LE(ms, op.limitMs + kMarginMs) << "the operation took " << ms << " ms";
                EXPECT_EQ(shown, expected);
                EXPECT_TRUE(seen.note.empty()) << seen.note;

                // After a framing fault the same sessions answer the next
                // operation in step: no reconnection hides a shifted reply.
                if (sim && KeepsSessionsInStep(fault.kind)) {
                    EXPECT_TRUE(Answers(gSession) && Answers(scope().session()))
                        << "the sessions that met the fault are out of step";
                }

                // The next call finds a scope that answers on both sessions.
                std::string model;
                bool connected = false;
                EXPECT_TRUE(isConnected(addr, false, model, connected) && Answers(gSession) &&
                            Answers(scope().session()))
                    << "no usable sessions afterwards";

                // The user's files are as they were, but for a product written whole.
                auto now = Snapshot(files);
                if (op.product != nullptr && seen.worked)
                    now[op.product] = userFiles.at(op.product);
                EXPECT_EQ(now, userFiles) << "the user's folder changed";
                // The screen image is the only thing left in the temporary
                // folder: whole, or the empty file named for the host when it
                // failed.
                for (const auto& e : fs::directory_iterator(temp)) {
                    EXPECT_TRUE(e.path().string() == cell.imagePath &&
                                (seen.worked || fs::file_size(e.path()) == 0))
                        << "left in the temporary folder: " << e.path();
                    fs::remove(e.path());
                }
            }
        }
    }

    static int LogCount(const std::string& address) { return std::stoi(Side(address, "")); }

    std::string tmp_;
    fs::path root_;
    std::shared_ptr<ScriptedUi> ui_;
};

TEST_F(FaultMatrixTest, EveryFaultAgainstEveryOperationOverTheSocket) {
    sim::SimProcess sim;
    RunLink({"socket", sim.address(), [&](const std::string& c) { Side(sim.address(), c); }}, &sim);
}

TEST_F(FaultMatrixTest, SerialAndUsbtmcFailLikeTheSocket) {
    // The serial line under a name that survives a pulled cable, as a real
    // port's does.
    const std::string line = (root_ / "line").string();
    sim::SimProcess sim({"--pty-link", line});
    RunLink({"serial", "ASRL" + line + "::INSTR",
             [&](const std::string& c) { Side(sim.address(), c); }, kSerialSettle},
            nullptr);

    // The USB scope plays in this process, behind the emulated driver.
    sim::Instrument usbScope;
    sim::UsbtmcEmulation usb(usbScope);
    usb.setMaxTransfer(4096);  // transfers of a full-speed device's size, not the reply's
    io::SetUsbtmcPortFactory([&](const std::string&) { return usb.open(); });
    RunLink({"usbtmc", kUsbNode, [&](const std::string& c) { usbScope.Execute(c); }}, nullptr);
}

TEST_F(FaultMatrixTest, FindInstrumentAsksOnlyTheListedSerialPort) {
    sim::SimProcess sim({"--pty", "--model", "HV1014"});
    const std::string address = "ASRL" + sim.ptyPath() + "::INSTR";
    ::setenv("CVN_SERIAL_PORTS", sim.ptyPath().c_str(), 1);
    // Whatever lies below the search root, only the listed port is asked.
    EXPECT_EQ(SerialAddresses("/"), std::vector<std::string>{address});
    const ProbeResult found = Probe(address, ProbeRun::kOpenTimeoutMs, ProbeRun::kReplyTimeoutMs);
    EXPECT_TRUE(found.answered) << found.error;
    ASSERT_GE(found.idn.size(), 2u);
    EXPECT_EQ(found.idn[1], "HV1014");
    // An empty list asks no serial port at all.
    ::setenv("CVN_SERIAL_PORTS", "", 1);
    EXPECT_TRUE(SerialAddresses("/").empty());
    ::unsetenv("CVN_SERIAL_PORTS");
}

}  // namespace
}  // namespace cvn
