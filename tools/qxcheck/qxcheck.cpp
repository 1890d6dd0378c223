#include "qxcheck.h"

#include "download/TextUtils.h"
#include "platform/codepage.h"
#include "script/ScriptCheck.h"
#include "script/Stamp.h"

namespace qx::qxcheck {
namespace {

Text T(const char* ascii) { return FromUtf8(ascii); }

const char kUsage[] =
    "usage: qxcheck [--codepage N] [--previous STAMP] [--server DIR] [--signed] [--json] [FILE...]\n"
    "Checks update scripts the way the updater reads them and reports, one line each,\n"
    "whatever will not do what its author most likely meant.\n"
    "  --codepage N      the code page the script is written in (default 936)\n"
    "  --previous STAMP  the stamp of the script published before; this one must be later\n"
    "  --server DIR      the folder served as the server root: every file that down, create,\n"
    "                    update and ver lines fetch must be there and match their sha256=\n"
    "                    pins; FILE defaults to DIR/qxupdate/update.inf\n"
    "  --signed          the script is for updaters that carry a key: every down, create,\n"
    "                    update and ver line needs a sha256= pin, or it downloads nothing\n"
    "  --json            one JSON object on standard output instead of lines\n"
    "Exit status: 0 clean, 1 findings, 2 a script could not be read or bad usage.";

// "update.inf:3:1: unknown-keyword: ..." for people.
Text FormatFinding(const Text& fileName, const check::Finding& f) {
    return fileName + u":" + Decimal(f.line) + u":" + Decimal(f.column) + u": " + FromUtf8(f.code) + u": " +
           f.message;
}

// A JSON string literal, quotes included.
Text JsonString(const Text& text) {
    Text out = u"\"";
    for (char16_t c : text) {
        if (c == u'"' || c == u'\\') {
            out.push_back(u'\\');
            out.push_back(c);
        } else if (c < 0x20) {
            static const char kHex[] = "0123456789abcdef";
            out += u"\\u00";
            out.push_back(static_cast<char16_t>(kHex[c >> 4]));
            out.push_back(static_cast<char16_t>(kHex[c & 0xF]));
        } else {
            out.push_back(c);
        }
    }
    out.push_back(u'"');
    return out;
}

struct FileResult {
    Text file;
    bool readable = false;
    Text error;
    std::vector<check::Finding> findings;
};

Text JsonReport(const std::vector<FileResult>& results) {
    Text out = u"{\"findings\":[";
    bool first = true;
    for (const FileResult& r : results) {
        for (const check::Finding& f : r.findings) {
            if (!first) out += u",";
            first = false;
            out += u"{\"file\":" + JsonString(r.file) + u",\"line\":" + Decimal(f.line) +
                   u",\"column\":" + Decimal(f.column) +
                   u",\"code\":" + JsonString(FromUtf8(f.code)) +
                   u",\"message\":" + JsonString(f.message) + u"}";
        }
    }
    out += u"],\"errors\":[";
    first = true;
    for (const FileResult& r : results) {
        if (r.readable) continue;
        if (!first) out += u",";
        first = false;
        out += u"{\"file\":" + JsonString(r.file) + u",\"message\":" + JsonString(r.error) + u"}";
    }
    out += u"]}";
    return out;
}

}  // namespace

int Run(Host& host, const std::vector<Text>& args) {
    unsigned codePage = tools::kDefaultCodePage;
    check::Options options;
    Text serverDir;
    bool json = false;
    std::vector<Text> files;

    auto usageError = [&](const Text& why) {
        host.Err(u"qxcheck: " + why);
        host.Err(T(kUsage));
        return kUnreadable;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const Text& a = args[i];
        const bool hasValue = i + 1 < args.size();
        if (a == u"--help" || a == u"-h") {
            host.Out(T(kUsage));
            return kClean;
        } else if (a == u"--signed") {
            options.lines.pinsRequired = true;
        } else if (a == u"--json") {
            json = true;
        } else if (a == u"--codepage") {
            if (!hasValue || !tools::ParseCodePage(args[i + 1], codePage)) return usageError(T("--codepage needs a number"));
            ++i;
        } else if (a == u"--previous") {
            if (!hasValue || !ParseStamp(args[i + 1], options.previous)) {
                return usageError(T("--previous needs a date such as 2006-05-18 or \"2006-05-18 10:00:00\""));
            }
            options.hasPrevious = true;
            ++i;
        } else if (a == u"--server") {
            if (!hasValue || args[i + 1].empty()) return usageError(T("--server needs a folder"));
            serverDir = args[++i];
        } else if (a.size() > 1 && a[0] == u'-') {
            return usageError(u"unknown option " + a);
        } else {
            files.push_back(a);
        }
    }
    if (!KnowsCodePage(codePage)) {
        return usageError(T("this system has no converter for code page ") + Decimal(codePage));
    }
    if (files.empty()) {
        if (serverDir.empty()) return usageError(T("no script given"));
        Text root = serverDir;
        while (root.size() > 1 && (root.back() == u'/' || root.back() == u'\\')) root.pop_back();
        files.push_back(root + u"/qxupdate/update.inf");
    }

    options.codePage = codePage;
    if (!serverDir.empty()) {
        options.lines.serverFileExists = [&host, serverDir](const Text& path) {
            return host.FileExistsBelow(serverDir, path);
        };
        // An unreadable file has no digest and so matches no pin.
        options.lines.serverDigest = [&host, serverDir](const Text& path) {
            try {
                return Sha256(host.Crypto(), host.ReadFile(serverDir + path));
            } catch (const QxError&) {
                return Bytes();
            }
        };
    }
    const check::StrictDecoder decode = [codePage](const Bytes& bytes, Text& text) {
        return DecodeExact(codePage, bytes, text);
    };

    std::vector<FileResult> results;
    int status = kClean;
    for (const Text& file : files) {
        FileResult r;
        r.file = file;
        Bytes raw;
        try {
            raw = host.ReadFile(file);
            r.readable = true;
        } catch (const QxError& e) {
            r.error = e.Description();
            status = kUnreadable;
        }
        if (r.readable) {
            r.findings = check::CheckScriptBytes(raw, decode, options);
            if (!r.findings.empty() && status == kClean) status = kFindings;
        }
        if (!json) {
            if (!r.readable) host.Err(file + u": cannot be read: " + r.error);
            for (const check::Finding& f : r.findings) host.Out(FormatFinding(file, f));
        }
        results.push_back(std::move(r));
    }
    if (json) {
        host.Out(JsonReport(results));
    } else {
        size_t count = 0;
        for (const FileResult& r : results) count += r.findings.size();
        if (status != kUnreadable) {
            host.Err(count == 0 ? T("no findings")
                                : Decimal(static_cast<long long>(count)) + T(count == 1 ? " finding" : " findings"));
        }
    }
    return status;
}

}  // namespace qx::qxcheck
