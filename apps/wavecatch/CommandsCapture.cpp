// capture and demo: a whole retrieval through the add-in, saved to a folder.
#include <unistd.h>

#include <algorithm>
#include <optional>

#include "apps/wavecatch/CaptureVerify.h"
#include "apps/wavecatch/CommandLine.h"
#include "apps/wavecatch/Commands.h"
#include "automation/ClassRegistry.h"
#include "automation/Dispatch.h"
#include "cvnWCHalv.h"
#include "host/Capture.h"
#include "host/ReplyText.h"
#include "host/bench/Bench.h"
#include "host/bench/CaptureExtras.h"
#include "host/formats/SaveCapture.h"
#include "host/qt/GuiApp.h"
#include "sim/launch/SimProcess.h"
#include "support/AppKey.h"
#include "support/Error.h"
#include "support/SettingsStore.h"

namespace cvn::host {

using automation::Arg;
using automation::Args;
using automation::InvokeKind;
using automation::Variant;

namespace {

std::string captureHelp() {
    return std::string(
               "usage: wavecatch capture [--address ADDR] [--dialog] [--registry-key KEY]\n"
               "                         [--points N|MAX] [--out DIR] [--force] [--format LIST]\n"
               "                         [--module PATH] [--json] [--no-extras] [--verify]\n"
               "Fetches data through the add-in (GetDataFromInstrument) and saves it in DIR\n"
               "(default ./wavecatch-<date>-<time>) in the formats of LIST (default csv,json):\n") +
           FormatsHelp("  ") +
           "and always screen.bmp (when an image came) and plot.png. capture.h5 also\n"
           "keeps the extras that make it a complete record (group /extras): the start\n"
           "time, the capture profile and result codes, and, read from the stopped scope\n"
           "after the retrieval, its *IDN? reply, its setup (the .scp file setup save\n"
           "writes), its 24 quick measurements, and the screen image as it came. An\n"
           "extra the scope does not give is named on stderr and left out; --no-extras\n"
           "leaves them all out and asks the scope nothing more. Without --dialog\n"
           "the add-in uses the choices its dialog stored last. --address is the scope\n"
           "this run uses, whatever another run stores meanwhile; it is stored as the\n"
           "last address after a successful connection. --registry-key selects another\n"
           "settings key.\n"
           "--points N|MAX is the add-in's points choice (a whole number, or MAX), not\n"
           "the record length: the scope sends the points it offers for its record.\n"
           "MAX (also no --points with none stored) makes the add-in check that the\n"
           "scope shows the main time base without averaging first. Set the record\n"
           "length on the scope, e.g. wavecatch scpi ':ACQuire:POINts 1000000'\n"
           "':WAVeform:POINts:MODE MAXimum'.\n"
           "The add-in refuses a scope whose identification names none of the models\n"
           "it supports (wavecatch info lists them).\n"
           "Files are written only for data that arrived. A source whose transfer failed,\n"
           "or whose data cannot be told for certain to be its own, is named on stderr\n"
           "(\"wavecatch: CH2: transfer failed (...)\") and written in no format.\n"
           "An existing DIR that holds files of a capture (ch1.csv, raw.json, plot.png...)\n"
           "is refused before anything is fetched, naming them (exit 2); --force writes\n"
           "into it all the same: the new files replace theirs, and files this capture\n"
           "does not write stay as they were and are named (\"kept:\").\n"
           "Exits with 1 when the add-in reports Cancel, any source failed, or a chosen\n"
           "file cannot hold the data (sr and vcd state the sample rate in whole hertz:\n"
           "below 1 Hz they are left out, with a line on stderr, and the other files\n"
           "written).\n" +
           kVerifyHelp;
}
constexpr const char* kDemoHelp =
    "usage: wavecatch demo [--out DIR] [--force] [--module PATH] [--json]\n"
    "Starts the simulator (model MSOHX5104) on a free port of 127.0.0.1, points a\n"
    "temporary settings key at it, captures the screen and channels 1 to 4 and\n"
    "pod 1 silently, saves the results like capture does, and stops the\n"
    "simulator. Uses the registered module, else the one beside wavecatch.\n"
    "DIR and --force as for capture.\n";

constexpr const char* kDemoRegistryKey = "Corvane\\Linkara\\WavecatchDemo";
constexpr const char* kDemoModel = "MSOHX5104";

FormatSet formatsOf(const ParsedArgs& p) {
    if (!p.hasValue("--format")) return DefaultFormats();
    const std::optional<FormatSet> f = ParseFormats(p.value("--format"));
    if (!f) throw UsageError("--format takes a list of " + FormatIds());
    return *f;
}

// An --out that holds an earlier capture is refused before anything is
// fetched: the two would mix, and the new files would replace the old.
bool refuseEarlierCapture(const ParsedArgs& p, std::ostream& err) {
    if (!p.hasValue("--out") || p.has("--force")) return false;
    const std::vector<std::string> earlier = CaptureFilesIn(p.value("--out"));
    if (earlier.empty()) return false;
    std::string list;
    for (const std::string& name : earlier) list += (list.empty() ? "" : ", ") + name;
    err << "wavecatch: " << p.value("--out") << " holds files of an earlier capture (" << list
        << "): choose another --out, or pass --force to write into it (files this capture "
           "does not write are kept)\n";
    return true;
}

int finish(const CaptureResult& r, const ParsedArgs& p, std::ostream& out, std::ostream& err,
           const CaptureVerification* verified = nullptr) {
    if (r.cancel && r.actionType == 0) {
        err << "wavecatch: the add-in reported Cancel: no data was fetched\n";
        if (p.has("--json")) out << SummaryJson(r, {});
        return kExitFailed;
    }
    for (const FailedSet& f : r.failed)
        err << "wavecatch: " << TerminalText(f.name) << ": " << TerminalText(f.why) << "\n";
    const WrittenFiles files =
        WriteCapture(r, p.hasValue("--out") ? p.value("--out") : DefaultCaptureFolder(),
                     formatsOf(p), p.has("--force"));
    // The model and descriptions are the scope's words: shown, never obeyed.
    if (!p.has("--json"))
        out << TerminalText(SummaryText(r, files));
    else if (verified)
        out << WithVerification(SummaryJson(r, files), *verified);
    else
        out << SummaryJson(r, files);
    if (verified && !p.has("--json")) PrintVerification(*verified, out);
    if (verified) ReportDisagreement(*verified, err);
    for (const std::string& f : files.kept)
        err << "wavecatch: " << f << " is from an earlier capture: this one did not write it\n";
    for (const std::string& skipped : files.skipped) err << "wavecatch: " << skipped << "\n";
    if (r.cancel) {
        err << "wavecatch: the add-in reported Cancel: the results are incomplete\n";
        return kExitFailed;
    }
    if (!r.failed.empty()) {
        err << "wavecatch: " << r.failed.size() << " of " << r.failed.size() + r.sets.size()
            << " data sets failed and were not written\n";
        return kExitFailed;
    }
    if (!files.skipped.empty()) return kExitFailed;
    if (files.files.empty()) {
        err << "wavecatch: nothing arrived, nothing was written\n";
        return kExitFailed;
    }
    return verified && !verified->agree() ? kExitFailed : 0;
}

}  // namespace

int CmdCapture(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const ParsedArgs p = ParseArgs(
        args, {"--address", "--registry-key", "--points", "--out", "--module", "--format"},
        {"--help", "--dialog", "--json", "--force", "--no-extras", "--verify"});
    if (p.has("--help")) return PrintHelp(out, captureHelp().c_str());
    if (!p.operands.empty()) throw UsageError("unexpected argument " + p.operands[0]);
    formatsOf(p);  // a wrong list is refused before anything is fetched
    if (refuseEarlierCapture(p, err)) return kExitUsage;
    CaptureRequest req;
    req.modulePath = ModuleToUse(CVN_PROGID_IWAVECATCH, p.value("--module"));
    req.address = p.value("--address");
    req.dialog = p.has("--dialog");
    if (p.hasValue("--registry-key")) req.registryKey = p.value("--registry-key");
    if (p.hasValue("--points")) {
        req.points = PointsChoice(p.value("--points"));
        if (!req.points)
            throw UsageError(std::string("--points ") + kPointsRule + ", not '" +
                             p.value("--points") + "'");
    }
    // The dialog is modal: on no display, or one nobody sees, it would wait
    // for ever. Say so at once instead.
    if (req.dialog) {
        const std::string problem = DisplayProblem();
        if (!problem.empty()) {
            err << "wavecatch: capture --dialog needs a display a person can use: " << problem
                << "\n";
            return kExitUsage;
        }
    }
    EnsureGuiApplication(req.dialog);
    // Long transfers show their progress on a terminal, never in a log.
    ProgressLine line(STDERR_FILENO);
    if (::isatty(STDERR_FILENO))
        req.progress = [&line](const std::string& source, size_t received, size_t total) {
            line.update(source, received, total);
        };
    // Only h5 holds the extras: other formats never pay for them.
    const FormatSet formats = formatsOf(p);
    const bool extras =
        !p.has("--no-extras") &&
        std::find(formats.begin(), formats.end(), FindCaptureFormat("h5")) != formats.end();
    const CaptureExtras start = extras ? StartExtras(req) : CaptureExtras{};
    CaptureResult r = RunCapture(req);
    if (extras && !(r.cancel && r.actionType == 0)) {
        struct Close {
            ~Close() { CloseScope(); }
        } close;
        for (const std::string& missing : ReadCaptureExtras(r, start))
            err << "wavecatch: capture.h5 is without its " << TerminalText(missing) << "\n";
    }
    // The scope is left stopped: its measurements describe what was read.
    if (!p.has("--verify") || r.sets.empty()) return finish(r, p, out, err);
    BenchTarget target{req.address, req.registryKey};
    const CaptureVerification verified = VerifyCapture(r, target, err);
    return finish(r, p, out, err, &verified);
}

int CmdDemo(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const ParsedArgs p = ParseArgs(args, {"--out", "--module"}, {"--help", "--json", "--force"});
    if (p.has("--help")) return PrintHelp(out, kDemoHelp);
    if (!p.operands.empty()) throw UsageError("unexpected argument " + p.operands[0]);
    if (refuseEarlierCapture(p, err)) return kExitUsage;
    std::string module = p.hasValue("--module") ? AbsoluteModulePath(p.value("--module")) : "";
    // A fresh machine has registered nothing: use the module built beside us.
    if (module.empty() && !automation::LookUpClass(CVN_PROGID_IWAVECATCH)) {
        module = DefaultModulePath();
        if (module.empty())
            throw Error(kCannotCreateObject,
                        "The add-in is not registered and no module was found beside wavecatch; "
                        "pass --module PATH",
                        "wavecatch");
    }
    EnsureGuiApplication(false);

    sim::SimProcess sim({"--model", kDemoModel});
    if (!p.has("--json")) out << "simulator:    " << kDemoModel << " at " << sim.address() << "\n";

    const std::string key = SettingsKeyFor(std::string(kDemoRegistryKey));
    struct Cleanup {
        std::string key;
        ~Cleanup() {
            try {
                DeleteSetting(key, kSettingsSection);
            } catch (...) {
                // A leftover demo key does no harm; the next demo rewrites it.
            }
        }
    } cleanup{key};
    const std::pair<const char*, const char*> settings[] = {
        {"ActiveChannels", "CHAN1,CHAN2,CHAN3,CHAN4,POD1"},
        {"Screen", "1"},
        {"InvertColor", "1"},
        {"Waveform", "1"},
        {"MakeNewAcquisition", "0"},
        {"D0D7", "0"},
        {"D8D15", "0"}};
    for (const auto& [name, value] : settings) SaveSetting(key, kSettingsSection, name, value);

    Connection wc = CreateObject(CVN_PROGID_IWAVECATCH, module);
    // The simulator starts with channels 1 and 2 shown; show all four so
    // that every listed source is delivered. The model table must be loaded
    // for the scope object to know the channel count.
    automation::getProperty(*wc.object, "SupportedInstruments");
    {
        Connection sc = CreateObject(CVN_PROGID_CSCOPE, module);
        auto call = [&](const char* name, Args a) {
            return automation::invokeByName(*sc.object, name, InvokeKind::Method, a);
        };
        if (!call("Connect", Args{Arg(Variant(sim.address()))}).toBool()) {
            err << "wavecatch: the simulator at " << sim.address() << " did not answer\n";
            return kExitFailed;
        }
        for (int32_t ch = 3; ch <= 4; ++ch)
            call("ChanDisp", Args{Arg(Variant(ch)), Arg(Variant(true))});
        call("Disconnect", Args{});
    }

    CaptureRequest req;
    req.address = sim.address();
    req.registryKey = kDemoRegistryKey;
    req.points = "1000";
    const CaptureResult r = RunCapture(wc, req);
    const int status = finish(r, p, out, err);
    sim.stop();
    return status;
}

}  // namespace cvn::host
