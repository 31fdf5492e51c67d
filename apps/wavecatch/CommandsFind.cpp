// find: the Find Instrument search without its dialog.
#include <iomanip>

#include "apps/wavecatch/BenchCommand.h"
#include "apps/wavecatch/Commands.h"
#include "host/Json.h"
#include "host/ReplyText.h"
#include "support/Text.h"

namespace cvn::host {

namespace {

constexpr const char* kFindHelp =
    "usage: wavecatch find [--usb] [--serial] [--host H]... [--lan] [--json]\n"
    "Looks for instruments as the Find Instrument dialog does and asks each\n"
    "\"*IDN?\": prints address, maker, model and whether the add-in supports it.\n"
    "Without --usb, --serial or --lan: USB (usbtmc) and the hosts given.\n"
    "  --usb             USB instruments (usbtmc devices)\n"
    "  --host H          a LAN host (name, IP, host:port or a full address); may be\n"
    "                    given more than once, or as a comma-separated list\n"
    "  --serial          also serial ports: writes \"*IDN?\" to every ttyS, ttyUSB\n"
    "                    and ttyACM device, so only when asked\n"
    "  --lan             also a VXI-11 broadcast and an mDNS query on the local\n"
    "                    networks: sends beyond this computer, so only when asked\n"
    "  --json            [{\"address\", \"maker\", \"model\", \"serial\", \"supported\",\n"
    "                    \"answered\", \"error\"}]\n"
    "Exits with 1 when no supported instrument answered.\n";

std::vector<std::string> hostsOf(const ParsedArgs& p) {
    std::vector<std::string> hosts;
    for (const std::string& value : p.all("--host"))
        for (std::string& h : SplitList(value)) hosts.push_back(std::move(h));
    return hosts;
}

}  // namespace

int CmdFind(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const ParsedArgs p =
        ParseArgs(args, {"--host"}, {"--help", "--json", "--usb", "--serial", "--lan"});
    if (p.has("--help")) return PrintHelp(out, kFindHelp);
    if (!p.operands.empty()) throw UsageError("unexpected argument " + p.operands[0]);
    FindRequest req;
    req.hosts = hostsOf(p);
    req.serial = p.has("--serial");
    req.lan = p.has("--lan");
    // Without a bus chosen, USB is searched besides the hosts given; serial
    // and LAN only when asked, since they write to ports and send beyond
    // this computer.
    req.usb = p.has("--usb") || (!req.serial && !req.lan);
    return RunBenchCommand(err, "find", [&] {
        const std::vector<FoundInstrument> found = FindInstruments(req);
        bool anySupported = false;
        for (const FoundInstrument& f : found) anySupported = anySupported || f.supported;
        if (p.has("--json")) {
            JsonWriter w;
            w.beginArray();
            for (const FoundInstrument& f : found) {
                w.beginObject();
                w.key("address").value(f.address);
                w.key("maker").value(f.maker);
                w.key("model").value(f.model);
                w.key("serial").value(f.serialNumber);
                w.key("supported").value(f.supported);
                w.key("answered").value(f.answered);
                w.key("error").value(f.error);
                w.endObject();
            }
            w.endArray();
            out << w.text() << "\n";
        } else {
            out << std::left << std::setw(34) << "ADDRESS" << std::setw(24) << "MAKER"
                << std::setw(14) << "MODEL"
                << "SUPPORTED\n";
            for (const FoundInstrument& f : found) {
                if (!f.answered) {
                    err << "wavecatch: find: " << f.address << ": " << TerminalText(f.error)
                        << "\n";
                    continue;
                }
                // What the instrument named itself is shown, never obeyed.
                out << std::left << std::setw(34) << f.address << std::setw(24)
                    << TerminalText(f.maker) << std::setw(14) << TerminalText(f.model)
                    << (f.supported ? "yes" : "no") << "\n";
            }
        }
        if (!anySupported) {
            err << "wavecatch: find: no supported instrument answered\n";
            return 1;
        }
        return 0;
    });
}

}  // namespace cvn::host
