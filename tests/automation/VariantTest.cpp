// Variant kinds and the runtime's conversion rules, and GUID text forms.
#include <gtest/gtest.h>

#include <cmath>

#include "TestSupport.h"
#include "automation/Convert.h"
#include "automation/Guid.h"

using namespace cvn::automation;

TEST(Variant, ConversionsFollowTheRuntimeRules) {
    using V = VarType;
    using D = cvn::DataVector<double>;
    struct Cell {
        Variant in;
        VarType to;
        Variant out;  // when err is 0
        int err = 0;
    } cells[] = {
        // Boolean true is -1 as a number, and the words as text.
        {Variant(true), V::Integer, Variant(int16_t{-1})},
        {Variant(true), V::String, Variant("True")},
        {Variant(false), V::String, Variant("False")},
        {Variant(true), V::Byte, {}, 6},
        {Variant(), V::Boolean, Variant(false)},
        {Variant(0.25), V::Boolean, Variant(true)},
        {Variant("TRUE"), V::Boolean, Variant(true)},
        {Variant("False"), V::Boolean, Variant(false)},
        {Variant(" 2 "), V::Boolean, Variant(true)},
        {Variant("0"), V::Boolean, Variant(false)},
        {Variant("yes"), V::Boolean, {}, 13},
        {Variant(""), V::Boolean, {}, 13},
        // Rounding halves to even.
        {Variant(2.5), V::Integer, Variant(int16_t{2})},
        {Variant(3.5), V::Integer, Variant(int16_t{4})},
        {Variant(-2.5), V::Integer, Variant(int16_t{-2})},
        {Variant(-3.5), V::Long, Variant(-4)},
        {Variant(1.5), V::Byte, Variant(uint8_t{2})},
        {Variant("2.5"), V::Integer, Variant(int16_t{2})},
        {Variant(" 1e3 "), V::Long, Variant(1000)},
        // Range ends, just inside and just outside.
        {Variant(32767.4), V::Integer, Variant(int16_t{32767})},
        {Variant(32767.5), V::Integer, {}, 6},
        {Variant(-32768.5), V::Integer, Variant(int16_t{-32768})},
        {Variant(-32769.0), V::Integer, {}, 6},
        {Variant(2147483648.0), V::Long, {}, 6},
        {Variant(-2147483648.0), V::Long, Variant(INT32_MIN)},
        {Variant(255), V::Byte, Variant(uint8_t{255})},
        {Variant(256), V::Byte, {}, 6},
        {Variant(-1), V::Byte, {}, 6},
        {Variant(std::nan("")), V::Long, {}, 6},
        // Text that is not a number, and arrays where a scalar is wanted.
        {Variant("abc"), V::Double, {}, 13},
        {Variant(""), V::Long, {}, 13},
        {Variant("inf"), V::Double, {}, 13},
        {Variant("1.5x"), V::Double, {}, 13},
        {Variant(D{1}), V::Double, {}, 13},
        {Variant(D{1}), V::String, {}, 13},
        {Variant(1), V::Object, {}, 13},
        {Variant(1), arrayOf(V::Double), {}, 13},
        {Variant(), V::Double, Variant(0.0)},
        {Variant(), V::String, Variant("")},
        // Numbers become invariant text.
        {Variant(int16_t{-12}), V::String, Variant("-12")},
        {Variant(0.1), V::String, Variant("0.1")},
        {Variant(-0.0), V::String, Variant("0")},
        {Variant(1e20), V::String, Variant("1E+20")},
        {Variant(1.5e-7), V::String, Variant("1.5E-07")},
        {Variant(1.0 / 3.0), V::String, Variant("0.333333333333333")},
        {Variant(cvn::DataVector<int16_t>{1, -2}), arrayOf(V::Double), Variant(D{1, -2})},
    };
    for (const Cell& c : cells) {
        SCOPED_TRACE(describe(c.in) + " to " + typeName(c.to));
        Variant got;
        EXPECT_EQ(errorOf([&] { got = c.in.convertTo(c.to); }), c.err);
        if (c.err == 0) {
            EXPECT_EQ(got, c.out);
        }
    }
    EXPECT_EQ(Variant(cvn::DataVector<double>{1, 2}).type(), arrayOf(VarType::Double));
    EXPECT_EQ(typeName(arrayOf(VarType::Integer)), "Integer()");
    EXPECT_NE(Variant(int16_t{3}), Variant(3));  // same value, different kind
    EXPECT_EQ(parseNumber("+2E+3"), 2000.0);
    EXPECT_FALSE(parseNumber("0x10"));
    try {
        Variant("abc").toLong();
        FAIL() << "no error";
    } catch (const cvn::Error& e) {  // reaches handlers of the shared error type
        EXPECT_EQ(e.number(), 13);
        EXPECT_EQ(e.source(), kDefaultErrorSource);
    }
}

TEST(Guid, ParsesAndFormatsRegistryForm) {
    const char* text = "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F9}";
    auto g = Guid::parse(text);
    ASSERT_TRUE(g);
    EXPECT_EQ(g->data1, 0x0A1B2C3Du);
    EXPECT_EQ(g->data4[0], 0x82);
    EXPECT_EQ(g->toString(), text);
    EXPECT_EQ(Guid::parse("0a1b2c3d-4e5f-6071-8293-a4b5c6d7e8f9"), g);
    for (const char* bad :
         {"{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8F}", "{0A1B2C3D-4E5F-6071-8293_A4B5C6D7E8F9}",
          "{0A1B2C3D-4E5F-6071-8293-A4B5C6D7E8FG}", ""})
        EXPECT_FALSE(Guid::parse(bad)) << bad;
    EXPECT_THROW(Guid::fromString("nonsense"), std::invalid_argument);
    EXPECT_NE(GuidHash{}(*g), GuidHash{}(Guid{}));
}
