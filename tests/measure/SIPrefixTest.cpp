// Metric prefixes and scaled mantissas of measurement replies.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "measure/SIPrefix.h"

namespace cvn {
namespace {

struct PrefixCase {
    std::string exponent;
    std::string mantissa;
    std::string prefix;       // expected result
    std::string newMantissa;  // expected mantissa afterwards
};

void expectCases(const std::vector<PrefixCase>& cases) {
    for (const auto& c : cases) {
        SCOPED_TRACE("exponent '" + c.exponent + "', mantissa '" + c.mantissa + "'");
        std::string mantissa = c.mantissa;
        EXPECT_EQ(GetSIPrefix(c.exponent, mantissa), c.prefix);
        EXPECT_EQ(mantissa, c.newMantissa);
    }
}

TEST(SIPrefix, EachExponentScalesTowardZeroAndKeepsExactPrefixesAsReceived) {
    expectCases({
        {"+09", "+1.50000", "G", "+1.50000"},
        {"+08", "+2.50000", "M", "250"},
        {"+06", "+2.50000", "M", "+2.50000"},
        {"+04", "+1.23450", "k", "12.345"},
        {"+03", "+1.23450", "k", "+1.23450"},
        {"+01", "+5.00000", "", "50"},
        {"+00", "+5.00000", "", "+5.00000"},
        {"-01", "+1.23450", "", "0.12345"},
        {"-02", "+1.23450", "", "0.012345"},
        {"-03", "+1.23450", "m", "+1.23450"},
        {"-05", "+1.23450", "m", "0.012345"},
        {"-07", "+1.23450", "u", "0.12345"},
        {"-08", "+9.99999", "u", "0.0999999"},
        {"-09", "+1.23450", "n", "+1.23450"},
        {"-11", "+1.23450", "n", "0.012345"},
        {"-12", "+1.23450", "p", "+1.23450"},
        // Beyond the prefixes, and the scope's "no result" placeholder. The
        // reply's line feed may still be on the exponent; it is not shown.
        {"+10", "+1.0", "E+10", "+1.0"},
        {"+21", "+1.0", "No edges", "+1.0"},
        {"+37\n", "+9.9", "No edges", "+9.9"},
        {"-13", "+1.0", "E-13", "+1.0"},
        {"-15\n", "+1.0", "E-15", "+1.0"},
        {" -03 ", "+1.0", "m", "+1.0"},
    });
}

TEST(SIPrefix, NegativeAndUnusualMantissas) {
    expectCases({
        {"+01", "-5.00000", "", "-50"},
        {"-04", "-1.23450", "m", "-0.12345"},
        {"+05", "-9.99999", "k", "-999.999"},
        {"+01", "-0.00000", "", "0"},  // minus zero is not negative
        {"+02", "5", "", "500"},
        {"+01", ".5", "", "5"},
        {"+01", "5.", "", "50"},
        {"+01", "+1.234567890123456789", "", "12.3456789012346"},  // 15 digits
        {"+02", "9.99999999999999", "", "999.999999999999"},
        {"-02", "0.00001", "", "1E-07"},
    });
}

TEST(SIPrefix, BadInputGivesNoPrefixAndKeepsTheMantissa) {
    const std::string tooBig = "179769313486231570" + std::string(291, '0');  // * 100 overflows
    expectCases({
        {"abc", "+1.0", "", "+1.0"},
        {"", "+1.0", "", "+1.0"},
        {"+", "+1.0", "", "+1.0"},
        {"1.5", "+1.0", "", "+1.0"},
        {"+32768", "+1.0", "", "+1.0"},
        {"-32769", "+1.0", "", "+1.0"},
        // A mantissa that is not a number only matters when it is scaled.
        {"-03", "abc", "m", "abc"},
        {"+01", "abc", "", "abc"},
        {"+01", "1,5", "", "1,5"},
        {"+01", "1e3", "", "1e3"},
        {"+01", "+-1", "", "+-1"},
        {"+01", ".", "", "."},
        {"+01", std::string(400, '9'), "", std::string(400, '9')},
        {"+02", tooBig, "", tooBig},
    });
}

TEST(SIPrefix, DisplayTextAndNumberFormat) {
    struct Case {
        const char* mantissa;
        const char* exponent;
        const char* unit;
        const char* shown;
    } cases[] = {
        {"+1.23450", "-03", "s", "+1.23450ms"}, {"+5.00000", "+01", "%", "50%"},
        {"+1.23450", "-09", "s", "+1.23450ns"}, {"+9.90000", "+37\n", "Hz", "No edges"},
        {"-2.5", "-01", "V", "-0.25V"},         {"+1.0", "+15", "V", "+1.0E+15V"},
        {"+1.0", "xyz", "V", "+1.0V"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(MeasurementDisplayText(c.mantissa, c.exponent, c.unit), c.shown) << c.exponent;
    }

    struct Number {
        double value;
        const char* text;
    } numbers[] = {
        {0.12345000000000001, "0.12345"},
        {999.9, "999.9"},
        {1e-4, "0.0001"},
        {1e-5, "1E-05"},
        {123456789012345, "123456789012345"},
        {1e15, "1E+15"},
        {-1.5e300, "-1.5E+300"},
        {2.0 / 3, "0.666666666666667"},
    };
    for (const auto& n : numbers) EXPECT_EQ(FormatScaledMantissa(n.value), n.text) << n.text;
}

}  // namespace
}  // namespace cvn
