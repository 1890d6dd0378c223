// The file, program, registry and hosts actions, each reached through its
// script line.
#include <functional>

#include "actions/HostsFile.h"
#include "actions/Registry.h"
#include "fakes/FormFixture.h"

namespace qx::fake {
namespace {

using Arrange = std::function<void(Machine&)>;
using Check = Arrange;

struct LineCase {
    const char* name;
    Arrange arrange;
    Text line;
    std::string log;  // after the line's own announcement
    Check check;
    bool goesOn = true;
};

const Arrange kNothing = [](Machine&) {};
const Text kHosts = u"c:\\windows\\hosts";
const Bytes kHostsText = "127.0.0.1 localhost\r\n5.6.7.8 a.com\r\n";

Check Contents(const Text& path, const Bytes& expected) {
    return [=](Machine& m) { EXPECT_EQ(m.s.files.Find(path) ? m.s.files.Contents(path) : "(none)", expected); };
}
Check Started(const Text& command, int style) {
    return [=](Machine& m) { EXPECT_EQ(m.s.process.started, (std::vector<std::pair<Text, int>>{{command, style}})); };
}
Check RegValue(const Bytes& key, const Bytes& name, uint32_t type, const Bytes& data) {
    return [=](Machine& m) {
        const FakeRegistry::Value* v = m.s.registry.FindValue(reg::kCurrentUser, key, name);
        EXPECT_TRUE(v && v->type == type && v->data == data);
    };
}
Arrange File(const Text& path, const Bytes& data = "old", uint32_t attributes = attr::kArchive) {
    return [=](Machine& m) { m.s.files.AddFile(path, data, attributes); };
}
Arrange Hosts(uint32_t attributes = attr::kArchive) { return File(kHosts, kHostsText, attributes); }

const LineCase kLines[] = {
    {"copy a bare name", File(u"c:\\work\\temp\\a.txt", "new"), u"copy,a.txt", "", Contents(u"c:\\work\\a.txt", "new")},
    {"copy over a file", [](Machine& m) { File(u"c:\\s\\a.txt", "new")(m), File(u"c:\\work\\b.txt")(m); },
     u"copy,c:\\s\\a.txt,b.txt", "", Contents(u"c:\\work\\b.txt", "new")},
    {"copy keeps a hidden file", [](Machine& m) { File(u"c:\\s\\a.txt", "new")(m), File(u"c:\\d\\b", "old", attr::kHidden)(m); },
     u"copy,c:\\s\\a.txt,c:\\d\\b,false", "", Contents(u"c:\\d\\b", "old")},
    {"copy of a missing file", kNothing, u"copy,a.txt",
     "|复制文件\"c:\\work\\temp\\a.txt\"错误53：文件未找到c:\\work\\temp\\a.txt", Contents(u"c:\\work\\a.txt", "(none)")},
    {"delete a read-only file", File(u"c:\\work\\x", "x", attr::kReadOnly), u"delete,x", "", Contents(u"c:\\work\\x", "(none)")},
    {"delete a folder", [](Machine& m) { m.s.files.AddDir(u"c:\\work\\sub"), m.s.files.SetAttributes(u"c:\\work\\sub", attr::kHidden); },
     u"delete,c:\\work\\sub", "|删除文件\"c:\\work\\sub\"错误75：删除文件\"c:\\work\\sub\"失败：这是一个文件夹",
     [](Machine& m) { EXPECT_EQ(m.s.files.GetAttributes(u"c:\\work\\sub"), attr::kHidden | attr::kDirectory); }},
    {"delete a missing file", kNothing, u"delete,x", "|删除文件\"c:\\work\\x\"错误53：文件未找到c:\\work\\x", kNothing},
    {"checkwritable of a free file", File(u"c:\\work\\x"), u"checkwritable,x", "", kNothing},
    {"checkwritable of a held file", [](Machine& m) { m.s.files.AddFile(u"c:\\work\\x").locked = true; }, u"checkwritable,x",
     "|文件\"c:\\work\\x\"已打开，升级无法继续。\r\n请关闭相关的应用程序后再试。",
     [](Machine& m) { EXPECT_EQ(m.s.window.boxes.at(0), std::make_tuple(Text(m.s.window.list[1]), 16, Text(u"在线升级程序"))); },
     false},
    {"execute from the system folder", File(u"c:\\windows\\system32\\np.exe"), u"execute,np.exe a,2.7", "",
     Started(u"c:\\windows\\system32\\np.exe a", 2)},
    {"execute from the work folder first",
     [](Machine& m) { File(u"c:\\work\\np.exe")(m), File(u"c:\\windows\\np.exe")(m); }, u"execute,\"np.exe\" a,6", "",
     Started(u"c:\\work\\\"np.exe\" a", 6)},
    {"execute of a program nowhere", kNothing, u"execute,np.exe,0", "", Started(u"c:\\work\\np.exe", 0)},
    {"execute with a path", kNothing, u"execute,d:\\np.exe,3", "", Started(u"d:\\np.exe", 3)},
    {"execute with an unknown style", kNothing, u"execute,d:\\np.exe,5",
     "|执行程序\"d:\\np.exe\"错误5：无效的窗口样式：5", [](Machine& m) { EXPECT_TRUE(m.s.process.started.empty()); }},
    {"execute that fails", [](Machine& m) { m.s.process.fails = true; }, u"execute,d:\\np.exe,1",
     "|执行程序\"d:\\np.exe\"错误53：文件未找到", kNothing},
    {"register", kNothing, u"register,x.dll", "", Started(u"regsvr32 /s \"c:\\work\\x.dll\"", 0)},
    {"keypress", kNothing, u"keypress,ab", "", [](Machine& m) { EXPECT_EQ(m.s.process.keysSent.at(0).size(), 2u); }},
    {"keypress malformed", kNothing, u"keypress,{", "|执行模拟按键\"{\"错误5：按键序列有误：花括号“{”没有闭合",
     [](Machine& m) { EXPECT_TRUE(m.s.process.keysSent.empty()); }},
    {"regwrite a number", kNothing, u"regwrite,HKCU\\Software\\A\\V,dword:10", "",
     RegValue("software\\a", "v", reg::kDword, Bytes("\x0A\0\0\0", 4))},
    {"regwrite a string", kNothing, u"regwrite,HKEY_CURRENT_USER\\S\\@,x", "", RegValue("s", "", reg::kSz, Bytes("x\0", 2))},
    {"regwrite under the root", kNothing, u"regwrite,hkcu\\V,hex:0a0B", "", [](Machine& m) {
         EXPECT_EQ(m.s.registry.keys[FakeRegistry::Path(reg::kCurrentUser, "")]["v"].data, "\x0A\x0B");
     }},
    {"regwrite a key", kNothing, u"regwrite,HKCU\\S\\K\\", "", [](Machine& m) {
         EXPECT_EQ(m.s.registry.keys.count(FakeRegistry::Path(reg::kCurrentUser, "s\\k")), 1u);
     }},
    {"regwrite a read-only key", [](Machine& m) { m.s.registry.readOnly.insert(FakeRegistry::Path(reg::kCurrentUser, "s")); },
     u"regwrite,HKCU\\S\\V,x", "", [](Machine& m) { EXPECT_EQ(m.s.registry.FindValue(reg::kCurrentUser, "s", "v"), nullptr); }},
    {"regwrite without a path", kNothing, u"regwrite,HKCU,x", "|写注册表信息\"HKCU\"错误5：注册表路径\"HKCU\"不完整",
     kNothing},
    {"regwrite too large a number", kNothing, u"regwrite,HKCU\\S\\V,dword:2147483648", "|写注册表信息\"HKCU\\S\\V\"错误6：溢出",
     [](Machine& m) { EXPECT_EQ(m.s.registry.FindValue(reg::kCurrentUser, "s", "v"), nullptr); }},
    {"regdelete a value",
     [](Machine& m) { m.s.registry.Put(reg::kLocalMachine, "s", "v", reg::kSz, "x"), m.s.registry.Put(reg::kLocalMachine, "s", "w", reg::kSz, "x"); },
     u"regdelete,HKLM\\S\\V", "", [](Machine& m) {
         EXPECT_EQ(m.s.registry.FindValue(reg::kLocalMachine, "s", "v"), nullptr);
         EXPECT_NE(m.s.registry.FindValue(reg::kLocalMachine, "s", "w"), nullptr);
     }},
    {"regdelete a key", [](Machine& m) { m.s.registry.Put(reg::kClassesRoot, "s\\k", "v", reg::kSz, "x"); },
     u"regdelete,HKCR\\S\\K\\", "", [](Machine& m) { EXPECT_TRUE(m.s.registry.keys.empty()); }},
    {"regdelete under an unknown root", kNothing, u"regdelete,HKXX\\S\\V", "", kNothing},
    {"hostsadd", Hosts(), u"hostsadd,a.com,1.2.3.4", "", Contents(kHosts, "127.0.0.1 localhost\r\n#5.6.7.8 a.com\r\n1.2.3.4\ta.com\r\n")},
    {"hostsadd of a present entry", File(kHosts, "1.2.3.4 A.com"), u"hostsadd,a.COM,1.2.3.4", "", Contents(kHosts, "1.2.3.4\ta.COM\r\n")},
    {"hostsadd to a read-only file", Hosts(attr::kReadOnly), u"hostsadd,b.com,1.2.3.4", "", [](Machine& m) {
         Contents(kHosts, kHostsText + "1.2.3.4\tb.com\r\n")(m);
         EXPECT_EQ(m.s.files.GetAttributes(kHosts), attr::kNormal);
     }},
    {"hostsadd of a blank name", Hosts(), u"hostsadd,a b,1.2.3.4",
     "|添加DNS记录\"a b\"失败：主机名为空或含有空格、制表符、\"#\"，hosts文件没有改动", Contents(kHosts, kHostsText)},
    {"hostsremove", Hosts(), u"hostsremove,A.com", "", Contents(kHosts, "127.0.0.1 localhost\r\n")},
    {"hostsremove from a read-only file", Hosts(attr::kReadOnly), u"hostsremove,a.com", "", Contents(kHosts, kHostsText)},
    {"hostsremove of an empty name", Hosts(), u"hostsremove,",
     "|删除DNS记录\"\"失败：主机名为空或含有空格、制表符、\"#\"，hosts文件没有改动", Contents(kHosts, kHostsText)},
    {"hostsremove without a file", kNothing, u"hostsremove,a.com", "", Contents(kHosts, "(none)")},
};

TEST(ActionLines, Table) {
    for (const LineCase& c : kLines) {
        Machine m;
        c.arrange(m);
        EXPECT_EQ(m.Run(c.line), c.goesOn) << c.name;
        const std::string log = m.Log();
        EXPECT_EQ(log.substr(std::min(log.size(), log.find('|'))), c.log) << c.name;
        c.check(m);
        EXPECT_EQ(m.s.window.boxes.size(), c.goesOn ? 0u : 1u) << c.name;
        EXPECT_TRUE(m.s.registry.open.empty()) << c.name << ": a registry key left open";
    }
}

TEST(RegistryValues, TextChoosesTypeAndData) {
    const std::tuple<Text, uint32_t, Bytes> cases[] = {
        {u"hex:0A0b", reg::kBinary, "\x0A\x0B"},   {u"HEX:abc", reg::kBinary, "\xAB\x0C"},
        {u"hex:1", reg::kBinary, ""},              {u"hex:abcde", reg::kBinary, "\xAB\xCD"},
        {u"Dword:&hFFFF", reg::kDword, Bytes("\xFF\xFF\0\0", 4)},
        {u"dword:-1", reg::kDword, "\xFF\xFF\xFF\xFF"}, {u"dword:2.5", reg::kDword, Bytes("\x02\0\0\0", 4)},
        {u"hexa", reg::kSz, ""},                    {u" hex:0A", reg::kSz, ""},
    };
    for (const auto& [text, type, data] : cases) {
        Text payload;
        EXPECT_EQ(RegValueType(text, &payload), type) << ToUtf8(text);
        if (type != reg::kSz) EXPECT_EQ(type == reg::kDword ? RegDwordData(payload) : RegBinaryData(payload), data);
    }
    EXPECT_EQ(RegBinaryData(Text(32768, u'7')), Bytes(16384, '\x77'));
    EXPECT_THROW(RegBinaryData(Text(32770, u'7')), QxError);
}

TEST(RegistryValues, ReadingRendersByTypeOrGivesTheDefault) {
    FakeRegistry r;
    CodePage cp;
    r.Put(reg::kUsers, "k", "sz", reg::kSz, Bytes("ab\0cd", 5));
    r.Put(reg::kUsers, "k", "dw", reg::kDword, Bytes("\xFE\xFF\xFF\xFF", 4));
    r.Put(reg::kUsers, "k", "bin", reg::kBinary, "\x01");
    r.Put(reg::kUsers, "k", "big", reg::kSz, Bytes(1025, 'x'));
    r.Put(reg::kUsers, "k", "full", reg::kSz, Bytes(1024, 'x'));
    const std::pair<Text, Text> cases[] = {
        {u"HKEY_USERS\\k\\sz", u"ab"},  {u"HKEY_USERS\\k\\dw", u"-2"},   {u"HKEY_USERS\\k\\bin", u""},
        {u"HKEY_USERS\\k\\big", u"?"},  {u"HKEY_USERS\\k\\none", u"?"}, {u"HKEY_USERS\\none\\sz", u"?"},
        {u"HKXX\\k\\sz", u"?"},        {u"HKEY_USERS\\k\\full", Text(1024, u'x')},
    };
    for (const auto& c : cases) EXPECT_EQ(GetRegValue(r, cp, c.first, u"?"), c.second) << ToUtf8(c.first);
    EXPECT_TRUE(r.open.empty());
    EXPECT_THROW(static_cast<void>(GetRegValue(r, cp, u"HKEY_USERS\\v", u"?")), QxError);
    for (const Text root : {u"HKCR", u"hkey_classes_root", u"HKEY_CURRENT_CONFIG", u"HKEY_DYN_DATA", u"HKEY_PERFORMANCE_DATA"}) {
        EXPECT_NE(GetRootKey(root), 0u) << ToUtf8(root);
    }
    EXPECT_EQ(GetRootKey(u"HKU"), 0u);
}

TEST(HostsRewrite, RemovalRules) {
    const std::tuple<Bytes, Text, Bytes> cases[] = {
        {"1.2.3.4 a.com\r\n1.2.3.5 data.com\r\n1.2.3.6 a.com.cn a.co\r\n", u"", "1.2.3.5 data.com\r\n1.2.3.6 a.com.cn a.co\r\n"},
        {"1.2.3.4 b.com # a.com\r\n1.2.3.4 x a.com # ours\r\n", u"", "1.2.3.4 b.com # a.com\r\n"},
        {"# 1.2.3.4 a.com\r\n\t1.2.3.4\ta.com\r\n\r\n", u"", "# 1.2.3.4 a.com\r\n\r\n"},
        {"1.2.3.4 a.com\n5.6.7.8 b.com\r9.9.9.9 c.com", u"", "5.6.7.8 b.com\r\n9.9.9.9 c.com\r\n"},
        {"1.2.3.4 a.com\r\n5.6.7.8 a.com\r\n 1.2.3.4 a.com\r\n", u"1.2.3.4", "#5.6.7.8 a.com\r\n# 1.2.3.4 a.com\r\n"},
        {"", u"", ""},
    };
    CodePage cp;
    for (const auto& [before, address, after] : cases) {
        EXPECT_EQ(RewriteHostsForRemoval(before, cp, u"a.com", address), after) << before;
    }
}

}  // namespace
}  // namespace qx::fake
