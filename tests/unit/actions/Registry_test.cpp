#include "actions/Registry.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fakes/FakeFileSystem.h"
#include "fakes/FakePlatform.h"
#include "fakes/FakeRegistry.h"
#include "support/TestValues.h"

namespace qx {
namespace {

using test::Hex;

Bytes Dword(uint32_t v) {
    Bytes b;
    for (int i = 0; i < 4; ++i) b.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
    return b;
}

struct RegistryServices {
    fake::Window window;
    fake::Process process;
    fake::FakeFileSystem files;
    fake::Settings settings;
    fake::FakeRegistry registry;
    fake::UnusedHttp http;
    fake::Clock clock;
    fake::Random random;
    fake::CodePage codepage;
    Platform platform{window, process, files, settings, registry, http, clock, random, codepage};
};

class RegistryTest : public testing::Test {
protected:
    void TearDown() override {
        EXPECT_EQ(s.registry.OpenHandles(), 0u) << "keys left open after the test";
        EXPECT_EQ(s.registry.opens, s.registry.closes) << "opened and closed keys differ";
        EXPECT_EQ(s.registry.badCloses, 0) << "closed a handle that was not open";
        EXPECT_EQ(s.registry.invalidHandleUses, 0) << "used a handle that was not open";
    }

    bool Set(const Text& path, const Text& value) { return SetRegValue(s.platform, path, value); }
    Text Get(const Text& path, const Text& def = u"<default>") { return GetRegValue(s.platform, path, def); }
    bool Delete(const Text& path) { return DeleteRegEntry(s.platform, path); }

    const fake::FakeRegistry::Value* Value(const Bytes& key, const Bytes& name, RegKey root = reg::kCurrentUser) {
        return s.registry.FindValue(root, key, name);
    }

    // The number of the error a call raised, or 0.
    template <typename F>
    static int32_t RaisedNumber(F&& call) {
        try {
            call();
        } catch (const QxError& e) {
            return e.Number();
        }
        return 0;
    }

