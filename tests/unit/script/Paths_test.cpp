#include "script/Paths.h"

#include <gtest/gtest.h>

#include "fakes/FakeFileSystem.h"
#include "fakes/FakePlatform.h"
#include "fakes/FakeRegistry.h"

namespace qx {
namespace {

// A process whose Windows and System directories a test can choose.
class DirProcess : public fake::Process {
public:
    Bytes windowsDir = "C:\\windows";
    Bytes systemDir = "C:\\windows\\system32";
    Bytes WindowsDirectoryAnsi() override { return windowsDir; }
    Bytes SystemDirectoryAnsi() override { return systemDir; }
};

struct PathServices {
    fake::Window window;
    DirProcess process;
    fake::FakeFileSystem files;
    fake::Settings settings;
    fake::FakeRegistry registry;
    fake::UnusedHttp http;
    fake::Clock clock;
    fake::Random random;
    fake::CodePage codepage;
    Platform platform{window, process, files, settings, registry, http, clock, random, codepage};
};

const Bytes kShellFolders = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

class PathsTest : public testing::Test {
protected:
    void SetUp() override {
        form.strWorkDir = u"c:\\qxwork\\";
        form.strTempDir = u"c:\\qxwork\\temp\\";
    }
    void TearDown() override { EXPECT_EQ(s.registry.OpenHandles(), 0u) << "registry keys left open"; }

    void ShellFolder(const Bytes& name, const Bytes& value, uint32_t type = reg::kSz) {
        s.registry.Put(reg::kLocalMachine, kShellFolders, name, type, value + Bytes(1, '\0'));
    }

