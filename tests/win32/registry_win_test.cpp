// The settings store and the registry pass-through, checked against what
// Windows' own wide registry functions see.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <vector>

#include "platform/win32/handles_win.h"
#include "platform/win32/registry_win.h"
#include "platform/win32/settings_win.h"
#include "support/TestValues.h"

namespace qx {
namespace {

const wchar_t* Wide(const Text& text) { return reinterpret_cast<const wchar_t*>(text.c_str()); }

using test::Hex;

const char16_t kTestApp[] = u"QXUpdatePlatformTest";
const wchar_t kTestAppKey[] = L"Software\\VB and VBA Program Settings\\QXUpdatePlatformTest";

// Reads a value the way any other program would, bypassing the store.
bool ReadRawValue(const Text& keyPath, const Text& name, DWORD& type, std::vector<BYTE>& data) {
    UniqueRegKey key;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, Wide(keyPath), 0, KEY_QUERY_VALUE, key.Receive()) != ERROR_SUCCESS) {
        return false;
    }
    DWORD size = 0;
    if (::RegQueryValueExW(key.Get(), Wide(name), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return false;
    data.assign(size, 0);
    return ::RegQueryValueExW(key.Get(), Wide(name), nullptr, &type, data.data(), &size) == ERROR_SUCCESS;
}

bool KeyExists(const Text& keyPath) {
    UniqueRegKey key;
    return ::RegOpenKeyExW(HKEY_CURRENT_USER, Wide(keyPath), 0, KEY_QUERY_VALUE, key.Receive()) == ERROR_SUCCESS;
}

class Win32SettingsStoreTest : public testing::Test {
protected:
    void SetUp() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestAppKey); }
    void TearDown() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, kTestAppKey); }

    // Writes a value of any type straight into a section, as another
    // program might have left it.
    void PlantValue(const Text& section, const Text& name, DWORD type, const void* data, DWORD size) {
        UniqueRegKey key;
        ASSERT_EQ(::RegCreateKeyExW(HKEY_CURRENT_USER, Wide(SettingsSectionPath(kTestApp, section)), 0, nullptr, 0,
                                    KEY_SET_VALUE, nullptr, key.Receive(), nullptr),
                  ERROR_SUCCESS);
        ASSERT_EQ(::RegSetValueExW(key.Get(), Wide(name), 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
    }

    Win32SettingsStore store_;
};

TEST_F(Win32SettingsStoreTest, RoundTripsTexts) {
    const std::vector<Text> values = {u"0123456789ABCDEF0123456789ABCDEF", u"c:\\qxwork\\在线升级", u"",
                                      Text(5000, u'长')};
    for (const Text& value : values) {
        store_.SaveSetting(kTestApp, u"Update", u"Tag", value);
        const Text got = store_.GetSetting(kTestApp, u"Update", u"Tag", u"<default>");
        EXPECT_EQ(got, value) << "saved a text of " << value.size() << " characters, read back ["
                              << ToUtf8(got.substr(0, 80)) << "] of " << got.size();
    }
}

TEST_F(Win32SettingsStoreTest, ValueLandsInTheSharedSettingsArea) {
    store_.SaveSetting(kTestApp, u"System", u"Version", u"2024-05-01 升级");
    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_TRUE(ReadRawValue(u"Software\\VB and VBA Program Settings\\QXUpdatePlatformTest\\System", u"Version", type, data))
        << "no value at HKCU\\Software\\VB and VBA Program Settings\\QXUpdatePlatformTest\\System, Version";
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    const Text expected = u"2024-05-01 升级";
    ASSERT_EQ(data.size(), (expected.size() + 1) * 2) << "the stored string must carry its terminator";
    const Text stored(reinterpret_cast<const char16_t*>(data.data()), expected.size() + 1);
    EXPECT_EQ(stored, expected + Text(1, u'\0'));
}

TEST_F(Win32SettingsStoreTest, MissingOrForeignValuesGiveTheDefault) {
    store_.SaveSetting(kTestApp, u"Update", u"Present", u"x");
    const DWORD number = 7;
    PlantValue(u"Update", u"Number", REG_DWORD, &number, sizeof number);
    struct Case {
        const char* label;
        Text app;
        Text section;
        Text key;
    };
    const std::vector<Case> cases = {
        {"missing key", kTestApp, u"Update", u"Absent"},
        {"missing section", kTestApp, u"Nowhere", u"Present"},
        {"missing application", u"QXUpdatePlatformTestNoSuchApp", u"Update", u"Present"},
        {"value that is not a string", kTestApp, u"Update", u"Number"},
        {"empty section", kTestApp, u"", u"Present"},
    };
    for (const Case& c : cases) {
        const Text got = store_.GetSetting(c.app, c.section, c.key, u"默认");
        EXPECT_EQ(got, u"默认") << c.label << ": got [" << ToUtf8(got) << "]";
    }
}

TEST_F(Win32SettingsStoreTest, ValueWithoutTerminatorIsReadWhole) {
    const Text text = u"abc升级";
    PlantValue(u"Update", u"Bare", REG_SZ, text.data(), static_cast<DWORD>(text.size() * 2));
    const Text got = store_.GetSetting(kTestApp, u"Update", u"Bare", u"<default>");
    EXPECT_EQ(got, text) << "got [" << ToUtf8(got) << "]";
}

TEST_F(Win32SettingsStoreTest, DeleteOneKeyOrTheWholeSection) {
    store_.SaveSetting(kTestApp, u"Update", u"A", u"1");
    store_.SaveSetting(kTestApp, u"Update", u"B", u"2");
    store_.SaveSetting(kTestApp, u"System", u"Version", u"3");

    store_.DeleteSetting(kTestApp, u"Update", u"A");
    EXPECT_EQ(store_.GetSetting(kTestApp, u"Update", u"A", u"gone"), u"gone");
    EXPECT_EQ(store_.GetSetting(kTestApp, u"Update", u"B", u"gone"), u"2") << "a neighbour key was deleted too";

    store_.DeleteSetting(kTestApp, u"Update", u"");
    EXPECT_FALSE(KeyExists(SettingsSectionPath(kTestApp, u"Update"))) << "the section key is still there";
    EXPECT_EQ(store_.GetSetting(kTestApp, u"System", u"Version", u"gone"), u"3")
        << "deleting one section touched another";
}

TEST_F(Win32SettingsStoreTest, DeletingWhatIsMissingRaisesNothing) {
    store_.SaveSetting(kTestApp, u"System", u"Version", u"3");
    EXPECT_NO_THROW(store_.DeleteSetting(kTestApp, u"System", u"Absent"));
    EXPECT_NO_THROW(store_.DeleteSetting(kTestApp, u"Nowhere", u"Absent"));
    EXPECT_NO_THROW(store_.DeleteSetting(kTestApp, u"Nowhere", u""));
    EXPECT_NO_THROW(store_.DeleteSetting(u"QXUpdatePlatformTestNoSuchApp", u"Nowhere", u""));
    // An empty section must not be taken for the application's own key.
    EXPECT_NO_THROW(store_.DeleteSetting(kTestApp, u"", u""));
    EXPECT_EQ(store_.GetSetting(kTestApp, u"System", u"Version", u"gone"), u"3");
}

TEST_F(Win32SettingsStoreTest, SavingWithoutANameRaises) {
    const std::vector<std::vector<Text>> cases = {
        {u"", u"Update", u"Tag"}, {kTestApp, u"", u"Tag"}, {kTestApp, u"Update", u""}};
    for (const auto& c : cases) {
        try {
            store_.SaveSetting(c[0], c[1], c[2], u"v");
            ADD_FAILURE() << "expected error 5 for app [" << ToUtf8(c[0]) << "] section [" << ToUtf8(c[1])
                          << "] key [" << ToUtf8(c[2]) << "]";
        } catch (const QxError& e) {
            EXPECT_EQ(e.Number(), err::kInvalidCall);
        }
    }
}

// Other tests use sibling keys below Software\QXUpdateTest; this one is ours.
const char kRegTestKey[] = "Software\\QXUpdateTest\\Api";

class Win32RegistryApiTest : public testing::Test {
protected:
    void SetUp() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\QXUpdateTest\\Api"); }
    void TearDown() override { ::RegDeleteTreeW(HKEY_CURRENT_USER, L"Software\\QXUpdateTest\\Api"); }

    Win32RegistryApi api_;
};

TEST_F(Win32RegistryApiTest, WritesAndReadsEachValueType) {
    RegKey key = 0;
    ASSERT_EQ(api_.CreateKey(reg::kCurrentUser, Bytes(kRegTestKey) + "\\Values", key), reg::kSuccess);
    ASSERT_NE(key, 0u);
    struct Case {
        const char* label;
        Bytes name;
        uint32_t type;
        Bytes data;
    };
    const std::vector<Case> cases = {
        {"string", "Text", reg::kSz, Bytes("hello\0", 6)},
        {"default value", "", reg::kSz, Bytes("default\0", 8)},
        {"number", "Number", reg::kDword, Bytes("\x78\x56\x34\x12", 4)},
        {"binary", "Blob", reg::kBinary, Bytes("\x00\xFF\x10\x0A", 4)},
        {"empty binary", "Nothing", reg::kBinary, Bytes()},
        {"long binary", "Long", reg::kBinary, Bytes(5000, '\x5A')},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(api_.SetValueEx(key, c.name, c.type, c.data), reg::kSuccess) << c.label;
    }
    for (const Case& c : cases) {
        uint32_t type = 99;
        Bytes data = "stale";
        EXPECT_EQ(api_.QueryValueEx(key, c.name, type, data), reg::kSuccess) << c.label;
        EXPECT_EQ(type, c.type) << c.label;
        EXPECT_EQ(data.size(), c.data.size()) << c.label;
        EXPECT_EQ(Hex(data.substr(0, 32)), Hex(c.data.substr(0, 32))) << c.label;
        EXPECT_EQ(data, c.data) << c.label << ": the data differs past the first 32 bytes";
    }
    EXPECT_EQ(api_.CloseKey(key), reg::kSuccess);
}

TEST_F(Win32RegistryApiTest, StringDataPassesThroughTheAnsiCodePage) {
    if (::GetACP() != 936) GTEST_SKIP() << "the machine code page is " << ::GetACP() << ", not 936";
    RegKey key = 0;
    ASSERT_EQ(api_.CreateKey(reg::kCurrentUser, kRegTestKey, key), reg::kSuccess);
    const Bytes gbk("\xC9\xFD\xBC\xB6\0", 5);  // 升级
    ASSERT_EQ(api_.SetValueEx(key, "\xC3\xFB", reg::kSz, gbk), reg::kSuccess);  // value named 名
    api_.CloseKey(key);

    DWORD type = 0;
    std::vector<BYTE> data;
    ASSERT_TRUE(ReadRawValue(u"Software\\QXUpdateTest\\Api", u"名", type, data)) << "the value name was not stored as 名";
    ASSERT_EQ(data.size(), 6u);
    EXPECT_EQ(Text(reinterpret_cast<const char16_t*>(data.data()), 2), u"升级");

    RegKey again = 0;
    ASSERT_EQ(api_.OpenKeyEx(reg::kCurrentUser, kRegTestKey, reg::kKeyRead, again), reg::kSuccess);
    uint32_t readType = 0;
    Bytes readBack;
    EXPECT_EQ(api_.QueryValueEx(again, "\xC3\xFB", readType, readBack), reg::kSuccess);
    EXPECT_EQ(Hex(readBack), Hex(gbk));
    api_.CloseKey(again);
}

TEST_F(Win32RegistryApiTest, DeletesValuesAndKeys) {
    RegKey key = 0;
    ASSERT_EQ(api_.CreateKey(reg::kCurrentUser, Bytes(kRegTestKey) + "\\Doomed", key), reg::kSuccess);
    ASSERT_EQ(api_.SetValueEx(key, "V", reg::kDword, Bytes("\1\0\0\0", 4)), reg::kSuccess);
    EXPECT_EQ(api_.DeleteValue(key, "V"), reg::kSuccess);
    uint32_t type = 0;
    Bytes data = "stale";
    EXPECT_EQ(api_.QueryValueEx(key, "V", type, data), static_cast<long>(ERROR_FILE_NOT_FOUND));
    EXPECT_TRUE(data.empty()) << "a failed read left data [" << Hex(data) << "]";
    EXPECT_NE(api_.DeleteValue(key, "V"), reg::kSuccess) << "deleting a missing value reported success";
    api_.CloseKey(key);

    RegKey parent = 0;
    ASSERT_EQ(api_.OpenKey(reg::kCurrentUser, kRegTestKey, parent), reg::kSuccess);
    EXPECT_EQ(api_.DeleteKey(parent, "Doomed"), reg::kSuccess);
    api_.CloseKey(parent);
    RegKey gone = 12345;
    EXPECT_EQ(api_.OpenKey(reg::kCurrentUser, Bytes(kRegTestKey) + "\\Doomed", gone),
              static_cast<long>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(gone, 0u) << "a failed open must leave no key";
}

TEST_F(Win32RegistryApiTest, FailedOpenLeavesNoKey) {
    RegKey key = 12345;
    EXPECT_NE(api_.OpenKeyEx(reg::kCurrentUser, Bytes(kRegTestKey) + "\\Missing", reg::kKeyRead, key),
              reg::kSuccess);
    EXPECT_EQ(key, 0u);
    key = 12345;
    EXPECT_NE(api_.OpenKey(0, "Software", key), reg::kSuccess) << "an unknown root must fail";
    EXPECT_EQ(key, 0u);
}

TEST_F(Win32RegistryApiTest, ClosingARootKeepsItUsable) {
    EXPECT_EQ(api_.CloseKey(reg::kCurrentUser), reg::kSuccess);
    RegKey key = 0;
    EXPECT_EQ(api_.CreateKey(reg::kCurrentUser, kRegTestKey, key), reg::kSuccess)
        << "HKEY_CURRENT_USER stopped working after CloseKey";
    api_.CloseKey(key);
}

}  // namespace
}  // namespace qx
