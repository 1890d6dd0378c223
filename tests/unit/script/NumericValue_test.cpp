#include "download/NumericValue.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace qx {

TEST(NumericValue, ReadsTheLeadingNumberAndOverflowsPastItsRange) {
    const struct { const char16_t* field; double value; } rows[] = {
        {u"", 0}, {u"abc", 0}, {u"-", 0}, {u".", 0}, {u"x1", 0}, {u"\r5", 0}, {u"1\r2", 1}, {u" 1 2\t3\n", 123},
        {u"- 3", -3}, {u"+4", 4}, {u"-.5", -0.5}, {u"5.", 5}, {u"3.7.1", 3.7}, {u"1,5", 1}, {u"00000010", 10},
        {u"0.0001", 0.0001}, {u"123456789012345678901234567890", 123456789012345678901234567890.0},
        {u"-2.5e1x", -25}, {u"1 E 2", 100}, {u"2e-1", 0.2}, {u"1e", 1}, {u"1e+", 1}, {u"1e-", 1}, {u"-0", 0},
        {u"0.001e310", 1e307}, {u"1.7976931348623157e308", std::numeric_limits<double>::max()}, {u"-0.0e5", 0},
        {u"1.5e-400", 0}, {u"-1e-99999999999999999999", 0}, {u"0e999999", 0},
        {u"&h10", 16}, {u"&H 1 f", 31}, {u"&hFFFF", -1}, {u"&h8000", -32768}, {u"&h7fff", 32767}, {u"&h10000", 65536},
        {u"&h7FFFFFFF", 2147483647}, {u"&h80000000", -2147483648.0}, {u"&hFFFFFFFF", -1}, {u"&h000000001", 1},
        {u"&h1F.5", 31}, {u"&h", 0}, {u"&hG", 0}, {u"&x10", 0}, {u"-&h10", 0}, {u"&o17", 15}, {u"&O177777", -1},
        {u"&o8", 0},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(NumericValue(r.field), r.value) << ToUtf8(r.field);
        EXPECT_EQ(std::signbit(NumericValue(r.field)), std::signbit(r.value)) << ToUtf8(r.field) << ": -0 is 0";
    }
    for (const char16_t* field : {u"1e309", u"-1e400", u"99999e308", u"1e99999999999999999999", u"&h100000000",
                                  u"&o40000000000"}) {
        EXPECT_THROW(NumericValue(field), QxError) << ToUtf8(field);
    }
    for (const NumericReading& r : {ReadNumber(u"10"), ReadNumber(u"&hFFFF"), ReadNumber(u"&o37777777777")}) {
        EXPECT_EQ(r.radix == 10 ? 0 : r.radix == 16 ? 0xFFFFu : 0xFFFFFFFFu, r.bits) << "radix " << r.radix;
    }
}

TEST(NumericValue, RoundToLongHalvesToEvenWithinSigned32Bits) {
    const struct { double value; int32_t expected; } rows[] = {
        {0.5, 0}, {1.5, 2}, {2.5, 2}, {-0.5, 0}, {-1.5, -2}, {-2.5, -2}, {2.4999, 2}, {2.5000001, 3},
        {-2.5000001, -3}, {7, 7}, {2147483647.4, 2147483647}, {2147483646.5, 2147483646},
        {-2147483648.5, -2147483647 - 1},
    };
    for (const auto& r : rows) EXPECT_EQ(RoundToLong(r.value), r.expected) << r.value;
    for (double v : {2147483647.5, -2147483649.0, std::numeric_limits<double>::infinity(), std::nan("")}) {
        EXPECT_THROW(RoundToLong(v), QxError) << v;
    }
}

}  // namespace qx
