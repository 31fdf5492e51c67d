#include "automation/DispatchTable.h"

#include <cstdio>
#include <stdexcept>

#include "automation/AutomationError.h"

namespace cvn::automation {

namespace {

[[noreturn]] void notSupported(const InterfaceInfo& info, std::string what) {
    throw AutomationError(ErrorNumber::MemberNotSupported,
                          AutomationError::standardDescription(ErrorNumber::MemberNotSupported) +
                              " (" + info.name + "." + what + ")",
                          kDefaultErrorSource);
}

}  // namespace

DispatchTableBase::DispatchTableBase(std::string interfaceName, Guid iid, uint32_t flags) {
    info_.name = std::move(interfaceName);
    info_.iid = iid;
    info_.flags = flags;
}

DispId DispatchTableBase::idOfName(std::string_view name) const {
    if (auto id = info_.idOfName(name)) return *id;
    notSupported(info_, std::string(name));
}

void DispatchTableBase::add(MemberInfo member) {
    // Two entries for the same DISPID and kind would make one unreachable.
    if (info_.find(member.id, member.kind)) {
        throw std::logic_error("duplicate member " + member.name + " in " + info_.name);
    }
    info_.members.push_back(std::move(member));
}

size_t DispatchTableBase::resolve(DispId id, InvokeKind kind, Args& args) const {
    const MemberInfo* m = info_.find(id, kind);
    if (!m) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%08x", static_cast<unsigned>(id));
        notSupported(info_, buf);
    }
    if (args.size() < m->requiredArgs()) {
        throw AutomationError(ErrorNumber::ArgumentNotOptional,
                              "Argument not optional (" + m->name + ")", kDefaultErrorSource);
    }
    if (args.size() > m->args.size()) {
        throw AutomationError(ErrorNumber::InvalidCall,
                              "Wrong number of arguments (" + m->name + ")", kDefaultErrorSource);
    }
    while (args.size() < m->args.size()) args.emplace_back(Variant());

    for (size_t i = 0; i < args.size(); ++i) {
        const ArgInfo& declared = m->args[i];
        Arg& slot = args[i];
        if (slot.isByRef() && declared.byRef) continue;
        // A by-value parameter never writes back, even when the caller
        // passed a reference: the member gets a converted copy.
        if (declared.type == VarType::Variant) {
            if (slot.isByRef()) slot = Arg(slot.value());
        } else if (!(declared.optional && slot.value().isEmpty())) {
            slot = Arg(slot.value().convertTo(declared.type));
        }
    }
    return static_cast<size_t>(m - info_.members.data());
}

}  // namespace cvn::automation
