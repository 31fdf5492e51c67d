// register, unregister and info: the module itself and what it describes.
#include <cstdio>

#include "apps/wavecatch/CommandLine.h"
#include "apps/wavecatch/Commands.h"
#include "automation/ClassRegistry.h"
#include "automation/Dispatch.h"
#include "automation/TypeInfo.h"
#include "cvnWCHalv.h"
#include "host/AddinLoader.h"
#include "host/Json.h"
#include "support/Error.h"

namespace cvn::host {

using automation::ClassInfo;
using automation::Guid;
using automation::InterfaceInfo;
using automation::InvokeKind;
using automation::MemberInfo;
using automation::TypeLibInfo;

namespace {

constexpr const char* kRegisterHelp =
    "usage: wavecatch register [--module PATH]\n"
    "Registers the add-in's classes (cvnWCHalv.IWavecatch, cvnWCHalv.CScope) for\n"
    "this user, so hosts find the module by program identifier. PATH defaults to\n"
    "the module built or installed beside wavecatch.\n";
constexpr const char* kUnregisterHelp =
    "usage: wavecatch unregister [--module PATH]\n"
    "Removes the registration that PATH's module made (and nothing else).\n";
constexpr const char* kInfoHelp =
    "usage: wavecatch info [--module PATH] [--json]\n"
    "Describes the module: path, version, self-registration mark, type library,\n"
    "classes with their program identifiers and registration, every member of\n"
    "each interface (DISPID, kind, arguments, result, help text), and the\n"
    "MenuName and SupportedInstruments the add-in reports.\n";

std::string modulePathFrom(const ParsedArgs& p) {
    if (p.hasValue("--module")) return AbsoluteModulePath(p.value("--module"));
    std::string path = DefaultModulePath();
    if (path.empty())
        throw Error(kCannotCreateObject,
                    "No add-in module beside wavecatch (looked for ../../lib/libcvnWCHalv.so and "
                    "../lib/...); pass --module PATH",
                    "wavecatch");
    return path;
}

std::string hexStatus(int32_t status) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<uint32_t>(status));
    return buf;
}

std::string hexId(automation::DispId id) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08x", static_cast<uint32_t>(id));
    return buf;
}

const char* kindText(InvokeKind kind) {
    switch (kind) {
        case InvokeKind::Method:
            return "method";
        case InvokeKind::PropertyGet:
            return "property get";
        case InvokeKind::PropertyLet:
            return "property let";
        case InvokeKind::PropertySet:
            return "property set";
    }
    return "?";
}

std::string argText(const automation::ArgInfo& a) {
    std::string s = a.optional ? "[" : "";
    s += a.byRef ? "ByRef " : "ByVal ";
    s += a.name + " As " + automation::typeName(a.type);
    if (a.optional) s += "]";
    return s;
}

// The classes to describe: from the module's type library when it exports
// one, else the two this host knows.
std::vector<ClassInfo> classesOf(const AddinModule& m) {
    if (const TypeLibInfo* lib = m.typeLibrary()) return lib->classes;
    return {
        ClassInfo{"IWavecatch", CVN_PROGID_IWAVECATCH, Guid::fromString(CVN_CLSID_IWAVECATCH),
                  nullptr, ""},
        ClassInfo{"CScope", CVN_PROGID_CSCOPE, Guid::fromString(CVN_CLSID_CSCOPE), nullptr, ""}};
}

std::string registrationOf(const ClassInfo& c, const std::string& modulePath) {
    try {
        const auto entry = automation::LookUpClass(c.progId);
        if (!entry) return "not registered";
        if (entry->modulePath == modulePath) return "registered";
        return "registered to " + entry->modulePath;
    } catch (const std::exception& e) {
        return std::string("registry unreadable: ") + e.what();
    }
}

}  // namespace

int CmdRegister(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const ParsedArgs p = ParseArgs(args, {"--module"}, {"--help"});
    if (p.has("--help")) return PrintHelp(out, kRegisterHelp);
    if (!p.operands.empty()) throw UsageError("unexpected argument " + p.operands[0]);
    const std::string path = modulePathFrom(p);
    AddinModule m(path);
    const int32_t status = m.registerServer();
    if (status != 0) {
        err << "wavecatch: registering " << path << " failed (status " << hexStatus(status)
            << ")\n";
        return kExitFailed;
    }
    for (const ClassInfo& c : classesOf(m)) out << "registered " << c.progId << " " << path << "\n";
    out << "registry: " << automation::ClassRegistryPath() << "\n";
    return 0;
}

