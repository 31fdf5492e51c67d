// The add-in as a host sees it: the real module loaded with dlopen, every
// member reached by name through dispatch.
#include "automation/ClassRegistry.h"
#include "host/HostFixture.h"
#include "support/SettingsStore.h"

namespace cvn::host::test {
namespace {

using automation::Arg;
using automation::Args;
using automation::getProperty;
using automation::letProperty;
using automation::Variant;

TEST_F(HostTest, PointsChoiceIsStoredMappedAndSurvivesTheObject) {
    const std::pair<const char*, const char*> cases[] = {
        {"175", " 100"},        {"176", " 250"}, {"5000", " 2000"}, {"5001", "5001"}, {"-1", "-1"},
        {"all points", " MAX"}, {"max", " MAX"}, {"xyz", "XYZ"},    {"", ""}};
    for (const auto& [given, stored] : cases) {
        {
            Connection c = create();
            letProperty(*c.object, "numberPoints", Variant(given));
        }
        // A new object reads what the first one stored for this user.
        Connection c = create();
        EXPECT_EQ(getProperty(*c.object, "numberPoints").toString(), stored) << given;
    }
}

TEST_F(HostTest, ShiftFunctionsAndTheirErrors) {
    Connection c = create();
    const struct {
        const char* name;
        int32_t word, count, result, error;
    } cells[] = {
        {"RShiftWord", 255, 7, 1, 0},  {"RShiftWord", -128, 7, -1, 0},
        {"RShiftWord", -127, 7, 0, 0}, {"RShiftWord", 5, -1, 0, 11},
        {"LShiftWord", 3, 2, 12, 0},   {"LShiftWord", 16384, 1, 0, 6},
    };
    for (const auto& cell : cells) {
        SCOPED_TRACE(std::string(cell.name) + " " + std::to_string(cell.word));
        // The count is passed by reference and comes back unchanged.
        Variant count(cell.count), result;
        EXPECT_EQ(errorOf([&] {
                      result = call(*c.object, cell.name,
                                    Args{Arg(Variant(cell.word)), Arg::byRef(count)});
                  }),
                  cell.error);
        if (!cell.error) {
            EXPECT_EQ(result.toLong(), cell.result);
        }
        EXPECT_EQ(count.toLong(), cell.count);
    }
}

// An argument whose subscripts do not fit fails the way the field's own
// subscripts say, after the field has grown; what was written stays.
TEST_F(HostTest, AppendingGrowsFirstAndFailsOnSubscriptsThatDoNotFit) {
    using automation::Array;
    using automation::VarType;
    Connection c = create();
    auto append = [&](const char* name, Variant v) { call(*c.object, name, Args{Arg(v)}); };
    auto preamble = [&] { return getProperty(*c.object, "Preamble").array(); };

    // Twelve numbers: the field grows by eleven, the top one has no place.
    Array twelve(VarType::Double, 0, 12);
    for (int32_t i = 0; i < 12; ++i) twelve.set(i, Variant(double(i + 1)));
    EXPECT_EQ(errorOf([&] { append("AppendPreamble", twelve); }), 9);
    ASSERT_EQ(preamble().count(), 11u);
    for (int32_t i = 0; i < 11; ++i) EXPECT_EQ(preamble().get(i).toDouble(), 0) << i;
    // Not an array at all: the field has grown before the argument is read.
    EXPECT_EQ(errorOf([&] { append("AppendPreamble", Variant(3.5)); }), 13);
    EXPECT_EQ(preamble().count(), 22u);
    // Ten numbers from 1: they land at the top ten places of the new block.
    Array fromOne(VarType::Double, 1, 10);
    for (int32_t i = 1; i <= 10; ++i) fromOne.set(i, Variant(double(100 + i)));
    append("AppendPreamble", fromOne);
    ASSERT_EQ(preamble().count(), 33u);
    EXPECT_EQ(preamble().get(22).toDouble(), 0);
    for (int32_t i = 1; i <= 10; ++i) EXPECT_EQ(preamble().get(22 + i).toDouble(), 100 + i);

    append("AppendData", Variant(cvn::DataVector<int16_t>{1, 2, 3, 4}));
    // Three values from subscript 1: the field grows to seven places, the
    // first two values land at 5 and 6, the third has no place.
    Array three(VarType::Integer, 1, 3);
    for (int32_t i = 1; i <= 3; ++i) three.set(i, Variant(int32_t(4 + i)));
    EXPECT_EQ(errorOf([&] { append("AppendData", three); }), 9);
    Variant data = getProperty(*c.object, "YData");
    ASSERT_EQ(data.array().count(), 7u);
    const int16_t expected[] = {1, 2, 3, 4, 0, 5, 6};
    for (int32_t i = 0; i < 7; ++i) EXPECT_EQ(data.array().get(i).toLong(), expected[i]) << i;
    // An element that does not fit the field's type fails where it stands.
    Array mixed(VarType::Variant, 0, 3);
    mixed.set(0, Variant(int32_t{8}));
    mixed.set(1, Variant(int32_t{70000}));
    mixed.set(2, Variant(int32_t{9}));
    EXPECT_EQ(errorOf([&] { append("AppendData", mixed); }), 6);
    data = getProperty(*c.object, "YData");
    ASSERT_EQ(data.array().count(), 10u);
    EXPECT_EQ(data.array().get(7).toLong(), 8);
    EXPECT_EQ(data.array().get(8).toLong(), 0);
}

TEST_F(HostTest, PlainMembersAnswerAsAHostExpects) {
    Connection c = create();
    // MenuName and version: wavecatch info lists them.
    EXPECT_EQ(getProperty(*c.object, "ModifiedMenuName").toString(), "Corvane Halvio Series");
    const std::string models = getProperty(*c.object, "SupportedInstruments").toString();
    EXPECT_NE(models.find("MSOHX5104, "), std::string::npos) << models;
    EXPECT_EQ(models.find(",H"), std::string::npos) << models;

    Variant arg("untouched");
    EXPECT_EQ(call(*c.object, "Execute", Args{Arg(Variant(int32_t{3})), Arg::byRef(arg)}),
              Variant(""));
    EXPECT_EQ(arg.toString(), "untouched");

    // Names are matched ignoring case; unknown names are error 438.
    EXPECT_FALSE(getProperty(*c.object, "SHOWDIALOG").toBool());
    EXPECT_EQ(errorOf([&] { getProperty(*c.object, "NoSuchMember"); }), 438);
}

TEST_F(HostTest, RegistryKeyMovesThePerUserSettings) {
    Connection c = create();
    letProperty(*c.object, "RegistryKey", Variant("A\\B"));
    letProperty(*c.object, "numberPoints", Variant("176"));
    EXPECT_EQ(GetSetting("A\\B\\Corvane Halvio Series", "Settings", "Number Points"), " 250");
    EXPECT_EQ(GetSetting("Corvane\\Linkara\\Wavecatch\\Corvane Halvio Series", "Settings",
                         "Number Points", "absent"),
              "absent");
    // The key belongs to the server: set through one object, every object
    // uses it...
    Connection other = create();
    EXPECT_EQ(getProperty(*other.object, "numberPoints").toString(), "");
    letProperty(*other.object, "RegistryKey", Variant("A\\B"));
    EXPECT_EQ(getProperty(*c.object, "numberPoints").toString(), " 250");
    // ... and every new object starts again from the default key, however
    // many objects came before it.
    for (int i = 0; i < 3; ++i) {
        letProperty(*c.object, "RegistryKey", Variant("A\\B"));
        Connection another = create();
        EXPECT_EQ(getProperty(*c.object, "numberPoints").toString(), "") << i;
        EXPECT_EQ(getProperty(*another.object, "numberPoints").toString(), "") << i;
    }
    letProperty(*c.object, "RegistryKey", Variant("Corvane\\Linkara\\Wavecatch"));
    EXPECT_EQ(getProperty(*other.object, "numberPoints").toString(), "");
}

TEST_F(HostTest, RegistrationRoundTripAndUnloading) {
    AddinModule module(kModulePath);
    EXPECT_TRUE(module.selfRegistering());
    EXPECT_EQ(module.version(), "0.0.126");  // the released version, pinned once
    EXPECT_FALSE(automation::LookUpClass(CVN_PROGID_IWAVECATCH));
    EXPECT_EQ(errorOf([] { CreateObject(CVN_PROGID_IWAVECATCH); }), 429);

    ASSERT_EQ(module.registerServer(), 0);
    for (const char* progId : {CVN_PROGID_IWAVECATCH, CVN_PROGID_CSCOPE}) {
        const auto entry = automation::LookUpClass(progId);
        ASSERT_TRUE(entry) << progId;
        EXPECT_EQ(entry->modulePath, std::filesystem::canonical(kModulePath).string());
    }
    EXPECT_TRUE(module.canUnloadNow());
    {
        Connection wc = CreateObject(CVN_PROGID_IWAVECATCH);
        Connection scope = CreateObject("CVNWCHALV.CSCOPE");
        EXPECT_FALSE(module.canUnloadNow());
        EXPECT_EQ(getProperty(*scope.object, "ChannelCount").toLong(), 0);
    }
    EXPECT_TRUE(module.canUnloadNow());

    ASSERT_EQ(module.unregisterServer(), 0);
    EXPECT_FALSE(automation::LookUpClass(CVN_PROGID_IWAVECATCH));
    EXPECT_FALSE(automation::LookUpClass(CVN_PROGID_CSCOPE));
    EXPECT_EQ(errorOf([] { CreateObject(CVN_PROGID_CSCOPE); }), 429);
}

}  // namespace
}  // namespace cvn::host::test
