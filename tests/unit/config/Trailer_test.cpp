// The server address in the trailer of the program file, read and written
// through the fake file system. The fake code page is Latin-1.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "config/Trailer.h"
#include "fakes/FormFixture.h"

namespace qx {
namespace {

using fake::FormTest;

const Text kAppDir = u"C:\\Program Files\\QX\\";
const Text kExe = kAppDir + u"QXUpdate.exe";

// Bytes that stand for the program itself: every value occurs, so a write
// that strays outside the trailer changes something a test compares.
Bytes ProgramBody(size_t size) {
    Bytes b(size, '\0');
    for (size_t i = 0; i < size; ++i) b[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    return b;
}

Bytes Nuls(size_t n) { return Bytes(n, '\0'); }

std::string Printable(const Bytes& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            static const char kHex[] = "0123456789ABCDEF";
            out += "\\x";
            out += kHex[c >> 4];
            out += kHex[c & 0xF];
        }
    }
    return out;
}

class TrailerTest : public FormTest {
protected:
    void SetUp() override { form.strAppDir = kAppDir; }

    void ExpectNothingLogged() {
        EXPECT_TRUE(s.window.list.empty()) << "reading the trailer logged " << s.window.list.size()
                                           << " line(s), first: " << ToUtf8(s.window.list.front());
    }
};

struct ReadCase {
    const char* name;
    Bytes trailer;  // the last bytes of the file
    Text expected;
};

TEST_F(TrailerTest, ReadsTheAddressBeforeTheFirstNul) {
    const Bytes thirtyOne = "abcdefghij.klmnopqrst.uvwxyz:80";  // 31 bytes
    const std::vector<ReadCase> cases = {
        {"all NUL", Nuls(32), u"127.0.0.1"},
        {"dotted address", "10.1.2.3" + Nuls(24), u"10.1.2.3"},
        {"host and port", "update.example.com:8080" + Nuls(9), u"update.example.com:8080"},
        {"31 bytes", thirtyOne + Nuls(1), FromUtf8(thirtyOne)},
        {"32 bytes, no terminator", thirtyOne + "0", u"127.0.0.1"},
        {"text ends at the first NUL", "10.0.0.7" + Nuls(1) + "stale.old.host" + Nuls(9), u"10.0.0.7"},
        {"first byte NUL, junk after", Nuls(1) + "10.9.9.9" + Nuls(23), u"127.0.0.1"},
        {"ANSI bytes are converted", "caf\xE9.example" + Nuls(20), u"caf\u00E9.example"},
    };
    for (const ReadCase& c : cases) {
        ASSERT_EQ(c.trailer.size(), 32u) << c.name << ": bad test data";
        for (size_t bodySize : {size_t{0}, size_t{1}, size_t{4096}}) {
            s.files.AddFile(kExe, ProgramBody(bodySize) + c.trailer);
            EXPECT_EQ(ToUtf8(GetServerIP(form)), ToUtf8(c.expected))
                << c.name << ", program of " << bodySize + 32 << " bytes";
        }
    }
    ExpectNothingLogged();
}

TEST_F(TrailerTest, UnreadableProgramFileGivesLoopback) {
    struct Case {
        const char* name;
        void (*arrange)(fake::FakeFileSystem&);
    };
    const std::vector<Case> cases = {
        {"missing file", [](fake::FakeFileSystem& fs) { fs.AddDir(kAppDir); }},
        {"missing folder", [](fake::FakeFileSystem&) {}},
        {"empty file", [](fake::FakeFileSystem& fs) { fs.AddFile(kExe); }},
        {"1 byte", [](fake::FakeFileSystem& fs) { fs.AddFile(kExe, "1"); }},
        {"31 bytes", [](fake::FakeFileSystem& fs) { fs.AddFile(kExe, "10.1.2.3" + Nuls(23)); }},
        {"a folder of that name", [](fake::FakeFileSystem& fs) { fs.AddDir(kExe); }},
    };
    for (const Case& c : cases) {
        fake::Services fresh;
        FrmUpdate f(fresh.platform);
        f.strAppDir = kAppDir;
        c.arrange(fresh.files);
        EXPECT_EQ(ToUtf8(GetServerIP(f)), "127.0.0.1") << c.name;
        EXPECT_TRUE(fresh.window.list.empty()) << c.name << ": something was logged";
    }
}

TEST_F(TrailerTest, RunningProgramLockedAgainstWritingIsStillRead) {
    s.files.AddFile(kExe, ProgramBody(100) + "10.1.2.3" + Nuls(24));
    s.files.Lock(kExe);
    EXPECT_EQ(ToUtf8(GetServerIP(form)), "10.1.2.3");
}

TEST_F(TrailerTest, ReadsTheFileOfTheSameBaseNameInTheAppFolder) {
    // The settings may point strAppDir at another folder; the copy there is
    // the one that counts, not the one that runs.
    s.files.AddFile(kExe, ProgramBody(64) + "10.1.1.1" + Nuls(24));
    s.files.AddFile(u"D:\\Deploy\\QXUpdate.exe", ProgramBody(64) + "10.9.9.9" + Nuls(24));
    s.files.AddFile(u"D:\\Deploy\\Other.exe", ProgramBody(64) + "10.5.5.5" + Nuls(24));
    form.strAppDir = u"D:\\Deploy\\";
    EXPECT_EQ(ToUtf8(GetServerIP(form)), "10.9.9.9");

    // A copy running under a temporary name reads its own file.
    s.process.programPath = u"D:\\Deploy\\Other.exe";
    EXPECT_EQ(ToUtf8(GetServerIP(form)), "10.5.5.5");

    // With no such file in that folder there is no address, whatever the
    // running program's folder holds.
    s.process.programPath = u"C:\\Program Files\\QX\\Missing.exe";
    EXPECT_EQ(ToUtf8(GetServerIP(form)), "127.0.0.1");
}

struct WriteCase {
    const char* name;
    Text address;
    Bytes stored;   // the 32 bytes expected at the end of the file
    Text readBack;  // what GetServerIP makes of them
};

TEST_F(TrailerTest, WriteIPRewritesOnlyTheLast32Bytes) {
    const Bytes thirtyOne = "abcdefghij.klmnopqrst.uvwxyz:80";
    const std::vector<WriteCase> cases = {
        {"dotted address", u"10.1.2.3", "10.1.2.3" + Nuls(24), u"10.1.2.3"},
        {"31 bytes", FromUtf8(thirtyOne), thirtyOne + Nuls(1), FromUtf8(thirtyOne)},
        {"32 bytes", FromUtf8(thirtyOne + "0"), thirtyOne + "0", u"127.0.0.1"},
        {"40 bytes", FromUtf8(thirtyOne + "012345678"), thirtyOne + "0", u"127.0.0.1"},
        {"empty", u"", Nuls(32), u"127.0.0.1"},
        {"converted to ANSI", u"caf\u00E9:81", "caf\xE9:81" + Nuls(25), u"caf\u00E9:81"},
    };
    for (const WriteCase& c : cases) {
        ASSERT_EQ(c.stored.size(), 32u) << c.name << ": bad test data";
        // The old trailer is full, so padding that is not written shows.
        const Bytes body = ProgramBody(5000);
        s.files.AddFile(kExe, body + Bytes(32, 'x'));
        WriteIP(form, kExe, c.address);
        const Bytes after = s.files.Contents(kExe);
        ASSERT_EQ(after.size(), body.size() + 32) << c.name << ": the file changed its length";
        EXPECT_TRUE(after.compare(0, body.size(), body) == 0) << c.name << ": a byte before the trailer changed";
        EXPECT_EQ(Printable(after.substr(body.size())), Printable(c.stored)) << c.name;
        EXPECT_EQ(ToUtf8(GetServerIP(form)), ToUtf8(c.readBack)) << c.name;
    }
    EXPECT_TRUE(s.window.list.empty()) << "writing the trailer logged something";
}

TEST_F(TrailerTest, WriteSetupPathTakesTheSameBytes) {
    const Bytes body = ProgramBody(300);
    s.files.AddFile(kExe, body + Nuls(32));
    WriteIP(form, kExe, u"10.1.2.3");
    WriteSetupPath(form, kExe, u"D:\\Setup\\");
    const Bytes after = s.files.Contents(kExe);
    ASSERT_EQ(after.size(), body.size() + 32);
    EXPECT_TRUE(after.compare(0, body.size(), body) == 0) << "a byte before the trailer changed";
    EXPECT_EQ(Printable(after.substr(body.size())), Printable("D:\\Setup\\" + Nuls(23)));
    EXPECT_EQ(ToUtf8(GetServerIP(form)), "D:\\Setup\\");

    // Longer paths are cut like addresses.
    WriteSetupPath(form, kExe, u"D:\\A very long setup folder\\setup.exe");
    EXPECT_EQ(Printable(s.files.Contents(kExe).substr(body.size())), Printable("D:\\A very long setup folder\\setu"));
}

TEST_F(TrailerTest, WritersRaiseAndLeaveTheFileAlone) {
    using Writer = void (*)(FrmUpdate&, const Text&, const Text&);
    const std::vector<std::pair<const char*, Writer>> writers = {{"WriteIP", &WriteIP},
                                                                 {"WriteSetupPath", &WriteSetupPath}};
    struct Case {
        const char* name;
        void (*arrange)(fake::FakeFileSystem&);
        int32_t number;  // 0: any number
    };
    const Bytes original = ProgramBody(200) + "10.1.1.1" + Nuls(24);
    static Bytes s_original;
    s_original = original;
    const std::vector<Case> cases = {
        {"missing file", [](fake::FakeFileSystem& fs) { fs.AddDir(kAppDir); }, err::kFileNotFound},
        {"missing folder", [](fake::FakeFileSystem&) {}, err::kPathNotFound},
        {"program still running",
         [](fake::FakeFileSystem& fs) {
             fs.AddFile(kExe, s_original);
             fs.Lock(kExe);
         },
         err::kFileAlreadyOpen},
        {"read-only", [](fake::FakeFileSystem& fs) { fs.AddFile(kExe, s_original, attr::kReadOnly); },
         err::kPathFileAccess},
        {"shorter than 32 bytes", [](fake::FakeFileSystem& fs) { fs.AddFile(kExe, "MZ short"); }, 0},
    };
    for (const auto& w : writers) {
        for (const Case& c : cases) {
            fake::Services fresh;
            FrmUpdate f(fresh.platform);
            c.arrange(fresh.files);
            const fake::FakeFileSystem::Entry* before = fresh.files.Find(kExe);
            const Bytes beforeData = before ? before->data : Bytes();
            try {
                w.second(f, kExe, u"10.1.2.3");
                ADD_FAILURE() << w.first << ", " << c.name << ": no failure was raised";
            } catch (const QxError& e) {
                if (c.number != 0) {
                    EXPECT_EQ(e.Number(), c.number) << w.first << ", " << c.name << ": " << ToUtf8(e.Description());
                }
                EXPECT_FALSE(e.Description().empty()) << w.first << ", " << c.name;
            }
            const fake::FakeFileSystem::Entry* after = fresh.files.Find(kExe);
            EXPECT_EQ(after != nullptr, before != nullptr) << w.first << ", " << c.name;
            if (after != nullptr) {
                EXPECT_EQ(Printable(after->data), Printable(beforeData))
                    << w.first << ", " << c.name << ": the file changed";
            }
            EXPECT_TRUE(fresh.window.list.empty()) << w.first << ", " << c.name << ": something was logged";
        }
    }
}

// A double-byte code page in miniature: ASCII as it is, the two characters
// of "更新" as two bytes each (their GBK bytes), everything else '?'.
class MiniDbcs : public ICodePage {
public:
    unsigned Number() const override { return 936; }
    Bytes ToAnsi(const Text& text) const override {
        Bytes out;
        for (char16_t c : text) {
            if (c < 0x80) {
                out += static_cast<char>(c);
            } else if (c == u'\u66F4') {
                out += "\xB8\xFC";
            } else if (c == u'\u65B0') {
                out += "\xD0\xC2";
            } else {
                out += '?';
            }
        }
        return out;
    }
    Text FromAnsi(const Bytes& bytes) const override {
        Text out;
        for (size_t i = 0; i < bytes.size(); ++i) {
            const unsigned char b = static_cast<unsigned char>(bytes[i]);
            if (b < 0x80) {
                out += static_cast<char16_t>(b);
                continue;
            }
            const Bytes pair = bytes.substr(i, 2);
            ++i;
            out += pair == "\xB8\xFC" ? u'\u66F4' : pair == "\xD0\xC2" ? u'\u65B0' : u'\u30FB';
        }
        return out;
    }
};

TEST(TrailerDbcsTest, LengthLimitCountsBytesNotCharacters) {
    fake::Services s;
    MiniDbcs dbcs;
    const Platform platform{s.window, s.process, s.files,  s.settings, s.registry,
                            s.http,   s.clock,   s.random, dbcs};
    FrmUpdate form(platform);
    form.strAppDir = kAppDir;
    s.files.AddFile(kExe, ProgramBody(500) + Nuls(32));

    struct Case {
        Text address;
        Text readBack;
    };
    const Text host27 = u"abcdefghij.klmnopqrstuv.xyz";  // 27 characters
    const std::vector<Case> cases = {
        {u"\u66F4\u65B0.example:8080", u"\u66F4\u65B0.example:8080"},  // 17 characters, 19 bytes
        // 27 + 2 = 29 bytes: fits.
        {host27 + u"\u66F4", host27 + u"\u66F4"},
        // 27 + 4 = 31 bytes: 29 characters that still fit.
        {host27 + u"\u66F4\u65B0", host27 + u"\u66F4\u65B0"},
        // 27 + 1 + 4 = 32 bytes: only 30 characters, but no room for the terminator.
        {host27 + u"x\u66F4\u65B0", u"127.0.0.1"},
    };
    for (const Case& c : cases) {
        WriteIP(form, kExe, c.address);
        EXPECT_EQ(s.files.Contents(kExe).size(), 532u) << ToUtf8(c.address);
        EXPECT_EQ(ToUtf8(GetServerIP(form)), ToUtf8(c.readBack)) << "after writing " << ToUtf8(c.address);
    }
}

}  // namespace
}  // namespace qx