int CmdUnregister(const std::vector<std::string>& args, std::ostream& out, std::ostream& err) {
    const ParsedArgs p = ParseArgs(args, {"--module"}, {"--help"});
    if (p.has("--help")) return PrintHelp(out, kUnregisterHelp);
    if (!p.operands.empty()) throw UsageError("unexpected argument " + p.operands[0]);
    const std::string path = modulePathFrom(p);
    AddinModule m(path);
    const int32_t status = m.unregisterServer();
    if (status != 0) {
        err << "wavecatch: unregistering " << path << " failed (status " << hexStatus(status)
            << ")\n";
        return kExitFailed;
    }
    for (const ClassInfo& c : classesOf(m))
        out << "unregistered " << c.progId << " " << path << "\n";
    return 0;
}

int CmdInfo(const std::vector<std::string>& args, std::ostream& out, std::ostream&) {
    const ParsedArgs p = ParseArgs(args, {"--module"}, {"--help", "--json"});
    if (p.has("--help")) return PrintHelp(out, kInfoHelp);
    if (!p.operands.empty()) throw UsageError("unexpected argument " + p.operands[0]);
    const std::string path = modulePathFrom(p);
    auto module = std::make_shared<AddinModule>(path);
    const TypeLibInfo* lib = module->typeLibrary();
    // Without an exported library the identity comes from the public header.
    const std::string libName = lib ? lib->name : "cvnWCHalv";
    const std::string libId = lib ? lib->libid.toString() : CVN_LIBID;
    const std::string libVersion =
        lib ? std::to_string(lib->majorVersion) + "." + std::to_string(lib->minorVersion) : "1.0";
    const std::string libHelp = lib ? lib->help : "";

    struct Described {
        ClassInfo info;
        const InterfaceInfo* iface = nullptr;
        std::string registration;
    };
    std::vector<Described> classes;
    std::string menuName, supported;
    for (const ClassInfo& c : classesOf(*module)) {
        automation::DispatchRef object = module->create(c.clsid);
        classes.push_back({c, &object->GetTypeInfo(), registrationOf(c, path)});
        if (c.progId == CVN_PROGID_IWAVECATCH) {
            menuName = automation::getProperty(*object, "MenuName").toString();
            supported = automation::getProperty(*object, "SupportedInstruments").toString();
        }
    }

    if (p.has("--json")) {
        JsonWriter j;
        j.beginObject();
        j.key("module").value(path);
        j.key("version").value(module->version());
        j.key("selfRegistering").value(module->selfRegistering());
        j.key("typeLibrary").beginObject();
        j.key("name").value(libName);
        j.key("guid").value(libId);
        j.key("version").value(libVersion);
        j.key("help").value(libHelp);
        j.endObject();
        j.key("classes").beginArray();
        for (const Described& d : classes) {
            j.beginObject();
            j.key("name").value(d.info.name);
            j.key("progId").value(d.info.progId);
            j.key("clsid").value(d.info.clsid.toString());
            j.key("registration").value(d.registration);
            j.key("interface").value(d.iface->name);
            j.key("iid").value(d.iface->iid.toString());
            j.key("members").beginArray();
            for (const MemberInfo& m : d.iface->members) {
                j.beginObject();
                j.key("dispid").value(hexId(m.id));
                j.key("kind").value(kindText(m.kind));
                j.key("name").value(m.name);
                j.key("arguments").beginArray();
                for (const auto& a : m.args) j.value(argText(a));
                j.endArray();
                j.key("result").value(automation::typeName(m.result));
                j.key("help").value(m.help);
                j.key("hidden").value(m.hidden);
                j.endObject();
            }
            j.endArray();
            j.endObject();
        }
        j.endArray();
        j.key("MenuName").value(menuName);
        j.key("SupportedInstruments").value(supported);
        j.endObject();
        out << j.text() << "\n";
        return 0;
    }

    out << "module:               " << path << "\n";
    out << "version:              " << module->version() << "\n";
    out << "self-registering:     " << (module->selfRegistering() ? "yes" : "no") << "\n";
    out << "type library:         " << libName << " " << libId << " version " << libVersion << "\n";
    if (!libHelp.empty()) out << "type library help:    " << libHelp << "\n";
    for (const Described& d : classes) {
        out << "\nclass " << d.info.name << "\n";
        out << "  program identifier: " << d.info.progId << "\n";
        out << "  class identifier:   " << d.info.clsid.toString() << "\n";
        out << "  registration:       " << d.registration << "\n";
        out << "  interface:          " << d.iface->name << " " << d.iface->iid.toString() << "\n";
        for (const MemberInfo& m : d.iface->members) {
            out << "    " << hexId(m.id) << "  " << kindText(m.kind) << "  " << m.name << "(";
            for (size_t i = 0; i < m.args.size(); ++i) out << (i ? ", " : "") << argText(m.args[i]);
            out << ")";
            if (m.result != automation::VarType::Void)
                out << " As " << automation::typeName(m.result);
            if (m.hidden) out << "  [hidden]";
            out << "\n";
            if (!m.help.empty()) out << "        " << m.help << "\n";
        }
    }
    out << "\nMenuName:             " << menuName << "\n";
    out << "SupportedInstruments: " << supported << "\n";
    return 0;
}

}  // namespace cvn::host
