#include "script/ScriptCheck.h"

#include <algorithm>

#include "download/TextUtils.h"
#include "script/ScriptFile.h"
#include "script/Stamp.h"

namespace qx::check {

namespace {

constexpr char16_t kReplacement = 0xFFFD;

}  // namespace

Text DecodeScript(const Bytes& raw, const StrictDecoder& decode, std::vector<bool>& invalid) {
    invalid.clear();
    Text whole;
    if (decode(raw, whole)) {
        invalid.assign(whole.size(), false);
        return whole;
    }
    // Shortest first: in the code pages scripts are written in, no valid
    // character is the beginning of a longer one.
    Text text;
    size_t pos = 0;
    while (pos < raw.size()) {
        bool done = false;
        for (size_t len = 1; len <= 4 && pos + len <= raw.size(); ++len) {
            Text piece;
            if (decode(raw.substr(pos, len), piece)) {
                text += piece;
                invalid.resize(text.size(), false);
                pos += len;
                done = true;
                break;
            }
        }
        if (!done) {
            text.push_back(kReplacement);
            invalid.push_back(true);
            ++pos;
        }
    }
    return text;
}

std::vector<Finding> CheckScriptBytes(const Bytes& raw, const StrictDecoder& decode, const Options& options) {
    std::vector<Finding> findings;
    Bytes body = raw;
    if (raw.size() >= 2 && (raw.compare(0, 2, "\xFF\xFE") == 0 || raw.compare(0, 2, "\xFE\xFF") == 0)) {
        findings.push_back(Finding{1, 1, "bom",
                                   Text(u"the file is saved as UTF-16: the updater cannot read any of it; save it in "
                                     u"code page ") +
                                       Decimal(options.codePage)});
        return findings;
    }
    if (raw.compare(0, 3, "\xEF\xBB\xBF") == 0) {
        findings.push_back(Finding{1, 1, "bom",
                                   Text(u"the file begins with a byte-order mark (saved as UTF-8?): the updater reads "
                                     u"it as part of the stamp and the update fails; save it in code page ") +
                                       Decimal(options.codePage) + Text(u" without a byte-order mark")});
        body = raw.substr(3);
    }
    std::vector<bool> invalid;
    const Text text = DecodeScript(body, decode, invalid);
    std::vector<Finding> rest = CheckScriptText(text, invalid, options);
    findings.insert(findings.end(), rest.begin(), rest.end());
    std::stable_sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) {
        return a.line != b.line ? a.line < b.line : a.column < b.column;
    });
    return findings;
}

std::vector<Finding> CheckScriptText(const Text& content, const std::vector<bool>& invalid, const Options& options) {
    std::vector<Finding> findings;

    // A line feed alone ends a line in every editor but not in the updater,
    // which then reads the rest of the file as part of that line. It is
    // reported once; the rest is checked as the author meant the lines.
    Text normal;
    std::vector<bool> bad;
    normal.reserve(content.size());
    size_t loneFeeds = 0;
    int firstFeedLine = 0;
    int firstFeedColumn = 0;
    {
        int line = 1;
        size_t lineStart = 0;
        for (size_t i = 0; i < content.size(); ++i) {
            const bool isBad = i < invalid.size() && invalid[i];
            if (content[i] == u'\n' && (i == 0 || content[i - 1] != u'\r')) {
                if (loneFeeds++ == 0) {
                    firstFeedLine = line;
                    firstFeedColumn = ColumnOf(content.substr(lineStart, i - lineStart), i - lineStart);
                }
                normal.push_back(u'\r');
                bad.push_back(false);
            }
            normal.push_back(content[i]);
            bad.push_back(isBad);
            if (content[i] == u'\n' || (content[i] == u'\r' && (i + 1 >= content.size() || content[i + 1] != u'\n'))) {
                ++line;
                lineStart = i + 1;
            }
        }
    }
    if (loneFeeds > 0) {
        findings.push_back(Finding{
            firstFeedLine, firstFeedColumn, "lf-line-ends",
            Decimal(static_cast<long long>(loneFeeds)) +
                Text(loneFeeds == 1 ? u" line ends" : u" lines end") +
                Text(u" with a line feed alone: the updater reads no line break there and joins the lines into one; "
                  u"save the file with CR LF line ends")});
    }

    const std::vector<Text> lines = SplitScriptLines(normal);
    if (lines.empty()) {
        findings.push_back(Finding{1, 1, "stamp", Text(u"the file is empty: line 1 must be the date of the script")});
        return findings;
    }

    size_t offset = 0;
    int verLine = 0;
    bool afterVerReported = false;
    for (size_t n = 0; n < lines.size(); ++n) {
        const Text& line = lines[n];
        const int lineNo = static_cast<int>(n) + 1;

        size_t badCount = 0;
        size_t firstBad = 0;
        for (size_t i = 0; i < line.size(); ++i) {
            if (offset + i < bad.size() && bad[offset + i] && badCount++ == 0) firstBad = i;
        }
        if (badCount > 0) {
            findings.push_back(Finding{lineNo, ColumnOf(line, firstBad), "invalid-byte",
                                       Decimal(static_cast<long long>(badCount)) +
                                           Text(badCount == 1 ? u" byte is" : u" bytes are") +
                                           Text(u" not valid in code page ") + Decimal(options.codePage) +
                                           Text(u": the updater reads other characters there")});
        }

        if (n == 0) {
            DateTime stamp;
            if (!ParseStamp(line, stamp)) {
                findings.push_back(Finding{1, 1, "stamp",
                                           Text(u"line 1 ") + Shown(line) +
                                               Text(u" is not a date such as 2006-05-18 or 2006-05-18 10:00:00: the "
                                                 u"update fails")});
            } else if (options.hasPrevious && !(stamp > options.previous)) {
                findings.push_back(Finding{1, 1, "stamp-not-later",
                                           Text(u"the stamp ") + Shown(FormatStamp(stamp)) + Text(u" is not later than ") +
                                               Shown(FormatStamp(options.previous)) +
                                               Text(u": users who ran that script are asked whether to run this one")});
            }
        } else {
            if (verLine != 0 && !afterVerReported && !Trim(line).empty()) {
                findings.push_back(Finding{lineNo, 1, "after-ver",
                                           Text(u"this line and the ones after it run only when the ver line ") +
                                               Text(u"on line ") + Decimal(verLine) +
                                               Text(u" finds no newer updater; put the ver line last")});
                afterVerReported = true;
            }
            const CommandSpec* command = CheckLine(lineNo, line, options.lines, findings);
            if (command != nullptr && command->handsOver && verLine == 0) verLine = lineNo;
        }

        // Step over the line and its break, as SplitScriptLines cut them.
        offset += line.size();
        if (offset < normal.size() && normal[offset] == u'\r') {
            ++offset;
            if (offset < normal.size() && normal[offset] == u'\n') ++offset;
        }
    }

    std::stable_sort(findings.begin(), findings.end(), [](const Finding& a, const Finding& b) {
        return a.line != b.line ? a.line < b.line : a.column < b.column;
    });
    return findings;
}

}  // namespace qx::check
