// Table-driven dispatch: a class lists its members once (DISPID, kind, name,
// arguments, result, help text, handler) and gets name lookup, argument
// checking, argument conversion, invocation and type information from the
// one list.
//
//   class CThing : public DispatchObject<CThing> {
//   public:
//       static const DispatchTable<CThing>& dispatchTable();
//       ...
//   };
//   const DispatchTable<CThing>& CThing::dispatchTable() {
//       static const DispatchTable<CThing> table = [] {
//           DispatchTable<CThing> t("_CThing", Guid::fromString("{...}"));
//           t.get(0x68030000, "Count", VarType::Long,
//                 [](CThing& s) { return s.count_; }, "Number of things.");
//           t.let(0x68030000, "Count", VarType::Long,
//                 [](CThing& s, const Variant& v) { s.count_ = v.toLong(); });
//           t.method(0x60030001, "Shift", {{"w", VarType::Integer}, {"c", VarType::Integer, true}},
//                    VarType::Integer, [](CThing& s, Args& a) { ... });
//           return t;
//       }();
//       return table;
//   }
//
// Before a handler runs, the table has checked the argument count (449 for
// too few, 5 for too many), filled missing optional arguments with Empty,
// and converted every argument that is passed by value to its declared type
// (13 or 6 on failure). A by-reference slot whose argument is declared by
// reference reaches the handler untouched, so whatever the handler stores in
// args[i].target() is what the caller sees; such arguments are converted by
// the handler itself (e.g. args[1].value().toInteger()).
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>
#include <vector>

#include "automation/Dispatch.h"
#include "automation/IDispatchObject.h"
#include "automation/TypeInfo.h"
#include "automation/Variant.h"

namespace cvn::automation {

// The part of a table that does not depend on the class.
class DispatchTableBase {
public:
    DispatchTableBase(std::string interfaceName, Guid iid, uint32_t flags);

    const InterfaceInfo& info() const noexcept { return info_; }
    // AutomationError 438 when the interface has no such member.
    DispId idOfName(std::string_view name) const;

protected:
    // Index of the member for (id, kind) with args checked and converted as
    // described above; AutomationError 438, 449, 5, 13 or 6.
    size_t resolve(DispId id, InvokeKind kind, Args& args) const;
    void add(MemberInfo member);

private:
    InterfaceInfo info_;
};

template <typename T>
class DispatchTable : public DispatchTableBase {
public:
    using Handler = std::function<Variant(T&, Args&)>;

    DispatchTable(std::string interfaceName, Guid iid,
                  uint32_t flags = kInterfaceDual | kInterfaceOleAutomation |
                                   kInterfaceNonExtensible)
        : DispatchTableBase(std::move(interfaceName), iid, flags) {}

    // f(T&, Args&) returning a value convertible to Variant, or void.
    template <typename F>
    DispatchTable& method(DispId id, std::string name, std::vector<ArgInfo> args, VarType result,
                          F&& f, std::string help = {}, bool hidden = false) {
        Handler h;
        if constexpr (std::is_void_v<std::invoke_result_t<F&, T&, Args&>>) {
            h = [f = std::forward<F>(f)](T& self, Args& a) {
                f(self, a);
                return Variant();
            };
        } else {
            h = [f = std::forward<F>(f)](T& self, Args& a) { return Variant(f(self, a)); };
        }
        return addMember({id, InvokeKind::Method, std::move(name), std::move(args), result,
                          std::move(help), hidden},
                         std::move(h));
    }

    // Property read: f(T&) returning a value convertible to Variant.
    template <typename F>
    DispatchTable& get(DispId id, std::string name, VarType type, F&& f, std::string help = {},
                       bool hidden = false) {
        Handler h = [f = std::forward<F>(f)](T& self, Args&) { return Variant(f(self)); };
        return addMember(
            {id, InvokeKind::PropertyGet, std::move(name), {}, type, std::move(help), hidden},
            std::move(h));
    }

    // Property let: f(T&, const Variant& value), value already converted to
    // type.
    template <typename F>
    DispatchTable& let(DispId id, std::string name, VarType type, F&& f, std::string help = {},
                       bool hidden = false) {
        return addSetter(InvokeKind::PropertyLet, id, std::move(name), type, false,
                         std::forward<F>(f), std::move(help), hidden);
    }

    // Property set (by reference): f(T&, Variant& value), value being the
    // caller's own Variant.
    template <typename F>
    DispatchTable& set(DispId id, std::string name, VarType type, F&& f, std::string help = {},
                       bool hidden = false) {
        return addSetter(InvokeKind::PropertySet, id, std::move(name), type, true,
                         std::forward<F>(f), std::move(help), hidden);
    }

    Variant invoke(T& self, DispId id, InvokeKind kind, Args& args) const {
        return handlers_[resolve(id, kind, args)](self, args);
    }

private:
    DispatchTable& addMember(MemberInfo member, Handler h) {
        add(std::move(member));
        handlers_.push_back(std::move(h));
        return *this;
    }

    template <typename F>
    DispatchTable& addSetter(InvokeKind kind, DispId id, std::string name, VarType type, bool byRef,
                             F&& f, std::string help, bool hidden) {
        Handler h = [f = std::forward<F>(f)](T& self, Args& a) {
            f(self, a.back().target());
            return Variant();
        };
        return addMember({id,
                          kind,
                          std::move(name),
                          {{"value", type, byRef}},
                          VarType::Void,
                          std::move(help),
                          hidden},
                         std::move(h));
    }

    std::vector<Handler> handlers_;
};

// Implements IDispatchObject for a class T that provides
//   static const DispatchTable<T>& dispatchTable();
template <typename T>
class DispatchObject : public IDispatchObject {
public:
    DispId GetIDsOfNames(std::string_view name) const override {
        return T::dispatchTable().idOfName(name);
    }
    Variant Invoke(DispId id, InvokeKind kind, Args& args) override {
        return T::dispatchTable().invoke(static_cast<T&>(*this), id, kind, args);
    }
    const InterfaceInfo& GetTypeInfo() const override { return T::dispatchTable().info(); }
};

}  // namespace cvn::automation
