// doctor: checks, in the order a capture depends on them, everything between
// the user and the scope, and says for each what is wrong and how to fix it.
#include <netdb.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <optional>

#include "apps/wavecatch/CommandLine.h"
#include "apps/wavecatch/Commands.h"
#include "apps/wavecatch/DoctorUdev.h"
#include "automation/ClassRegistry.h"
#include "automation/Dispatch.h"
#include "cvnWCHalv.h"
#include "host/AddinLoader.h"
#include "host/Capture.h"
#include "host/ReplyText.h"
#include "host/bench/ModelCheck.h"
#include "io/Address.h"
#include "io/IoSession.h"
#include "io/UsbtmcTransport.h"
#include "scope/ModelTable.h"
#include "support/AppKey.h"
#include "support/Error.h"
#include "support/ErrorHandler.h"
#include "support/SettingsStore.h"

namespace cvn::host {

namespace {

constexpr const char* kDoctorHelp =
    "usage: wavecatch doctor [--address ADDR] [--module PATH] [--registry-key KEY]\n"
    "       wavecatch doctor --udev\n"
    "Checks, in order: the add-in module and its version, its registration, the\n"
    "settings file, the error log, the instrument address (stored, or ADDR), that\n"
    "it parses and its host resolves (or, for USB and serial, that the device\n"
    "node exists and may be read and written), that it opens, that the scope\n"
    "answers *IDN? within 500 ms, and that its model is supported. Each line\n"
    "says OK, or what is wrong and how to fix it. Exits with 0 when every check\n"
    "passed, 1 otherwise.\n"
    "  --udev    instead, prints udev rules for the USB instruments attached (the\n"
    "            devices with a USBTMC interface), where to save them and how to\n"
    "            reload udev; exits with 1 when none is attached\n";

// The connection and identification limits of the add-in's own check.
constexpr int kOpenTimeoutMs = 2000;
constexpr int kIdnTimeoutMs = 500;

class Report {
public:
    explicit Report(std::ostream& out) : out_(out) {}

