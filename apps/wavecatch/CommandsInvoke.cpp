// get, let, call and scope: members of the add-in's objects by name.
#include <algorithm>
#include <filesystem>

#include "apps/wavecatch/CommandLine.h"
#include "apps/wavecatch/Commands.h"
#include "automation/Dispatch.h"
#include "automation/TypeInfo.h"
#include "cvnWCHalv.h"
#include "host/AddinLoader.h"
#include "host/Json.h"
#include "host/ReplyText.h"
#include "host/bench/ModelCheck.h"
#include "io/ReplyConvert.h"
#include "scope/ModelTable.h"
#include "support/AtomicFile.h"
#include "support/Error.h"

namespace cvn::host {

using automation::Arg;
using automation::Args;
using automation::IDispatchObject;
using automation::InterfaceInfo;
using automation::InvokeKind;
using automation::MemberInfo;
using automation::Variant;

namespace {

constexpr const char* kGetHelp =
    "usage: wavecatch get [--module PATH] [--json] PROGID PROPERTY [ARG...]\n"
    "Creates PROGID's object (cvnWCHalv.IWavecatch or cvnWCHalv.CScope) and prints\n"
    "the property. Arrays print one element a line; --json prints the value as\n"
    "JSON.\n"
    "Example: wavecatch get cvnWCHalv.IWavecatch numberPoints\n";
constexpr const char* kLetHelp =
    "usage: wavecatch let [--module PATH] PROGID PROPERTY VALUE\n"
    "Writes the property. VALUE is a Long when integral, a Double when numeric,\n"
    "a Boolean for true/false, else a String; put -- before negative numbers.\n"
    "Example: wavecatch let cvnWCHalv.IWavecatch numberPoints 1000\n";
constexpr const char* kCallHelp =
    "usage: wavecatch call [--module PATH] [--json] PROGID METHOD [ARG...]\n"
    "Calls the method and prints its result. Arguments are read like let's\n"
    "VALUE; put -- before negative numbers. By-reference arguments that the call\n"
    "changed print after the result as NAME=VALUE (--json: all of them).\n"
    "Example: wavecatch call cvnWCHalv.IWavecatch RShiftWord -- -128 7\n";
constexpr const char* kScopeHelp =
    "usage: wavecatch scope --address ADDR [--module PATH] ACTION\n"
    "Connects the add-in's CScope object to ADDR and then:\n"
    "  idn            prints the identification, model, channel count, digital\n"
    "                 pods and whether the add-in supports the model (exit 1 when\n"
    "                 not: the answer capture, doctor and find give)\n"
    "  run | stop | single   starts, stops or single-runs acquisition\n"
    "  running        prints running or stopped\n"
    "  disp SOURCE    prints on or off for CHAN1..CHAN4, POD1, POD2\n"
    "  chan N on|off  shows or hides analog channel N\n"
    "  bitmap [--invert] [--out FILE]\n"
    "                 captures the screen image and prints its file path\n"
    "Addresses: host:port, TCPIP0::host::port::SOCKET, USB0::..., /dev/usbtmc0,\n"
    "ASRL/dev/ttyUSB0::INSTR.\n";

// Finds the member and checks that it can be invoked the way asked.
const MemberInfo& memberOf(IDispatchObject& object, const std::string& progId,
                           const std::string& name, InvokeKind kind, automation::DispId& id) {
    const InterfaceInfo& iface = object.GetTypeInfo();
    const auto found = iface.idOfName(name);
    if (!found)
        throw Error(kNoSuchMember,
                    progId + " has no member " + name + " ('wavecatch info' lists the members)",
                    "wavecatch");
    id = *found;
    const MemberInfo* m = iface.find(id, kind);
    if (!m) {
        const char* what = kind == InvokeKind::PropertyLet   ? "a writable property"
                           : kind == InvokeKind::PropertyGet ? "a readable property"
                                                             : "a method or readable property";
        throw Error(kNoSuchMember, progId + "." + name + " is not " + what, "wavecatch");
    }
    return *m;
}

int invoke(const std::vector<std::string>& args, std::ostream& out, InvokeKind kind,
           const char* helpText, size_t minValues) {
    const ParsedArgs p = ParseArgs(args, {"--module"}, {"--help", "--json"});
    if (p.has("--help")) return PrintHelp(out, helpText);
    if (p.operands.size() < 2 + minValues) throw UsageError("needs PROGID, member name and values");
    const std::string& progId = p.operands[0];
    const std::string& name = p.operands[1];
    const std::string module =
        p.hasValue("--module") ? AbsoluteModulePath(p.value("--module")) : "";

    Connection c = CreateObject(progId, module);
    automation::DispId id = 0;
    const MemberInfo& m = memberOf(*c.object, progId, name, kind, id);

    std::vector<Variant> values;
    for (size_t i = 2; i < p.operands.size(); ++i) values.push_back(ParseValue(p.operands[i]));
    const std::vector<Variant> before = values;
    Args callArgs;
    for (size_t i = 0; i < values.size(); ++i) {
        if (i < m.args.size() && m.args[i].byRef)
            callArgs.push_back(Arg::byRef(values[i]));
        else
            callArgs.emplace_back(values[i]);
    }
    const Variant result = c.object->Invoke(id, kind, callArgs);

    if (p.has("--json") && kind == InvokeKind::PropertyGet) {
        out << JsonOf(result) << "\n";
        return 0;
    }
    if (p.has("--json")) {
        JsonWriter j;
        j.beginObject();
        j.key("result").raw(JsonOf(result));
        j.key("byRef").beginObject();
        for (size_t i = 0; i < values.size() && i < m.args.size(); ++i)
            if (m.args[i].byRef) j.key(m.args[i].name).raw(JsonOf(values[i]));
        j.endObject();
        j.endObject();
        out << j.text() << "\n";
        return 0;
    }
    PrintValue(out, result);
    for (size_t i = 0; i < values.size() && i < m.args.size(); ++i)
        if (m.args[i].byRef && !(values[i] == before[i]))
            out << m.args[i].name << "=" << values[i].toString() << "\n";
    return 0;
}

}  // namespace

int CmdGet(const std::vector<std::string>& args, std::ostream& out, std::ostream&) {
    return invoke(args, out, InvokeKind::PropertyGet, kGetHelp, 0);
}

int CmdLet(const std::vector<std::string>& args, std::ostream& out, std::ostream&) {
    return invoke(args, out, InvokeKind::PropertyLet, kLetHelp, 1);
}

int CmdCall(const std::vector<std::string>& args, std::ostream& out, std::ostream&) {
    // Late-bound callers cannot tell a method from a property read.
    return invoke(args, out, InvokeKind::Method | InvokeKind::PropertyGet, kCallHelp, 0);
}

int CmdScope(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const ParsedArgs p =
        ParseArgs(args, {"--address", "--module", "--out"}, {"--help", "--invert"});
    if (p.has("--help")) return PrintHelp(out, kScopeHelp);
    if (!p.hasValue("--address")) throw UsageError("needs --address ADDR");
    if (p.operands.empty()) throw UsageError("needs an action");
    const std::string address = p.value("--address");
    const std::string& action = p.operands[0];
    auto operands = [&](size_t n) {
        if (p.operands.size() != n + 1)
            throw UsageError(action + " takes " + std::to_string(n) + " argument(s)");
    };
    static const char* const kActions[] = {"idn",     "run",  "stop", "single",
                                           "running", "disp", "chan", "bitmap"};
    if (std::find(std::begin(kActions), std::end(kActions), action) == std::end(kActions))
        throw UsageError("unknown action " + action);

    const std::string module = ModuleToUse(CVN_PROGID_IWAVECATCH, p.value("--module"));
    // The scope learns its channel count from the add-in's model table,
    // which the add-in loads when asked for its supported instruments.
    Connection wc = CreateObject(CVN_PROGID_IWAVECATCH, module);
    const std::string supported =
        automation::getProperty(*wc.object, "SupportedInstruments").toString();
    // Asked on a connection of its own before the scope object holds one
    // (some instruments serve one client at a time), as the add-in's
    // connection check asks it.
    std::string reply;
    if (action == "idn") {
        try {
            reply = ReadIdentification(address);
        } catch (const std::exception& e) {
            err << "wavecatch: no scope answered at " << address << ": " << TerminalText(e.what())
                << "\n";
            return kExitFailed;
        }
    }
    Connection sc = CreateObject(CVN_PROGID_CSCOPE, module);
    IDispatchObject& scope = *sc.object;
    auto call = [&](const char* name, Args a = {}) {
        return automation::invokeByName(scope, name, InvokeKind::Method, a);
    };
    if (!call("Connect", Args{Arg(Variant(address))}).toBool()) {
        err << "wavecatch: no scope answered at " << address << "\n";
        return kExitFailed;
    }

    if (action == "idn") {
        operands(0);
        const int channels = automation::getProperty(scope, "ChannelCount").toLong();
        const bool ok = NamesListedModel(reply, ModelsOfList(supported));
        out << "address:      " << address << "\n";
        out << "identity:     " << TerminalText(std::string(io::trimReply(reply))) << "\n";
        out << "model:        " << TerminalText(ModelField(reply)) << "\n";
        out << "channels:     " << channels << "\n";
        out << "digital pods: " << (automation::getProperty(scope, "IsMSO").toBool() ? "yes" : "no")
            << "\n";
        out << "supported:    " << (ok ? "yes" : "no") << "\n";
        if (!ok) {
            err << "wavecatch: scope: " << TerminalText(ModelField(reply))
                << " is not a supported model\n";
            return kExitFailed;
        }
    } else if (action == "run") {
        operands(0);
        call("Output", Args{Arg(Variant(":RUN"))});
    } else if (action == "stop") {
        operands(0);
        call("StopRunning");
    } else if (action == "single") {
        operands(0);
        call("RunSingle");
    } else if (action == "running") {
        operands(0);
        out << (call("IsRunning").toBool() ? "running" : "stopped") << "\n";
    } else if (action == "disp") {
        operands(1);
        out << (call("IsChanDisp", Args{Arg(Variant(p.operands[1]))}).toBool() ? "on" : "off")
            << "\n";
    } else if (action == "chan") {
        operands(2);
        const Variant n = ParseValue(p.operands[1]);
        const std::string& state = p.operands[2];
        if (n.type() != automation::VarType::Long || (state != "on" && state != "off"))
            throw UsageError("chan needs a channel number and on or off");
        call("ChanDisp", Args{Arg(n), Arg(Variant(state == "on"))});
    } else if (action == "bitmap") {
        operands(0);
        Variant path{std::string()};
        Variant failed{false};
        Variant invert{p.has("--invert")};
        call("GetBitMap", Args{Arg::byRef(path), Arg::byRef(failed), Arg::byRef(invert)});
        if (failed.toBool()) {
            err << "wavecatch: the scope at " << address << " did not deliver a screen image\n";
            return kExitFailed;
        }
        std::string file = path.toString();
        if (p.hasValue("--out")) {
            WriteFileAtomically(p.value("--out"), ReadWholeFile(file));
            std::error_code ec;
            std::filesystem::remove(file, ec);
            file = p.value("--out");
        }
        out << file << "\n";
    }
    return 0;
}

}  // namespace cvn::host
