// Dispatch through a small table-driven class, its type information, and the
// server module a host reaches through the exported entry points.
#include <gtest/gtest.h>

#include "TestSupport.h"
#include "automation/ClassFactory.h"
#include "automation/Dispatch.h"
#include "automation/DispatchTable.h"
#include "automation/ServerModule.h"

using namespace cvn::automation;

namespace {

constexpr DispId kValue = 0x68030001;
constexpr DispId kData = 0x68030002;
constexpr DispId kShift = 0x60030003;
constexpr DispId kStore = 0x60030004;
constexpr DispId kExecute = 0x60030005;
const Guid kCounterIid = Guid::fromString("{5E1A0C44-9B7D-4F21-A3C8-1D2E3F405161}");
const Guid kCounterClsid = Guid::fromString("{5E1A0C45-9B7D-4F21-A3C8-1D2E3F405161}");

class CCounter : public DispatchObject<CCounter> {
public:
    static const DispatchTable<CCounter>& dispatchTable();
    int32_t value = 0;
    Variant data;
};

const DispatchTable<CCounter>& CCounter::dispatchTable() {
    static const DispatchTable<CCounter> table = [] {
        DispatchTable<CCounter> t("_CCounter", kCounterIid);
        t.get(
            kValue, "Value", VarType::Long, [](CCounter& s) { return s.value; }, "The count.");
        t.let(kValue, "Value", VarType::Long,
              [](CCounter& s, const Variant& v) { s.value = v.toLong(); });
        t.get(kData, "Data", VarType::Variant, [](CCounter& s) { return s.data; });
        t.set(kData, "Data", VarType::Variant, [](CCounter& s, Variant& v) { s.data = v; });
        // Returns w + c and increments the caller's c.
        t.method(kShift, "Shift", {{"w", VarType::Integer}, {"c", VarType::Integer, true}},
                 VarType::Integer, [](CCounter&, Args& a) {
                     int16_t c = a[1].value().toInteger();
                     a[1].target() = Variant(static_cast<int16_t>(c + 1));
                     return static_cast<int16_t>(a[0].value().toInteger() + c);
                 });
        // Keeps its argument after changing its own copy.
        t.method(kStore, "Store", {{"values", VarType::Variant}}, VarType::Void,
                 [](CCounter& s, Args& a) {
                     a[0].target().array().set(0, Variant(-1.0));
                     s.data = a[0].value();
                 });
        t.method(
            kExecute, "Execute", {{"Action", VarType::Long}, {"arg", VarType::Variant, true, true}},
            VarType::String, [](CCounter&, Args&) { return std::string(); }, "for expansion", true);
        return t;
    }();
    return table;
}

}  // namespace

TEST(Dispatch, NamesPropertiesAndByReferenceArguments) {
    auto obj = makeRef<CCounter>();
    EXPECT_EQ(obj->GetIDsOfNames("vALUE"), kValue);
    letProperty(*obj, "value", Variant("41"));  // converted to the declared Long
    Args asMethod;  // late-bound callers may not tell a method from a read
    EXPECT_EQ(obj->Invoke(kValue, InvokeKind::Method | InvokeKind::PropertyGet, asMethod),
              Variant(41));

    Variant c(int16_t{2}), c2(int16_t{2});
    Args byRef{Variant(int16_t{10}), Arg::byRef(c)};
    EXPECT_EQ(obj->Invoke(kShift, InvokeKind::Method, byRef), Variant(int16_t{12}));
    EXPECT_EQ(c, Variant(int16_t{3}));
    Args byValue{Variant(int16_t{10}), c2};  // passed by value: stays the caller's
    obj->Invoke(kShift, InvokeKind::Method, byValue);
    EXPECT_EQ(c2, Variant(int16_t{2}));

    // A by-value parameter gets a copy even when the caller passes a
    // reference: the caller's array is untouched, the member's copy changed.
    Variant values(cvn::DataVector<double>{1, 2});
    Args store{Arg::byRef(values)};
    obj->Invoke(kStore, InvokeKind::Method, store);
    EXPECT_EQ(values.array().get(0), Variant(1.0));
    EXPECT_EQ(obj->data.array().get(0), Variant(-1.0));
    // Property set by reference hands the caller's Variant over.
    Variant big(cvn::DataVector<int16_t>(1000, 7));
    setProperty(*obj, "Data", big);
    EXPECT_TRUE(obj->data.array().sharesStorageWith(big.array()));
    Args optional{Variant(1)};  // an optional argument may be left out
    EXPECT_EQ(obj->Invoke(kExecute, InvokeKind::Method, optional), Variant(""));
}

