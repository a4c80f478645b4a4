// Number texts: the whole-text conversions of String and WideString, and the itoa and general
// double texts of the String constructors.

#include "core/text/string.h"
#include "core/text/wide_string.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>

namespace {

constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr int32_t kIntMin = std::numeric_limits<int32_t>::min();

std::string Bytes(const String& s) {
    return std::string(s.Text(), static_cast<size_t>(s.length()));
}

TEST(TextNumberTest, ConversionsNeedTheWholeText) {
    struct Case {
        std::string text;
        bool ok;
        int32_t asInt;    // ToInt's output (0 on failure)
        double asDouble;  // ToDouble's output, also on failure
    };
    const Case cases[] = {
        {"", true, 0, 0},
        {"42", true, 42, 42},
        {"42 ", false, 0, 42},
        {"1e3", true, 1000, 1000},
        {"3.9", true, 3, 3.9},
        {"-3.9", true, -3, -3.9},
        {"12px", false, 0, 12},
        {"0x10", false, 0, 0},  // no hexadecimal form
        {" ", false, 0, 0},
        {"  \t7", true, 7, 7},  // leading white space is part of the number form
        {"+5", true, 5, 5},
        {"-", false, 0, 0},
        {".", false, 0, 0},
        {".5", true, 0, 0.5},
        {"5.", true, 5, 5},
        {"1e", false, 0, 1},
        {"1e+", false, 0, 1},
        {"2E2", true, 200, 200},
        {"1d2", true, 100, 100},  // the runtime's strtod also reads d and D as the exponent mark
        {"1D-1", true, 0, 0.1},
        {"inf", false, 0, 0},
        {"nan", false, 0, 0},
        {"-infinity", false, 0, 0},
        {"1e999", true, kIntMin, kInf},
        {"3e9", true, kIntMin, 3e9},
        {"2147483647.9", true, 2147483647, 2147483647.9},
        {"-2147483648.5", true, kIntMin, -2147483648.5},
        {"-2147483649", true, kIntMin, -2147483649.0},
        {std::string("12\0x", 4), true, 12, 12},  // the text ends at its first zero byte
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("'" + c.text + "'");
        const String s(c.text.data(), static_cast<int32_t>(c.text.size()), true);
        int32_t i = -1;
        EXPECT_EQ(s.ToInt(i), c.ok);
        EXPECT_EQ(i, c.asInt);
        double d = -1;
        EXPECT_EQ(s.ToDouble(d), c.ok);
        EXPECT_EQ(d, c.asDouble);
        float f = -1;
        EXPECT_EQ(s.ToFloat(f), c.ok);
        EXPECT_EQ(f, c.ok ? static_cast<float>(c.asDouble) : 0.0f);
        EXPECT_EQ(IsNumber(s), c.ok);

        const std::u16string wideText(c.text.begin(), c.text.end());
        const WideString w(wideText.data(), static_cast<int32_t>(wideText.size()), true);
        i = -1;
        EXPECT_EQ(w.ToInt(i), c.ok);
        EXPECT_EQ(i, c.asInt);
    }
}

TEST(TextNumberTest, FloatConversionRoundsAndOverflowsToInfinity) {
    float f = 0;
    EXPECT_TRUE(String("0.1").ToFloat(f));
    EXPECT_EQ(f, 0.1f);
    EXPECT_TRUE(String("3.4028235e38").ToFloat(f));
    EXPECT_EQ(f, FLT_MAX);
    EXPECT_TRUE(String("-1e39").ToFloat(f));
    EXPECT_EQ(f, -std::numeric_limits<float>::infinity());
}

TEST(TextNumberTest, WideDigitsOutsideAsciiAreNoNumber) {
    int32_t value = -1;
    EXPECT_FALSE(WideString(u"\u0661").ToInt(value));  // ARABIC-INDIC DIGIT ONE
    EXPECT_EQ(value, 0);
    EXPECT_FALSE(WideString(u"\uFF11").ToInt(value));  // FULLWIDTH DIGIT ONE
}

TEST(TextNumberTest, IntegerTextsFollowItoa) {
    struct Case {
        int32_t value;
        int radix;
        const char* expected;
    };
    const Case cases[] = {
        {0, 10, "0"},
        {-42, 10, "-42"},
        {kIntMin, 10, "-2147483648"},
        {2147483647, 10, "2147483647"},
        {255, 16, "ff"},
        {-1, 16, "ffffffff"},  // other radices show the 32-bit pattern
        {-1, 2, "11111111111111111111111111111111"},
        {-8, 8, "37777777770"},
        {35, 36, "z"},
        {5, 1, ""},  // no such radix
        {5, 37, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.value << " radix " << c.radix);
        EXPECT_EQ(Bytes(String(c.value, c.radix)), c.expected);
        const std::string narrow(c.expected);
        const std::u16string wide(narrow.begin(), narrow.end());
        EXPECT_TRUE(WideStringEqualsText(WideString(c.value, c.radix), wide.c_str()));
    }
    EXPECT_EQ(Bytes(String(uint16_t{65535}, 16)), "ffff");
    EXPECT_EQ(Bytes(String(uint16_t{0x8000}, 10)), "32768");
}

TEST(TextNumberTest, DoubleTextsFollowTheGeneralFormat) {
    struct Case {
        double value;
        int digits;
        const char* expected;
    };
    const Case cases[] = {
        {100, 6, "100."},
        {0.5, 6, "0.5"},
        {0.05, 6, "5.e-002"},
        {0, 6, "0."},
        {-0.0, 6, "-0."},
        {1, 6, "1."},
        {-2.5, 6, "-2.5"},
        {123456, 6, "123456."},
        {1234567, 6, "1.23457e+006"},
        {999999.5, 6, "1.e+006"},
        {9.9999995, 6, "10."},  // rounding carries into the exponent
        {99.99, 3, "100."},
        {0.1, 6, "0.1"},
        {0.099999, 6, "9.9999e-002"},
        {0.0999999999, 6, "0.1"},
        {0.00099999, 2, "1.e-003"},
        {1e100, 6, "1.e+100"},
        {1.5e-300, 6, "1.5e-300"},
        {5e-324, 6, "4.94066e-324"},
        {1e-5, 6, "1.e-005"},
        {DBL_MAX, 17, "1.7976931348623157e+308"},
        {123.456, 2, "1.2e+002"},
        {2.5, 1, "3."},  // ties round away from zero
        {0.125, 2, "0.13"},
        {12.5, 2, "13."},
        {-12.5, 2, "-13."},
        {1e20, 25, "100000000000000000000."},
        {0.1, 20, "0.10000000000000001"},  // 17 significant digits at most
        {3.14159, 0, "3."},
        {kInf, 6, "1.#INF"},
        {-kInf, 6, "-1.#INF"},
        {std::numeric_limits<double>::quiet_NaN(), 6, "1.#QNAN"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.value << " with " << c.digits << " digits");
        EXPECT_EQ(Bytes(String(c.value, c.digits)), c.expected);
    }
    EXPECT_TRUE(WideStringEqualsText(WideString(0.05, 6), u"5.e-002"));
}

}  // namespace
