#include "script/ScriptCheck.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace qx::check {
namespace {

// "column:code" of every finding, or "line:column:code" with lines, space-separated.
std::string Codes(const std::vector<Finding>& findings, bool withLines = true) {
    std::string out;
    for (const Finding& f : findings) {
        out += (out.empty() ? "" : " ") + (withLines ? std::to_string(f.line) + ":" : "") +
               std::to_string(f.column) + ":" + f.code;
    }
    return out;
}

// A server that has every file but the ones named "missing".
std::vector<Finding> Line(const Text& line) {
    std::vector<Finding> out;
    CheckLine(2, line, [](const Text& path) { return path.find(u"missing") == Text::npos; }, out);
    return out;
}

// ASCII, plus double-byte characters in the manner of the Chinese code
// pages: a lead byte 81-FE followed by a trail byte from 40 up.
bool FakeDbcs(const Bytes& bytes, Text& text) {
    text.clear();
    for (size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char b = bytes[i], t = i + 1 < bytes.size() ? bytes[i + 1] : 0;
        if (b >= 0x80 && (b == 0x80 || b == 0xFF || t < 0x40)) return false;
        text.push_back(b < 0x80 ? b : static_cast<char16_t>(0x4E00 + ((b - 0x81) << 8) + t));
        i += b < 0x80 ? 0 : 1;
    }
    return true;
}

// One command line each: the column and code of every finding.
TEST(CheckLine, FindingsOfOneLine) {
    const struct {
        const char16_t* line;
        const char* expected;
    } cases[] = {
        // keywords, and lines that are not commands
        {u"dowload,a", "1:unknown-keyword"}, {u"DOWN,a", ""}, {u" down,a", "1:keyword-blank"},
        {u"down ,a", "5:keyword-blank"}, {u"down\t,a", "5:keyword-blank"}, {u"down\xFF0C" u"a", "5:fullwidth-comma"},
        {u"# down,a", "1:comment"}, {u"  ; old", "3:comment"}, {u"REM a, b", "1:comment"},
        {u"remove,x", "1:unknown-keyword"}, {u"$WorkDir\\", "1:unknown-keyword"}, {u"下载,a", "1:unknown-keyword"},
        {u"", ""}, {u"   ", ""},
        // fields the command does not read, and fields it needs
        {u"message,Hi, you", "11:extra-fields"}, {u"message,Hi,", ""}, {u"message,Hi,  ", ""},
        {u"regwrite,HKCU\\S\\V,a,b", "20:extra-fields"}, {u"regwrite,HKCU\\S\\V,hex:0a,0b", "25:extra-fields"},
        {u"msgbox,a,64,b,c", "14:extra-fields"}, {u"copy,a,b,0,x", "11:extra-fields"}, {u"delete,a,b,c", "9:extra-fields"},
        {u"down", "5:missing-argument"}, {u"down,", "6:missing-argument"}, {u"down,  ,a", "6:missing-argument"},
        {u"ver,a.exe", "10:missing-argument"}, {u"hostsadd,a.local", "17:missing-argument"},
        {u"execute,a.exe", "14:missing-argument"}, {u"copy,a", ""}, {u"alert", "6:missing-argument"},
        {u"msgbox,,64", "8:missing-argument"}, {u"message", ""}, {u"notice,", ""}, {u"wait,", "6:missing-argument"},
        {u"regdelete", "10:missing-argument"},
        // blanks around arguments that are paths, names or sequences
        {u"down, a", "6:field-blank"}, {u"update,a ,c:\\a", "9:field-blank"}, {u"hostsadd,a, 1", "12:field-blank"},
        {u"keypress, {ENTER}", "10:field-blank"}, {u"message, a", ""}, {u"wait, 2", ""}, {u"msgbox, a, 64, b", ""},
        // macros: exact case, with their backslash
        {u"copy,a,$WorkDir\\a", ""}, {u"copy,a,$workdir\\a", "8:macro-case"}, {u"copy,a,$WorkDir", "8:macro-backslash"},
        {u"copy,a,$WorkDir/a", "8:macro-backslash"}, {u"copy,$TempDir\\a,$desktop\\a", "17:macro-case"},
        {u"delete,$WinDirectory\\a", ""}, {u"message,costs $5", ""}, {u"register,$SysDir\\a.ocx", ""},
        // clean lines of the other commands; a full-width comma inside a text is text
        {u"hostsadd,a.com,10.0.0.5", ""}, {u"hostsremove,a.com", ""}, {u"workpath,d:\\apps\\", ""},
        {u"alert,请重启", ""}, {u"keypress,%{F4},1", ""}, {u"notice,正在升级，请稍候", ""},
        // registry paths and values
        {u"regwrite,HKCU\\S\\V,hex:0a0B", ""}, {u"regwrite,HKCU\\S\\V,HEX:", ""},
        {u"regwrite,HKCU\\S\\V,hex:0a 0b", "25:hex-separator"}, {u"regwrite,HKCU\\S\\V,hex:0g", "24:hex-digit"},
        {u"regwrite,HKCU\\S\\V,hex:0a0", "23:hex-odd"}, {u"regwrite,HKCU\\S\\V,dword:-1", ""},
        {u"regwrite,HKCU\\S\\V,dword:&hFFFFFFFF", ""}, {u"regwrite,HKCU\\S\\V,dword:2147483647", ""},
        {u"regwrite,HKCU\\S\\V,dword:2147483648", "25:dword-range"},
        {u"regwrite,HKCU\\S\\V,dword:0a", "25:dword-number"}, {u"regwrite,HKCU\\S\\V,dword:0x10", "25:dword-number"},
        {u"regwrite,HKCU\\S\\V,hexadecimal", ""}, {u"regwrite,HKCU\\S\\V,", ""}, {u"regwrite,HKCU\\S\\", ""},
        {u"regwrite,HKXX\\S\\V,x", "10:reg-root"}, {u"regwrite,Software,x", "10:reg-path"},
        {u"regdelete,HKCU\\Name", "11:reg-path"}, {u"regdelete,HKCU\\S\\", ""},
        // numbers
        {u"wait,0.5", ""}, {u"wait,3600", ""}, {u"wait,5s", "6:wait-value"}, {u"wait,5000", "6:wait-value"},
        {u"wait,-1", "6:wait-value"}, {u"wait,1e400", "6:wait-value"}, {u"msgbox,a,0", ""}, {u"msgbox,a,&h24", ""},
        {u"msgbox,a,292", ""}, {u"msgbox,a,48+4", "10:msgbox-style"}, {u"msgbox,a,1E20", "10:msgbox-style"},
        {u"msgbox,a,7", "10:msgbox-style"}, {u"msgbox,a,80", "10:msgbox-style"}, {u"msgbox,a,-1", "10:msgbox-style"},
        {u"execute,a,0", ""}, {u"execute,a,6", ""}, {u"execute,a,5", "11:execute-style"},
        {u"execute,a,1.5", "11:execute-style"}, {u"execute,a,normal", "11:execute-style"}, {u"keypress,a,1", ""},
        {u"keypress,a,-1", ""}, {u"keypress,a,true", "12:keypress-wait"}, {u"copy,a,b,0", ""}, {u"copy,a,b,FALSE", ""},
        {u"copy,a,b,no", "10:copy-flag"}, {u"copy,a,b, 0", "10:copy-flag"},
        // key sequences as keypress reads them
        {u"keypress,^c{ENTER}", ""}, {u"keypress,{ENTER", "10:keypress-keys"},
        // file references, the server behind them, and wildcards
        {u"create,missing", "8:server-missing"}, {u"ver,missing,1.0", "5:server-missing"},
        {u"down,http://a.com/missing", ""}, {u"copy,missing,b", ""},
        {u"down,sub/a.exe", "6:url-no-slash"}, {u"update,/qxupdate/sub/a", ""}, {u"create,http://a.com/b/c", ""},
        {u"ver,files/a.exe,1.2.3", "5:url-no-slash"}, {u"down,sub\\a", ""}, {u"delete,*.tmp", "8:wildcard"},
        {u"delete,$TempDir\\a?.txt", "18:wildcard"}, {u"copy,a,b*.txt", "9:wildcard"}, {u"checkwritable,*.exe", ""},
        {u"ver,a.exe,v1.2", "11:ver-version"}, {u"ver,a.exe,1..2", "11:ver-version"},
        // a surrogate pair is one column
        {u"message,\U0001F600,x", "10:extra-fields"},
    };
    for (const auto& c : cases) EXPECT_EQ(Codes(Line(c.line), false), c.expected) << ToUtf8(c.line);
    const Text longHex = u"regwrite,HKCU\\S\\V,hex:" + Text(2 * 16385, u'a');
    EXPECT_EQ(Codes(Line(longHex), false), "23:hex-too-long");
}

// The messages carry the script text and what the updater makes of it.
TEST(CheckLine, Messages) {
    const struct {
        const char16_t* line;
        const char* message;
    } cases[] = {
        {u"dowload,x", "\"dowload\" is not a command; the line is ignored (did you mean \"down\"?)"},
        {u"message,a,b", "text after this comma is lost: \"message\" reads 1 argument; a text cannot hold a comma"},
        {u"regwrite,HKCU\\S\\V,hex:0a,0b",
         "text after this comma is lost: \"regwrite\" reads 2 arguments; hex: bytes must not be separated by commas"},
        {u"execute,a.exe", "\"execute\" needs a window style (without one the program starts hidden) in field 2"},
        {u"keypress,abc,x", "\"x\" is not a number: it reads as 0, so the keys are sent without waiting; write 1 "
                            "to wait or 0 not to"},
        {u"wait,5s", "\"5s\" is not a plain number of seconds: it reads as 5"},
        {u"regwrite,HKCU\\S\\V,dword:0000000a", "\"0000000a\" is not a plain number: it is stored as 0; write "
                                               "decimal digits, or &h and hexadecimal digits"},
        {u"message,$workdir\\",
         "\"$workdir\\\" is not expanded: macros are case-sensitive; write \"$WorkDir\\\""},
        {u"rem x",
         "\"rem\" does not start a comment: scripts have none; the line is run as a command and does nothing "
         "only while it names none"},
        {u"xx 0123456789012345678901234567890123456789012345678901,x",
         "\"xx 012345678901234567890123456789012345678901234...\" is not a command; the line is ignored"},
    };
    for (const auto& c : cases) {
        const std::vector<Finding> found = Line(c.line);
        ASSERT_EQ(found.size(), 1u) << ToUtf8(c.line);
        EXPECT_EQ(ToUtf8(found[0].message), c.message);
    }
}

TEST(CheckLine, SuggestionsForMistypedKeywords) {
    const struct {
        const char16_t* typed;
        const char16_t* expected;
    } cases[] = {
        {u"dowload", u"down"}, {u"download", u"down"}, {u"dwon", u"down"}, {u"Delet", u"delete"}, {u"vr", u"ver"},
        {u"massage", u"message"}, {u"msgbx", u"msgbox"}, {u"hostadd", u"hostsadd"}, {u"wiat", u"wait"},
        {u"regwrit", u"regwrite"}, {u"xyz", u""}, {u"run", u""}, {u"", u""}, {u"下载", u""},
    };
    for (const auto& c : cases) EXPECT_EQ(SuggestKeyword(c.typed), Text(c.expected)) << ToUtf8(c.typed);
    for (const CommandSpec& command : Commands()) EXPECT_EQ(SuggestKeyword(command.keyword), command.keyword);
}

TEST(ScriptCheck, WholeFiles) {
    Options later;
    later.hasPrevious = true;
    later.previous = DateTime{2024, 3, 1, 0, 0, 0};
    const struct {
        const char16_t* script;
        const char* expected;
        bool later;
    } cases[] = {
        {u"2024-03-01\r\n", "", false}, {u"2024-03-01 10:00:00\r\n", "", false}, {u"2024/3/1", "", false},
        {u"01.03.2024\r\n", "1:1:stamp", false}, {u"2024-02-30\r\n", "1:1:stamp", false}, {u"", "1:1:stamp", false},
        {u"\r\n2024-03-01\r\n", "1:1:stamp 2:1:unknown-keyword", false},
        {u"2024-03-01\r\nmessage,x", "1:1:stamp-not-later", true}, {u"2024-02-29", "1:1:stamp-not-later", true},
        {u"2024-03-01 00:00:01\r\nmessage,x", "", true},
        // Line feeds alone: one finding where the first stands; the rest is
        // checked as the author meant the lines. A carriage return alone does
        // end a line.
        {u"2024-03-01\ndown,a.exe\ndowload,b.exe\n", "1:11:lf-line-ends 3:1:unknown-keyword", false},
        {u"2024-03-01\r\ndown,a.exe\nmessage,x\r\n", "2:11:lf-line-ends", false},
        {u"2024-03-01\rdown,a.exe\rmessage,x\r", "", false},
        // After a ver line: once, on the first line that would run.
        {u"2024-03-01\r\nver,a.exe,1.2\r\n\r\nmessage,a\r\nmessage,b", "4:1:after-ver", false},
        {u"2024-03-01\r\nver,a.exe,1.2\r\n\r\n", "", false},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Codes(CheckScriptText(c.script, {}, c.later ? later : Options())), c.expected) << ToUtf8(c.script);
    }
}

