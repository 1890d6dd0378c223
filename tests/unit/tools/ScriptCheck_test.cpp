#include "script/ScriptCheck.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "actions/Registry.h"
#include "fakes/FormFixture.h"
#include "script/Paths.h"
#include "script/ProcessLine.h"

namespace qx::check {
namespace {

// "line:column:code" of every finding, in order.
std::vector<std::string> Codes(const std::vector<Finding>& findings) {
    std::vector<std::string> out;
    for (const Finding& f : findings) out.push_back(std::to_string(f.line) + ":" + std::to_string(f.column) + ":" + f.code);
    return out;
}

std::string Join(const std::vector<std::string>& items) {
    std::string s;
    for (const std::string& i : items) s += (s.empty() ? "" : " ") + i;
    return "[" + s + "]";
}

// A script from its command lines, stamped and saved with CR LF line ends.
Text Script(std::initializer_list<const char16_t*> lines) {
    Text s = u"2024-03-01\r\n";
    for (const char16_t* l : lines) s += Text(l) + u"\r\n";
    return s;
}

std::vector<Finding> Check(const Text& script, const Options& options = Options()) {
    return CheckScriptText(script, {}, options);
}

// ASCII, plus a double-byte range in the manner of the Chinese code pages:
// lead bytes 81-FE followed by a trail byte 40-FE except 7F.
bool FakeDbcs(const Bytes& bytes, Text& text) {
    text.clear();
    for (size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char b = static_cast<unsigned char>(bytes[i]);
        if (b < 0x80) {
            text.push_back(b);
            continue;
        }
        if (b == 0x80 || b == 0xFF || i + 1 >= bytes.size()) return false;
        const unsigned char t = static_cast<unsigned char>(bytes[++i]);
        if (t < 0x40 || t == 0x7F || t == 0xFF) return false;
        text.push_back(static_cast<char16_t>(0x4E00 + ((b - 0x81) << 8) + t));
    }
    return true;
}

struct LineCase {
    const char16_t* line;  // line 2 of the script
    std::vector<std::string> expected;
};

void ExpectLines(const std::vector<LineCase>& cases) {
    for (const LineCase& c : cases) {
        const std::vector<std::string> got = Codes(Check(Script({c.line})));
        EXPECT_EQ(got, c.expected) << "line [" << ToUtf8(c.line) << "]: expected " << Join(c.expected) << ", got "
                                   << Join(got);
    }
}

TEST(ScriptCheck, Keywords) {
    ExpectLines({
        {u"dowload,setup.exe", {"2:1:unknown-keyword"}},
        {u"DOWN,setup.exe", {}},
        {u"MsgBox,hello", {}},
        {u" down,setup.exe", {"2:1:keyword-blank"}},
        {u"down ,setup.exe", {"2:5:keyword-blank"}},
        {u"down\t,setup.exe", {"2:5:keyword-blank"}},
        {u"down\xFF0Csetup.exe", {"2:5:fullwidth-comma"}},
        {u"# down,setup.exe", {"2:1:comment"}},
        {u"  ; old line", {"2:3:comment"}},
        {u"// note", {"2:1:comment"}},
        {u"'note", {"2:1:comment"}},
        {u"REM note, with a comma", {"2:1:comment"}},
        {u"remove,x", {"2:1:unknown-keyword"}},
        {u"$WorkDir\\", {"2:1:unknown-keyword"}},
        {u"下载,setup.exe", {"2:1:unknown-keyword"}},
        {u"", {}},
        {u"   ", {}},
    });
}

TEST(ScriptCheck, FieldCounts) {
    ExpectLines({
        {u"message,Hello, world", {"2:14:extra-fields"}},
        {u"message,Hello,", {}},  // nothing after the comma is lost
        {u"message,Hello,  ", {}},
        {u"notice,a,b", {"2:9:extra-fields"}},
        {u"regwrite,HKCU\\Software\\A\\V,a,b", {"2:29:extra-fields"}},
        {u"regwrite,HKCU\\Software\\A\\V,hex:0a,0b", {"2:34:extra-fields"}},
        {u"msgbox,text,64,title,more", {"2:21:extra-fields"}},
        {u"copy,a.txt,b.txt,0,x", {"2:19:extra-fields"}},
        {u"delete,a,b,c,d,e,f,g", {"2:9:extra-fields"}},
        {u"down", {"2:5:missing-argument"}},
        {u"down,", {"2:6:missing-argument"}},
        {u"down,  ,a.exe", {"2:6:missing-argument"}},
        {u"ver,QXUpdate.exe", {"2:17:missing-argument"}},
        {u"hostsadd,server.local", {"2:22:missing-argument"}},
        {u"execute,notepad.exe", {"2:20:missing-argument"}},
        {u"copy,a.txt", {}},  // the target defaults to the same name
        {u"keypress", {"2:9:missing-argument"}},
        {u"alert", {"2:6:missing-argument"}},
        {u"msgbox,,64", {"2:8:missing-argument"}},
        {u"message", {}},
        {u"notice,", {}},
        {u"wait,", {"2:6:missing-argument"}},
        {u"regdelete", {"2:10:missing-argument"}},
    });
}

TEST(ScriptCheck, BlanksAroundArguments) {
    ExpectLines({
        {u"down, setup.exe", {"2:6:field-blank"}},
        {u"update,setup.exe ,c:\\a\\setup.exe", {"2:17:field-blank"}},
        {u"hostsadd,server.local, 10.0.0.1", {"2:23:field-blank"}},
        {u"keypress, {ENTER}", {"2:10:field-blank"}},
        {u"message, text with a blank in front", {}},
        {u"wait, 2", {}},
        {u"msgbox, hello, 64, title", {}},
    });
}

TEST(ScriptCheck, Macros) {
    ExpectLines({
        {u"copy,a.txt,$WorkDir\\a.txt", {}},
        {u"copy,a.txt,$workdir\\a.txt", {"2:12:macro-case"}},
        {u"copy,a.txt,$WORKDIR\\a.txt", {"2:12:macro-case"}},
        {u"copy,a.txt,$WorkDir", {"2:12:macro-backslash"}},
        {u"copy,a.txt,$WorkDir/a.txt", {"2:12:macro-backslash"}},
        {u"copy,$TempDir\\a,$desktop\\a.lnk", {"2:17:macro-case"}},
        {u"delete,$WinDirectory\\a.txt", {}},  // no macro of that name
        {u"message,costs $5", {}},
        {u"copy,a.lnk,$StartMenu\\a.lnk", {}},
        {u"register,$SysDir\\a.ocx", {}},
    });
}

TEST(ScriptCheck, RegistryValues) {
    ExpectLines({
        {u"regwrite,HKCU\\Software\\A\\V,hex:0a0B", {}},
        {u"regwrite,HKCU\\Software\\A\\V,HEX:", {}},
        {u"regwrite,HKCU\\Software\\A\\V,hex:0a 0b", {"2:34:hex-separator"}},
        {u"regwrite,HKCU\\Software\\A\\V,hex:0a-0b", {"2:34:hex-separator"}},
        {u"regwrite,HKCU\\Software\\A\\V,hex:0g", {"2:33:hex-digit"}},
        {u"regwrite,HKCU\\Software\\A\\V,hex:0a0", {"2:32:hex-odd"}},
        {u"regwrite,HKCU\\Software\\A\\V,dword:10", {}},
        {u"regwrite,HKCU\\Software\\A\\V,dword:-1", {}},
        {u"regwrite,HKCU\\Software\\A\\V,dword:&hFFFFFFFF", {}},
        {u"regwrite,HKCU\\Software\\A\\V,dword:2147483647", {}},
        {u"regwrite,HKCU\\Software\\A\\V,dword:2147483648", {"2:34:dword-range"}},
        {u"regwrite,HKCU\\Software\\A\\V,dword:&h1FFFFFFFF", {"2:34:dword-range"}},
        {u"regwrite,HKCU\\Software\\A\\V,dword:0000000a", {"2:34:dword-number"}},
        {u"regwrite,HKCU\\Software\\A\\V,dword:0x10", {"2:34:dword-number"}},
        {u"regwrite,HKCU\\Software\\A\\V,hexadecimal", {}},  // a plain string
        {u"regwrite,HKCU\\Software\\A\\V,", {}},
        {u"regwrite,HKCU\\Software\\A\\", {}},  // only makes sure the key exists
        {u"regwrite,hkcu\\Software\\A\\V,x", {}},
        {u"regwrite,HKXX\\Software\\A\\V,x", {"2:10:reg-root"}},
        {u"regwrite,Software,x", {"2:10:reg-path"}},
        {u"regdelete,HKCU\\Name", {"2:11:reg-path"}},
        {u"regdelete,HKCU\\Software\\A\\", {}},
    });
    // The byte count of the value is checked as a write would check it.
    const Text longHex = u"regwrite,HKCU\\Software\\A\\V,hex:" + Text(2 * 16385, u'a');
    EXPECT_EQ(Codes(Check(Script({longHex.c_str()}))), std::vector<std::string>{"2:32:hex-too-long"});
}

TEST(ScriptCheck, Numbers) {
    ExpectLines({
        {u"wait,2", {}},
        {u"wait,0.5", {}},
        {u"wait,3600", {}},
        {u"wait,5s", {"2:6:wait-value"}},
        {u"wait,five", {"2:6:wait-value"}},
        {u"wait,5000", {"2:6:wait-value"}},
        {u"wait,-1", {"2:6:wait-value"}},
        {u"wait,1e400", {"2:6:wait-value"}},
        {u"msgbox,hi,64", {}},
        {u"msgbox,hi,&h24", {}},
        {u"msgbox,hi,292", {}},  // 4 + 32 + 256: yes/no, question, second button
        {u"msgbox,hi,48+4", {"2:11:msgbox-style"}},
        {u"msgbox,hi,vbInformation", {"2:11:msgbox-style"}},
        {u"msgbox,hi,1E20", {"2:11:msgbox-style"}},
        {u"msgbox,hi,7", {"2:11:msgbox-style"}},
        {u"msgbox,hi,80", {"2:11:msgbox-style"}},
        {u"msgbox,hi,-1", {"2:11:msgbox-style"}},
        {u"execute,notepad.exe,1", {}},
        {u"execute,notepad.exe,0", {}},
        {u"execute,notepad.exe,6", {}},
        {u"execute,notepad.exe,5", {"2:21:execute-style"}},
        {u"execute,notepad.exe,1.5", {"2:21:execute-style"}},
        {u"execute,notepad.exe,normal", {"2:21:execute-style"}},
        {u"keypress,abc,1", {}},
        {u"keypress,abc,-1", {}},
        {u"keypress,abc,true", {"2:14:keypress-wait"}},
        {u"copy,a.txt,b.txt,0", {}},
        {u"copy,a.txt,b.txt,FALSE", {}},
        {u"copy,a.txt,b.txt,no", {"2:18:copy-flag"}},
        {u"copy,a.txt,b.txt, 0", {"2:18:copy-flag"}},
    });
}

TEST(ScriptCheck, KeySequencesAreReadByTheKeypressParser) {
    ExpectLines({
        {u"keypress,^c{ENTER}", {}},
        {u"keypress,+(abc)~", {}},
        {u"keypress,{F5 3}", {}},
        {u"keypress,{ENTER", {"2:10:keypress-keys"}},
        {u"keypress,{NOSUCHKEY}", {"2:10:keypress-keys"}},
        {u"keypress,(abc", {"2:10:keypress-keys"}},
    });
}

TEST(ScriptCheck, FileReferencesAndWildcards) {
    ExpectLines({
        {u"down,sub/tool.exe", {"2:6:url-no-slash"}},
        {u"update,/qxupdate/sub/tool.exe", {}},
        {u"create,http://example.com/a/b.exe", {}},
        {u"ver,files/QXUpdate.exe,1.2.3", {"2:5:url-no-slash"}},
        {u"down,sub\\tool.exe", {}},
        {u"delete,*.tmp", {"2:8:wildcard"}},
        {u"delete,$TempDir\\a?.txt", {"2:18:wildcard"}},
        {u"copy,a.txt,b*.txt", {"2:13:wildcard"}},
        {u"checkwritable,*.exe", {}},
        {u"ver,QXUpdate.exe,v1.2", {"2:18:ver-version"}},
        {u"ver,QXUpdate.exe,1..2", {"2:18:ver-version"}},
    });
}

TEST(ScriptCheck, LinesAfterAVerLine) {
    // Reported once, on the first line that would run after it.
    EXPECT_EQ(Codes(Check(Script({u"down,a.exe", u"ver,QXUpdate.exe,1.2.0", u"", u"message,done",
                                  u"message,again"}))),
              std::vector<std::string>{"5:1:after-ver"});
    EXPECT_EQ(Codes(Check(Script({u"down,a.exe", u"ver,QXUpdate.exe,1.2.0", u""}))), std::vector<std::string>{});
}

TEST(ScriptCheck, Stamps) {
    struct Case {
        Text script;
        std::vector<std::string> expected;
    };
    const std::vector<Case> cases = {
        {u"2024-03-01\r\n", {}},
        {u"2024-03-01 10:00:00\r\n", {}},
        {u"2024/3/1\r\n", {}},
        {u"2024-03-01", {}},  // no break after the last line
        {u"01.03.2024\r\n", {"1:1:stamp"}},
        {u"2024-02-30\r\n", {"1:1:stamp"}},
        {u"down,a.exe\r\n", {"1:1:stamp"}},
        {u"\r\n2024-03-01\r\n", {"1:1:stamp", "2:1:unknown-keyword"}},
        {u"", {"1:1:stamp"}},
        // Line feeds alone: one finding where the first one stands; the rest is
        // checked as the author meant the lines.
        {u"2024-03-01\ndown,a.exe\ndowload,b.exe\n", {"1:11:lf-line-ends", "3:1:unknown-keyword"}},
        {u"2024-03-01\r\ndown,a.exe\nmessage,x\r\n", {"2:11:lf-line-ends"}},
        // A carriage return alone does end a line.
        {u"2024-03-01\rdown,a.exe\rmessage,x\r", {}},
    };
    for (const Case& c : cases) {
        const std::vector<std::string> got = Codes(Check(c.script));
        EXPECT_EQ(got, c.expected) << "script [" << ToUtf8(c.script) << "]: expected " << Join(c.expected)
                                   << ", got " << Join(got);
    }
}

TEST(ScriptCheck, StampMustBeLaterThanThePreviousOne) {
    Options options;
    options.hasPrevious = true;
    options.previous = DateTime{2024, 3, 1, 0, 0, 0};
    struct Case {
        const char16_t* stamp;
        bool finding;
    };
    const Case cases[] = {
        {u"2024-03-01", true},
        {u"2024-02-29", true},
        {u"2024-03-01 00:00:01", false},
        {u"2024-03-02", false},
    };
    for (const Case& c : cases) {
        const std::vector<std::string> got = Codes(Check(Text(c.stamp) + u"\r\nmessage,x\r\n", options));
        const std::vector<std::string> expected =
            c.finding ? std::vector<std::string>{"1:1:stamp-not-later"} : std::vector<std::string>{};
        EXPECT_EQ(got, expected) << "stamp " << ToUtf8(c.stamp);
    }
}

TEST(ScriptCheck, CleanScriptsGiveNoFindings) {
    const std::vector<Text> scripts = {
        Script({}),
        Script({u"notice,正在升级，请稍候", u"checkwritable,app.exe", u"update,app.exe", u"update,/qxupdate/lib/a.dll,$SysDir\\a.dll",
                u"create,config.ini", u"down,http://mirror.example.com/big.zip", u"copy,big.zip,$WorkDir\\big.zip,0",
                u"delete,old.dll", u"register,a.ocx", u"regwrite,HKLM\\Software\\Vendor\\App\\Path,$WorkDir\\",
                u"regwrite,HKCU\\Software\\Vendor\\App\\Flags,hex:00ff10", u"regwrite,HKCU\\Software\\Vendor\\App\\N,dword:&h10",
                u"regdelete,HKCU\\Software\\Vendor\\Old\\", u"hostsadd,update.example.com,10.0.0.5",
                u"hostsremove,old.example.com", u"execute,app.exe /quiet,1", u"keypress,%{F4},1", u"wait,0.5",
                u"workpath,d:\\apps\\", u"message,升级完成", u"alert,请重新启动程序",
                u"msgbox,请重新启动程序,64,在线升级", u"", u"ver,QXUpdate.exe,1.2.0"}),
        u"2006-05-18 10:00:00\r\nmessage,x",
    };
    for (const Text& s : scripts) {
        const std::vector<Finding> findings = Check(s);
        EXPECT_TRUE(findings.empty()) << "script [" << ToUtf8(s) << "] gave " << Join(Codes(findings)) << ": "
                                      << (findings.empty() ? "" : ToUtf8(findings[0].message));
    }
}

TEST(ScriptCheck, ServerFiles) {
    const std::set<Text> onServer = {u"/qxupdate/setup.exe", u"/qxupdate/QXUpdate.exe", u"/files/a.zip",
                                     u"/qxupdate/sub/tool.exe"};
    Options options;
    std::vector<Text> asked;
    options.serverFileExists = [&](const Text& path) {
        asked.push_back(path);
        return onServer.count(path) > 0;
    };
    const Text script = Script({u"update,setup.exe?v=3", u"down,/files/a.zip", u"create,missing.ini",
                                u"down,sub\\tool.exe", u"down,http://other.example.com/x.exe", u"copy,setup.exe,b.exe",
                                u"down,/files/b.zip", u"ver,QXUpdate.exe,1.0"});
    EXPECT_EQ(Codes(Check(script, options)), (std::vector<std::string>{"4:8:server-missing", "8:6:server-missing"}));
    // Only the fetching commands ask, and an absolute URL is not asked about.
    EXPECT_EQ(asked, (std::vector<Text>{u"/qxupdate/setup.exe", u"/files/a.zip", u"/qxupdate/missing.ini",
                                        u"/qxupdate/sub/tool.exe", u"/files/b.zip", u"/qxupdate/QXUpdate.exe"}));
}

TEST(ScriptCheck, ServerPathOfAReference) {
    struct Case {
        const char16_t* reference;
        const char16_t* expected;
    };
    const Case cases[] = {
        {u"setup.exe", u"/qxupdate/setup.exe"},
        {u"setup.exe?v=3", u"/qxupdate/setup.exe"},
        {u"/files/a.zip", u"/files/a.zip"},
        {u"sub\\tool.exe", u"/qxupdate/sub/tool.exe"},
        {u"http://host/a.exe", u""},
        {u"https://host/a.exe", u""},
        {u"升级.exe", u"/qxupdate/升级.exe"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ServerPathOf(c.reference), Text(c.expected)) << ToUtf8(c.reference);
    }
}

TEST(ScriptCheck, Suggestions) {
    struct Case {
        const char16_t* typed;
        const char16_t* expected;
    };
    const Case cases[] = {
        {u"dowload", u"down"},   {u"download", u"down"},     {u"dwon", u"down"},      {u"Delet", u"delete"},
        {u"massage", u"message"}, {u"msgbx", u"msgbox"},      {u"hostadd", u"hostsadd"}, {u"wiat", u"wait"},
        {u"regwrit", u"regwrite"}, {u"vr", u"ver"},           {u"xyz", u""},           {u"run", u""},
        {u"", u""},              {u"下载", u""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SuggestKeyword(c.typed), Text(c.expected)) << ToUtf8(c.typed);
    }
}

TEST(ScriptCheck, InvalidBytesAreFoundWhereTheyStand) {
    // 0x80 is no character here, and 0xC4 at the end of a line lacks its
    // trail byte (the carriage return cannot be one).
    const Bytes raw = "2024-03-01\r\nmessage,\xC4\xE3\x80ok\r\nmessage,fine\r\nmessage,x\xC4\r\n";
    const std::vector<Finding> findings = CheckScriptBytes(raw, FakeDbcs, Options());
    EXPECT_EQ(Codes(findings), (std::vector<std::string>{"2:10:invalid-byte", "4:10:invalid-byte"}));

    std::vector<bool> invalid;
    const Text text = DecodeScript("a\xC4\xE3\x80\xFF" "b", FakeDbcs, invalid);
    EXPECT_EQ(text, (Text{u'a', static_cast<char16_t>(0x4E00 + (0x43 << 8) + 0xE3), 0xFFFD, 0xFFFD, u'b'}));
    EXPECT_EQ(invalid, (std::vector<bool>{false, false, true, true, false}));
}

TEST(ScriptCheck, ByteOrderMarks) {
    EXPECT_EQ(Codes(CheckScriptBytes("\xEF\xBB\xBF" "2024-03-01\r\nmessage,x\r\n", FakeDbcs, Options())),
              std::vector<std::string>{"1:1:bom"});
    // The rest is still checked.
    EXPECT_EQ(Codes(CheckScriptBytes("\xEF\xBB\xBF" "2024-03-01\r\ndowload,x\r\n", FakeDbcs, Options())),
              (std::vector<std::string>{"1:1:bom", "2:1:unknown-keyword"}));
    // UTF-16 is nothing the updater can read: one finding, nothing more.
    const Bytes utf16("\xFF\xFE" "2\0" "0\0" "\r\0" "\n\0", 10);
    EXPECT_EQ(Codes(CheckScriptBytes(utf16, FakeDbcs, Options())), std::vector<std::string>{"1:1:bom"});
}

TEST(ScriptCheck, ColumnsCountCharacters) {
    // A surrogate pair is one character of the line.
    const Text line = Text(u"message,") + u"\U0001F600" + u",x";
    const std::vector<Finding> findings = Check(Script({line.c_str()}));
    EXPECT_EQ(Codes(findings), std::vector<std::string>{"2:10:extra-fields"});
}

TEST(ScriptCheck, OutputForms) {
    const Finding f{3, 1, "unknown-keyword", u"\"dowload\" is not a command"};
    EXPECT_EQ(FormatFinding(u"update.inf", f), u"update.inf:3:1: unknown-keyword: \"dowload\" is not a command");
    struct Case {
        const char16_t* text;
        const char16_t* json;
    };
    const Case cases[] = {
        {u"plain", u"\"plain\""},
        {u"a \"b\" \\c", u"\"a \\\"b\\\" \\\\c\""},
        {u"tab\there\r\n", u"\"tab\\u0009here\\u000d\\u000a\""},
        {u"升级", u"\"升级\""},
    };
    for (const Case& c : cases) EXPECT_EQ(JsonString(c.text), Text(c.json)) << ToUtf8(c.text);
}

// The checker's keyword table is the interpreter's own; the dispatch of a
// line goes through the same lookup.
TEST(ScriptCheck, KeywordTableIsTheInterpretersLookup) {
    const auto& keywords = CommandKeywords();
    std::set<Text> distinct;
    for (size_t i = 0; i < keywords.size(); ++i) {
        const Text k = keywords[i];
        distinct.insert(k);
        EXPECT_EQ(LookUpCommand(k), static_cast<Command>(i)) << ToUtf8(k);
        Text upper = k;
        for (char16_t& c : upper) c = static_cast<char16_t>(c - u'a' + u'A');
        EXPECT_EQ(LookUpCommand(upper), static_cast<Command>(i)) << ToUtf8(upper);
        EXPECT_EQ(LookUpCommand(u" " + k), Command::kNone) << ToUtf8(k);
        EXPECT_EQ(LookUpCommand(k + u" "), Command::kNone) << ToUtf8(k);
        // A keyword spelt right is its own best suggestion.
        EXPECT_TRUE(SuggestKeyword(k) == k) << ToUtf8(k);
    }
    EXPECT_EQ(distinct.size(), kCommandCount);
    EXPECT_EQ(LookUpCommand(u"dowload"), Command::kNone);
}

class ScriptCheckMacros : public fake::FormTest {};

// Each name the checker accepts is one the interpreter expands, and only in
// exactly that letter case and with its backslash.
TEST_F(ScriptCheckMacros, NamesAreTheOnesTheInterpreterExpands) {
    form.strStartMenuDir = form.strDesktopDir = form.strWorkDir = form.strTempDir = form.strSysDir =
        form.strWinDir = u"<folder>\\";
    for (const char16_t* name : MacroNames()) {
        const Text macro = Text(u"$") + name + u"\\";
        EXPECT_EQ(ReplaceCommonPath(form, u"x," + macro + u"a"), u"x,<folder>\\a") << ToUtf8(macro);
        Text lower = Text(u"$") + name;
        for (char16_t& c : lower) {
            if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
        }
        lower += u"\\";
        EXPECT_EQ(ReplaceCommonPath(form, u"x," + lower + u"a"), u"x," + lower + u"a") << ToUtf8(lower);
        EXPECT_EQ(ReplaceCommonPath(form, u"x," + Text(u"$") + name), u"x,$" + Text(name)) << ToUtf8(macro);
        EXPECT_TRUE(Check(Script({(u"delete," + macro + u"a.txt").c_str()})).empty()) << ToUtf8(macro);
        EXPECT_EQ(Codes(Check(Script({(u"delete," + lower + u"a.txt").c_str()}))),
                  std::vector<std::string>{"2:8:macro-case"});
    }
}

// The value forms the checker judges are the ones a write stores.
TEST(RegistryValueForms, PrefixesAndData) {
    Text payload;
    EXPECT_EQ(RegValueType(u"HEX:0a", &payload), reg::kBinary);
    EXPECT_EQ(payload, u"0a");
    EXPECT_EQ(RegValueType(u"Dword:5", &payload), reg::kDword);
    EXPECT_EQ(payload, u"5");
    EXPECT_EQ(RegValueType(u"hexadecimal", &payload), reg::kSz);
    EXPECT_EQ(payload, u"hexadecimal");
    EXPECT_EQ(RegValueType(u" dword:5"), reg::kSz);

    EXPECT_EQ(RegBinaryData(u"0a0B"), Bytes("\x0a\x0b", 2));
    // A separator is read as part of a pair: the bytes come out wrong.
    EXPECT_EQ(RegBinaryData(u"0a,0b"), Bytes("\x0a\x00", 2));
    EXPECT_EQ(RegDwordData(u"10"), Bytes("\x0a\0\0\0", 4));
    EXPECT_EQ(RegDwordData(u"-1"), Bytes("\xff\xff\xff\xff", 4));
    EXPECT_THROW(RegDwordData(u"4294967295"), QxError);
}

}  // namespace
}  // namespace qx::check
