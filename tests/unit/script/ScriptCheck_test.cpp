#include "script/ScriptCheck.h"

#include <gtest/gtest.h>

namespace qx::check {

// "line:column:code" of every finding (line left out on request), then each message after a "|".
static std::string Report(const std::vector<Finding>& found, bool lines = true) {
    std::string codes, messages = "|";
    for (const Finding& f : found) {
        codes += (codes.empty() ? "" : " ") + (lines ? std::to_string(f.line) + ":" : "") + std::to_string(f.column) +
                 ":" + f.code;
        messages += ToUtf8(f.message) + "|";
    }
    return codes + messages;
}

// Each row: the findings of the line as line 2 of a script on a server that has
// every file but "missing", and a part of the message: what the updater reads.
TEST(CheckLine, FindingsOfOneLine) {
    const Text rw = u"regwrite,HKCU\\S\\V,";
    const struct { Text line; const char *expected, *part = ""; } rows[] = {
        {u"dowload,a", "1:unknown-keyword", "(did you mean \"down\"?)"}, {u"", ""}, {u"rem", "1:comment"},
        {u" down,a", "1:keyword-blank", "before \"down\""}, {u"down\t,a", "5:keyword-blank", "after \"down\""},
        {u"down\xFF0C" u"a", "5:fullwidth-comma", "comma after \"down\""}, {u"# down,a", "1:comment", "\"#\" does"},
        {u"  ; old", "3:comment"}, {u"REM\ta, b", "1:comment", "\"rem\" do"}, {u"remove,x", "1:unknown-keyword"},
        {u"下载\xFF0C" u"a", "1:unknown-keyword"},
        {u"x 0123456789012345678901234567890123456789012345,x", "1:unknown-keyword", "2345\" is not"},
        {u"xx 0123456789012345678901234567890123456789012345", "1:unknown-keyword", "901234...\" is not"},
        {u"message,Hi, you", "11:extra-fields", "reads 1 argument; a text"}, {u"message,Hi,  ", ""},
        {rw + u"hex:0a,0b", "25:extra-fields", "2 arguments; hex:"}, {rw + u"a,b", "20:extra-fields", "; a registry"},
        {u"delete,a,b,c", "9:extra-fields", "argument|"},
        {u"down,a,,sha256=" + Text(64, u'F'), ""}, {u"update,a,b,sha256=1", "12:pin-malformed"},
        {u"down,a,b,c", "9:extra-fields", "only a \"sha256=\" pin"},
        {u"msgbox,a,64,b,c", "14:extra-fields", "3 arguments; a text"},
        {u"execute,a.exe", "14:missing-argument", "\"execute\" needs a window style"},
        {u"down,  ,a", "6:missing-argument"}, {u"ver,a.exe", "10:missing-argument", "in field 2"}, {u"copy,a", ""},
        {u"down", "5:missing-argument"}, {u"msgbox,,64", "8:missing-argument"}, {u"wait,", "6:missing-argument"},
        {u"down, a", "6:field-blank", "\" a\" begins"}, {u"update,a\t,c:\\a", "9:field-blank", "ends with"},
        {u"hostsadd,a, 1", "12:field-blank"}, {u"keypress, {ENTER}", "10:field-blank"}, {u"message, a", ""},
        {u"wait, 2", ""}, {u"copy,a,$WorkDir\\a", ""}, {u"message,costs $5", ""},
        {u"copy,a,$workdir\\a", "8:macro-case", "\"$workdir\\\" is not expanded: macros are case-sensitive; write \"$WorkDir"},
        {u"copy,a,$WorkDir", "8:macro-backslash", "\"$WorkDir\" without"}, {u"keypress,%{F4},1", ""},
        {u"copy,$TempDir\\a,$desktop\\a", "17:macro-case"},
        {u"keypress,{ENTER", "10:keypress-keys", "\"{ENTER\" is rejected: "}, {rw + u"hex:0a0B", ""},
        {rw + u"HEX:", ""}, {u"regwrite,HKCU\\S\\", ""}, {rw + u"hex:0a 0b", "25:hex-separator"},
        {rw + u"hex:0g", "24:hex-digit"}, {rw + u"hex:0a0", "23:hex-odd", "digits (3)"}, {rw + u"dword:&o7", ""},
        {rw + u"hex:" + Text(2 * 16385, u'a'), "23:hex-too-long"}, {rw + u"dword:-1", ""},
        {rw + u"dword:&hFFFFFFFF", ""}, {rw + u"dword:2147483648", "25:dword-range"},
        {rw + u"dword:&o8", "25:dword-number"}, {u"regdelete,HKCU\\S\\", ""},
        {rw + u"dword:0000000a", "25:dword-number", "stored as 0;"}, {u"regwrite,HKXX\\S\\V,x", "10:reg-root"},
        {u"regwrite,Software,x", "10:reg-path", "no backslash"},
        {u"regdelete,HKCU\\Name", "11:reg-path", "a root, a key"}, {u"wait,0.5", ""}, {u"wait,+.5", ""},
        {u"wait,.", "6:wait-value"}, {u"wait,5s", "6:wait-value", "reads as 5|"},
        {u"wait,3601", "6:wait-value", "over an hour"}, {u"wait,-1", "6:wait-value", "below zero"},
        {u"wait,1e400", "6:wait-value", "reads as inf|"}, {u"msgbox,a,0", ""}, {u"msgbox,a,&h24", ""},
        {u"msgbox,a,4137798", ""}, {u"msgbox,a,4.6", "10:msgbox-style", "reads as 5;"},
        {u"msgbox,a,1E20", "10:msgbox-style", "does not fit"}, {u"msgbox,a,7", "10:msgbox-style"},
        {u"msgbox,a,80", "10:msgbox-style"}, {u"msgbox,a,1024", "10:msgbox-style"},
        {u"msgbox,a,12288", "10:msgbox-style"}, {u"msgbox,a,-1", "10:msgbox-style"},
        {u"msgbox,a,4194304", "10:msgbox-style"}, {u"execute,a,6", ""}, {u"execute,a,5", "11:execute-style"},
        {u"execute,a,1.5", "11:execute-style"}, {u"execute,a,&h", "11:execute-style"}, {u"keypress,a,-1", ""},
        {u"copy,a,b,0", ""}, {u"keypress,a,x", "12:keypress-wait", "reads as 0, so the keys are sent without"},
        {u"copy,a,b,1", ""}, {u"keypress,a,2.5", "12:keypress-wait", "reads as 2.5, so the keys are sent and"},
        {u"copy,a,b,True", ""}, {u"copy,a,b,no", "10:copy-flag", "\"no\" overwrites"},
        {u"ver,missing,1.0", "5:server-missing"},
        {u"create,missing", "8:server-missing", "(no file \"/qxupdate/missing\")"}, {u"down,sub/a", "6:url-no-slash"},
        {u"down,http://a.com/missing", ""}, {u"update,/qxupdate/sub/a", ""}, {u"create,http://a.com/b/c", ""},
        {u"down,sub\\a", ""}, {u"delete,$TempDir\\a?.txt", "18:wildcard", "\"?\" matches"},
        {u"copy,a,b*.txt", "9:wildcard"}, {u"ver,a.exe,v1.2", "11:ver-version"}, {u"ver,a.exe,1..2", "11:ver-version"},
        {u"ver,a.exe,1.", "11:ver-version"}, {u"ver,a.exe,10.0.3", ""}, {u"dwonn", "1:unknown-keyword", "\"down\"?"},
        {u"Delet ", "1:unknown-keyword", "\"delete\"?"}, {u"vr", "1:unknown-keyword", "\"ver\"?"},
        {u"vaz", "1:unknown-keyword", "ignored|"}, {u"下载", "1:unknown-keyword", "ignored|"},
        {u"message," + Text{0xD800, 0xDC00, 0xDBFF, 0xDFFF, 0xD7FF, 0xE000, 0xDC00} + u",x", "14:extra-fields"},
    };
    for (const auto& r : rows) {
        std::vector<Finding> found;
        CheckLine(2, r.line, {[](const Text& path) { return path.find(u"missing") == Text::npos; }}, found);
        const std::string report = Report(found, false);
        EXPECT_EQ(report.substr(0, report.find('|')), r.expected) << ToUtf8(r.line);
        EXPECT_NE(report.find(r.part), std::string::npos) << ToUtf8(r.line) << ": " << report;
    }
    for (const CommandSpec& command : Commands()) EXPECT_EQ(SuggestKeyword(command.keyword), command.keyword);
}

// A server whose files all have the digest of the "1" pin, but "changed"; an
// updater that carries a key.
TEST(CheckLine, PinsForASignedScript) {
    const Text one = u",sha256=" + Text(64, u'1');
    const LineRules rules{[](const Text& path) { return path.find(u"missing") == Text::npos; },
                          [](const Text& path) { return Bytes(32, path == u"/qxupdate/changed" ? '\x22' : '\x11'); },
                          true};
    const struct { Text line; const char* expected; } rows[] = {
        {u"down,a," + one, ""}, {u"down,changed," + one, "15:pin-mismatch"}, {u"ver,a,1.0" + one, ""},
        {u"create,missing," + one, "8:server-missing"}, {u"down,http://a.com/changed," + one, ""},
        {u"update,a", "1:pin-missing"}, {u"down,a,b,c", "9:extra-fields 1:pin-missing"},
        {u"ver,a,1.0,sha256=1", "11:pin-malformed"}, {u"copy,a,b", ""},
    };
    for (const auto& r : rows) {
        std::vector<Finding> found;
        CheckLine(2, r.line, rules, found);
        const std::string report = Report(found, false);
        EXPECT_EQ(report.substr(0, report.find('|')), r.expected) << ToUtf8(r.line);
    }
}

TEST(ScriptCheck, WholeFiles) {
    // ASCII, and C4 with a byte from 40 up as one character; any other byte is invalid.
    const StrictDecoder decode = [](const Bytes& bytes, Text& text) {
        text.clear();
        for (size_t i = 0; i < bytes.size(); ++i) {
            const unsigned char b = bytes[i], next = i + 1 < bytes.size() ? bytes[i + 1] : 0;
            if (b >= 0x80 && (b != 0xC4 || next < 0x40)) return false;
            text += b < 0x80 ? char16_t(b) : char16_t(0x4E00 + next);
            i += b < 0x80 ? 0 : 1;
        }
        return true;
    };
    const Options later{936, true, {2024, 3, 1, 0, 0, 0}, {}};
    // Each row: the findings, then the start of the first message.
    const struct { Bytes script; const char* expected; bool later = false; } rows[] = {
        {"2024-03-01\r\n", "|"}, {"2024/3/1 10:00", "|"}, {"01.03.2024\r\n", "1:1:stamp|"}, {"", "1:1:stamp|"},
        {"\r\n2024-03-01\r\n", "1:1:stamp 2:1:unknown-keyword|"}, {"2024-03-01 00:00:01", "|", true},
        {"2024-03-01\r\nmessage,x", "1:1:stamp-not-later|the stamp \"2024-03-01\" is not later than \"2024-03-01\"",
         true},
        // A line feed alone is one finding where the first stands; the rest is checked as the lines were meant.
        {"2024-03-01\ndown,a.exe\ndowload,b\n", "1:11:lf-line-ends 3:1:unknown-keyword|3 lines end"},
        {"2024-03-01\r\ndown,\xC4\xE3\nmessage,x\r\n", "2:7:lf-line-ends|1 line ends"},
        {"2024-03-01\rdown,a.exe\rdowload,x\r", "3:1:unknown-keyword|"},
        {"2024-03-01\r\nver,a.exe,1.2\r\n\r\nmessage,a\r\nmessage,b", "4:1:after-ver|"},
        {"2024-03-01\r\nver,a,1\r\n \r\n", "|"},
        {"2024-03-01\r\nmessage,\xC4\xE3\x80\x80ok\r\nmessage,x\xC4\r\n",
         "2:10:invalid-byte 3:10:invalid-byte|2 bytes are not valid in code page 936"},
        {"\xEF\xBB\xBF" "2024-03-01\r\ndowload,x\r\n", "1:1:bom 2:1:unknown-keyword|"},
        {Bytes("\xFF\xFE" "2\0" "0\0", 6), "1:1:bom|"}, {Bytes("\xFE\xFF" "\0" "2\0" "0", 6), "1:1:bom|"},
    };
    for (const auto& r : rows) {
        EXPECT_EQ(Report(CheckScriptBytes(r.script, decode, r.later ? later : Options())).find(r.expected), 0u) << r.script;
    }
    std::vector<bool> invalid;
    EXPECT_EQ(DecodeScript("a\xC4\xE3\x80\xFF" "b", decode, invalid), (Text{u'a', 0x4EE3, 0xFFFD, 0xFFFD, u'b'}));
    EXPECT_EQ(invalid, (std::vector<bool>{false, false, true, true, false}));
}

}  // namespace qx::check
