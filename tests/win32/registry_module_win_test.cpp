// Value texts of update scripts against the real registry, checked with
// Windows' own wide functions: the types and bytes stored, and Chinese text
// through the ANSI code page. (Paths, string values and deletes are shown
// end to end.)
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "actions/Registry.h"
#include "platform/win32/codepage_win.h"
#include "platform/win32/handles_win.h"
#include "platform/win32/registry_win.h"

namespace qx {
namespace {

const wchar_t kTestRoot[] = L"Software\\QXUpdateTest";
const wchar_t kTestKey[] = L"Software\\QXUpdateTest\\Module";
const char16_t kBase[] = u"HKCU\\Software\\QXUpdateTest\\Module\\";

const wchar_t* Wide(const Text& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

struct RawValue {
    bool found = false;
    DWORD type = 0;
    std::vector<BYTE> data;
};

RawValue ReadRaw(const wchar_t* keyPath, const wchar_t* name) {
    RawValue v;
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, keyPath, 0, KEY_QUERY_VALUE, key.Receive()) != ERROR_SUCCESS) return v;
    DWORD size = 0;
    if (::RegQueryValueExW(key.Get(), name, nullptr, &v.type, nullptr, &size) != ERROR_SUCCESS) return v;
    v.data.assign(size, 0);
    v.found = ::RegQueryValueExW(key.Get(), name, nullptr, &v.type, v.data.data(), &size) == ERROR_SUCCESS;
    v.data.resize(size);
    return v;
}

uint32_t AsDword(const RawValue& v) {
    if (v.data.size() != 4) return 0xDEADBEEFu;
    return static_cast<uint32_t>(v.data[0]) | (static_cast<uint32_t>(v.data[1]) << 8) |
           (static_cast<uint32_t>(v.data[2]) << 16) | (static_cast<uint32_t>(v.data[3]) << 24);
}

class RegistryModuleWin : public testing::Test {
protected:
    void SetUp() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestRoot); }
    void TearDown() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestRoot); }

    bool Set(const Text& rest, const Text& value) { return SetRegValue(api_, codepage_, kBase + rest, value); }
    Text Get(const Text& rest, const Text& def = u"<default>") {
        return GetRegValue(api_, codepage_, kBase + rest, def);
    }

    Win32RegistryApi api_;
    Win32CodePage codepage_;
};

TEST_F(RegistryModuleWin, ChineseStringPassesThroughTheAnsiCodePage) {
    ASSERT_EQ(::GetACP(), 936u) << "needs the GBK code page (LC_ALL=zh_CN.UTF-8)";
    const Text text = u"在线升级程序 C:\\路径";
    ASSERT_TRUE(Set(u"Name", text));
    const RawValue v = ReadRaw(kTestKey, L"Name");
    ASSERT_TRUE(v.found);
    EXPECT_EQ(v.type, static_cast<DWORD>(REG_SZ));
    const Text stored(reinterpret_cast<const char16_t*>(v.data.data()), v.data.size() / 2);
    EXPECT_EQ(stored, text + Text(1, u'\0')) << "stored [" << ToUtf8(stored) << "]";
    EXPECT_EQ(Get(u"Name"), text);
}

TEST_F(RegistryModuleWin, BinaryAndNumberValues) {
    ASSERT_TRUE(Set(u"Bin", u"hex:0A0b"));
    RawValue v = ReadRaw(kTestKey, L"Bin");
    EXPECT_EQ(v.type, static_cast<DWORD>(REG_BINARY));
    EXPECT_EQ(v.data, (std::vector<BYTE>{0x0A, 0x0B}));

    ASSERT_TRUE(Set(u"Empty", u"HEX:"));
    v = ReadRaw(kTestKey, L"Empty");
    EXPECT_TRUE(v.found);
    EXPECT_EQ(v.type, static_cast<DWORD>(REG_BINARY));
    EXPECT_TRUE(v.data.empty()) << v.data.size() << " bytes";

    // Numbers are stored as the 32 bits Windows keeps; read back signed.
    ASSERT_TRUE(Set(u"Num", u"dword:&hFFFFFFFF"));
    v = ReadRaw(kTestKey, L"Num");
    EXPECT_EQ(v.type, static_cast<DWORD>(REG_DWORD));
    EXPECT_EQ(AsDword(v), 0xFFFFFFFFu);
    EXPECT_EQ(Get(u"Num"), u"-1");
}


}  // namespace
}  // namespace qx
