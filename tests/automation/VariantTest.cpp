// Variant kinds and the runtime's conversion rules, and GUID text forms.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "TestSupport.h"
#include "automation/AutomationError.h"
#include "automation/Convert.h"
#include "automation/Guid.h"
#include "automation/Variant.h"

using namespace cvn::automation;

TEST(Variant, KindsFollowTheConstructorArgument) {
    EXPECT_EQ(Variant().type(), VarType::Empty);
    EXPECT_EQ(Variant(true).type(), VarType::Boolean);
    EXPECT_EQ(Variant(int16_t{1}).type(), VarType::Integer);
    EXPECT_EQ(Variant(1).type(), VarType::Long);
    EXPECT_EQ(Variant(1.0).type(), VarType::Double);
    EXPECT_EQ(Variant(uint8_t{1}).type(), VarType::Byte);
    EXPECT_EQ(Variant("text").type(), VarType::String);
    EXPECT_EQ(Variant(cvn::DataVector<double>{1, 2}).type(), arrayOf(VarType::Double));
    EXPECT_EQ(typeName(arrayOf(VarType::Integer)), "Integer()");
}

TEST(Variant, BooleanTrueIsMinusOne) {
    EXPECT_EQ(Variant(true).toInteger(), -1);
    EXPECT_EQ(Variant(true).toLong(), -1);
    EXPECT_EQ(Variant(true).toDouble(), -1.0);
    EXPECT_EQ(Variant(false).toLong(), 0);
    EXPECT_EQ(Variant(true).toString(), "True");
    EXPECT_EQ(Variant(false).toString(), "False");
    EXPECT_EQ(errorOf([] { Variant(true).toByte(); }), 6);
}

TEST(Variant, ToBooleanAcceptsNumbersAndWords) {
    EXPECT_FALSE(Variant().toBool());
    EXPECT_FALSE(Variant(0.0).toBool());
    EXPECT_TRUE(Variant(0.25).toBool());
    EXPECT_TRUE(Variant(int16_t{-3}).toBool());
    EXPECT_TRUE(Variant("true").toBool());
    EXPECT_TRUE(Variant("TRUE").toBool());
    EXPECT_FALSE(Variant("False").toBool());
    EXPECT_TRUE(Variant(" 2 ").toBool());
    EXPECT_FALSE(Variant("0").toBool());
    EXPECT_EQ(errorOf([] { Variant("yes").toBool(); }), 13);
    EXPECT_EQ(errorOf([] { Variant("").toBool(); }), 13);
}

TEST(Variant, IntegerConversionsRoundHalfToEven) {
    EXPECT_EQ(Variant(2.5).toInteger(), 2);
    EXPECT_EQ(Variant(3.5).toInteger(), 4);
    EXPECT_EQ(Variant(-2.5).toInteger(), -2);
    EXPECT_EQ(Variant(-3.5).toLong(), -4);
    EXPECT_EQ(Variant(2.4999).toLong(), 2);
    EXPECT_EQ(Variant(0.5).toByte(), 0);
    EXPECT_EQ(Variant(1.5).toByte(), 2);
    EXPECT_EQ(Variant("2.5").toInteger(), 2);
    EXPECT_EQ(Variant(" 1e3 ").toLong(), 1000);
    EXPECT_EQ(roundHalfEven(-0.5), 0.0);
}

TEST(Variant, OutOfRangeIsOverflow) {
    EXPECT_EQ(Variant(32767.4).toInteger(), 32767);
    EXPECT_EQ(errorOf([] { Variant(32767.5).toInteger(); }), 6);
    EXPECT_EQ(Variant(-32768.5).toInteger(), -32768);  // halves to even stays in range
    EXPECT_EQ(errorOf([] { Variant(-32769.0).toInteger(); }), 6);
    EXPECT_EQ(errorOf([] { Variant(40000).toInteger(); }), 6);
    EXPECT_EQ(errorOf([] { Variant(2147483648.0).toLong(); }), 6);
    EXPECT_EQ(Variant(-2147483648.0).toLong(), std::numeric_limits<int32_t>::min());
    EXPECT_EQ(errorOf([] { Variant(256).toByte(); }), 6);
    EXPECT_EQ(errorOf([] { Variant(-1).toByte(); }), 6);
    EXPECT_EQ(errorOf([] { toLong(std::nan("")); }), 6);
}