TEST(Dispatch, BadCallsRaiseStandardErrors) {
    auto obj = makeRef<CCounter>();
    obj->value = 41;
    Variant c(int16_t{1});
    const auto call = [&](DispId id, InvokeKind kind, Args args) {
        return errorOf([&] { obj->Invoke(id, kind, args); });
    };
    struct Cell {
        const char* what;
        int error;
        int got;
    } cells[] = {
        {"unknown name", 438, errorOf([&] { obj->GetIDsOfNames("Missing"); })},
        {"unknown id", 438, call(0x12345, InvokeKind::Method, {})},
        {"a method read", 438, call(kShift, InvokeKind::PropertyGet, {})},
        {"let on a set-only property", 438, call(kData, InvokeKind::PropertyLet, {})},
        {"too few arguments", 449, call(kShift, InvokeKind::Method, {Variant(int16_t{1})})},
        {"too many", 5,
         call(kShift, InvokeKind::Method, {Variant(int16_t{1}), Arg::byRef(c), Variant(3)})},
        {"text for a number", 13, call(kShift, InvokeKind::Method, {Variant("x"), Arg::byRef(c)})},
        {"let of text", 13, errorOf([&] { letProperty(*obj, "Value", Variant("many")); })},
        {"let out of range", 6, errorOf([&] { letProperty(*obj, "Value", Variant(1e10)); })},
    };
    for (const Cell& cell : cells) EXPECT_EQ(cell.got, cell.error) << cell.what;
    EXPECT_EQ(obj->value, 41);
}

TEST(TypeInfo, DescribesMembersInOrder) {
    const InterfaceInfo& info = makeRef<CCounter>()->GetTypeInfo();
    EXPECT_TRUE(info.flags & kInterfaceDual);
    ASSERT_EQ(info.members.size(), 7u);
    EXPECT_EQ(info.find(kData, InvokeKind::PropertySet), &info.members[3]);
    ServerModule module;
    module.describeLibrary("CounterLib", Guid::fromString("{5E1A0C46-9B7D-4F21-A3C8-1D2E3F405161}"),
                           "Counter test library");
    module.registerClass<CCounter>(
        {"CCounter", "CounterLib.CCounter", kCounterClsid, &CCounter::dispatchTable().info(), ""});
    const TypeLibInfo& lib = module.typeLibrary();
    EXPECT_EQ(lib.findClass("counterlib.ccounter"), lib.findClass(kCounterClsid));
    const std::string listing = formatTypeLibrary(lib);
    for (const char* expected :
         {"[uuid({5E1A0C46-9B7D-4F21-A3C8-1D2E3F405161}), version(1.0), "
          "helpstring(\"Counter test library\")]",
          "interface _CCounter : IDispatch {",
          "[id(0x68030001), propget, helpstring(\"The count.\")] Long Value();",
          "[id(0x68030002), propputref] Void Data([in, out] Variant* value);",
          "[id(0x60030003)] Integer Shift([in] Integer w, [in, out] Integer* c);",
          "helpstring(\"for expansion\"), hidden] String Execute(",
          "progid(\"CounterLib.CCounter\")", "[default] interface _CCounter;"}) {
        EXPECT_NE(listing.find(expected), std::string::npos) << expected << "\n" << listing;
    }
}

TEST(ServerModule, FactoriesCountersAndEntryPoints) {
    ServerModule module;
    const ClassInfo info{"CCounter", "CounterLib.CCounter", kCounterClsid,
                         &CCounter::dispatchTable().info(), ""};
    module.registerClass<CCounter>(info);
    EXPECT_THROW(module.registerClass<CCounter>(info), std::logic_error);
    const long before = IDispatchObject::liveObjects();
    void* raw = nullptr;
    ASSERT_EQ(module.dllGetClassObject(&kCounterClsid, &raw), kStatusOk);
    auto factory = Ref<IClassFactory>::adopt(static_cast<IClassFactory*>(raw));
    {
        Variant held(factory->CreateInstance());  // a Variant keeps the object alive
        EXPECT_EQ(IDispatchObject::liveObjects(), before + 1);
        EXPECT_EQ(module.dllCanUnloadNow(), kStatusFalse);
        letProperty(*held.toObject(), "Value", Variant(5));
        EXPECT_EQ(getProperty(*held.toObject(), "Value"), Variant(5));
    }
    EXPECT_EQ(IDispatchObject::liveObjects(), before);
    EXPECT_EQ(module.dllCanUnloadNow(), kStatusOk);
    factory->LockServer(true);
    EXPECT_FALSE(module.canUnloadNow());
    factory->LockServer(false);
    EXPECT_TRUE(module.canUnloadNow());

    const Guid unknown = Guid::fromString("{00000000-0000-0000-0000-000000000001}");
    raw = &module;
    EXPECT_EQ(module.dllGetClassObject(&unknown, &raw), kStatusClassNotAvailable);
    EXPECT_EQ(raw, nullptr);
    EXPECT_EQ(module.dllGetClassObject(nullptr, &raw), kStatusPointer);
    EXPECT_EQ(module.dllGetClassObject(&kCounterClsid, nullptr), kStatusPointer);
}
