#include "actions/HostsFile.h"

#include <memory>

#include "download/Naming.h"
#include "download/TextUtils.h"

namespace qx {

namespace {

const Text kQuote(1, u'"');
const Bytes kLineEnd = "\r\n";

char16_t FoldAscii(char16_t c) { return c >= u'A' && c <= u'Z' ? static_cast<char16_t>(c - u'A' + u'a') : c; }

bool SameHostName(const Text& a, const Text& b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
    }
    return true;
}

// Writes the new content to a side file and then puts it in place of the
// hosts file, so a failure half-way (disk full, a crash) never leaves a
// hosts file with lines missing. The side file goes beside the hosts file;
// where that folder takes no new files (a user given write access to the
// hosts file alone) it goes to the temp folder, and the replacement writes
// the hosts file in place. The side file is removed on failure.
void PutHostsFileInPlace(const HostsAccess& hosts, const Bytes& content) {
    IFileSystem& files = hosts.files;
    const Text unique = GetRndString(hosts.random, 8);
    Text temp;
    try {
        std::unique_ptr<IOpenFile> out;
        try {
            out = files.CreateForWrite(hosts.strHostsFile + u"." + unique + u".tmp");
            temp = hosts.strHostsFile + u"." + unique + u".tmp";
        } catch (const std::exception&) {
            out = files.CreateForWrite(hosts.strTempDir + u"hosts." + unique + u".tmp");
            temp = hosts.strTempDir + u"hosts." + unique + u".tmp";
        }
        out->Write(content);
        out->Close();
        files.Replace(temp, hosts.strHostsFile);
    } catch (const std::exception&) {
        if (!temp.empty()) {
            try {
                files.Delete(temp);
            } catch (const std::exception&) {
                // Nothing more can be done; the hosts file itself is intact.
            }
        }
        throw;
    }
}

}  // namespace

std::vector<Bytes> SplitHostsLines(const Bytes& content) {
    std::vector<Bytes> lines;
    Bytes line;
    for (size_t i = 0; i < content.size(); ++i) {
        const char c = content[i];
        if (c == '\r' || c == '\n') {
            lines.push_back(line);
            line.clear();
            if (c == '\r' && i + 1 < content.size() && content[i + 1] == '\n') ++i;
        } else {
            line += c;
        }
    }
    if (!line.empty()) lines.push_back(line);
    return lines;
}

HostsFields ParseHostsLine(const Text& line) {
    HostsFields fields;
    const Text live = line.substr(0, line.find(u'#'));
    size_t i = 0;
    bool first = true;
    while (i < live.size()) {
        while (i < live.size() && IsBlank(live[i])) ++i;
        const size_t start = i;
        while (i < live.size() && !IsBlank(live[i])) ++i;
        if (i == start) break;
        Text field = live.substr(start, i - start);
        if (first) {
            fields.address = std::move(field);
            first = false;
        } else {
            fields.names.push_back(std::move(field));
        }
    }
    return fields;
}

Text HostsLeadingWord(const Text& line) {
    size_t end = 0;
    while (end < line.size() && !IsBlank(line[end])) ++end;
    return line.substr(0, end);
}

bool IsUsableHostName(const Text& name) {
    if (name.empty()) return false;
    for (char16_t c : name) {
        if (IsBlank(c) || c == u'#' || c == u'\r' || c == u'\n') return false;
    }
    return true;
}

bool HostsLineNamesHost(const Text& line, const Text& name) {
    for (const Text& field : ParseHostsLine(line).names) {
        if (SameHostName(field, name)) return true;
    }
    return false;
}

bool HostsEntryPresent(const Text& line, const Text& name, const Text& address) {
    return ParseHostsLine(line).address == address && HostsLineNamesHost(line, name);
}

HostsLineFate RemovalFate(const Text& line, const Text& name, const Text& address) {
    if (!HostsLineNamesHost(line, name)) return HostsLineFate::kKeep;
    if (address.empty() || HostsLeadingWord(line) == address) return HostsLineFate::kDrop;
    return HostsLineFate::kCommentOut;
}

