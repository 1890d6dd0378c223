#include "download/DownloadFile.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/frmUpdate.h"
#include "download/modFileTime.h"
#include "fakes/FakeFileSystem.h"
#include "fakes/FakeHttp.h"
#include "fakes/FakePlatform.h"
#include "support/TestValues.h"

namespace qx {
namespace {

using fake::FileServer;
using fake::HttpResponse;

constexpr size_t kRange = 1048576;
const Text kTemp = u"c:\\qxwork\\temp\\";
const Text kServer = u"http://10.0.0.5";
const Text kLastModified = u"Tue, 15 Nov 1994 08:12:31 GMT";
constexpr int kCallerPointer = 3;

std::string U8(const Text& t) { return ToUtf8(t); }

std::string Join(const std::vector<Text>& items) {
    std::string out;
    for (const Text& t : items) out += (out.empty() ? "[" : ", [") + U8(t) + "]";
    return out.empty() ? "(none)" : out;
}

using test::Dt;

const DateTime kServerTime = Dt(1994, 11, 15, 8, 12, 31);

// Distinct bytes at every position, so a slice written at the wrong offset
// shows.
Bytes Pattern(size_t n, unsigned seed = 7) {
    Bytes b(n, '\0');
    uint32_t x = seed;
    for (size_t i = 0; i < n; ++i) {
        x = x * 1103515245u + 12345u;
        b[i] = static_cast<char>(x >> 16);
    }
    return b;
}

Text RangeText(size_t start) {
    return FromUtf8("bytes=" + std::to_string(start) + "-" + std::to_string(start + kRange - 1));
}

struct Services {
    fake::Window window;
    fake::Process process;
    fake::FakeFileSystem files;
    fake::Settings settings;
    fake::UnusedRegistry registry;
    fake::FakeHttp http;
    fake::Clock clock;
    fake::Random random;
    fake::CodePage codepage;
    Platform platform{window, process, files, settings, registry, http, clock, random, codepage};
    // A window of the updater on these services, with its temp folder.
    FrmUpdate form{platform};
    Services() {
        form.strServerURL = kServer;
        form.strTempDir = kTemp;
        files.AddDir(u"c:\\qxwork\\temp");
    }
};

class DownloadFileTest : public ::testing::Test {
protected:
    void SetUp() override {
        s.window.pointerShape = kCallerPointer;
        // The busy pointer must be showing whenever the network is used.
        s.http.onSend = [this](const fake::HttpExchange& r) {
            pointersDuringRequests.push_back(s.window.pointerShape);
            if (r.method == u"GET") EXPECT_TRUE(s.window.progressVisible) << "a GET without the progress display";
        };
    }

    void Serve(const FileServer& server) { s.http.server = server; }

    // Every path on the fake disk that belongs to a part file.
    static std::vector<Text> PartFiles(fake::FakeFileSystem& files) {
        std::vector<Text> out;
        for (const Text& p : files.AllPaths()) {
            if (p.find(u".part") != Text::npos) out.push_back(p);
        }
        return out;
    }
    std::vector<Text> PartFiles() { return PartFiles(s.files); }

    void ExpectPointerRestoredAndBusyDuringRequests() {
        EXPECT_EQ(s.window.pointerShape, kCallerPointer) << "mouse pointer not restored";
        for (int shape : pointersDuringRequests) {
            EXPECT_EQ(shape, pointer::kHourglass) << "a request ran without the busy pointer";
        }
    }

    void ExpectLog(const std::vector<Text>& expected) {
        EXPECT_EQ(s.window.list, expected) << "log was " << Join(s.window.list) << ", expected "
                                           << Join(expected);
    }

    // Path A: the download-failed line, with the failure's details after it.
    void ExpectDownloadFailedLine(const Text& requestUrl) {
        ASSERT_FALSE(s.window.list.empty()) << "nothing logged";
        const Text head = u"下载文件\"" + requestUrl + u"\"失败";
        const Text& last = s.window.list.back();
        EXPECT_EQ(last.substr(0, head.size()), head) << "last line " << U8(last);
        EXPECT_NE(last.find(u"错误"), Text::npos) << "no failure details in " << U8(last);
    }