TEST(Variant, UnconvertibleValuesAreTypeMismatch) {
    EXPECT_EQ(errorOf([] { Variant("abc").toDouble(); }), 13);
    EXPECT_EQ(errorOf([] { Variant("").toLong(); }), 13);
    EXPECT_EQ(errorOf([] { Variant("inf").toDouble(); }), 13);
    EXPECT_EQ(errorOf([] { Variant("1.5x").toDouble(); }), 13);
    EXPECT_EQ(errorOf([] { Variant(cvn::DataVector<double>{1}).toDouble(); }), 13);
    EXPECT_EQ(errorOf([] { Variant(cvn::DataVector<double>{1}).toString(); }), 13);
    EXPECT_EQ(errorOf([] { Variant(1).toObject(); }), 13);
    EXPECT_EQ(errorOf([] { Variant(1).array(); }), 13);
    EXPECT_EQ(Variant().toDouble(), 0.0);
    EXPECT_EQ(Variant().toString(), "");

    try {
        Variant("abc").toLong();
        FAIL() << "no error";
    } catch (const cvn::Error& e) {  // reaches handlers of the shared error type
        EXPECT_EQ(e.number(), 13);
        EXPECT_FALSE(e.description().empty());
        EXPECT_EQ(e.source(), kDefaultErrorSource);
    }
}

TEST(Variant, NumbersBecomeInvariantText) {
    EXPECT_EQ(Variant(int16_t{-12}).toString(), "-12");
    EXPECT_EQ(Variant(123456).toString(), "123456");
    EXPECT_EQ(Variant(0.1).toString(), "0.1");
    EXPECT_EQ(Variant(2.5).toString(), "2.5");
    EXPECT_EQ(Variant(-0.0).toString(), "0");
    EXPECT_EQ(Variant(1e20).toString(), "1E+20");
    EXPECT_EQ(Variant(1.5e-7).toString(), "1.5E-07");
    EXPECT_EQ(Variant(1.0 / 3.0).toString(), "0.333333333333333");
    EXPECT_EQ(parseNumber("-.5"), -0.5);
    EXPECT_EQ(parseNumber("+2E+3"), 2000.0);
    EXPECT_FALSE(parseNumber("- 1"));
    EXPECT_FALSE(parseNumber("0x10"));
}

TEST(Variant, ConvertToAndEquality) {
    EXPECT_EQ(Variant("12").convertTo(VarType::Integer), Variant(int16_t{12}));
    EXPECT_EQ(Variant(int16_t{-1}).convertTo(VarType::Boolean), Variant(true));
    EXPECT_EQ(Variant(3.0).convertTo(VarType::String), Variant("3"));
    EXPECT_NE(Variant(int16_t{3}), Variant(3));  // same value, different kind

    Variant ints(cvn::DataVector<int16_t>{1, -2});
    Variant doubles = ints.convertTo(arrayOf(VarType::Double));
    ASSERT_EQ(doubles.type(), arrayOf(VarType::Double));
    EXPECT_EQ(doubles.array().get(1), Variant(-2.0));
    EXPECT_EQ(errorOf([] { Variant(1).convertTo(arrayOf(VarType::Double)); }), 13);
}

TEST(Guid, ParsesAndFormatsRegistryForm) {
    const char* text = "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}";
    auto g = Guid::parse(text);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->data1, 0x0A1B2C3Du);
    EXPECT_EQ(g->data2, 0x4E5F);
    EXPECT_EQ(g->data4[0], 0x82);
    EXPECT_EQ(g->data4[7], 0xF9);
    EXPECT_EQ(g->toString(), text);
    EXPECT_EQ(Guid::parse("0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9"), g);
    EXPECT_FALSE(Guid::parse("{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F}"));
    EXPECT_FALSE(Guid::parse("{0A1B2C3D-4E5F-6071-8293_A4B5C6D7E8F9}"));
    EXPECT_FALSE(Guid::parse("{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8FG}"));
    EXPECT_FALSE(Guid::parse(""));
    EXPECT_THROW(Guid::fromString("nonsense"), std::invalid_argument);
    EXPECT_TRUE(Guid{}.isNull());
    EXPECT_NE(GuidHash{}(*g), GuidHash{}(Guid{}));
}