    void ok(const std::string& what, const std::string& detail) {
        out_ << "OK    " << what << ": " << TerminalText(detail) << "\n";
    }
    void fail(const std::string& what, const std::string& problem, const std::string& fix) {
        ++failures_;
        out_ << "FAIL  " << what << ": " << TerminalText(problem) << "\n";
        if (!fix.empty()) out_ << "      fix: " << fix << "\n";
    }
    void skip(const std::string& what, const std::string& why) {
        out_ << "SKIP  " << what << ": " << why << "\n";
    }
    int failures() const { return failures_; }

private:
    std::ostream& out_;
    int failures_ = 0;
};

std::string busName(io::Bus bus) {
    switch (bus) {
        case io::Bus::Socket:
            return "raw SCPI socket";
        case io::Bus::Vxi11:
            return "VXI-11";
        case io::Bus::Usbtmc:
            return "USBTMC";
        case io::Bus::Serial:
            return "serial port";
        case io::Bus::Gpib:
            return "GPIB";
    }
    return "?";
}

std::string trimmed(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r' || s.back() == ' ')) s.pop_back();
    return s;
}

// The module to check and where it came from; empty path when none exists.
std::pair<std::string, std::string> locateModule(const ParsedArgs& p) {
    if (p.hasValue("--module")) return {AbsoluteModulePath(p.value("--module")), "given"};
    try {
        if (auto entry = automation::LookUpClass(CVN_PROGID_IWAVECATCH))
            return {entry->modulePath, "registered"};
    } catch (const std::exception&) {
        // A damaged registry is the registration check's to report.
    }
    return {DefaultModulePath(), "found beside wavecatch"};
}

// Checks 1 and 2. Gives the module's supported-model list when it loaded.
std::optional<std::string> checkModule(Report& r, const std::string& path,
                                       const std::string& origin) {
    if (path.empty()) {
        r.fail("module", "no add-in module found (not registered, none beside wavecatch)",
               "install the package, or pass --module PATH to libcvnWCHalv.so");
        return std::nullopt;
    }
    std::optional<std::string> models;
    try {
        AddinModule m(path);
        const std::string version = m.version();
        Connection c = CreateObject(CVN_PROGID_IWAVECATCH, path);
        models = automation::getProperty(*c.object, "SupportedInstruments").toString();
        r.ok("module", path + " (" + origin + "), version " + version);
    } catch (const std::exception& e) {
        r.fail("module", e.what(),
               "reinstall the package, or pass --module PATH to a working libcvnWCHalv.so");
    }
    return models;
}

void checkRegistration(Report& r, const std::string& modulePath, bool given) {
    std::error_code ec;
    const auto canonical = [&](const std::string& p) {
        return std::filesystem::weakly_canonical(p, ec).string();
    };
    std::vector<std::string> problems;
    for (const char* progId : {CVN_PROGID_IWAVECATCH, CVN_PROGID_CSCOPE}) {
        try {
            const auto entry = automation::LookUpClass(progId);
            if (!entry)
                problems.push_back(std::string(progId) + " is not registered");
            else if (!std::filesystem::exists(entry->modulePath, ec))
                problems.push_back(std::string(progId) + " is registered to " + entry->modulePath +
                                   ", which does not exist");
            else if (!modulePath.empty() && canonical(entry->modulePath) != canonical(modulePath))
                problems.push_back(std::string(progId) + " is registered to " + entry->modulePath +
                                   ", not to this module");
        } catch (const std::exception& e) {
            r.fail("registration", e.what(),
                   "repair or remove " + automation::ClassRegistryPath() +
                       ", then run 'wavecatch register'");
            return;
        }
    }
    if (problems.empty()) {
        r.ok("registration", std::string(CVN_PROGID_IWAVECATCH) + " and " + CVN_PROGID_CSCOPE +
                                 " point at this module (" + automation::ClassRegistryPath() + ")");
        return;
    }
    std::string text = problems[0];
    for (size_t i = 1; i < problems.size(); ++i) text += "; " + problems[i];
    r.fail("registration", text,
           "run 'wavecatch register" + (given ? " --module " + modulePath : "") +
               "' (hosts find the add-in by its class name only when it is registered)");
}

void checkSettings(Report& r, const std::string& key) {
    std::string path;
    try {
        path = SettingsFilePath(key);
    } catch (const std::exception& e) {
        r.fail("settings", e.what(), "pass a --registry-key without empty levels or '/'");
        return;
    }
    const std::string problem = SettingsFileProblem(key);
    if (!problem.empty()) {
        r.fail("settings", path + ": " + problem,
               "repair the file or remove it (the add-in then starts from its defaults); it is "
               "never overwritten while it cannot be read");
        return;
    }
    std::error_code ec;
    if (!std::filesystem::exists(path, ec)) {
        r.ok("settings", path + " (not created yet)");
        return;
    }
    std::string skipped;
    for (const int line : SettingsFileSkippedLines(key))
        skipped += (skipped.empty() ? "" : ", ") + std::to_string(line);
    r.ok("settings", path + " parses" +
                         (skipped.empty() ? ""
                                          : "; lines it does not understand are kept as they are "
                                            "and skipped: " +
                                                skipped));
}

void checkErrorLog(Report& r, const std::string& modulePath) {
    if (modulePath.empty()) {
        r.skip("error log", "depends on where the module is");
        return;
    }
    const std::filesystem::path module(modulePath);
    std::string base = module.filename().string();
    base = base.substr(0, base.find(".so"));
    const std::string path = ErrorLogPath(module.parent_path().string(), base);
    std::error_code ec;
    if (std::filesystem::exists(path, ec)) {
        if (::access(path.c_str(), W_OK) != 0)
            r.fail("error log", path + " cannot be written", "chmod u+w " + path);
        else
            r.ok("error log", path);
        return;
    }
    // The fallback folder is made on first use; only a blocked parent stops it.
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    while (!folder.empty() && !std::filesystem::exists(folder, ec)) folder = folder.parent_path();
    if (::access(folder.c_str(), W_OK | X_OK) != 0)
        r.fail("error log", path + ": " + folder.string() + " is not writable",
               "make " + folder.string() + " writable, or set XDG_STATE_HOME to a folder you own");
    else
        r.ok("error log", path + " (not written yet)");
}

bool checkResolves(Report& r, const io::Address& a) {
    addrinfo hints{};
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int status = ::getaddrinfo(a.host.c_str(), nullptr, &hints, &found);
    if (status != 0) {
        r.fail("host", a.host + " does not resolve: " + ::gai_strerror(status),
               "check the spelling, or use the scope's IP address (shown in its LAN menu)");
        return false;
    }
    char text[NI_MAXHOST] = "?";
    ::getnameinfo(found->ai_addr, found->ai_addrlen, text, sizeof text, nullptr, 0, NI_NUMERICHOST);
    ::freeaddrinfo(found);
    r.ok("host", a.host + " resolves to " + text);
    return true;
}

bool checkDeviceNode(Report& r, const io::Address& a) {
    std::string node = a.devicePath;
    if (node.empty()) {
        try {
            node = io::UsbtmcTransport::findDevice(a.vendorId, a.productId, a.serialNumber);
        } catch (const std::exception& e) {
            r.fail("device", e.what(),
                   "connect the scope by USB and switch it on; 'ls /sys/class/usbmisc' should "
                   "list a usbtmc device");
            return false;
        }
    }
    struct stat st {};
    if (::stat(node.c_str(), &st) != 0) {
        r.fail("device", node + " does not exist",
               a.bus == io::Bus::Serial ? "check the adapter is plugged in ('ls /dev/tty*')"
                                        : "connect the scope by USB and switch it on");
        return false;
    }
    if (::access(node.c_str(), R_OK | W_OK) != 0) {
        r.fail(
            "device", node + " exists but may not be read and written by this user",
            a.bus == io::Bus::Serial
                ? "add yourself to its group ('sudo adduser $USER dialout'), then log in again"
                : "install a udev rule giving your group access to the scope's USB ids ('wavecatch "
                  "doctor --udev' prints one)");
        return false;
    }
    r.ok("device", node + " exists and may be read and written");
    return true;
}

// Checks from the address on; each needs the one before it.
void checkInstrument(Report& r, const std::string& address, bool stored,
                     const std::optional<std::string>& models) {
    if (address.empty()) {
        r.fail("address", "no instrument address is stored",
               "pass --address ADDR, or run 'wavecatch capture --address ADDR' once");
        for (const char* what : {"connection", "identification", "model"})
            r.skip(what, "needs an address");
        return;
    }
    r.ok("address", address + (stored ? " (stored)" : " (given)"));

    io::Address parsed;
    try {
        parsed = io::parseAddress(address);
    } catch (const std::exception& e) {
        r.fail("address format", e.what(), "write the address in one of the forms above");
        for (const char* what : {"connection", "identification", "model"})
            r.skip(what, "needs a valid address");
        return;
    }
    r.ok("address format", busName(parsed.bus));

    bool reachable = true;
    if (parsed.bus == io::Bus::Socket || parsed.bus == io::Bus::Vxi11)
        reachable = checkResolves(r, parsed);
    else if (parsed.bus == io::Bus::Usbtmc || parsed.bus == io::Bus::Serial)
        reachable = checkDeviceNode(r, parsed);
    if (!reachable) {
        for (const char* what : {"connection", "identification", "model"})
            r.skip(what, "needs a reachable instrument");
        return;
    }

    io::IoSessionPtr session;
    const auto started = std::chrono::steady_clock::now();
    try {
        session = io::IoManager().Open(address, kOpenTimeoutMs);
    } catch (const std::exception& e) {
        r.fail("connection", e.what(),
               "check that the scope is on and connected; for LAN, that its port (usually "
               "5025) is open and no firewall is in between");
        r.skip("identification", "needs a connection");
        r.skip("model", "needs a connection");
        return;
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - started)
                        .count();
    r.ok("connection", "opened in " + std::to_string(ms) + " ms");

    std::string reply, idn;
    try {
        session->SetTimeout(kIdnTimeoutMs);
        session->Output("*IDN?");
        reply = session->EnterText();
        idn = trimmed(reply);
    } catch (const std::exception& e) {
        r.fail("identification", std::string("no answer to *IDN? within 500 ms: ") + e.what(),
               "check that this is a SCPI instrument on this port, and that no other program "
               "holds its connection");
        r.skip("model", "needs an identification");
        return;
    }
    r.ok("identification", idn);

    // The module's own list counts: it may have an override file beside it.
    const std::vector<std::string> supported =
        models ? ModelsOfList(*models) : LoadHostModelTable();
    const std::string model = ModelField(idn).empty() ? idn : ModelField(idn);
    if (NamesListedModel(reply, supported))
        r.ok("model", model + " is supported");
    else
        r.fail("model", model + " is not a supported model",
               "use a Halvio Series scope ('wavecatch info' lists the models), or name the "
               "model in an override file (libcvnWCHalv.ini beside the module, see README)");
}

}  // namespace

int CmdDoctor(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const ParsedArgs p =
        ParseArgs(args, {"--address", "--module", "--registry-key"}, {"--help", "--udev"});
    if (p.has("--help")) {
        out << kDoctorHelp;
        return 0;
    }
    if (!p.operands.empty()) throw UsageError("unexpected argument " + p.operands[0]);
    if (p.has("--udev")) {
        if (!p.values.empty()) throw UsageError("--udev takes no other option");
        return PrintUdevRules(out, err);
    }

    Report r(out);
    const auto [modulePath, origin] = locateModule(p);
    const std::optional<std::string> models = checkModule(r, modulePath, origin);
    checkRegistration(r, modulePath, origin == "given");
    const std::string key = SettingsKeyFor(
        p.hasValue("--registry-key") ? std::optional<std::string>(p.value("--registry-key"))
                                     : std::nullopt);
    checkSettings(r, key);
    checkErrorLog(r, modulePath);
    const bool stored = !p.hasValue("--address");
    const std::string address =
        stored ? GetSetting(key, kSettingsSection, kDeviceName) : p.value("--address");
    checkInstrument(r, address, stored, models);

    if (r.failures() == 0) {
        out << "all checks passed\n";
        return 0;
    }
    out << r.failures() << (r.failures() == 1 ? " check" : " checks") << " failed\n";
    return kExitFailed;
}

}  // namespace cvn::host
