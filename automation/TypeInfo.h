// Type information: what a type library holds. Interfaces list their members
// in the order of the interface's function table, with the DISPIDs, argument
// descriptions and help texts hosts and tools rely on; classes name their
// program identifier and default interface. formatTypeLibrary prints all of
// it as an IDL-like listing for tools, registration and review.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "automation/Guid.h"
#include "automation/IDispatchObject.h"
#include "automation/VarType.h"

namespace cvn::automation {

struct ArgInfo {
    std::string name;
    VarType type = VarType::Variant;
    bool byRef = false;
    // A missing optional argument reaches the member as Empty.
    bool optional = false;
};

struct MemberInfo {
    DispId id = 0;
    InvokeKind kind = InvokeKind::Method;
    std::string name;
    // For a property let or set the last entry is the new value.
    std::vector<ArgInfo> args;
    VarType result = VarType::Void;
    std::string help;
    bool hidden = false;

    size_t requiredArgs() const;
};

enum InterfaceFlags : uint32_t {
    kInterfaceDual = 1,
    kInterfaceOleAutomation = 2,
    kInterfaceNonExtensible = 4,
    kInterfaceHidden = 8,
};

struct InterfaceInfo {
    std::string name;
    Guid iid;
    uint32_t flags = kInterfaceDual | kInterfaceOleAutomation | kInterfaceNonExtensible;
    std::vector<MemberInfo> members;

    // First member with this DISPID whose kind is one of the requested ones.
    const MemberInfo* find(DispId id, InvokeKind kind) const;
    // DISPID of a member name, ignoring letter case.
    std::optional<DispId> idOfName(std::string_view name) const;
};

struct ClassInfo {
    std::string name;
    std::string progId;
    Guid clsid;
    const InterfaceInfo* defaultInterface = nullptr;
    std::string help;
};

struct TypeLibInfo {
    std::string name;
    Guid libid;
    uint16_t majorVersion = 1;
    uint16_t minorVersion = 0;
    std::string help;
    std::vector<const InterfaceInfo*> interfaces;
    std::vector<ClassInfo> classes;

    const ClassInfo* findClass(const Guid& clsid) const;
    // Program identifiers compare ignoring letter case.
    const ClassInfo* findClass(std::string_view progId) const;
};

std::string formatMember(const MemberInfo& m);
std::string formatTypeLibrary(const TypeLibInfo& lib);

}  // namespace cvn::automation
