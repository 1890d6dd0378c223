#include "actions/HostsFile.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "fakes/FormFixture.h"

namespace qx::fake {
namespace {

const Text kHosts = u"c:\\windows\\system32\\drivers\\etc\\hosts";

// Shows CR and LF, so a failed comparison says which line end is wrong.
std::string Visible(const Bytes& bytes) {
    std::string out;
    for (char c : bytes) {
        if (c == '\r') {
            out += "\\r";
        } else if (c == '\n') {
            out += "\\n";
        } else if (c == '\t') {
            out += "\\t";
        } else {
            out += c;
        }
    }
    return out;
}

TEST(HostsLines, SplitAtEveryKindOfLineEnd) {
    struct Case {
        Bytes content;
        std::vector<Bytes> lines;
    };
    const std::vector<Case> cases = {
        {"", {}},
        {"a", {"a"}},
        {"a\r\n", {"a"}},
        {"a\r\nb", {"a", "b"}},
        {"a\rb\r", {"a", "b"}},
        {"a\nb\n", {"a", "b"}},
        {"a\n\rb", {"a", "", "b"}},  // LF then CR: two line ends
        {"a\r\n\r\nb\r\n", {"a", "", "b"}},
        {"\r\n", {""}},
        {"a\r\r\nb", {"a", "", "b"}},
        {"\xc4\xe3\xba\xc3\r\n", {"\xc4\xe3\xba\xc3"}},
    };
    for (const Case& c : cases) {
        const std::vector<Bytes> got = SplitHostsLines(c.content);
        std::string shown;
        for (const Bytes& l : got) shown += "[" + Visible(l) + "]";
        EXPECT_EQ(got, c.lines) << "content [" << Visible(c.content) << "] gave " << shown;
    }
}

TEST(HostsLines, FieldsStopAtTheComment) {
    struct Case {
        Text line;
        Text address;
        std::vector<Text> names;
    };
    const std::vector<Case> cases = {
        {u"1.2.3.4 a.com", u"1.2.3.4", {u"a.com"}},
        {u"1.2.3.4\ta.com  b.com\t", u"1.2.3.4", {u"a.com", u"b.com"}},
        {u"  \t1.2.3.4 a.com", u"1.2.3.4", {u"a.com"}},
        {u"1.2.3.4 a.com # b.com", u"1.2.3.4", {u"a.com"}},
        {u"1.2.3.4 a.com#b.com", u"1.2.3.4", {u"a.com"}},
        {u"# 1.2.3.4 a.com", u"", {}},
        {u"\t# 1.2.3.4 a.com", u"", {}},
        {u"1.2.3.4", u"1.2.3.4", {}},
        {u"", u"", {}},
        {u"   ", u"", {}},
    };
    for (const Case& c : cases) {
        const HostsFields f = ParseHostsLine(c.line);
        EXPECT_EQ(f.address, c.address) << "line [" << ToUtf8(c.line) << "]";
        EXPECT_EQ(f.names, c.names) << "line [" << ToUtf8(c.line) << "]";
    }
}

TEST(HostsLines, NameMatchesWholeFieldsIgnoringAsciiCaseOnly) {
    struct Case {
        Text line;
        Text name;
        bool names;
    };
    const std::vector<Case> cases = {
        {u"1.2.3.4 a.com", u"a.com", true},
        {u"1.2.3.4 A.COM", u"a.com", true},
        {u"1.2.3.4 x.org a.com", u"A.Com", true},
        {u"1.2.3.4 data.com", u"a.com", false},        // shares a suffix
        {u"1.2.3.4 a.com.cn", u"a.com", false},        // shares a prefix
        {u"1.2.3.4 b.com # was a.com", u"a.com", false},  // named only in a comment
        {u"# 1.2.3.4 a.com", u"a.com", false},
        {u"\t#1.2.3.4 a.com", u"a.com", false},
        {u"a.com 1.2.3.4", u"a.com", false},  // an address is not a host name
        {u"1.2.3.4 \u00c4.com", u"\u00e4.com", false},  // only ASCII letters fold
        {u"1.2.3.4 \u00e4.com", u"\u00e4.com", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(HostsLineNamesHost(c.line, c.name), c.names)
            << "line [" << ToUtf8(c.line) << "], name [" << ToUtf8(c.name) << "]";
    }
}

struct RewriteCase {
    const char* label;
    Bytes before;
    Text name;
    Text address;
    Bytes after;
};

void PrintTo(const RewriteCase& c, std::ostream* os) { *os << c.label; }

class HostsRemoval : public testing::TestWithParam<RewriteCase> {};

TEST_P(HostsRemoval, RewritesEveryLine) {
    const RewriteCase& c = GetParam();
    CodePage codepage;
    const Bytes got = RewriteHostsForRemoval(c.before, codepage, c.name, c.address);
    EXPECT_EQ(Visible(got), Visible(c.after)) << c.label;
}

INSTANTIATE_TEST_SUITE_P(
    Rules, HostsRemoval,
    testing::Values(
        RewriteCase{"drops the live line of the name", "127.0.0.1 localhost\r\n1.2.3.4 a.com\r\n", u"a.com", u"",
                    "127.0.0.1 localhost\r\n"},
        RewriteCase{"keeps names sharing a suffix or prefix",
                    "1.2.3.4 a.com\r\n1.2.3.5 data.com\r\n1.2.3.6 a.com.cn\r\n1.2.3.7 ba.com\r\n", u"a.com", u"",
                    "1.2.3.5 data.com\r\n1.2.3.6 a.com.cn\r\n1.2.3.7 ba.com\r\n"},
        RewriteCase{"keeps a line naming the host only in its trailing comment",
                    "1.2.3.4 b.com # moved from a.com\r\n", u"a.com", u"", "1.2.3.4 b.com # moved from a.com\r\n"},
        RewriteCase{"drops a line with a trailing comment", "1.2.3.4 a.com # ours\r\n", u"a.com", u"", ""},
        RewriteCase{"comment lines stay even when they name the host",
                    "# 1.2.3.4 a.com\r\n   #a.com\r\n\t# 1.2.3.4 a.com\r\n", u"a.com", u"",
                    "# 1.2.3.4 a.com\r\n   #a.com\r\n\t# 1.2.3.4 a.com\r\n"},
        RewriteCase{"tabs and indentation", "\t1.2.3.4\ta.com\r\n  1.2.3.4   a.com  \r\n", u"a.com", u"", ""},
        RewriteCase{"letter case of the name", "1.2.3.4 A.Com\r\n", u"a.COM", u"", ""},
        RewriteCase{"blank lines are kept", "\r\n1.2.3.4 a.com\r\n\r\n", u"a.com", u"", "\r\n\r\n"},
        RewriteCase{"last line without line break gets one", "1.2.3.4 b.com", u"a.com", u"",
                    "1.2.3.4 b.com\r\n"},
        RewriteCase{"lone LF and lone CR end lines", "1.2.3.4 a.com\n5.6.7.8 b.com\r9.9.9.9 c.com\n", u"a.com",
                    u"", "5.6.7.8 b.com\r\n9.9.9.9 c.com\r\n"},
        RewriteCase{"with an address: same address dropped, other commented out",
                    "1.2.3.4 a.com\r\n5.6.7.8 a.com\r\n1.2.3.4 b.com\r\n", u"a.com", u"1.2.3.4",
                    "#5.6.7.8 a.com\r\n1.2.3.4 b.com\r\n"},
        RewriteCase{"indented line has no leading word, so it is commented out", " 1.2.3.4 a.com\r\n", u"a.com",
                    u"1.2.3.4", "# 1.2.3.4 a.com\r\n"},
        RewriteCase{"a line of several names goes whole", "1.2.3.4 x.com a.com y.com\r\n", u"a.com", u"", ""},
        RewriteCase{"non-ASCII comment bytes stay as they were", "# \xc4\xe3\xba\xc3 a.com\r\n1.2.3.4 a.com\r\n",
                    u"a.com", u"", "# \xc4\xe3\xba\xc3 a.com\r\n"},
        RewriteCase{"empty file stays empty", "", u"a.com", u"", ""}),
    [](const testing::TestParamInfo<RewriteCase>& info) { return "Case" + std::to_string(info.index); });

TEST(HostsAdd, EntryPresentOnlyForTheSameAddressAndName) {
    struct Case {
        const char* label;
        Bytes before;
        bool writes;
        Bytes after;  // when it writes
    };
    const Text name = u"a.com";
    const Text address = u"1.2.3.4";
    const std::vector<Case> cases = {
        {"present", "1.2.3.4 a.com\r\n", false, ""},
        {"present among other names, other case", "1.2.3.4\tx.com A.COM\n", false, ""},
        {"present but indented", "  1.2.3.4 a.com", false, ""},
        {"other address", "5.6.7.8 a.com\r\n", true, "5.6.7.8 a.com\r\n1.2.3.4\ta.com\r\n"},
        {"address appears only as part of another", "11.2.3.4 a.com\r\n", true,
         "11.2.3.4 a.com\r\n1.2.3.4\ta.com\r\n"},
        {"name only shares a suffix", "1.2.3.4 data.com\r\n", true, "1.2.3.4 data.com\r\n1.2.3.4\ta.com\r\n"},
        {"name in a comment", "1.2.3.4 b.com # a.com\r\n", true, "1.2.3.4 b.com # a.com\r\n1.2.3.4\ta.com\r\n"},
        {"commented out entry", "#1.2.3.4 a.com", true, "#1.2.3.4 a.com\r\n1.2.3.4\ta.com\r\n"},
        {"empty file", "", true, "1.2.3.4\ta.com\r\n"},
    };
    CodePage codepage;
    for (const Case& c : cases) {
        Bytes out = "<untouched>";
        EXPECT_EQ(RewriteHostsForAdd(c.before, codepage, name, address, out), c.writes) << c.label;
        if (c.writes) {
            EXPECT_EQ(Visible(out), Visible(c.after)) << c.label;
        } else {
            EXPECT_EQ(out, "<untouched>") << c.label;
        }
    }
}

class HostsFileTest : public FormTest {
protected:
    void SetUp() override { form.strHostsFile = kHosts; }

    std::vector<std::string> Log() const {
        std::vector<std::string> out;
        for (const Text& l : s.window.list) out.push_back(ToUtf8(l));
        return out;
    }

    std::string Hosts() { return Visible(s.files.Contents(kHosts)); }

    // Anything left in the etc folder besides the hosts file.
    std::vector<Text> Strays() {
        std::vector<Text> out;
        for (const Text& p : s.files.AllPaths()) {
            if (p.compare(0, 31, u"c:\\windows\\system32\\drivers\\etc") == 0 && p.size() > 32 &&
                p != u"c:\\windows\\system32\\drivers\\etc\\hosts") {
                out.push_back(p);
            }
        }
        return out;
    }
};

TEST_F(HostsFileTest, AddMovesTheEntryToTheEndAndCommentsOutOtherAddresses) {
    s.files.AddFile(kHosts,
                    "# \xc4\xe3\xba\xc3 comment\r\n127.0.0.1 localhost\r\n1.2.3.4 a.com\r\n5.6.7.8 a.com\r\n"
                    "9.9.9.9 data.com\r\n1.2.3.4 b.com");
    DoHostsAdd(form, u"a.com", u"1.2.3.4");
    EXPECT_EQ(Hosts(), Visible("# \xc4\xe3\xba\xc3 comment\r\n127.0.0.1 localhost\r\n#5.6.7.8 a.com\r\n"
                               "9.9.9.9 data.com\r\n1.2.3.4 b.com\r\n1.2.3.4\ta.com\r\n"));
    EXPECT_EQ(Log(), std::vector<std::string>{"正在添加DNS记录\"a.com\"……"}) << "only the name is shown";
    EXPECT_EQ(s.files.Get(kHosts).attributes, attr::kNormal);
    EXPECT_TRUE(Strays().empty()) << "left behind: " << ToUtf8(Strays().front());

    // Adding the same entry again changes nothing but its place.
    DoHostsAdd(form, u"A.COM", u"1.2.3.4");
    EXPECT_EQ(Hosts(), Visible("# \xc4\xe3\xba\xc3 comment\r\n127.0.0.1 localhost\r\n#5.6.7.8 a.com\r\n"
                               "9.9.9.9 data.com\r\n1.2.3.4 b.com\r\n1.2.3.4\tA.COM\r\n"));
}

TEST_F(HostsFileTest, RemoveTakesOnlyTheNamedHost) {
    s.files.AddFile(kHosts, "1.2.3.4 a.com\n1.2.3.5 data.com\n# a.com was here\n1.2.3.6 b.com # not a.com\n");
    DoHostsRemove(form, u"a.com");
    EXPECT_EQ(Hosts(), Visible("1.2.3.5 data.com\r\n# a.com was here\r\n1.2.3.6 b.com # not a.com\r\n"));
    EXPECT_EQ(Log(), std::vector<std::string>{"正在删除DNS记录\"a.com\"……"});
    EXPECT_TRUE(Strays().empty()) << "left behind: " << ToUtf8(Strays().front());
}

TEST_F(HostsFileTest, AttributesAfterEachCommand) {
    struct Case {
        const char* label;
        bool add;
        uint32_t before;
        bool changed;
        uint32_t after;
    };
    const std::vector<Case> cases = {
        {"add to a read-only file clears the mark", true, attr::kReadOnly | attr::kHidden, true, attr::kNormal},
        {"add to a hidden system file", true, attr::kHidden | attr::kSystem, true, attr::kNormal},
        {"remove from a read-only file changes nothing", false, attr::kReadOnly, false, attr::kReadOnly},
        {"remove keeps hidden and system", false, attr::kHidden | attr::kSystem | attr::kArchive, true,
         attr::kHidden | attr::kSystem | attr::kArchive},
    };
    const Bytes original = "5.6.7.8 a.com\r\n";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        s.files.AddFile(kHosts, original, c.before);
        if (c.add) {
            DoHostsAdd(form, u"a.com", u"1.2.3.4");
        } else {
            DoHostsRemove(form, u"a.com");
        }
        EXPECT_EQ(s.files.Contents(kHosts) != original, c.changed) << "now [" << Hosts() << "]";
        EXPECT_EQ(s.files.Get(kHosts).attributes, c.after);
        EXPECT_TRUE(Strays().empty()) << "left behind: " << ToUtf8(Strays().front());
    }
}

TEST_F(HostsFileTest, ReadOnlyFileStillGetsTheAddedEntry) {
    s.files.AddFile(kHosts, "5.6.7.8 a.com\r\n", attr::kReadOnly);
    DoHostsAdd(form, u"a.com", u"1.2.3.4");
    // The removal could not write, so the old line stays live above the new one.
    EXPECT_EQ(Hosts(), Visible("5.6.7.8 a.com\r\n1.2.3.4\ta.com\r\n"));
}

TEST_F(HostsFileTest, UnusableNamesAndMissingOrHeldFilesChangeNothing) {
    struct Case {
        const char* label;
        Text name;
        bool exists;
        bool locked;
        const char* refusal;  // the name in quotes when the reason is logged
    };
    const std::vector<Case> cases = {
        {"empty name", u"", true, false, "\"\"失败：主机名为空"},
        {"name of two fields", u"a.com b.com", true, false, "\"a.com b.com\"失败："},
        {"blank before the name", u" a.com", true, false, "\" a.com\"失败："},
        {"no hosts file", u"a.com", false, false, nullptr},
        {"hosts file held by another program", u"a.com", true, true, nullptr},
    };
    const Bytes original = "1.2.3.4 a.com\r\n5.6.7.8 b.com";
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        if (s.files.Find(kHosts) != nullptr) {
            s.files.Lock(kHosts, false);
            s.files.Delete(kHosts);
        }
        s.files.AddDir(u"c:\\windows\\system32\\drivers\\etc");
        if (c.exists) s.files.AddFile(kHosts, original).locked = c.locked;
        const std::vector<Text> before = s.files.AllPaths();
        s.window.list.clear();

        DoHostsAdd(form, c.name, u"9.9.9.9");
        DoHostsRemove(form, c.name);

        EXPECT_EQ(s.files.AllPaths(), before) << "files were created or removed";
        if (c.exists) EXPECT_EQ(Hosts(), Visible(original));
        const std::vector<std::string> log = Log();
        if (c.refusal == nullptr) {
            EXPECT_EQ(log.size(), 2u) << "only the two progress lines, failures are silent";
        } else {
            ASSERT_EQ(log.size(), 4u) << "each command says why it changed nothing";
            EXPECT_EQ(log[1].rfind("添加DNS记录" + std::string(c.refusal), 0), 0u) << log[1];
            EXPECT_EQ(log[3].rfind("删除DNS记录" + std::string(c.refusal), 0), 0u) << log[3];
        }
        EXPECT_EQ(form.Err.number, 0);
    }
}

// Writes to the side file break off half-way, as on a full disk.
class DiskFullFileSystem : public FakeFileSystem {
public:
    std::unique_ptr<IOpenFile> CreateForWrite(const Text& path) override {
        return std::unique_ptr<IOpenFile>(new HalfWriter(FakeFileSystem::CreateForWrite(path)));
    }

private:
    class HalfWriter : public IOpenFile {
    public:
        explicit HalfWriter(std::unique_ptr<IOpenFile> inner) : inner_(std::move(inner)) {}
        void Write(const Bytes& data) override {
            inner_->Write(data.substr(0, data.size() / 2));
            throw QxError(61, u"磁盘已满");
        }
        int64_t Length() const override { return inner_->Length(); }
        void Close() override { inner_->Close(); }

    private:
        std::unique_ptr<IOpenFile> inner_;
    };
};

TEST_F(HostsFileTest, AFailedWriteLosesNoLine) {
    DiskFullFileSystem disk;
    const Platform platform{s.window, s.process, disk, s.settings, s.registry,
                            s.http,   s.clock,   s.random, s.codepage};
    FrmUpdate full(platform);
    full.strHostsFile = kHosts;
    const Bytes original = "127.0.0.1 localhost\r\n5.6.7.8 a.com\r\n1.2.3.4 b.com\r\n";
    disk.AddFile(kHosts, original, attr::kArchive);
    const std::vector<Text> before = disk.AllPaths();

    DoHostsAdd(full, u"a.com", u"1.2.3.4");
    DoHostsRemove(full, u"b.com");

    EXPECT_EQ(Visible(disk.Contents(kHosts)), Visible(original));
    EXPECT_EQ(disk.AllPaths(), before) << "the half-written side file must be removed";
}

}  // namespace
}  // namespace qx::fake
