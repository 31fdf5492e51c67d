// The simulator's faults against the operations that talk to the scope,
// over the serial line (the simulator's pseudo-terminal) and over USBTMC
// (the emulated usbtmc driver), each compared cell by cell with the same
// fault over the raw socket: the user sees the same boxes (or none), the
// operation ends within its time-outs, and both sessions answer again
// afterwards. Also: the serial probe asks only the port it is told to ask.
// No real serial or USB device is opened.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <QImage>
#include <chrono>
#include <filesystem>
#include <functional>
#include <iomanip>
#include <iostream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "sim/instrument/Instrument.h"
#include "sim/launch/SimProcess.h"
#include "sim/fronts/UsbtmcEmulation.h"
#include "dialog/InstrumentSearch.h"
#include "io/IoSession.h"
#include "io/UsbtmcPort.h"
#include "scope/CScope.h"
#include "scope/Connection.h"
#include "scope/ModelTable.h"
#include "support/ErrorHandler.h"
#include "support/ScriptedUi.h"
#include "tests/faults/FaultCells.h"

namespace cvn {
namespace {

using namespace test;

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr const char* kUsbNode = "/dev/usbtmc97";  // answered by the emulation

// The faults of the socket matrix that do not count messages or refuse
// the connection.
std::vector<Fault> TransportFaults() {
    std::vector<Fault> faults;
    for (const Fault& f : kFaults) {
        if (f.kind != kDrop && f.kind != kRefused) faults.push_back(f);
    }
    return faults;
}

struct Operation {
    const char* name;
    int limitMs;
    std::set<FaultKind> skipped;  // never reach the operation, or only its 210 s time-out ends it
    std::function<bool(const std::string& address, FaultKind)> run;  // worked
};

// One way to the same scope: the address the add-in opens and a way to give
// the simulator commands that no fault touches.
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

std::string Outcome(bool worked, const std::vector<MessageBoxRequest>& boxes) {
    if (boxes.empty()) return worked ? "ok" : "quiet";
    return BoxKinds(boxes);
}

std::vector<Operation> Operations(const std::string& imagePath) {
    return {
        {"connect",
         2 * kSessionTimeoutMs + 500,
         {kTruncate, kLie, kShort, kCut, kScreenReset, kLateTerminator, kIndefinite},
         [](const std::string& address, FaultKind) {
             std::string model;
             bool connected = false;
             return isConnected(address, true, model, connected) && !model.empty();
         }},
        {"transfer",
         2 * 40000,
         {kScreenReset},
         [](const std::string&, FaultKind fault) { return TransferChannelAndPod(fault); }},
        {"image",
         210000,
         {kSlowIdn, kLie, kShort, kCut, kSilent},
         [imagePath](const std::string&, FaultKind) {
             bool error = false;
             std::string path = imagePath;
             scope().GetBitMap(path, error, false);
             return !error && !QImage(QString::fromStdString(path), "BMP").isNull();
         }},
    };
}

class TransportFaultTest : public FaultTableTest {
protected:
    void TearDown() override {
        FaultTableTest::TearDown();
        io::SetUsbtmcPortFactory({});
    }

    // Every cell of one link: the outcome shown, keyed "operation x fault".
    std::map<std::string, std::string> RunCells(const Link& link) {
        std::map<std::string, std::string> outcomes;
        for (const Operation& op : Operations((root_ / "temp" / "screen.bmp").string())) {
            for (const Fault& fault : TransportFaults()) {
                if (op.skipped.count(fault.kind) != 0) continue;
                const std::string cell = std::string(op.name) + " x " + fault.name;
                SCOPED_TRACE(std::string(link.name) + ": " + cell);
                link.side(":SIMulator:RESet");
                link.side(":CHAN1:DISP ON;:POD1:DISP ON;:WAVeform:POINts 1000");
                EXPECT_TRUE(Reconnect(link.address));
                ui_->reset();
                if (!fault.on.empty()) link.side(fault.on);
                const auto start = Clock::now();
                const bool worked = op.run(link.address, fault.kind);
                const long ms =
                    std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start)
                        .count();
                if (!fault.off.empty()) link.side(fault.off);
                if (link.settle.count(cell) != 0) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(kSettleMs));
                }
                std::string shown = Outcome(worked, ui_->boxes());
                EXPECT_LE(ms, op.limitMs + kMarginMs) << "the operation took " << ms << " ms";

                std::string model;
                bool connected = false;
                const bool usable = isConnected(link.address, false, model, connected) &&
                                    Answers(gSession) && Answers(scope().session());
                EXPECT_TRUE(usable) << "no usable sessions afterwards";
                if (!usable) shown += " !rec";
                outcomes[cell] = shown;
            }
        }
        return outcomes;
    }
};

TEST_F(TransportFaultTest, SerialAndUsbtmcFailLikeTheSocket) {
    // The serial line under a name that survives a pulled cable, as a real
    // port's does.
    const std::string line = (root_ / "line").string();
    sim::SimProcess sim({"--pty-link", line});
    const std::string tcp = sim.address();
    auto viaSocket = [&](const std::string& c) { Side(tcp, c); };

    // The USB scope plays in this process, behind the emulated driver.
    sim::Instrument usbScope;
    sim::UsbtmcEmulation usb(usbScope);
    usb.setMaxTransfer(4096);  // transfers of a full-speed device's size, not the reply's
    io::SetUsbtmcPortFactory([&](const std::string&) { return usb.open(); });
    auto viaUsbScope = [&](const std::string& c) { usbScope.Execute(c); };

    const std::vector<Link> links = {
        {"socket", tcp, viaSocket},
        {"serial", "ASRL" + line + "::INSTR", viaSocket, kSerialSettle},
        {"usbtmc", kUsbNode, viaUsbScope},
    };
    std::vector<std::map<std::string, std::string>> results;
    for (const Link& link : links) results.push_back(RunCells(link));

    std::ostringstream table;
    table << std::left << std::setw(24) << "cell";
    for (const Link& link : links) table << std::setw(12) << link.name;
    table << "\n";
    for (const auto& [cell, socketOutcome] : results[0]) {
        table << std::setw(24) << cell;
        for (size_t i = 0; i < links.size(); ++i) {
            table << std::setw(12) << results[i][cell];
            if (i > 0) {
                EXPECT_EQ(results[i][cell], socketOutcome) << links[i].name << ": " << cell;
            }
        }
        table << "\n";
    }
    std::cout << table.str();
    // The fault-free cells worked on every link.
    for (size_t i = 0; i < links.size(); ++i) {
        for (const char* op : {"connect", "transfer", "image"})
            EXPECT_EQ(results[i][std::string(op) + " x none"], "ok") << links[i].name;
    }
}

TEST_F(TransportFaultTest, FindInstrumentAsksOnlyTheListedSerialPort) {
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
    // And the probed address connects like any other.
    std::string model;
    bool connected = false;
    EXPECT_TRUE(isConnected(address, false, model, connected));
    EXPECT_EQ(model, "HV1014");
}

}  // namespace
}  // namespace cvn