    PathServices s;
    FrmUpdate form{s.platform};
};

// ---- macros ---------------------------------------------------------------

TEST_F(PathsTest, MacrosExpandInOrderAndOnlyAsWritten) {
    form.strStartMenuDir = u"S:\\menu\\";
    form.strDesktopDir = u"D:\\desk\\";
    form.strWorkDir = u"W:\\";
    form.strTempDir = u"W:\\temp\\";
    form.strSysDir = u"C:\\win\\sys\\";
    form.strWinDir = u"C:\\win\\";
    struct Case {
        const char16_t* line;
        const char16_t* expected;
    };
    const Case cases[] = {
        {u"", u""},
        {u"$StartMenu\\a.lnk", u"S:\\menu\\a.lnk"},
        {u"$Desktop\\a.lnk", u"D:\\desk\\a.lnk"},
        {u"$WorkDir\\a.txt", u"W:\\a.txt"},
        {u"$TempDir\\a.txt", u"W:\\temp\\a.txt"},
        {u"$SysDir\\a.dll", u"C:\\win\\sys\\a.dll"},
        {u"$WinDir\\a.ini", u"C:\\win\\a.ini"},
        {u"copy,$TempDir\\a,$WorkDir\\a,0", u"copy,W:\\temp\\a,W:\\a,0"},
        {u"$WorkDir\\$TempDir\\x", u"W:\\W:\\temp\\x"},
        {u"$WorkDir\\a;$WorkDir\\b", u"W:\\a;W:\\b"},
        {u"$workdir\\a", u"$workdir\\a"},
        {u"$WORKDIR\\a", u"$WORKDIR\\a"},
        {u"$WorkDir", u"$WorkDir"},
        {u"$WorkDira", u"$WorkDira"},
        {u"$WorkDir/a", u"$WorkDir/a"},
        {u"$$WorkDir\\\\", u"$W:\\\\"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ReplaceCommonPath(form, c.line), c.expected) << "line [" << ToUtf8(c.line) << "]";
    }
}

TEST_F(PathsTest, EachStepWorksOnTheResultOfThePreviousOne) {
    form.strSysDir = u"C:\\win\\sys\\";
    form.strWinDir = u"C:\\win\\";
    // A later macro inside a value is expanded by its own later step...
    form.strDesktopDir = u"$SysDir\\desk\\";
    EXPECT_EQ(ReplaceCommonPath(form, u"$Desktop\\a"), u"C:\\win\\sys\\desk\\a");
    // ...an earlier one is not expanded again...
    form.strWinDir = u"$Desktop\\";
    EXPECT_EQ(ReplaceCommonPath(form, u"$WinDir\\a"), u"$Desktop\\a");
    // ...and a value holding its own macro is not expanded without end.
    form.strWorkDir = u"$WorkDir\\x\\";
    EXPECT_EQ(ReplaceCommonPath(form, u"$WorkDir\\a"), u"$WorkDir\\x\\a");
}

TEST_F(PathsTest, EmptyFolderMakesTheMacroVanish) {
    form.strDesktopDir.clear();
    EXPECT_EQ(ReplaceCommonPath(form, u"copy,a.lnk,$Desktop\\a.lnk"), u"copy,a.lnk,a.lnk");
}

TEST_F(PathsTest, WorkFolderChangesAffectLaterLines) {
    EXPECT_EQ(ReplaceCommonPath(form, u"$TempDir\\a"), u"c:\\qxwork\\temp\\a");
    form.strWorkDir = u"d:\\new,dir\\";
    form.strTempDir = u"d:\\new,dir\\temp\\";
    EXPECT_EQ(ReplaceCommonPath(form, u"delete,$TempDir\\a"), u"delete,d:\\new,dir\\temp\\a");
}

// ---- InitPaths ------------------------------------------------------------

TEST_F(PathsTest, WindowsAndSystemFoldersEndInOneBackslash) {
    struct Case {
        Bytes reported;
        const char16_t* expected;
    };
    const Case cases[] = {
        {"C:\\windows", u"C:\\windows\\"},
        {"C:\\windows\\", u"C:\\windows\\"},
        {Bytes("C:\\windows\0\0\0\0", 14), u"C:\\windows\\"},
        {Bytes("C:\\win\0garbage", 14), u"C:\\win\\"},
        {"C:\\", u"C:\\"},
        {"C:\\Windows\xC9", u"C:\\Windows\u00c9\\"},
    };
    for (const Case& c : cases) {
        s.process.windowsDir = c.reported;
        s.process.systemDir = c.reported;
        InitPaths(form);
        EXPECT_EQ(form.strWinDir, c.expected) << "reported [" << c.reported << "]";
        EXPECT_EQ(form.strSysDir, c.expected) << "reported [" << c.reported << "]";
    }
}

TEST_F(PathsTest, ProgramFolderOrTheStoredInitDir) {
    struct Case {
        const char16_t* programPath;
        const char16_t* initDir;  // nullptr: none stored
        const char16_t* expected;
    };
    const Case cases[] = {
        {u"C:\\Program Files\\QX\\QXUpdate.exe", nullptr, u"C:\\Program Files\\QX\\"},
        {u"C:\\QXUpdate.exe", nullptr, u"C:\\"},
        {u"C:\\Program Files\\QX\\QXUpdate.exe", u"D:\\Apps", u"D:\\Apps"},
        {u"C:\\Program Files\\QX\\QXUpdate.exe", u"D:\\Apps\\", u"D:\\Apps\\"},
    };
    for (const Case& c : cases) {
        s.process.programPath = c.programPath;
        s.settings.values.clear();
        if (c.initDir != nullptr) s.settings.values[{u"QXUpdate", u"System", u"InitDir"}] = c.initDir;
        InitPaths(form);
        EXPECT_EQ(form.strAppDir, c.expected) << "program " << ToUtf8(c.programPath);
    }
    // The setting belongs to the program's own base name.
    s.process.programPath = u"C:\\Tools\\Other.exe";
    s.settings.values.clear();
    s.settings.values[{u"QXUpdate", u"System", u"InitDir"}] = u"D:\\Wrong\\";
    s.settings.values[{u"Other", u"System", u"InitDir"}] = u"D:\\Right\\";
    InitPaths(form);
    EXPECT_EQ(form.strAppDir, u"D:\\Right\\");
}

TEST_F(PathsTest, HostsFileIsInEtcWhenThatFolderExists) {
    InitPaths(form);
    EXPECT_EQ(form.strHostsFile, u"C:\\windows\\hosts") << "no etc folder";

    // A file named etc is no folder.
    s.files.AddFile(u"C:\\windows\\system32\\drivers\\etc");
    InitPaths(form);
    EXPECT_EQ(form.strHostsFile, u"C:\\windows\\hosts") << "etc is a file";
    s.files.Delete(u"C:\\windows\\system32\\drivers\\etc");

    // An empty folder counts, and so do a hidden system one and one that
    // holds only hidden entries.
    auto& etc = s.files.AddDir(u"C:\\windows\\system32\\drivers\\etc");
    InitPaths(form);
    EXPECT_EQ(form.strHostsFile, u"C:\\windows\\system32\\drivers\\etc\\hosts") << "empty etc folder";
    etc.attributes |= attr::kHidden | attr::kSystem | attr::kReadOnly;
    s.files.AddFile(u"C:\\windows\\system32\\drivers\\etc\\hosts", "", attr::kHidden | attr::kSystem);
    InitPaths(form);
    EXPECT_EQ(form.strHostsFile, u"C:\\windows\\system32\\drivers\\etc\\hosts") << "hidden etc folder";
}

TEST_F(PathsTest, CommonFoldersFromTheRegistry) {
    struct Case {
        const char* desktop;  // nullptr: value missing
        uint32_t type;
        const char16_t* expected;
    };
    const Case cases[] = {
        {"C:\\Users\\Public\\Desktop", reg::kSz, u"C:\\Users\\Public\\Desktop\\"},
        {"C:\\Desk\\", reg::kSz, u"C:\\Desk\\"},
        {"", reg::kSz, u""},
        {nullptr, reg::kSz, u""},
        {"%PUBLIC%\\Desktop", 2, u""},
    };
    for (const Case& c : cases) {
        s.registry.AddKey(reg::kLocalMachine, kShellFolders).values.clear();
        if (c.desktop != nullptr) ShellFolder("Common Desktop", c.desktop, c.type);
        ShellFolder("Common Start Menu", "C:\\ProgramData\\Start Menu");
        InitPaths(form);
        EXPECT_EQ(form.strDesktopDir, c.expected) << "desktop [" << (c.desktop ? c.desktop : "<missing>") << "]";
        EXPECT_EQ(form.strStartMenuDir, u"C:\\ProgramData\\Start Menu\\");
    }
}

TEST_F(PathsTest, ServerUrlComesFromTheProgramFileTrailer) {
    InitPaths(form);
    EXPECT_EQ(form.strServerURL, u"http://127.0.0.1") << "no program file to read";

    Bytes trailer = "10.1.2.3:8080";
    trailer.resize(32, '\0');
    s.files.AddFile(u"C:\\Program Files\\QX\\QXUpdate.exe", Bytes(100, 'M') + trailer);
    InitPaths(form);
    EXPECT_EQ(form.strServerURL, u"http://10.1.2.3:8080");
    EXPECT_EQ(form.strWorkDir, u"c:\\qxwork\\") << "the work folder is not InitPaths' business";
    EXPECT_EQ(form.strTempDir, u"c:\\qxwork\\temp\\");
}

}  // namespace
}  // namespace qx

namespace qx {
namespace {

TEST(ServerUrl, SchemeInTheAddressIsKept) {
    const struct {
        const char16_t* address;
        const char* url;
    } cases[] = {
        {u"10.1.2.3", "http://10.1.2.3"},
        {u"updates.example.com:8080", "http://updates.example.com:8080"},
        {u"https://updates.example.com", "https://updates.example.com"},
        {u"HTTPS://Updates.example.com:8443", "HTTPS://Updates.example.com:8443"},
        {u"http://10.1.2.3", "http://10.1.2.3"},
        {u"httpsx.example.com", "http://httpsx.example.com"},
        {u"https:/broken", "http://https:/broken"},
    };
    for (const auto& c : cases) EXPECT_EQ(ToUtf8(ServerURLFromAddress(c.address)), c.url);
}

}  // namespace
}  // namespace qx
