// The byte format of the trailer, shared with the deployer's tool.
#include <gtest/gtest.h>

#include <vector>

#include "config/TrailerBytes.h"

namespace qx {
namespace {

TEST(TrailerBytesTest, EncodeCutsOrPadsTo32) {
    struct Case {
        Bytes ansi;
        Bytes expected;
    };
    const std::vector<Case> cases = {
        {"", Bytes(32, '\0')},
        {"10.1.2.3", "10.1.2.3" + Bytes(24, '\0')},
        {Bytes(31, 'a'), Bytes(31, 'a') + Bytes(1, '\0')},
        {Bytes(32, 'b'), Bytes(32, 'b')},
        {Bytes(32, 'c') + "overflow", Bytes(32, 'c')},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(EncodeTrailer(c.ansi), c.expected) << "for " << c.ansi.size() << " input bytes";
    }
}

TEST(TrailerBytesTest, OnlyTextsOfAtMost31BytesWithoutNulFit) {
    struct Case {
        Bytes ansi;
        bool fits;
    };
    const std::vector<Case> cases = {
        {"", true},
        {Bytes(31, 'a'), true},
        {Bytes(32, 'a'), false},
        {Bytes(100, 'a'), false},
        {Bytes("10.1\0.2.3", 9), false},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(FitsTrailer(c.ansi), c.fits) << "for " << c.ansi.size() << " bytes";
        // Whatever fits reads back exactly; an empty text reads as none.
        Bytes back;
        if (c.fits && !c.ansi.empty()) {
            EXPECT_TRUE(DecodeTrailer(EncodeTrailer(c.ansi), back));
            EXPECT_EQ(back, c.ansi);
        }
    }
}

TEST(TrailerBytesTest, DecodeRefusesWhatTheUpdaterIgnores) {
    struct Case {
        const char* name;
        Bytes trailer;
        bool ok;
        Bytes ansi;
    };
    const std::vector<Case> cases = {
        {"all NUL", Bytes(32, '\0'), false, ""},
        {"no terminator", Bytes(32, 'h'), false, ""},
        {"too short", "10.1.2.3" + Bytes(23, '\0'), false, ""},
        {"too long", "10.1.2.3" + Bytes(25, '\0'), false, ""},
        {"address", "10.1.2.3" + Bytes(24, '\0'), true, "10.1.2.3"},
        {"junk after the terminator", "a:1" + Bytes(1, '\0') + Bytes(28, 'z'), true, "a:1"},
    };
    for (const Case& c : cases) {
        Bytes ansi = "untouched";
        EXPECT_EQ(DecodeTrailer(c.trailer, ansi), c.ok) << c.name;
        if (c.ok) EXPECT_EQ(ansi, c.ansi) << c.name;
    }
}

}  // namespace
}  // namespace qx