Bytes RewriteHostsForRemoval(const Bytes& content, const ICodePage& codepage, const Text& name,
                             const Text& address) {
    Bytes out;
    for (const Bytes& raw : SplitHostsLines(content)) {
        switch (RemovalFate(codepage.FromAnsi(raw), name, address)) {
            case HostsLineFate::kKeep:
                out += raw + kLineEnd;
                break;
            case HostsLineFate::kCommentOut:
                // Kept for the administrator to see what the mapping was.
                out += "#" + raw + kLineEnd;
                break;
            case HostsLineFate::kDrop:
                break;
        }
    }
    return out;
}

bool RewriteHostsForAdd(const Bytes& content, const ICodePage& codepage, const Text& name,
                        const Text& address, Bytes& newContent) {
    Bytes out;
    for (const Bytes& raw : SplitHostsLines(content)) {
        if (HostsEntryPresent(codepage.FromAnsi(raw), name, address)) return false;
        out += raw + kLineEnd;
    }
    newContent = out + codepage.ToAnsi(address + u"\t" + name) + kLineEnd;
    return true;
}

void RemoveHostsEntry(const HostsAccess& hosts, const Text& strDNS, const Text& strIP) {
    if (!IsUsableHostName(strDNS)) return;
    try {
        const Bytes content = hosts.files.ReadAll(hosts.strHostsFile);
        // A read-only hosts file is left alone by the removal; only an add
        // clears the mark.
        const uint32_t attributes = hosts.files.GetAttributes(hosts.strHostsFile);
        if ((attributes & attr::kReadOnly) != 0) return;
        PutHostsFileInPlace(hosts, RewriteHostsForRemoval(content, hosts.codepage, strDNS, strIP));
    } catch (const std::exception&) {
        // Silent by design: the script goes on with the hosts file as it was.
    }
}

void AddHostsEntry(const HostsAccess& hosts, const Text& strDNS, const Text& strIP) {
    if (!IsUsableHostName(strDNS)) return;
    try {
        const Bytes content = hosts.files.ReadAll(hosts.strHostsFile);
        Bytes updated;
        if (!RewriteHostsForAdd(content, hosts.codepage, strDNS, strIP, updated)) return;
        // An add must get through even when someone marked the file
        // read-only; the file is left with normal attributes.
        hosts.files.SetAttributes(hosts.strHostsFile, attr::kNormal);
        PutHostsFileInPlace(hosts, updated);
        hosts.files.SetAttributes(hosts.strHostsFile, attr::kNormal);
    } catch (const std::exception&) {
        // Silent by design, as for the removal.
    }
}

// A name no resolver would match (a blank copied in around it, for one)
// would otherwise leave the file untouched without a word.
bool RefuseUnusableName(IProgressLog& log, const Text& operation, const Text& name) {
    if (IsUsableHostName(name)) return false;
    log.ErrLog(operation + kQuote + name + kQuote +
               u"失败：主机名为空或含有空格、制表符、\"#\"，hosts文件没有改动");
    return true;
}

void DoHostsAdd(IProgressLog& log, const HostsAccess& hosts, const Text& strDNS, const Text& strIP) {
    log.Message(u"正在添加DNS记录" + kQuote + strDNS + kQuote + u"……");
    if (RefuseUnusableName(log, u"添加DNS记录", strDNS)) return;
    RemoveHostsEntry(hosts, strDNS, strIP);
    AddHostsEntry(hosts, strDNS, strIP);
}

void DoHostsRemove(IProgressLog& log, const HostsAccess& hosts, const Text& strDNS) {
    log.Message(u"正在删除DNS记录" + kQuote + strDNS + kQuote + u"……");
    if (RefuseUnusableName(log, u"删除DNS记录", strDNS)) return;
    RemoveHostsEntry(hosts, strDNS, Text());
}

}  // namespace qx