TEST(ScriptCheck, BytesAreDecodedWhereTheyAreValidAndReportedWhereNot) {
    // 0x80 is no character here, and 0xC4 at the end of a line lacks its
    // trail byte (the carriage return cannot be one).
    const Bytes raw = "2024-03-01\r\nmessage,\xC4\xE3\x80ok\r\nmessage,fine\r\nmessage,x\xC4\r\n";
    EXPECT_EQ(Codes(CheckScriptBytes(raw, FakeDbcs, Options())), "2:10:invalid-byte 4:10:invalid-byte");
    std::vector<bool> invalid;
    EXPECT_EQ(DecodeScript("a\xC4\xE3\x80\xFF" "b", FakeDbcs, invalid),
              (Text{u'a', static_cast<char16_t>(0x4E00 + (0x43 << 8) + 0xE3), 0xFFFD, 0xFFFD, u'b'}));
    EXPECT_EQ(invalid, (std::vector<bool>{false, false, true, true, false}));
    // A UTF-8 mark is reported and the rest still checked; UTF-16 gives one finding, nothing more.
    EXPECT_EQ(Codes(CheckScriptBytes("\xEF\xBB\xBF" "2024-03-01\r\ndowload,x\r\n", FakeDbcs, Options())),
              "1:1:bom 2:1:unknown-keyword");
    EXPECT_EQ(Codes(CheckScriptBytes(Bytes("\xFF\xFE" "2\0" "0\0" "\r\0" "\n\0", 10), FakeDbcs, Options())), "1:1:bom");
}

}  // namespace
}  // namespace qx::check
