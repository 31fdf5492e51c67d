// Soak run: many silent captures (four channels and the screen image) in one
// process against one simulator, through dispatch of IWavecatch as a host
// makes them, with the scripted UI double answering every box so nothing
// blocks and the driver's waits cost nothing. Every Nth capture runs with a
// simulator fault switched on from a side connection (the faults in turn)
// and off again after it.
//
// Prints captures per second, the outcomes by kind, whether every injected
// fault was reported to the user, and the resident memory (VmRSS) at the
// start, in the middle and at the end. Targets: memory flat (end within 5 %
// of middle), no crash, every fault reported, and every capture without a
// fault succeeding (the add-in recovers from each fault).
//
//   soak [--captures N] [--points N] [--fault-every N]
//
// Traffic stays on 127.0.0.1; the loop ends after N captures.
#include <stdlib.h>

#include <QApplication>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "addin/IWavecatch.h"
#include "automation/Dispatch.h"
#include "dialog/FWCdlgHalv.h"
#include "io/IoSession.h"
#include "sim/launch/SimProcess.h"
#include "support/AppKey.h"
#include "support/ScriptedUi.h"
#include "support/SettingsStore.h"

namespace {

using Clock = std::chrono::steady_clock;
using cvn::automation::Variant;

struct Fault {
    const char* name;
    const char* on;
    const char* off;
};

// The faults that a whole capture meets; each ends the connection or the
// reply in its own way.
const std::vector<Fault> kFaults = {
    {"garbage", ":SIMulator:FAULt:GARBage ON", ":SIMulator:FAULt:GARBage OFF"},
    {"truncated block", ":SIMulator:FAULt:TRUNcate ON", ":SIMulator:FAULt:TRUNcate OFF"},
    {"lying header", ":SIMulator:FAULt:LIE CLOSe", ":SIMulator:FAULt:LIE OFF"},
    {"point count", ":SIMulator:FAULt:SHORt ON", ":SIMulator:FAULt:SHORt OFF"},
    {"cut block", ":SIMulator:FAULt:CUT ON", ":SIMulator:FAULt:CUT OFF"},
    {"image reset", ":SIMulator:FAULt:SCReenreset ON", ":SIMulator:FAULt:SCReenreset OFF"},
    {"bad preamble", ":SIMulator:FAULt:BADPreamble ON", ":SIMulator:FAULt:BADPreamble OFF"},
    {"slow identification", ":SIMulator:FAULt:IDNDelay 1000", ":SIMulator:FAULt:IDNDelay 0"},
};

long VmRssKiB() {
    std::ifstream in("/proc/self/status");
    std::string line;
    while (std::getline(in, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

void Side(const std::string& address, const std::string& commands) {
    auto s = cvn::io::IoManager().Open(address);
    s->Output(commands);
    s->Output("*OPC?");
    s->EnterText();
}

std::string BoxKind(const std::string& text) {
    if (text.rfind("Error retreiving scope data.", 0) == 0) return "error box";
    if (text.rfind("Returned number of points incorrect.", 0) == 0) return "points box";
    if (text.rfind("No connection, please", 0) == 0) return "retry prompt";
    if (text.rfind("Incorrect model.", 0) == 0) return "model box";
    return "other box";
}

long Option(int argc, char** argv, const std::string& name, long def) {
    for (int i = 1; i + 1 < argc; ++i)
        if (argv[i] == name) return std::strtol(argv[i + 1], nullptr, 10);
    return def;
}

int Run(int argc, char** argv) {
    const long captures = Option(argc, argv, "--captures", 1000);
    const long points = Option(argc, argv, "--points", 100000);
    const long faultEvery = Option(argc, argv, "--fault-every", 50);
    if (captures < 1 || points < 100 || faultEvery < 1) {
        std::cerr << "usage: soak [--captures N] [--points N] [--fault-every N]\n";
        return 2;
    }

    cvn::sim::SimProcess sim;
    const std::string address = sim.address();
    Side(address, ":CHAN1:DISP ON;:CHAN2:DISP ON;:CHAN3:DISP ON;:CHAN4:DISP ON;:WAVeform:POINts " +
                      std::to_string(points));

    auto fake = cvn::ScriptedUi::install();
    auto addin = cvn::automation::makeRef<cvn::IWavecatch>();
    cvn::automation::letProperty(*addin, "RegistryKey", std::string("Soak\\Wavecatch"));
    const std::pair<const char*, const char*> settings[] = {
        {"Corvane Halvio Series", address.c_str()},
        {"ActiveChannels", "CHAN1,CHAN2,CHAN3,CHAN4"},
        {"Screen", "1"},
        {"InvertColor", "0"},
        {"Waveform", "1"},
        {"MakeNewAcquisition", "0"},
        {"D0D7", "0"},
        {"D8D15", "0"}};
    for (const auto& [key, value] : settings)
        cvn::SaveSetting(cvn::SettingsAppKey(), cvn::kSettingsSection, key, value);
    // A number, so the maximum-points check never asks.
    cvn::automation::letProperty(*addin, "numberPoints", std::to_string(points));

    std::map<std::string, long> outcomes;
    std::map<std::string, std::string> firstText;  // per box kind, for the report
    long injected = 0, reported = 0, cleanFailed = 0;
    std::vector<std::string> unreported;
    const long rssStart = VmRssKiB();
    long rssMiddle = rssStart;
    const auto start = Clock::now();
    for (long n = 1; n <= captures; ++n) {
        const Fault* fault =
            n % faultEvery == 0 ? &kFaults[static_cast<size_t>(n / faultEvery - 1) % kFaults.size()]
                                : nullptr;
        if (fault != nullptr) Side(address, fault->on);
        fake->reset();
        cvn::automation::invokeByName(*addin, "GetDataFromInstrument",
                                      cvn::automation::InvokeKind::Method);
        if (fault != nullptr) Side(address, fault->off);

        const bool cancel = cvn::automation::getProperty(*addin, "Cancel").toBool();
        const long dataType = cvn::automation::getProperty(*addin, "DataType").toLong();
        const Variant y = cvn::automation::getProperty(*addin, "YData");
        const long values = y.isArray() ? static_cast<long>(y.array().count()) : 0;
        const std::string bmp = cvn::automation::getProperty(*addin, "BMPfilePath").toString();
        // The host owns the image files; it removes them once read.
        if (!bmp.empty()) std::filesystem::remove(bmp);

        std::string kind;
        for (const auto& box : fake->boxes()) {
            const std::string k = BoxKind(box.text);
            firstText.emplace(k, box.text);
            if (kind.find(k) == std::string::npos) kind += (kind.empty() ? "" : " + ") + k;
        }
        if (cancel) kind += kind.empty() ? "cancel" : " + cancel";
        if (kind.empty() && (dataType != 96 || values != 4 * points)) kind = "incomplete, no box";
        if (kind.empty()) kind = "ok";
        if (fault != nullptr) {
            ++injected;
            if (kind != "ok" && kind != "incomplete, no box")
                ++reported;
            else
                unreported.push_back(std::string(fault->name) + " at capture " + std::to_string(n));
            kind = std::string("[") + fault->name + "] " + kind;
        } else if (kind != "ok") {
            ++cleanFailed;
        }
        ++outcomes[kind];
        if (n == captures / 2) rssMiddle = VmRssKiB();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    const long rssEnd = VmRssKiB();

    std::printf("captures: %ld of %ld points x 4 channels + image, in %.1f s: %.2f captures/s\n",
                captures, points, seconds, captures / seconds);
    std::printf("outcomes:\n");
    for (const auto& [kind, count] : outcomes) std::printf("  %6ld  %s\n", count, kind.c_str());
    std::printf("first text of each box:\n");
    for (auto [kind, text] : firstText) {
        for (char& c : text)
            if (c == '\r' || c == '\n') c = ' ';
        std::printf("  %s: %s\n", kind.c_str(), text.c_str());
    }
    std::printf("faults injected: %ld, reported to the user: %ld\n", injected, reported);
    for (const auto& u : unreported) std::printf("  NOT reported: %s\n", u.c_str());
    const double growth = rssMiddle > 0 ? 100.0 * (rssEnd - rssMiddle) / rssMiddle : 0;
    std::printf("VmRSS: start %ld KiB, middle %ld KiB, end %ld KiB (end vs middle %+.1f %%)\n",
                rssStart, rssMiddle, rssEnd, growth);
    const bool flat = growth <= 5.0;
    std::printf("captures without a fault that failed: %ld\n", cleanFailed);
    std::printf("targets: memory flat %s, every fault reported %s, recovery after faults %s\n",
                flat ? "yes" : "NO", unreported.empty() ? "yes" : "NO",
                cleanFailed == 0 ? "yes" : "NO");
    cvn::ScriptedUi::uninstall();
    return flat && unreported.empty() && cleanFailed == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Settings, the error log and the image files go to a private home.
    std::string home = (std::filesystem::temp_directory_path() / "cvn-soak-XXXXXX").string();
    if (::mkdtemp(home.data()) == nullptr) return 2;
    for (const char* var :
         {"HOME", "XDG_CONFIG_HOME", "XDG_STATE_HOME", "XDG_RUNTIME_DIR", "TMPDIR"})
        ::setenv(var, home.c_str(), 1);
    int result = 0;
    {
        QApplication app(argc, argv);
        result = Run(argc, argv);
        cvn::unloadCaptureDialog();
    }
    std::error_code ignored;
    std::filesystem::remove_all(home, ignored);
    return result;
}
