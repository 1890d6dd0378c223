#include "download/NumericValue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace qx {
namespace {

struct ValueCase {
    const char16_t* field;
    double expected;
};

const ValueCase kValueCases[] = {
    // No number at all.
    {u"", 0},
    {u"abc", 0},
    {u"x1", 0},
    {u"-", 0},
    {u"+", 0},
    {u".", 0},
    {u"true", 0},
    // Blanks, tabs and line feeds vanish wherever they stand; a carriage
    // return is an ordinary character that ends the number.
    {u" 1 2 3", 123},
    {u"\t5\n", 5},
    {u"- 3", -3},
    {u"1 e 2", 100},
    {u"\r5", 0},
    {u"1\r2", 1},
    // Sign, fraction, point as the only separator whatever the locale.
    {u"+4", 4},
    {u".5", 0.5},
    {u"-.5", -0.5},
    {u"5.", 5},
    {u"3.7.1", 3.7},
    {u"1,5", 1},
    {u"0.1", 0.1},
    {u"00000010", 10},
    {u"123456789012345678901234567890", 123456789012345678901234567890.0},
    // Exponents need at least one digit to count.
    {u"-2.5e1x", -25},
    {u"1e", 1},
    {u"1e+", 1},
    {u"1E2", 100},
    {u"2e-1", 0.2},
    {u"0.001e310", 1e307},
    {u"1.7976931348623157e308", std::numeric_limits<double>::max()},
    {u"1.5e-400", 0},
    {u"1e-99999999999999999999", 0},
    {u"0e999999", 0},
    // Hexadecimal and octal, wrapped into 16 or 32 signed bits.
    {u"&h10", 16},
    {u"&H10", 16},
    {u"&h 1 0", 16},
    {u"&hff", 255},
    {u"&hFFFF", -1},
    {u"&h8000", -32768},
    {u"&h7FFF", 32767},
    {u"&h10000", 65536},
    {u"&h7FFFFFFF", 2147483647},
    {u"&h80000000", -2147483648.0},
    {u"&hFFFFFFFF", -1},
    {u"&h000000001", 1},
    {u"&h1F.5", 31},
    {u"&h", 0},
    {u"&hG", 0},
    {u"&o17", 15},
    {u"&O17", 15},
    {u"&o177777", -1},
    {u"&o8", 0},
    {u"-&h10", 0},
    {u"&x10", 0},
};

TEST(NumericValue, ReadsTheLeadingNumber) {
    for (const ValueCase& c : kValueCases) {
        const double got = NumericValue(c.field);
        EXPECT_EQ(got, c.expected) << "field [" << ToUtf8(c.field) << "] expected " << c.expected << ", got "
                                   << got;
    }
}

TEST(NumericValue, NegativeZeroReadsAsZero) {
    for (const char16_t* field : {u"-0", u"-0.0e5", u"-1e-400"}) {
        const double got = NumericValue(field);
        EXPECT_FALSE(std::signbit(got)) << "field [" << ToUtf8(field) << "] gave " << got;
    }
}

struct RadixCase {
    const char16_t* field;
    int radix;
    uint32_t bits;
};

TEST(NumericValue, TellsTheRadixAndTheBitPattern) {
    const RadixCase cases[] = {
        {u"10", 10, 0},
        {u"&hFFFF", 16, 0xFFFFu},
        {u"&h8000", 16, 0x8000u},
        {u"&hFFFFFFFF", 16, 0xFFFFFFFFu},
        {u"&h", 16, 0},
        {u"&o177777", 8, 0xFFFFu},
        {u"&o37777777777", 8, 0xFFFFFFFFu},
    };
    for (const RadixCase& c : cases) {
        const NumericReading r = ReadNumber(c.field);
        EXPECT_EQ(r.radix, c.radix) << "field [" << ToUtf8(c.field) << "]";
        EXPECT_EQ(r.bits, c.bits) << "field [" << ToUtf8(c.field) << "]";
    }
}

TEST(NumericValue, NumbersBeyondTheirRangeOverflow) {
    for (const char16_t* field : {u"1e309", u"-1e400", u"1e99999999999999999999", u"99999e308", u"&h100000000",
                                  u"&h123456789", u"&o40000000000"}) {
        try {
            const double got = NumericValue(field);
            ADD_FAILURE() << "field [" << ToUtf8(field) << "] expected overflow, got " << got;
        } catch (const QxError& e) {
            EXPECT_EQ(e.Number(), err::kOverflow) << "field [" << ToUtf8(field) << "]";
            EXPECT_EQ(e.Description(), u"溢出");
        }
    }
}

struct RoundCase {
    double value;
    int32_t expected;
};

TEST(RoundToLong, HalvesGoToTheEvenNeighbour) {
    const RoundCase cases[] = {
        {0.5, 0},          {1.5, 2},         {2.5, 2},          {-0.5, 0},
        {-1.5, -2},        {-2.5, -2},       {2.4999, 2},       {2.5000001, 3},
        {-2.5000001, -3},  {7, 7},           {2147483647.4, 2147483647},
        {2147483646.5, 2147483646},          {-2147483648.5, -2147483647 - 1},
    };
    for (const RoundCase& c : cases) {
        EXPECT_EQ(RoundToLong(c.value), c.expected) << "value " << c.value;
    }
}

TEST(RoundToLong, ValuesOutsideSigned32BitsOverflow) {
    const double cases[] = {2147483647.5, 2147483648.0, -2147483649.0, 4294967295.0, 1e20,
                            std::numeric_limits<double>::infinity(), std::nan("")};
    for (double v : cases) {
        try {
            const int32_t got = RoundToLong(v);
            ADD_FAILURE() << "value " << v << " expected overflow, got " << got;
        } catch (const QxError& e) {
            EXPECT_EQ(e.Number(), err::kOverflow) << "value " << v;
        }
    }
}

}  // namespace
}  // namespace qx
