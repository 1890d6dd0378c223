#include "script/Paths.h"

#include "actions/Registry.h"
#include "config/Trailer.h"
#include "download/Naming.h"

namespace qx {

namespace {

const Text kShellFolders =
    u"HKEY_LOCAL_MACHINE\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

Text WithBackslash(const Text& folder) {
    if (!folder.empty() && folder.back() == u'\\') return folder;
    return folder + u'\\';
}

// The platform fills a buffer and leaves NULs after the path.
Text DirectoryFromAnsi(const ICodePage& codepage, const Bytes& ansi) {
    Text dir = codepage.FromAnsi(ansi);
    const size_t nul = dir.find(u'\0');
    if (nul != Text::npos) dir.erase(nul);
    return WithBackslash(dir);
}

Text ProgramFolder(const Text& programPath) {
    const size_t slash = programPath.find_last_of(u"\\/");
    return WithBackslash(slash == Text::npos ? Text() : programPath.substr(0, slash));
}

// A folder the registry does not know stays empty, so its macro expands to
// nothing rather than to a lone backslash.
Text SharedFolder(const Platform& p, const Text& valueName) {
    const Text dir = GetRegValue(p.registry, p.codepage, kShellFolders + u"\\" + valueName, Text());
    return dir.empty() ? dir : WithBackslash(dir);
}

void ReplaceAll(Text& line, const Text& macro, const Text& value) {
    size_t at = line.find(macro);
    while (at != Text::npos) {
        line.replace(at, macro.size(), value);
        at = line.find(macro, at + value.size());
    }
}

}  // namespace

Text ServerURLFromAddress(const Text& address) {
    // Deployers who serve updates over TLS write the whole base URL; a bare
    // host keeps its old meaning of plain HTTP.
    auto startsWith = [&](const char16_t* scheme) {
        const Text s(scheme);
        if (address.size() < s.size()) return false;
        for (size_t i = 0; i < s.size(); ++i) {
            char16_t c = address[i];
            if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c - u'A' + u'a');
            if (c != s[i]) return false;
        }
        return true;
    };
    if (startsWith(u"https://") || startsWith(u"http://")) return address;
    return u"http://" + address;
}

void InitPaths(const Platform& p, SharedFields& fields) {
    fields.strWinDir = DirectoryFromAnsi(p.codepage, p.process.WindowsDirectoryAnsi());
    fields.strSysDir = DirectoryFromAnsi(p.codepage, p.process.SystemDirectoryAnsi());

    // A stored folder is trusted exactly as the administrator wrote it.
    fields.strAppDir = p.settings.GetSetting(ProgramBaseName(p.process), u"System", u"InitDir",
                                             ProgramFolder(p.process.ProgramPath()));

    // The folder's contents are listed, not the folder as an entry of
    // "drivers": a 32-bit program on 64-bit Windows sees "drivers" through
    // the redirected System folder, which has no "etc", while "etc" itself
    // is exempt from the redirection. An empty folder lists nothing, so it
    // is asked for directly.
    const Text etcDir = fields.strSysDir + u"drivers\\etc\\";
    const uint32_t anyEntry = attr::kReadOnly | attr::kHidden | attr::kSystem | attr::kDirectory;
    const bool haveEtc = !p.files.List(etcDir, anyEntry).empty() || p.files.DirExists(etcDir);
    fields.strHostsFile = (haveEtc ? etcDir : fields.strWinDir) + u"hosts";

    fields.strDesktopDir = SharedFolder(p, u"Common Desktop");
    fields.strStartMenuDir = SharedFolder(p, u"Common Start Menu");

    fields.strServerURL = ServerURLFromAddress(
        GetServerIP(p.files, p.codepage, InstalledProgramFile(p.process, fields.strAppDir)));
}

const std::array<PathMacro, 6>& PathMacros() {
    static const std::array<PathMacro, 6> kMacros = {{
        {u"StartMenu", &SharedFields::strStartMenuDir},
        {u"Desktop", &SharedFields::strDesktopDir},
        {u"WorkDir", &SharedFields::strWorkDir},
        {u"TempDir", &SharedFields::strTempDir},
        {u"SysDir", &SharedFields::strSysDir},
        {u"WinDir", &SharedFields::strWinDir},
    }};
    return kMacros;
}

Text ReplaceCommonPath(const SharedFields& fields, const Text& strLine) {
    Text line = strLine;
    for (const PathMacro& macro : PathMacros()) {
        ReplaceAll(line, u"$" + Text(macro.name) + u"\\", fields.*macro.folder);
    }
    return line;
}

}  // namespace qx
