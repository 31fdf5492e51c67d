#include "automation/TypeInfo.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "support/Text.h"

namespace cvn::automation {

namespace {

std::string hex(uint32_t v) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08x", static_cast<unsigned>(v));
    return buf;
}

std::string quoted(std::string_view text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') out += '\\';
        out += c;
    }
    return out + "\"";
}

}  // namespace

size_t MemberInfo::requiredArgs() const {
    return static_cast<size_t>(
        std::count_if(args.begin(), args.end(), [](const ArgInfo& a) { return !a.optional; }));
}

const MemberInfo* InterfaceInfo::find(DispId id, InvokeKind kind) const {
    for (const MemberInfo& m : members) {
        if (m.id == id && hasAny(kind, m.kind)) return &m;
    }
    return nullptr;
}

std::optional<DispId> InterfaceInfo::idOfName(std::string_view name) const {
    for (const MemberInfo& m : members) {
        if (EqualsIgnoringCase(m.name, name)) return m.id;
    }
    return std::nullopt;
}

const ClassInfo* TypeLibInfo::findClass(const Guid& clsid) const {
    for (const ClassInfo& c : classes) {
        if (c.clsid == clsid) return &c;
    }
    return nullptr;
}

const ClassInfo* TypeLibInfo::findClass(std::string_view progId) const {
    for (const ClassInfo& c : classes) {
        if (EqualsIgnoringCase(c.progId, progId)) return &c;
    }
    return nullptr;
}

std::string formatMember(const MemberInfo& m) {
    std::string out = "[id(" + hex(static_cast<uint32_t>(m.id)) + ")";
    if (m.kind != InvokeKind::Method) out += std::string(", ") + invokeKindName(m.kind);
    if (!m.help.empty()) out += ", helpstring(" + quoted(m.help) + ")";
    if (m.hidden) out += ", hidden";
    out += "] " + typeName(m.result) + " " + m.name + "(";
    for (size_t i = 0; i < m.args.size(); ++i) {
        const ArgInfo& a = m.args[i];
        if (i > 0) out += ", ";
        out += a.byRef ? "[in, out" : "[in";
        if (a.optional) out += ", optional";
        out += "] " + typeName(a.type) + (a.byRef ? "* " : " ") + a.name;
    }
    return out + ");";
}

std::string formatTypeLibrary(const TypeLibInfo& lib) {
    std::string out = "[uuid(" + lib.libid.toString() + "), version(" +
                      std::to_string(lib.majorVersion) + "." + std::to_string(lib.minorVersion) +
                      ")";
    if (!lib.help.empty()) out += ", helpstring(" + quoted(lib.help) + ")";
    out += "]\nlibrary " + lib.name + " {\n";
    for (const InterfaceInfo* itf : lib.interfaces) {
        out += "    [uuid(" + itf->iid.toString() + ")";
        if (itf->flags & kInterfaceDual) out += ", dual";
        if (itf->flags & kInterfaceNonExtensible) out += ", nonextensible";
        if (itf->flags & kInterfaceOleAutomation) out += ", oleautomation";
        if (itf->flags & kInterfaceHidden) out += ", hidden";
        out += "]\n    interface " + itf->name + " : IDispatch {\n";
        for (const MemberInfo& m : itf->members) out += "        " + formatMember(m) + "\n";
        out += "    };\n";
    }
    for (const ClassInfo& c : lib.classes) {
        out += "    [uuid(" + c.clsid.toString() + "), progid(" + quoted(c.progId) + ")";
        if (!c.help.empty()) out += ", helpstring(" + quoted(c.help) + ")";
        out += "]\n    coclass " + c.name + " {\n";
        if (c.defaultInterface) {
            out += "        [default] interface " + c.defaultInterface->name + ";\n";
        }
        out += "    };\n";
    }
    return out + "};\n";
}

}  // namespace cvn::automation