    Services s;
    FrmUpdate& form = s.form;
    std::vector<int> pointersDuringRequests;
};

// ---------------------------------------------------------------- requests

TEST_F(DownloadFileTest, FetchesScriptWithHeadThenOneRangeIntoTempFolder) {
    const Bytes content = "20260101\r\nmsg,hello\r\n";
    Serve(FileServer{content, kLastModified});

    const Text result = DownloadFile(form, u"/qxupdate/update.inf");

    EXPECT_EQ(U8(result), U8(kTemp + u"update.inf"));
    ASSERT_EQ(s.http.requests.size(), 2u) << "methods " << Join(s.http.Methods());
    EXPECT_EQ(s.http.requests[0].method, u"HEAD");
    EXPECT_EQ(s.http.requests[1].method, u"GET");
    for (const auto& r : s.http.requests) {
        EXPECT_EQ(U8(r.url), "http://10.0.0.5/qxupdate/update.inf") << U8(r.method);
    }
    EXPECT_EQ(s.http.requests[0].Header(u"Range"), u"") << "HEAD must not ask for a range";
    EXPECT_EQ(U8(s.http.requests[1].Header(u"Range")), "bytes=0-1048575");
    EXPECT_EQ(s.files.Contents(kTemp + u"update.inf"), content);
    EXPECT_EQ(GetFileDate(s.files, kTemp + u"update.inf"), kServerTime)
        << "not stamped with the server time";
    EXPECT_TRUE(PartFiles().empty()) << "left behind: " << Join(PartFiles());
    ExpectLog({});
    ExpectPointerRestoredAndBusyDuringRequests();
    EXPECT_EQ(s.window.progressDone, static_cast<int64_t>(content.size()));
    EXPECT_FALSE(s.window.progressVisible) << "progress still shown after the download";
}

TEST_F(DownloadFileTest, BuildsRequestUrlAndDefaultTarget) {
    struct Case {
        Text url;
        Text requestUrl;
        Text target;
    };
    const Case cases[] = {
        {u"/qxupdate/update.inf", u"http://10.0.0.5/qxupdate/update.inf", kTemp + u"update.inf"},
        {u"/qxupdate/a.exe?v=2", u"http://10.0.0.5/qxupdate/a.exe", kTemp + u"a.exe"},
        {u"/qxupdate/b.exe?x=1?y=2", u"http://10.0.0.5/qxupdate/b.exe", kTemp + u"b.exe"},
        {u"http://other.example:8080/x/c.dat", u"http://other.example:8080/x/c.dat", kTemp + u"c.dat"},
        {u"https://h/d.dat", u"https://h/d.dat", kTemp + u"d.dat"},
        {u"ftp://h/e.dat", u"ftp://h/e.dat", kTemp + u"e.dat"},
        // a colon beyond the seventh character is no scheme
        {u"/qxupdate:x/f.dat", u"http://10.0.0.5/qxupdate:x/f.dat", kTemp + u"f.dat"},
        {u"/qxupdate/中文 a_b~c.txt", u"http://10.0.0.5/qxupdate/%E4%B8%AD%E6%96%87%20a%5Fb%7Ec.txt",
         kTemp + u"中文 a_b~c.txt"},
        {u"/qxupdate/50%.txt", u"http://10.0.0.5/qxupdate/50%25.txt", kTemp + u"50%.txt"},
        // backslashes travel as slashes; the name after the last "/" keeps them
        {u"http://h/dir\\sub\\g.txt", u"http://h/dir/sub/g.txt", kTemp + u"dir\\sub\\g.txt"},
    };
    for (const Case& c : cases) {
        Services fresh;
        FrmUpdate& f = fresh.form;
        fresh.http.server = FileServer{"x", kLastModified};

        const Text result = DownloadFile(f, c.url);

        EXPECT_EQ(U8(result), U8(c.target)) << "url " << U8(c.url) << ", log " << Join(fresh.window.list);
        ASSERT_EQ(fresh.http.requests.size(), 2u) << "url " << U8(c.url);
        for (const auto& r : fresh.http.requests) {
            EXPECT_EQ(U8(r.url), U8(c.requestUrl)) << "url " << U8(c.url) << ", " << U8(r.method);
        }
        EXPECT_TRUE(fresh.files.FileExists(c.target)) << "no file at " << U8(c.target);
    }
}

TEST_F(DownloadFileTest, CreatesMissingFoldersOfTheTarget) {
    Serve(FileServer{"abc", kLastModified});
    const Text target = u"c:\\apps\\qx\\data\\a.bin";

    EXPECT_EQ(U8(DownloadFile(form, u"/qxupdate/a.bin", target)), U8(target)) << Join(s.window.list);

    EXPECT_TRUE(s.files.DirExists(u"c:\\apps\\qx\\data"));
    EXPECT_EQ(s.files.Contents(target), "abc");
}

// A size: which ranges it costs and that the file arrives whole.
TEST_F(DownloadFileTest, AsksForConsecutiveRangesUntilTheLengthIsReached) {
    struct Case {
        size_t size;
        std::vector<size_t> rangeStarts;
    };
    const Case cases[] = {
        {0, {0}},
        {1, {0}},
        {kRange - 1, {0}},
        {kRange, {0}},
        {kRange + 1, {0, kRange}},
        {2 * kRange + 3, {0, kRange, 2 * kRange}},
    };
    for (const Case& c : cases) {
        Services fresh;
        FrmUpdate& f = fresh.form;
        const Bytes content = Pattern(c.size, static_cast<unsigned>(c.size));
        fresh.http.server = FileServer{content, kLastModified};

        const Text result = DownloadFile(f, u"/qxupdate/f.bin");

        std::vector<Text> expected;
        for (size_t start : c.rangeStarts) expected.push_back(RangeText(start));
        EXPECT_EQ(fresh.http.Ranges(), expected) << "size " << c.size << ": got " << Join(fresh.http.Ranges())
                                                 << ", expected " << Join(expected);
        // Ranges after the first carry If-Range with the HEAD's time stamp.
        for (const auto& r : fresh.http.requests) {
            const bool first = r.Header(u"Range").rfind(u"bytes=0-", 0) == 0;
            EXPECT_EQ(r.Header(u"If-Range"), r.method == u"GET" && !first ? kLastModified : u"") << c.size;
        }
        ASSERT_EQ(U8(result), U8(kTemp + u"f.bin")) << "size " << c.size << ", log " << Join(fresh.window.list);
        EXPECT_TRUE(fresh.files.Contents(result) == content) << "size " << c.size << ": contents differ";
    }
}

TEST_F(DownloadFileTest, ShortRangesContinueWhereTheWrittenBytesEnd) {
    const Bytes content = Pattern(2500);
    FileServer server{content, kLastModified};
    server.maxSlice = 1000;
    Serve(server);

    const Text result = DownloadFile(form, u"/qxupdate/s.bin");

    const std::vector<Text> expected{RangeText(0), RangeText(1000), RangeText(2000)};
    EXPECT_EQ(s.http.Ranges(), expected) << "got " << Join(s.http.Ranges());
    ASSERT_EQ(U8(result), U8(kTemp + u"s.bin")) << Join(s.window.list);
    EXPECT_TRUE(s.files.Contents(result) == content) << "short ranges left gaps or overlaps";
}

TEST_F(DownloadFileTest, ServerIgnoringRangesWithTheWholeFileNeedsOneGet) {
    const Bytes content = Pattern(2 * kRange + 10);
    FileServer server{content, kLastModified};
    server.honourRanges = false;
    Serve(server);

    const Text result = DownloadFile(form, u"/qxupdate/w.bin");

    EXPECT_EQ(s.http.Ranges().size(), 1u) << Join(s.http.Ranges());
    ASSERT_EQ(U8(result), U8(kTemp + u"w.bin")) << Join(s.window.list);
    EXPECT_TRUE(s.files.Contents(result) == content);
}

// ---------------------------------------------------------------- skip test

TEST_F(DownloadFileTest, SkipsOnlyAnUnchangedFileWhenAskedTo) {
    struct Case {
        const char* what;
        bool blnUpdate;
        size_t localSize;
        DateTime localTime;
        bool expectGet;
    };
    const Case cases[] = {
        {"same size and time", true, 10, kServerTime, false},
        {"same size, other time", true, 10, Dt(1994, 11, 15, 8, 12, 32), true},
        {"other size, same time", true, 11, kServerTime, true},
        {"unchanged but no skipping asked", false, 10, kServerTime, true},
    };
    for (const Case& c : cases) {
        Services fresh;
        FrmUpdate& f = fresh.form;
        const Text target = u"c:\\qxwork\\k.bin";
        const Bytes old = Bytes(c.localSize, 'o');
        fresh.files.AddFile(target, old, attr::kArchive, DateTimeToFileTime(c.localTime));
        const Bytes content = Pattern(10);
        fresh.http.server = FileServer{content, kLastModified};

        const Text result = DownloadFile(f, u"/qxupdate/k.bin", target, c.blnUpdate);

        EXPECT_EQ(U8(result), U8(target)) << c.what;
        EXPECT_EQ(fresh.http.Ranges().size(), c.expectGet ? 1u : 0u) << c.what;
        EXPECT_TRUE(fresh.files.Contents(target) == (c.expectGet ? content : old)) << c.what;
        EXPECT_EQ(GetFileDate(fresh.files, target), c.expectGet ? kServerTime : c.localTime) << c.what;
        EXPECT_TRUE(fresh.window.list.empty()) << c.what << ": " << Join(fresh.window.list);
        EXPECT_EQ(fresh.window.pointerShape, 0) << c.what << ": pointer not restored";
    }
}

TEST_F(DownloadFileTest, WithoutLastModifiedTheFileIsFetchedAgainAndKeepsItsWriteTime) {
    const Text target = u"c:\\qxwork\\n.bin";
    s.files.AddFile(target, "0123456789", attr::kArchive, DateTimeToFileTime(Dt(2020, 1, 2, 3, 4, 5)));
    Serve(FileServer{"0123456789", u""});
    s.files.now = DateTimeToFileTime(Dt(2024, 5, 6, 7, 8, 9));

    EXPECT_EQ(U8(DownloadFile(form, u"/qxupdate/n.bin", target, true)), U8(target));

    EXPECT_EQ(s.http.Ranges().size(), 1u) << "the file was skipped";
    EXPECT_EQ(GetFileDate(s.files, target), Dt(2024, 5, 6, 7, 8, 9)) << "stamped without a server time";
}

// ------------------------------------------------------------ HEAD answers

TEST_F(DownloadFileTest, HeadStatusDecidesBeforeAnyFileIsTouched) {
    struct Case {
        int status;
        bool ok;
    };
    const Case cases[] = {{200, true}, {206, true}, {204, true}, {404, false},
                          {500, false}, {302, false}, {0, false}, {2, false}};
    for (const Case& c : cases) {
        Services fresh;
        FrmUpdate& f = fresh.form;
        const Text target = kTemp + u"h.bin";
        fresh.files.AddFile(target, "previous");
        const auto pathsBefore = fresh.files.AllPaths();
        FileServer server{"new", kLastModified};
        server.headStatus = c.status;
        fresh.http.server = server;

        const Text result = DownloadFile(f, u"/qxupdate/h.bin");

        if (c.ok) {
            EXPECT_EQ(U8(result), U8(target)) << "status " << c.status << ": " << Join(fresh.window.list);
            EXPECT_EQ(fresh.files.Contents(target), "new") << "status " << c.status;
            continue;
        }
        EXPECT_EQ(result, u"") << "status " << c.status;
        EXPECT_EQ(fresh.http.Methods(), std::vector<Text>{u"HEAD"}) << "status " << c.status;
        EXPECT_EQ(fresh.files.Contents(target), "previous") << "status " << c.status;
        EXPECT_EQ(fresh.files.AllPaths(), pathsBefore) << "status " << c.status;
        ASSERT_EQ(fresh.window.list.size(), 1u) << "status " << c.status << ": " << Join(fresh.window.list);
        const Text head = u"下载文件\"http://10.0.0.5/qxupdate/h.bin\"失败错误";
        EXPECT_EQ(fresh.window.list[0].substr(0, head.size()), head) << U8(fresh.window.list[0]);
        EXPECT_NE(fresh.window.list[0].find(FromUtf8(std::to_string(c.status))), Text::npos)
            << "the status is not named: " << U8(fresh.window.list[0]);
        EXPECT_EQ(fresh.window.pointerShape, 0) << "status " << c.status;
    }
}

TEST_F(DownloadFileTest, ContentLengthMustBeASigned32BitNumber) {
    struct Case {
        const char* value;  // nullptr: header absent
        bool accepted;
    };
    const Case cases[] = {
        {nullptr, false}, {"", false},          {"abc", false},        {"12x", false},
        {"-1", false},    {"+5", false},        {"2147483648", false}, {"99999999999999999999", false},
        {"5", true},      {" 5 ", true},        {"2147483647", true},
    };
    for (const Case& c : cases) {
        Services fresh;
        FrmUpdate& f = fresh.form;
        HttpResponse head;
        if (c.value != nullptr) head.headers.emplace_back(u"Content-Length", FromUtf8(c.value));
        fresh.http.script.push_back(head);
        HttpResponse get;
        get.status = 206;
        get.body = "12345";
        fresh.http.script.push_back(get);
        HttpResponse nothingMore;
        nothingMore.status = 416;
        fresh.http.script.push_back(nothingMore);
        const bool huge = c.value != nullptr && std::string(c.value) == "2147483647";

        const Text result = DownloadFile(f, u"/qxupdate/l.bin");
        const char* shown = c.value == nullptr ? "(absent)" : c.value;

        if (!c.accepted) {
            EXPECT_EQ(result, u"") << shown;
            EXPECT_EQ(fresh.http.Methods(), std::vector<Text>{u"HEAD"}) << shown;
            ASSERT_EQ(fresh.window.list.size(), 1u) << shown << ": " << Join(fresh.window.list);
            EXPECT_EQ(fresh.window.list[0].rfind(u"下载文件\"", 0), 0u) << U8(fresh.window.list[0]);
            continue;
        }
        EXPECT_EQ(fresh.http.Ranges().size(), huge ? 2u : 1u) << shown << ": " << Join(fresh.http.Ranges());
        if (huge) {
            // Accepted as a length; the body falls short of it.
            EXPECT_EQ(result, u"");
            EXPECT_EQ(fresh.window.list, std::vector<Text>{u"下载的数据不完整！"}) << Join(fresh.window.list);
        } else {
            EXPECT_EQ(U8(result), U8(kTemp + u"l.bin")) << shown << ": " << Join(fresh.window.list);
        }
    }
}

TEST_F(DownloadFileTest, LastModifiedInEveryHttpFormStampsTheFile) {
    const Text forms[] = {u"Tue, 15 Nov 1994 08:12:31 GMT", u"Tuesday, 15-Nov-94 08:12:31 GMT",
                          u"Tue Nov 15 08:12:31 1994"};
    for (const Text& value : forms) {
        Services fresh;
        FrmUpdate& f = fresh.form;
        fresh.http.server = FileServer{"data", value};

        const Text result = DownloadFile(f, u"/qxupdate/t.bin");

        ASSERT_EQ(U8(result), U8(kTemp + u"t.bin")) << U8(value) << ": " << Join(fresh.window.list);
        EXPECT_EQ(GetFileDate(fresh.files, result), kServerTime) << U8(value);
    }
}

TEST_F(DownloadFileTest, UnreadableLastModifiedFailsBeforeAnyGet) {
    for (const Text value : {u"yesterday", u"Tue, 31 Nov 1994 08:12:31 GMT", u"1994-11-15"}) {
        Services fresh;
        FrmUpdate& f = fresh.form;
        fresh.http.server = FileServer{"data", value};

        EXPECT_EQ(DownloadFile(f, u"/qxupdate/t.bin"), u"") << U8(value);

        EXPECT_EQ(fresh.http.Methods(), std::vector<Text>{u"HEAD"}) << U8(value);
        ASSERT_EQ(fresh.window.list.size(), 1u) << Join(fresh.window.list);
        EXPECT_EQ(fresh.window.list[0].rfind(u"下载文件\"http://10.0.0.5/qxupdate/t.bin\"失败", 0), 0u)
            << U8(fresh.window.list[0]);
    }
}

// ------------------------------------------------------- faulty transfers

TEST_F(DownloadFileTest, MoreBytesThanAnnouncedIsIncompleteAndKeepsThePreviousTarget) {
    const Text target = kTemp + u"big.bin";
    s.files.AddFile(target, "previous", attr::kArchive, 5);
    HttpResponse head;
    head.headers = {{u"Content-Length", u"10"}, {u"Last-Modified", kLastModified}};
    HttpResponse get;
    get.body = Pattern(20);  // the range ignored, and a bigger file than announced
    s.http.script = {head, get};

    EXPECT_EQ(DownloadFile(form, u"/qxupdate/big.bin"), u"");

    ExpectLog({u"下载的数据不完整！"});
    EXPECT_EQ(s.files.Contents(target), "previous");
    EXPECT_EQ(s.files.Get(target).writeTime, 5u) << "previous target was touched";
    EXPECT_TRUE(PartFiles().empty()) << Join(PartFiles());
    ExpectPointerRestoredAndBusyDuringRequests();
}

TEST_F(DownloadFileTest, EmptyBodyBeforeTheEndStopsAsIncomplete) {
    struct Case {
        const char* what;
        std::vector<Bytes> bodies;  // one per GET; the fake refuses more
    };
    const Case cases[] = {
        {"nothing at all", {""}},
        {"part, then nothing", {Bytes(700, 'a'), ""}},
    };
    for (const Case& c : cases) {
        Services fresh;
        FrmUpdate& f = fresh.form;
        HttpResponse head;
        head.headers = {{u"Content-Length", u"1000"}};
        fresh.http.script.push_back(head);
        for (const Bytes& b : c.bodies) {
            HttpResponse get;
            get.status = 206;
            get.body = b;
            fresh.http.script.push_back(get);
        }
        const auto pathsBefore = fresh.files.AllPaths();

        EXPECT_EQ(DownloadFile(f, u"/qxupdate/e.bin"), u"") << c.what;

        EXPECT_EQ(fresh.http.Ranges().size(), c.bodies.size()) << c.what << ": " << Join(fresh.http.Ranges());
        EXPECT_EQ(fresh.window.list, std::vector<Text>{u"下载的数据不完整！"})
            << c.what << ": " << Join(fresh.window.list);
        EXPECT_FALSE(fresh.files.FileExists(kTemp + u"e.bin")) << c.what;
        EXPECT_EQ(fresh.files.AllPaths(), pathsBefore) << c.what << ": something left behind";
    }
}

// ------------------------------------------- interruptions and resuming

// A download cut off in its second range keeps the previous target and
// what has arrived; the next attempt continues from there when the server
// still has the same file, and starts over otherwise.
TEST_F(DownloadFileTest, InterruptedDownloadKeepsTheTargetAndResumesOnlyTheSameFile) {
    enum Cut { kBroken, kIdle, kWindowClosed, kSessionStopped };
    struct Case {
        const char* what;
        Cut cut;
        Text lastModified;    // of the file at the first attempt
        Bytes secondContent;  // what the server offers at the next attempt
        Text secondModified;
        size_t firstResumed;  // where the next attempt's first GET starts
    };
    const Bytes content = Pattern(3 * kRange, 1);
    const Bytes other = Pattern(3 * kRange, 2);
    const Text newer = u"Wed, 16 Nov 1994 08:12:31 GMT";
    const Case cases[] = {
        {"connection broken, same file", kBroken, kLastModified, content, kLastModified, kRange + 5000},
        {"no byte within the idle limit, same file", kIdle, kLastModified, content, kLastModified, kRange},
        {"window closed, same file", kWindowClosed, kLastModified, content, kLastModified, kRange + 8192},
        {"session stopped, same file", kSessionStopped, kLastModified, content, kLastModified, kRange + 8192},
        {"file changed on the server", kBroken, kLastModified, other, newer, 0},
        {"file of another length", kBroken, kLastModified, Pattern(3 * kRange + 1, 2), kLastModified, 0},
        {"no time stamp to recognise it by", kBroken, u"", content, u"", 0},
    };
    const Text target = kTemp + u"c.bin";
    for (const Case& c : cases) {
        Services fresh;
        FrmUpdate& f = fresh.form;
        fresh.files.AddFile(target, "previous", attr::kArchive, 77);
        FileServer first{content, c.lastModified};
        int gets = 0;
        fresh.http.server = [&](const fake::HttpExchange& r) {
            HttpResponse answer = first(r);
            if (r.method != u"GET" || ++gets != 2) return answer;
            answer.breakAfter = c.cut == kBroken ? 5000 : SIZE_MAX;
            answer.transportError = c.cut == kIdle;
            answer.errorNumber = -2147012894;  // no byte within the idle limit
            return answer;
        };
        int events = 0;
        fresh.window.onDoEvents = [&] {
            if (gets < 2 || ++events < 3 || c.cut < kWindowClosed) return;
            f.blnQuit = true;  // as closing the window does
            fresh.window.alive = c.cut == kSessionStopped;
        };

        EXPECT_EQ(DownloadFile(f, u"/qxupdate/c.bin"), u"") << c.what;

        EXPECT_EQ(fresh.files.Contents(target), "previous") << c.what;
        EXPECT_EQ(fresh.files.Get(target).writeTime, 77u) << c.what << ": the previous target was touched";
        const bool quiet = c.cut == kWindowClosed || c.cut == kSessionStopped;
        ASSERT_EQ(fresh.window.list.size(), quiet ? 0u : 1u) << c.what << ": " << Join(fresh.window.list);
        if (!quiet) {
            EXPECT_EQ(fresh.window.list[0].rfind(u"下载文件\"http://10.0.0.5/qxupdate/c.bin\"失败错误", 0), 0u)
                << U8(fresh.window.list[0]);
        }
        EXPECT_EQ(fresh.files.FileExists(target + u".part"), !c.lastModified.empty()) << c.what;

        // The next attempt, in a new session.
        fresh.window.alive = true;
        fresh.window.onDoEvents = nullptr;
        f.blnQuit = false;
        fresh.http.requests.clear();
        fresh.http.server = FileServer{c.secondContent, c.secondModified};

        ASSERT_EQ(U8(DownloadFile(f, u"/qxupdate/c.bin")), U8(target)) << c.what << ": " << Join(fresh.window.list);

        const std::vector<Text> ranges = fresh.http.Ranges();
        ASSERT_FALSE(ranges.empty()) << c.what;
        EXPECT_EQ(U8(ranges[0]), U8(RangeText(c.firstResumed))) << c.what;
        EXPECT_EQ(fresh.http.requests[1].Header(u"If-Range"), c.firstResumed > 0 ? kLastModified : u"") << c.what;
        EXPECT_TRUE(fresh.files.Contents(target) == c.secondContent) << c.what << ": contents differ";
        EXPECT_TRUE(PartFiles(fresh.files).empty()) << c.what << ": " << Join(PartFiles(fresh.files));
    }
}

// A file replaced on the server between two ranges is never stitched from
// both versions: the download starts over once, and fails as incomplete
// when the file changes again.
TEST_F(DownloadFileTest, FileReplacedBetweenRangesIsNeverSpliced) {
    struct Case {
        const char* what;
        bool honoursIfRange;  // a server that does not still dates its answers
        int replacements;     // after the first GET of each attempt
        bool completes;
    };
    const Case cases[] = {
        {"replaced once, If-Range honoured", true, 1, true},
        {"replaced once, If-Range ignored", false, 1, true},
        {"replaced again during the second attempt", true, 2, false},
    };
    const Text target = kTemp + u"v.bin";
    for (const Case& c : cases) {
        Services fresh;
        FrmUpdate& f = fresh.form;
        fresh.files.AddFile(target, "previous");
        int version = 0;
        auto offered = [&] {
            return FileServer{Pattern(3 * kRange, static_cast<unsigned>(version + 10)),
                              u"Tue, 15 Nov 1994 08:12:3" + FromUtf8(std::to_string(version)) + u" GMT"};
        };
        bool firstGetOfAttempt = false;
        fresh.http.server = [&](const fake::HttpExchange& r) {
            if (r.method == u"HEAD") firstGetOfAttempt = true;
            fake::HttpExchange asked = r;
            if (!c.honoursIfRange) asked.headers.resize(1);  // the Range alone
            HttpResponse answer = offered()(asked);
            if (r.method == u"GET" && firstGetOfAttempt) {
                firstGetOfAttempt = false;
                if (version < c.replacements) ++version;
            }
            return answer;
        };

        const Text result = DownloadFile(f, u"/qxupdate/v.bin");

        const std::vector<Text> methods = fresh.http.Methods();
        EXPECT_EQ(std::count(methods.begin(), methods.end(), u"HEAD"), 2) << c.what << ": started over once";
        if (c.completes) {
            EXPECT_EQ(U8(result), U8(target)) << c.what << ": " << Join(fresh.window.list);
            EXPECT_TRUE(fresh.files.Contents(target) == offered().content) << c.what << ": spliced or stale";
        } else {
            EXPECT_EQ(result, u"") << c.what;
            EXPECT_EQ(fresh.window.list, std::vector<Text>{u"下载的数据不完整！"}) << c.what << ": "
                                                                                    << Join(fresh.window.list);
            EXPECT_EQ(fresh.files.Contents(target), "previous") << c.what;
        }
        EXPECT_TRUE(PartFiles(fresh.files).empty()) << c.what << ": " << Join(PartFiles(fresh.files));
    }
}

// ------------------------------------------------------ unwritable targets

TEST_F(DownloadFileTest, UnwritableTargetGivesTheAlreadyOpenLineOnly) {
    struct Case {
        const char* what;
        Text target;
        std::function<void(fake::FakeFileSystem&)> arrange;
    };
    const Text existing = u"c:\\qxwork\\app.exe";
    const Case cases[] = {
        {"locked", existing,
         [&](fake::FakeFileSystem& fs) {
             fs.AddFile(existing, "running");
             fs.Lock(existing);
         }},
        {"read-only", existing,
         [&](fake::FakeFileSystem& fs) { fs.AddFile(existing, "running", attr::kReadOnly); }},
        {"a folder", u"c:\\qxwork\\app.exe", [&](fake::FakeFileSystem& fs) { fs.AddDir(existing); }},
        {"no folder to hold the part file", u"q:\\gone\\app.exe",
         [](fake::FakeFileSystem& fs) { fs.AddFile(u"q:\\gone", "a file where the folder would go"); }},
    };
    for (const Case& c : cases) {
        Services fresh;
        FrmUpdate& f = fresh.form;
        fresh.window.pointerShape = kCallerPointer;
        c.arrange(fresh.files);
        const auto pathsBefore = fresh.files.AllPaths();
        fresh.http.server = FileServer{"new", kLastModified};

        EXPECT_EQ(DownloadFile(f, u"/qxupdate/app.exe", c.target), u"") << c.what;

        EXPECT_EQ(fresh.window.list, std::vector<Text>{u"文件\"" + c.target + u"\"已经打开"})
            << c.what << ": " << Join(fresh.window.list);
        EXPECT_TRUE(fresh.http.Ranges().empty()) << c.what << ": GET sent";
        EXPECT_EQ(fresh.files.AllPaths(), pathsBefore) << c.what;
        EXPECT_EQ(fresh.window.pointerShape, kCallerPointer) << c.what;
        EXPECT_EQ(f.Err.number, 0) << c.what << ": error left pending";
    }
}

TEST_F(DownloadFileTest, TargetHeldBrieflyIsWaitedFor) {
    const Text target = u"c:\\qxwork\\app.exe";
    s.files.AddFile(target, "running");
    s.files.Lock(target);
    int rounds = 0;
    s.window.onDoEvents = [&] {
        if (++rounds == 3) s.files.Lock(target, false);
    };
    Serve(FileServer{"new", kLastModified});

    EXPECT_EQ(DownloadFile(form, u"/qxupdate/app.exe", target), target) << Join(s.window.list);
    EXPECT_EQ(s.files.Contents(target), "new");
}

TEST_F(DownloadFileTest, TargetLockedDuringTheDownloadIsNotReplaced) {
    const Text target = u"c:\\qxwork\\app.exe";
    s.files.AddFile(target, "running");
    Serve(FileServer{"new", kLastModified});
    s.http.onSend = [&](const fake::HttpExchange& r) {
        if (r.method == u"GET") s.files.Lock(target);
    };

    EXPECT_EQ(DownloadFile(form, u"/qxupdate/app.exe", target), u"");

    ExpectLog({u"文件\"" + target + u"\"已经打开"});
    EXPECT_EQ(s.files.Contents(target), "running");
    EXPECT_TRUE(PartFiles().empty()) << Join(PartFiles());
    EXPECT_EQ(s.window.pointerShape, kCallerPointer);
}

// ------------------------------------------------------------ the client

TEST_F(DownloadFileTest, ClientThatCannotBeSetUpLogsBothLines) {
    s.http.available = false;

    EXPECT_EQ(DownloadFile(form, u"/qxupdate/update.inf"), u"");

    ASSERT_EQ(s.window.list.size(), 2u) << Join(s.window.list);
    EXPECT_EQ(s.window.list[0], u"无法创建XMLHTTP对象");
    ExpectDownloadFailedLine(u"http://10.0.0.5/qxupdate/update.inf");
    EXPECT_TRUE(s.http.requests.empty());
    EXPECT_FALSE(s.files.FileExists(kTemp + u"update.inf"));
    ExpectPointerRestoredAndBusyDuringRequests();
}

// ------------------------------------------------------------ companions

TEST_F(DownloadFileTest, MyMkDirCreatesEveryMissingLevelAndIsQuietTheSecondTime) {
    MyMkDir(form, u"c:\\a\\b\\c");
    for (const Text d : {u"c:\\a", u"c:\\a\\b", u"c:\\a\\b\\c"}) {
        EXPECT_TRUE(s.files.DirExists(d)) << U8(d);
    }
    const auto after = s.files.AllPaths();
    MyMkDir(form, u"c:\\a\\b\\c");
    MyMkDir(form, u"c:\\a\\b\\c\\");
    EXPECT_EQ(s.files.AllPaths(), after) << "a second call changed the disk";
    MyMkDir(form, u"");
    MyMkDir(form, u"relative\\x");
    EXPECT_TRUE(s.window.list.empty()) << Join(s.window.list);
}

TEST_F(DownloadFileTest, FileSizeIsMinusOneWhenUnknown) {
    s.files.AddFile(u"c:\\d\\five.txt", "12345");
    s.files.AddFile(u"c:\\d\\empty.txt", "");
    const std::pair<Text, int32_t> cases[] = {
        {u"c:\\d\\five.txt", 5},  {u"c:\\d\\empty.txt", 0}, {u"c:\\d\\none.txt", -1},
        {u"c:\\nowhere\\x", -1}, {u"c:\\d", -1},            {u"", -1},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(FileSize(form, c.first), c.second) << U8(c.first);
    }
}

}  // namespace
}  // namespace qx