    RegistryServices s;
    FrmUpdate form{s.platform};
};

// ---- paths ----------------------------------------------------------------

TEST_F(RegistryTest, PathEndingInBackslashWritesTheKeyOnlyAndDeletesTheKey) {
    for (const Text value : {u"text", u"dword:5", u"hex:0A"}) {
        EXPECT_TRUE(Set(u"HKCU\\Software\\A\\B\\", value)) << ToUtf8(value);
    }
    const auto* b = s.registry.FindKey(reg::kCurrentUser, "Software\\A\\B");
    ASSERT_NE(b, nullptr) << "key Software\\A\\B was not created";
    EXPECT_TRUE(b->values.empty()) << "a key-only path wrote " << b->values.size() << " values";
    EXPECT_EQ(s.registry.setCalls, 0);

    EXPECT_TRUE(Delete(u"HKCU\\Software\\A\\B\\"));
    EXPECT_EQ(s.registry.FindKey(reg::kCurrentUser, "Software\\A\\B"), nullptr) << "key B still there";
    EXPECT_NE(s.registry.FindKey(reg::kCurrentUser, "Software\\A"), nullptr) << "the parent went too";
}

TEST_F(RegistryTest, PathWithoutFinalBackslashDeletesTheValueNotTheKey) {
    s.registry.Put(reg::kCurrentUser, "Software\\A", "B", reg::kSz, Bytes("v\0", 2));
    s.registry.AddKey(reg::kCurrentUser, "Software\\A\\B");
    EXPECT_TRUE(Delete(u"HKCU\\Software\\A\\B"));
    EXPECT_EQ(Value("Software\\A", "B"), nullptr) << "value B was not deleted";
    EXPECT_NE(s.registry.FindKey(reg::kCurrentUser, "Software\\A\\B"), nullptr) << "key B was deleted";
    EXPECT_FALSE(Delete(u"HKCU\\Software\\A\\B")) << "deleting a missing value reported success";
    EXPECT_FALSE(Delete(u"HKCU\\Software\\Missing\\B")) << "deleting from a missing key reported success";
}

TEST_F(RegistryTest, AtSignIsTheDefaultValueOnWriteOnly) {
    EXPECT_TRUE(Set(u"HKCU\\Software\\A\\@", u"def"));
    const auto* def = Value("Software\\A", "");
    ASSERT_NE(def, nullptr) << "the default value was not written";
    EXPECT_EQ(Hex(def->data), Hex(Bytes("def\0", 4)));
    EXPECT_EQ(Value("Software\\A", "@"), nullptr) << "a value named @ was written";

    // Reading and deleting take "@" literally.
    s.registry.Put(reg::kCurrentUser, "Software\\A", "@", reg::kSz, Bytes("lit\0", 4));
    EXPECT_EQ(Get(u"HKCU\\Software\\A\\@"), u"lit");
    EXPECT_TRUE(Delete(u"HKCU\\Software\\A\\@"));
    EXPECT_EQ(Value("Software\\A", "@"), nullptr) << "the value named @ survived";
    EXPECT_NE(Value("Software\\A", ""), nullptr) << "the default value was deleted instead";
}

TEST_F(RegistryTest, PathWithOneBackslashWritesDirectlyUnderTheRoot) {
    EXPECT_TRUE(Set(u"HKCU\\Name", u"v"));
    const auto* v = Value("", "Name");
    ASSERT_NE(v, nullptr) << "value not written under the root";
    EXPECT_EQ(v->type, reg::kSz);
    EXPECT_EQ(s.registry.opens, 0) << "a root needs no key of its own";
}

TEST_F(RegistryTest, MalformedPathsRaise) {
    EXPECT_EQ(RaisedNumber([&] { Set(u"HKCU", u"v"); }), err::kInvalidCall);
    EXPECT_EQ(RaisedNumber([&] { Get(u"HKCU"); }), err::kInvalidCall);
    EXPECT_EQ(RaisedNumber([&] { Get(u"HKCU\\Name"); }), err::kInvalidCall);
    EXPECT_EQ(RaisedNumber([&] { Delete(u"HKCU"); }), err::kInvalidCall);
    EXPECT_EQ(RaisedNumber([&] { Delete(u"HKCU\\Name"); }), err::kInvalidCall);
}

// ---- roots ----------------------------------------------------------------

TEST(RegistryRoots, NamesInAnyCaseAndTheThreeShortForms) {
    struct Case {
        const char16_t* name;
        RegKey expected;
    };
    const Case cases[] = {
        {u"HKEY_CLASSES_ROOT", reg::kClassesRoot},  {u"HKCR", reg::kClassesRoot},
        {u"HKEY_CURRENT_USER", reg::kCurrentUser},  {u"HKCU", reg::kCurrentUser},
        {u"hkcu", reg::kCurrentUser},               {u"Hkey_Current_User", reg::kCurrentUser},
        {u"HKEY_LOCAL_MACHINE", reg::kLocalMachine}, {u"hklm", reg::kLocalMachine},
        {u"HKEY_USERS", reg::kUsers},               {u"hkey_users", reg::kUsers},
        {u"HKEY_PERFORMANCE_DATA", reg::kPerformanceData},
        {u"HKEY_CURRENT_CONFIG", reg::kCurrentConfig},
        {u"HKEY_DYN_DATA", reg::kDynData},
        {u"HKU", 0},  {u"HKCC", 0},  {u"HKPD", 0},  {u"HKDD", 0},
        {u"", 0},     {u" HKCU", 0}, {u"HKCU ", 0}, {u"HKEY_CURRENT", 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(GetRootKey(c.name), c.expected) << "root name [" << ToUtf8(c.name) << "]";
    }
}

TEST_F(RegistryTest, LowerCaseRootSelectsTheCurrentUser) {
    EXPECT_TRUE(Set(u"hkcu\\Software\\A\\V", u"x"));
    EXPECT_NE(Value("Software\\A", "V"), nullptr);
    EXPECT_EQ(Get(u"hkey_current_user\\Software\\A\\V"), u"x");
}

TEST_F(RegistryTest, UnknownRootHasNoEffectAndReadsTheDefault) {
    EXPECT_FALSE(Set(u"HKXX\\Software\\A\\V", u"x"));
    EXPECT_FALSE(Set(u"HKXX\\Software\\A\\", u"x"));
    EXPECT_FALSE(Delete(u"HKXX\\Software\\A\\V"));
    EXPECT_EQ(Get(u"HKXX\\Software\\A\\V"), u"<default>");
    EXPECT_EQ(s.registry.opens, 0);
    EXPECT_EQ(s.registry.setCalls, 0);
}

// ---- value texts ----------------------------------------------------------

struct WriteCase {
    const char16_t* value;
    uint32_t type;
    Bytes data;
};

TEST_F(RegistryTest, ValueTextChoosesTypeAndData) {
    const WriteCase cases[] = {
        // Binary: pairs of digits, the count rounded half to even.
        {u"hex:0A0b", reg::kBinary, Bytes("\x0A\x0B", 2)},
        {u"HEX:0A0b", reg::kBinary, Bytes("\x0A\x0B", 2)},
        {u"Hex:ff", reg::kBinary, Bytes("\xFF", 1)},
        {u"hex:0A,0B", reg::kBinary, Bytes("\x0A\x00", 2)},
        {u"hex:", reg::kBinary, Bytes()},
        {u"hex:1", reg::kBinary, Bytes()},
        {u"hex:abc", reg::kBinary, Bytes("\xAB\x0C", 2)},
        {u"hex:abcde", reg::kBinary, Bytes("\xAB\xCD", 2)},
        {u"hex:abcdefa", reg::kBinary, Bytes("\xAB\xCD\xEF\x0A", 4)},
        {u"hex:zz12", reg::kBinary, Bytes("\x00\x12", 2)},
        {u"hex:a z1", reg::kBinary, Bytes("\x0A\x00", 2)},
        // Numbers: decimal rounded half to even, hexadecimal as a bit pattern.
        {u"dword:10", reg::kDword, Dword(10)},
        {u"DWORD:7", reg::kDword, Dword(7)},
        {u"dword:00000010", reg::kDword, Dword(10)},
        {u"dword:&h10", reg::kDword, Dword(16)},
        {u"dword:&hFFFF", reg::kDword, Dword(0x0000FFFFu)},
        {u"dword:&h8000", reg::kDword, Dword(0x00008000u)},
        {u"dword:&hFFFFFFFF", reg::kDword, Dword(0xFFFFFFFFu)},
        {u"dword:&h12345678", reg::kDword, Dword(0x12345678u)},
        {u"dword:&o17", reg::kDword, Dword(15)},
        {u"dword:-1", reg::kDword, Dword(0xFFFFFFFFu)},
        {u"dword:2.5", reg::kDword, Dword(2)},
        {u"dword:3.5", reg::kDword, Dword(4)},
        {u"dword: 1 0", reg::kDword, Dword(10)},
        {u"dword:1e3", reg::kDword, Dword(1000)},
        {u"dword:abc", reg::kDword, Dword(0)},
        {u"dword:", reg::kDword, Dword(0)},
        {u"dword:2147483647", reg::kDword, Dword(0x7FFFFFFFu)},
        {u"dword:-2147483648", reg::kDword, Dword(0x80000000u)},
        // Anything else is a string with its terminating NUL.
        {u"hex", reg::kSz, Bytes("hex\0", 4)},
        {u"hexa", reg::kSz, Bytes("hexa\0", 5)},
        {u"dword 5", reg::kSz, Bytes("dword 5\0", 8)},
        {u" hex:0A", reg::kSz, Bytes(" hex:0A\0", 8)},
        {u"", reg::kSz, Bytes("\0", 1)},
        {u"caf\u00e9", reg::kSz, Bytes("caf\xE9\0", 5)},
    };
    for (const WriteCase& c : cases) {
        EXPECT_TRUE(Set(u"HKCU\\Software\\A\\V", c.value)) << "value text [" << ToUtf8(c.value) << "]";
        const auto* v = Value("Software\\A", "V");
        ASSERT_NE(v, nullptr) << "value text [" << ToUtf8(c.value) << "] wrote nothing";
        EXPECT_EQ(v->type, c.type) << "value text [" << ToUtf8(c.value) << "]";
        EXPECT_EQ(Hex(v->data), Hex(c.data)) << "value text [" << ToUtf8(c.value) << "]";
    }
}

TEST_F(RegistryTest, NumbersThatDoNotFit32BitsRaiseAndWriteNothing) {
    for (const Text value : {u"dword:4294967295", u"dword:2147483648", u"dword:-2147483649", u"dword:2147483647.5",
                             u"dword:&h100000000", u"dword:1e400"}) {
        EXPECT_EQ(RaisedNumber([&] { Set(u"HKCU\\Software\\A\\V", value); }), err::kOverflow) << ToUtf8(value);
        EXPECT_EQ(Value("Software\\A", "V"), nullptr) << ToUtf8(value) << " wrote a value";
    }
}

TEST_F(RegistryTest, BinaryValuesStopAt16384Bytes) {
    EXPECT_TRUE(Set(u"HKCU\\Software\\A\\Big", u"hex:" + Text(32768, u'7')));
    ASSERT_NE(Value("Software\\A", "Big"), nullptr);
    EXPECT_EQ(Value("Software\\A", "Big")->data, Bytes(16384, '\x77'));

    // 32769 digits are 16384.5 pairs, which rounds down to the even count.
    EXPECT_TRUE(Set(u"HKCU\\Software\\A\\Odd", u"hex:" + Text(32769, u'7')));
    ASSERT_NE(Value("Software\\A", "Odd"), nullptr);
    EXPECT_EQ(Value("Software\\A", "Odd")->data.size(), 16384u);

    // Too long: raised after the missing key was already created.
    EXPECT_EQ(RaisedNumber([&] { Set(u"HKCU\\Software\\New\\Big", u"hex:" + Text(32770, u'7')); }),
              err::kOverflow);
    const auto* created = s.registry.FindKey(reg::kCurrentUser, "Software\\New");
    ASSERT_NE(created, nullptr) << "the key is created before the text is checked";
    EXPECT_TRUE(created->values.empty());
}

// ---- reading --------------------------------------------------------------

TEST_F(RegistryTest, ReadingRendersByType) {
    struct Case {
        const char* name;
        uint32_t type;
        Bytes data;
        const char16_t* expected;
    };
    const Case cases[] = {
        {"Sz", reg::kSz, Bytes("abc\0def", 7), u"abc"},
        {"SzNoNul", reg::kSz, Bytes("abc"), u"abc"},
        {"Latin", reg::kSz, Bytes("caf\xE9\0", 5), u"caf\u00e9"},
        {"EmptySz", reg::kSz, Bytes(), u""},
        {"Ten", reg::kDword, Dword(10), u"10"},
        {"MinusOne", reg::kDword, Dword(0xFFFFFFFFu), u"-1"},
        {"Big", reg::kDword, Dword(0x80000000u), u"-2147483648"},
        {"Expand", 2, Bytes("%windir%\0", 9), u""},
        {"Binary", reg::kBinary, Bytes("\x41\x42", 2), u""},
        {"MultiSz", 7, Bytes("a\0b\0\0", 5), u""},
        {"Full", reg::kSz, Bytes(1023, 'x') + Bytes(1, '\0'), nullptr},
        {"Over", reg::kSz, Bytes(1024, 'x') + Bytes(1, '\0'), u"<default>"},
    };
    for (const Case& c : cases) s.registry.Put(reg::kCurrentUser, "Software\\R", c.name, c.type, c.data);
    for (const Case& c : cases) {
        const Text expected = c.expected != nullptr ? Text(c.expected) : Text(1023, u'x');
        const Text got = Get(u"HKCU\\Software\\R\\" + FromUtf8(c.name));
        EXPECT_EQ(got, expected) << "value " << c.name << ": expected [" << ToUtf8(expected).substr(0, 40)
                                 << "], got [" << ToUtf8(got).substr(0, 40) << "]";
    }
    EXPECT_EQ(Get(u"HKCU\\Software\\R\\Missing"), u"<default>");
    EXPECT_EQ(Get(u"HKCU\\Software\\Missing\\V"), u"<default>");
    EXPECT_EQ(Get(u"HKCU\\Software\\R\\Missing", u""), u"");
}

TEST_F(RegistryTest, QueryReportsWhetherTheValueWasRead) {
    s.registry.Put(reg::kCurrentUser, "Software\\R", "Expand", 2, Bytes("x\0", 2));
    Text out = u"stale";
    EXPECT_TRUE(QueryRegValue(s.registry, s.codepage, reg::kCurrentUser, u"Software\\R", u"Expand", out));
    EXPECT_EQ(out, u"");
    out = u"stale";
    EXPECT_FALSE(QueryRegValue(s.registry, s.codepage, reg::kCurrentUser, u"Software\\R", u"None", out));
    EXPECT_EQ(out, u"");
    out = u"stale";
    EXPECT_FALSE(QueryRegValue(s.registry, s.codepage, 0, u"Software\\R", u"Expand", out));
    EXPECT_EQ(out, u"");
}

TEST_F(RegistryTest, ReadingAKeyTheUserMayNotChangeWorks) {
    s.registry.Put(reg::kLocalMachine, "SOFTWARE\\Shell Folders", "Common Desktop", reg::kSz,
                   Bytes("C:\\Users\\Public\\Desktop\0", 24));
    s.registry.AddKey(reg::kLocalMachine, "SOFTWARE\\Shell Folders").readOnly = true;
    EXPECT_EQ(Get(u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Shell Folders\\Common Desktop"), u"C:\\Users\\Public\\Desktop");
    ASSERT_FALSE(s.registry.openExAccess.empty());
    for (uint32_t access : s.registry.openExAccess) EXPECT_EQ(access, reg::kKeyRead);

    // Writing there has no effect and raises nothing.
    EXPECT_FALSE(Set(u"HKLM\\SOFTWARE\\Shell Folders\\Common Desktop", u"D:\\"));
    EXPECT_EQ(Get(u"HKLM\\SOFTWARE\\Shell Folders\\Common Desktop"), u"C:\\Users\\Public\\Desktop");
}

TEST_F(RegistryTest, KeyWithSubKeysIsNotDeleted) {
    s.registry.AddKey(reg::kCurrentUser, "Software\\A\\B\\C");
    EXPECT_FALSE(Delete(u"HKCU\\Software\\A\\B\\"));
    EXPECT_NE(s.registry.FindKey(reg::kCurrentUser, "Software\\A\\B\\C"), nullptr);
}

// ---- script actions -------------------------------------------------------

TEST_F(RegistryTest, RegWriteAnnouncesTheKeyAndWrites) {
    DoRegWrite(form, u"HKCU\\Software\\A\\V", u"dword:5");
    ASSERT_EQ(s.window.list.size(), 1u);
    EXPECT_EQ(s.window.list[0], u"正在写注册表信息\"HKCU\\Software\\A\\V\"……");
    ASSERT_NE(Value("Software\\A", "V"), nullptr);
    EXPECT_EQ(Hex(Value("Software\\A", "V")->data), Hex(Dword(5)));
}

TEST_F(RegistryTest, RegWriteLogsFaultsOfTheTextAndGoesOn) {
    struct Case {
        const char16_t* key;
        const char16_t* value;
        const char16_t* logStart;
    };
    const Case cases[] = {
        {u"HKCU\\Software\\A\\V", u"dword:4294967295", u"写注册表信息\"HKCU\\Software\\A\\V\"错误6：溢出"},
        {u"HKCU\\Software\\A\\B", u"hex:" , nullptr},
        {u"HKCU", u"x", u"写注册表信息\"HKCU\"错误5："},
    };
    for (const Case& c : cases) {
        s.window.list.clear();
        ASSERT_NO_THROW(DoRegWrite(form, c.key, c.value)) << ToUtf8(c.key);
        const size_t lines = c.logStart == nullptr ? 1u : 2u;
        ASSERT_EQ(s.window.list.size(), lines) << ToUtf8(c.key) << " " << ToUtf8(c.value);
        EXPECT_EQ(s.window.list[0], u"正在写注册表信息\"" + Text(c.key) + u"\"……");
        if (c.logStart != nullptr) {
            const Text start = c.logStart;
            EXPECT_EQ(s.window.list[1].substr(0, start.size()), start)
                << "log line was [" << ToUtf8(s.window.list[1]) << "]";
        }
        EXPECT_EQ(form.Err.number, 0) << "the pending error was not cleared";
    }
}

TEST_F(RegistryTest, RegDeleteAnnouncesTheKeyAndLetsPathFaultsThrough) {
    s.registry.Put(reg::kCurrentUser, "Software\\A", "V", reg::kSz, Bytes("x\0", 2));
    DoRegDelete(form, u"HKCU\\Software\\A\\V");
    ASSERT_EQ(s.window.list.size(), 1u);
    EXPECT_EQ(s.window.list[0], u"正在删除注册表信息\"HKCU\\Software\\A\\V\"……");
    EXPECT_EQ(Value("Software\\A", "V"), nullptr);

    s.window.list.clear();
    EXPECT_EQ(RaisedNumber([&] { DoRegDelete(form, u"HKCU\\V"); }), err::kInvalidCall);
    ASSERT_EQ(s.window.list.size(), 1u) << "the announcement comes before the fault, and nothing else";
    EXPECT_EQ(s.window.list[0], u"正在删除注册表信息\"HKCU\\V\"……");
}

}  // namespace
}  // namespace qx
