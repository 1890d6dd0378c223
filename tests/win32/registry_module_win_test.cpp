// Registry paths and value texts of update scripts against the real
// registry, checked with Windows' own wide functions.
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

bool KeyExists(const wchar_t* keyPath) {
    UniqueRegKey key;
    return ::RegOpenKeyExW(HKEY_CURRENT_USER, keyPath, 0, KEY_QUERY_VALUE, key.Receive()) == ERROR_SUCCESS;
}

void PlantW(const wchar_t* name, DWORD type, const std::wstring& text) {
    UniqueRegKey key;
    ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, kTestKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.Receive(),
                                nullptr),
              ERROR_SUCCESS);
    ASSERT_EQ(::RegSetValueExW(key.Get(), name, 0, type, reinterpret_cast<const BYTE*>(text.c_str()),
                               static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t))),
              ERROR_SUCCESS);
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
    if (::GetACP() != 936) GTEST_SKIP() << "needs the GBK code page (LC_ALL=zh_CN.UTF-8), have " << ::GetACP();
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

    struct Case {
        const char16_t* text;
        uint32_t expected;
    };
    const Case cases[] = {
        {u"dword:10", 10u},         {u"dword:&h10", 16u},          {u"dword:&hFFFF", 0x0000FFFFu},
        {u"dword:&h8000", 0x8000u}, {u"dword:&hFFFFFFFF", 0xFFFFFFFFu}, {u"dword:-1", 0xFFFFFFFFu},
        {u"dword:00000010", 10u},
    };
    for (const Case& c : cases) {
        ASSERT_TRUE(Set(u"Num", c.text)) << ToUtf8(c.text);
        v = ReadRaw(kTestKey, L"Num");
        EXPECT_EQ(v.type, static_cast<DWORD>(REG_DWORD)) << ToUtf8(c.text);
        EXPECT_EQ(AsDword(v), c.expected) << ToUtf8(c.text);
    }
    EXPECT_EQ(Get(u"Num"), u"10");
    ASSERT_TRUE(Set(u"Num", u"dword:-1"));
    EXPECT_EQ(Get(u"Num"), u"-1");

    try {
        Set(u"Num2", u"dword:4294967295");
        ADD_FAILURE() << "4294967295 was accepted";
    } catch (const QxError& e) {
        EXPECT_EQ(e.Number(), err::kOverflow);
    }
    EXPECT_FALSE(ReadRaw(kTestKey, L"Num2").found);
}

TEST_F(RegistryModuleWin, AtSignWritesTheDefaultValue) {
    ASSERT_TRUE(Set(u"@", u"def"));
    const RawValue v = ReadRaw(kTestKey, L"");
    ASSERT_TRUE(v.found) << "no default value";
    EXPECT_EQ(v.type, static_cast<DWORD>(REG_SZ));
    EXPECT_FALSE(ReadRaw(kTestKey, L"@").found) << "a value named @ was written";
    // An empty value name reads the default value back.
    EXPECT_EQ(GetRegValue(api_, codepage_, kBase, u"<default>"), u"def");
}

TEST_F(RegistryModuleWin, RootNamesInAnyCaseAndShortForms) {
    for (const Text root : {u"hkcu", u"HKCU", u"HKEY_CURRENT_USER", u"hkey_current_user"}) {
        const Text path = root + u"\\Software\\QXUpdateTest\\Module\\Root";
        ASSERT_TRUE(SetRegValue(api_, codepage_, path, root)) << ToUtf8(root);
        EXPECT_EQ(GetRegValue(api_, codepage_, path, u"<default>"), root);
    }
    EXPECT_FALSE(SetRegValue(api_, codepage_, u"HKXX\\Software\\QXUpdateTest\\Module\\Root", u"x"));
}

TEST_F(RegistryModuleWin, KeyOnlyWriteCreatesAndDeleteRemoves) {
    EXPECT_TRUE(Set(u"K1\\K2\\", u"ignored"));
    EXPECT_TRUE(KeyExists(L"Software\\QXUpdateTest\\Module\\K1\\K2"));
    EXPECT_FALSE(ReadRaw(L"Software\\QXUpdateTest\\Module\\K1\\K2", L"").found) << "a value was written";

    ASSERT_TRUE(Set(u"K1\\V", u"x"));
    EXPECT_TRUE(DeleteRegEntry(api_, codepage_, Text(kBase) + u"K1\\V"));
    EXPECT_FALSE(ReadRaw(L"Software\\QXUpdateTest\\Module\\K1", L"V").found);
    EXPECT_TRUE(KeyExists(L"Software\\QXUpdateTest\\Module\\K1\\K2")) << "deleting a value removed a key";

    EXPECT_TRUE(DeleteRegEntry(api_, codepage_, Text(kBase) + u"K1\\K2\\"));
    EXPECT_FALSE(KeyExists(L"Software\\QXUpdateTest\\Module\\K1\\K2"));
    EXPECT_TRUE(KeyExists(L"Software\\QXUpdateTest\\Module\\K1"));
    EXPECT_FALSE(DeleteRegEntry(api_, codepage_, Text(kBase) + u"K1\\K2\\")) << "deleted a missing key";
}

TEST_F(RegistryModuleWin, ReadsOtherTypesAsEmptyAndMissingAsDefault) {
    PlantW(L"Expand", REG_EXPAND_SZ, L"%SystemRoot%\\x");
    EXPECT_EQ(Get(u"Expand"), u"");
    EXPECT_EQ(Get(u"Missing"), u"<default>");
    EXPECT_EQ(GetRegValue(api_, codepage_, u"HKCU\\Software\\QXUpdateTest\\Nowhere\\V", u"<default>"),
              u"<default>");
    // The read buffer holds 1024 bytes: a string of 1023 characters and its
    // NUL fit, one more does not.
    PlantW(L"Fits", REG_SZ, std::wstring(1023, L'x'));
    PlantW(L"Long", REG_SZ, std::wstring(1024, L'x'));
    EXPECT_EQ(Get(u"Fits"), Text(1023, u'x'));
    EXPECT_EQ(Get(u"Long"), u"<default>");
}

}  // namespace
}  // namespace qx
