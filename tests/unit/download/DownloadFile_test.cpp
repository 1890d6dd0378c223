#include "download/DownloadFile.h"

#include <functional>

#include "download/HttpDate.h"
#include "download/Pin.h"
#include "download/modFileTime.h"
#include "fakes/FormFixture.h"

namespace qx::fake {
namespace {

const Text kTarget = u"c:\\work\\a.bin";
const Text kUrl = u"http://srv/q/a.bin";
const Text kStamp = u"Tue, 15 Nov 1994 08:12:31 GMT";

struct Download : Machine {
    FileServer site{"0123456789"};
    Download() { s.http.server = [this](const HttpExchange& r) { return site(r); }; }
    Text Get(bool update = false, const Text& url = u"/q/a.bin", const Text& local = kTarget) {
        return DownloadFile(form.Downloads(), url, local, update);
    }
    // "HEAD", or "GET" with the first byte asked for and "if" for If-Range.
    std::string Requests() const {
        std::string out;
        for (const HttpExchange& r : s.http.requests) {
            out += out.empty() ? "" : "|";
            out += r.method == u"HEAD" ? "HEAD" : "GET " + ToUtf8(r.range.substr(6, r.range.find(u'-') - 6));
            if (!r.ifRange.empty()) out += " if";
        }
        return out;
    }
    void Head(const Text& length, int status = 200, const Text& stamp = kStamp) {
        s.http.script.push_back({status, length, stamp});
    }
};

struct Case {
    const char* name;
    std::function<void(Download&)> arrange;
    bool update;
    const char* requests;
    std::string log;  // empty: the download succeeds
};

// What an earlier attempt left: the bytes so far and the record of the file they belong to.
const Bytes kRecord = ToUtf8(kUrl + u"\r\n10\r\n" + kStamp + u"\r\n");
std::function<void(Download&)> Part(const Bytes& bytes, const Bytes& record = kRecord) {
    return [=](Download& d) { d.s.files.AddFile(kTarget + u".part", bytes), d.s.files.AddFile(kTarget + u".part.txt", record); };
}

const std::string kFail = "下载文件\"http://srv/q/a.bin\"失败错误";
const std::string kOpen = "文件\"c:\\work\\a.bin\"已经打开";

const Case kCases[] = {
    {"fresh file", [](Download&) {}, false, "HEAD|GET 0", ""},
    {"short ranges continue", [](Download& d) { d.site.maxSlice = 4; }, false, "HEAD|GET 0|GET 4 if|GET 8 if", ""},
    {"unchanged file kept",
     [](Download& d) {
         d.s.files.AddFile(kTarget, "0123456789");
         SetFileDate(d.s.files, kTarget, DateTime{1994, 11, 15, 8, 12, 31});
     },
     true, "HEAD", ""},
    {"same time, other size", [](Download& d) { d.s.files.AddFile(kTarget, "x", attr::kArchive, 94353931510000000ull); },
     true, "HEAD|GET 0", ""},
    {"same size, other time", [](Download& d) { d.s.files.AddFile(kTarget, "0123456789"); }, true, "HEAD|GET 0", ""},
    {"without time stamp", [](Download& d) { d.site.lastModified.clear(); }, false, "HEAD|GET 0", ""},
    {"part of this file resumed", Part("01234"), false, "HEAD|GET 5 if", ""},
    {"part of another file restarted", Part("abcde", "other"), false, "HEAD|GET 0", ""},
    {"part longer than the file restarted", Part("0123456789A"), false, "HEAD|GET 0", ""},
    {"replaced on every range",
     [](Download& d) {
         d.s.http.onSend = [&d] {
             d.site.lastModified = d.site.lastModified == kStamp ? u"Wed, 16 Nov 1994 08:12:31 GMT" : kStamp;
         };
     },
     false, "HEAD|GET 0|HEAD|GET 0", "下载的数据不完整！"},
    {"whole file instead of the rest",
     [](Download& d) { d.s.http.script = {{200, u"10", kStamp}, {206, u"", kStamp, u"bytes 0-4/10", "01234"}, {200, u"", kStamp, u"", "0123456789"}}; },
     false, "HEAD|GET 0|GET 5 if|HEAD|GET 0", ""},
    {"slice from elsewhere",
     [](Download& d) { d.s.http.script = {{200, u"10", kStamp}, {206, u"", kStamp, u"", "01234"}, {206, u"", kStamp, u"bytes 4-9/10", "456789"}}; },
     false, "HEAD|GET 0|GET 5 if|HEAD|GET 0", ""},
    {"head 404", [](Download& d) { d.Head(u"10", 404); }, false, "HEAD", kFail + "440：服务器应答状态404"},
    {"length not a number", [](Download& d) { d.Head(u"1x"); }, false, "HEAD", kFail + "13：类型不匹配"},
    {"length missing", [](Download& d) { d.Head(u"  "); }, false, "HEAD", kFail + "13：服务器没有给出文件长度"},
    {"length beyond 32 bits", [](Download& d) { d.Head(u"2147483648"); }, false, "HEAD", kFail + "6：溢出"},
    {"largest length", [](Download& d) { d.Head(u"2147483647"); }, false, "HEAD|GET 0|GET 10 if", "下载的数据不完整！"},
    {"unreadable time stamp", [](Download& d) { d.Head(u"10", 200, u"someday"); }, false, "HEAD",
     kFail + "13：无法识别的时间：someday"},
    {"more than announced", [](Download& d) { d.Head(u"5"); }, false, "HEAD|GET 0", "下载的数据不完整！"},
    {"empty range", [](Download& d) { d.site.maxSlice = 0; }, false, "HEAD|GET 0", "下载的数据不完整！"},
    {"no client", [](Download& d) { d.s.http.available = false; }, false, "",
     "无法创建XMLHTTP对象|下载文件\"http://srv/q/a.bin\"失败错误424：缺少对象"},
    {"read-only target", [](Download& d) { d.s.files.AddFile(kTarget, "", attr::kReadOnly); }, false, "HEAD", kOpen},
    {"folder as target", [](Download& d) { d.s.files.AddDir(kTarget); }, false, "HEAD", kOpen},
    {"target held", [](Download& d) { d.s.files.AddFile(kTarget).locked = true; }, false, "HEAD", kOpen},
    {"target held briefly",
     [](Download& d) {
         d.s.files.AddFile(kTarget).locked = true;
         d.s.window.onDoEvents = [&d] {
             if (d.s.clock.monotonic > 1000200) d.s.files.Lock(kTarget, false);
         };
     },
     false, "HEAD|GET 0", ""},
    {"part file cannot be made",
     [](Download& d) { d.s.files.fails = [](const std::string& op, const Text&) { return op == "Create"; }; }, false,
     "HEAD", kOpen},
    {"connection lost", [](Download& d) { d.s.http.script = {{200, u"10", kStamp}, {206, u"", kStamp, u"", "0123", 3}}; },
     false, "HEAD|GET 0", kFail + "-2147012866：与服务器的连接被重置"},
    {"window closed", [](Download& d) { d.s.http.onSend = [&d] { d.s.window.alive = false; }; }, false, "HEAD", ""},
    {"session stopped", [](Download& d) { d.s.http.onSend = [&d] { d.form.blnQuit = true; }; }, false, "HEAD", ""},
};

TEST(DownloadFile, Table) {
    for (const Case& c : kCases) {
        Download d;
        c.arrange(d);
        const Text result = d.Get(c.update);
        const std::string log = d.Log();
        EXPECT_EQ(d.Requests(), c.requests) << c.name;
        EXPECT_EQ(log, c.log) << c.name;
        EXPECT_EQ(d.s.window.pointerShape, 0) << c.name;
        EXPECT_FALSE(d.s.window.progressVisible) << c.name;
        const bool stopped = !d.s.window.alive || d.form.blnQuit;
        if (!c.log.empty() || stopped) {
            EXPECT_EQ(result, u"") << c.name;
            continue;
        }
        EXPECT_EQ(result, kTarget) << c.name;
        EXPECT_EQ(d.s.files.Contents(kTarget), "0123456789") << c.name;
        EXPECT_EQ(d.s.files.Find(kTarget + u".part"), nullptr) << c.name;
        EXPECT_EQ(d.s.files.Find(kTarget + u".part.txt"), nullptr) << c.name;
        DateTime stamp;
        if (ParseHttpDate(d.site.lastModified, stamp)) EXPECT_EQ(GetFileDate(d.s.files, kTarget), stamp) << c.name;
    }
}

TEST(DownloadFile, CutOffPartIsKeptOnlyWhenItCanBeContinued) {
    for (const Text stamp : {kStamp, Text()}) {
        Download d;
        d.s.files.AddFile(kTarget, "old");
        d.s.http.script = {{200, u"10", stamp}, {206, u"", stamp, u"", "0123456", 3}};
        EXPECT_EQ(d.Get(), u"");
        EXPECT_EQ(d.s.files.Contents(kTarget), "old");
        EXPECT_EQ(d.s.files.Find(kTarget + u".part") != nullptr, !stamp.empty());
        EXPECT_EQ(d.s.files.Find(kTarget + u".part.txt") != nullptr, !stamp.empty());
    }
}

// Each row: the URL and target as written, the request made and the file written.
TEST(DownloadFile, BuildsTheRequestTheTargetAndItsFolders) {
    const std::array<Text, 4> cases[] = {
        {u"/q/a b.bin?v=1", Text(), u"http://srv/q/a%20b.bin", u"c:\\work\\temp\\a b.bin"},
        {u"https://x:8/d\\中.txt", Text(), u"https://x:8/d/%E4%B8%AD.txt", u"c:\\work\\temp\\d\\中.txt"},
        {u"/q/a.bin", u"c:\\n\\m\\a.bin", u"http://srv/q/a.bin", u"c:\\n\\m\\a.bin"},
    };
    for (const auto& [url, target, request, local] : cases) {
        Download d;
        EXPECT_EQ(d.Get(false, url, target), local);
        EXPECT_EQ(d.s.http.requests.at(0).url, request);
        EXPECT_EQ(FileSize(d.s.files, local), 10);
        EXPECT_EQ(FileSize(d.s.files, local + u"x"), -1);
    }
}

// Field 3 of the download lines: the digest the new file must have, and
// whether a line may go without one (a program with a key says no).
TEST(DownloadFile, PinnedLines) {
    OpenSslCrypto crypto;
    const std::string good = ToUtf8(FormatPin(Sha256(crypto, "0123456789")));
    const std::string wrong = ToUtf8(FormatPin(Sha256(crypto, "012345678X")));
    const std::string updating = "正在更新文件\"/q/a.bin\"……";
    const std::string mismatch = "|文件\"c:\\work\\a.bin\"的校验值不符，未更新。";
    const struct {
        const char* name;
        std::string line;
        bool required;
        const char* requests;
        std::string log;
        Bytes target;  // empty: the old one
    } rows[] = {
        {"matching pin", "update,/q/a.bin,," + good, true, "HEAD|GET 0", updating, "0123456789"},
        {"other digest", "update,/q/a.bin,," + wrong, false, "HEAD|GET 0", updating + mismatch, "old"},
        {"no pin", "update,/q/a.bin", true, "", updating + "|文件\"/q/a.bin\"没有校验值，未下载。", "old"},
        {"malformed pin", "down,/q/a.bin,c:\\work\\a.bin,sha256=12", false, "",
         "正在下载文件\"/q/a.bin\"……|文件\"/q/a.bin\"的校验值格式错误，未下载。", "old"},
    };
    for (const auto& row : rows) {
        Download d;
        d.s.files.AddFile(kTarget, "old");
        const ScriptContext script{d.form.platform(), d.form, d.form, row.required};
        EXPECT_TRUE(ProcessLine(script, FromUtf8(row.line))) << row.name;
        EXPECT_EQ(d.Requests(), row.requests) << row.name;
        EXPECT_EQ(d.Log(), row.log) << row.name;
        EXPECT_EQ(d.s.files.Contents(kTarget), row.target.empty() ? "old" : row.target) << row.name;
        EXPECT_EQ(d.s.files.Find(kTarget + u".part"), nullptr) << row.name;
        EXPECT_TRUE(d.s.process.started.empty() && !d.form.blnQuit) << row.name;
    }
}

}  // namespace
}  // namespace qx::fake
