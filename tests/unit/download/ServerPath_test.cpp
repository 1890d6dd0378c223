#include "download/ServerPath.h"

#include <gtest/gtest.h>

namespace qx {
namespace {

TEST(ServerPathOf, BareNamesLiveInTheUpdateFolderAndSchemesOnOtherServers) {
    const struct {
        const char16_t* reference;
        const char16_t* expected;
    } cases[] = {
        {u"setup.exe", u"/qxupdate/setup.exe"}, {u"setup.exe?v=3", u"/qxupdate/setup.exe"},
        {u"/files/a.zip", u"/files/a.zip"},     {u"sub\\tool.exe", u"/qxupdate/sub/tool.exe"},
        {u"http://host/a.exe", u""},            {u"https://host/a.exe", u""},
        {u"c:x", u"/qxupdate/c:x"},            {u"/abcde:x", u""},
        {u"/abcdef:x", u"/abcdef:x"},
        {u"升级.exe", u"/qxupdate/升级.exe"},
    };
    for (const auto& c : cases) EXPECT_EQ(ServerPathOf(c.reference), Text(c.expected)) << ToUtf8(c.reference);
}

}  // namespace
}  // namespace qx
