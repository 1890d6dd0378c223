#include "download/DownloadFile.h"

#include <algorithm>
#include <string>

#include "download/HttpDate.h"
#include "download/ServerPath.h"
#include "download/TextUtils.h"
#include "download/modFileTime.h"

namespace qx {

namespace {

// Characters besides letters and digits sent unencoded in a request URL.
const char16_t kUrlKeep[] = u"-/:.?&=";

constexpr int32_t kTypeMismatch = 13;

// The busy pointer and the progress display for the length of one download,
// both put back on every way out.
class BusyPointer {
public:
    explicit BusyPointer(IWindowUi& ui) : ui_(ui), saved_(ui.MousePointer()) {
        ui_.SetMousePointer(pointer::kHourglass);
    }
    ~BusyPointer() { Restore(); }
    BusyPointer(const BusyPointer&) = delete;
    BusyPointer& operator=(const BusyPointer&) = delete;

    void Restore() {
        if (restored_) return;
        restored_ = true;
        try {
            ui_.HideProgress();
            ui_.SetMousePointer(saved_);
        } catch (...) {
            // A window that is going away has no pointer to restore.
        }
    }

private:
    IWindowUi& ui_;
    int saved_;
    bool restored_ = false;
};

// The window keeps handling its messages while a request waits, as it does
// in Wait; a closed window or a session told to stop ends the request.
class WindowWaiter : public IHttpWaiter {
public:
    WindowWaiter(IWindowUi& ui, const bool& blnQuit) : ui_(ui), blnQuit_(blnQuit) {}
    bool KeepWaiting() override {
        if (Stopped()) return false;
        ui_.DoEvents();
        return !Stopped();
    }
    bool Stopped() const { return blnQuit_ || !ui_.IsAlive(); }

private:
    IWindowUi& ui_;
    const bool& blnQuit_;
};

// The file the body is written to, beside the target under a name of its
// own, with a record of what it belongs to. A download cut off part-way
// leaves both, and the next attempt continues from the bytes already there
// when the server still offers the same file; a complete download takes the
// target's place and leaves nothing else.
class PartFile {
public:
    PartFile(IFileSystem& files, const Text& target)
        : files_(files), path_(target + u".part"), recordPath_(target + u".part.txt") {}
    ~PartFile() { Close(); }
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    // Opens the part file for the download described by record and returns
    // the offset to continue from: its length when it holds the start of
    // this very file, otherwise 0 after starting it afresh.
    int64_t Open(const Bytes& record, int64_t length, bool resumable) {
        Close();
        resumable_ = resumable;
        if (resumable && Resumable(record, length)) {
            file_ = files_.OpenForAppend(path_);
            return file_->Length();
        }
        Discard();
        file_ = files_.CreateForWrite(path_);
        if (resumable) {
            auto r = files_.CreateForWrite(recordPath_);
            r->Write(record);
            r->Close();
        }
        return 0;
    }
    void Write(const Bytes& data) { file_->Write(data); }
    int64_t Length() const { return file_->Length(); }

    // Never raises: it runs while another failure is being handled.
    void Close() {
        if (!file_) return;
        try {
            file_->Close();
        } catch (...) {
        }
        file_.reset();
    }
    // Cut off part-way: what has arrived is kept when it can be continued.
    void Interrupted() {
        if (resumable_) {
            Close();
        } else {
            Discard();
        }
    }
    void Discard() {
        Close();
        TryDelete(path_);
        TryDelete(recordPath_);
    }

    // The digest of what has been written, read back in ranges so a large
    // file is never held whole.
    Bytes Digest(ICrypto& crypto) {
        Close();
        const std::unique_ptr<IHash> hash = crypto.NewSha256();
        const int64_t length = files_.FileLength(path_);
        for (int64_t at = 0; at < length; at += kDownloadRangeSize) {
            const size_t count = static_cast<size_t>(std::min<int64_t>(kDownloadRangeSize, length - at));
            const Bytes piece = files_.ReadAt(path_, at, count);
            hash->Add(piece.data(), piece.size());
        }
        return hash->Finish();
    }

    // Moves the finished file onto target; on failure the part file is
    // still ours to discard.
    void ReplaceTarget(const Text& target) {
        Close();
        files_.Replace(path_, target);
        TryDelete(recordPath_);
    }

private:
    bool Resumable(const Bytes& record, int64_t length) {
        try {
            if (!files_.FileExists(path_) || files_.ReadAll(recordPath_) != record) return false;
            return files_.FileLength(path_) <= length;
        } catch (...) {
            return false;
        }
    }
    void TryDelete(const Text& path) {
        try {
            if (files_.FileExists(path)) files_.Delete(path);
        } catch (...) {
            // Held by someone else: the next attempt starts it afresh.
        }
    }

    IFileSystem& files_;
    Text path_;
    Text recordPath_;
    std::unique_ptr<IOpenFile> file_;
    bool resumable_ = false;
};

// Takes one range's body into the part file, unless the answer shows that
// the server's file is no longer the one the download began with: then the
// body is refused and nothing is spliced.
class RangeSink : public IHttpSink {
public:
    RangeSink(PartFile& part, IWindowUi& ui, int64_t first, int64_t length, const Text& lastModified)
        : part_(part), ui_(ui), first_(first), length_(length), lastModified_(lastModified) {}

    bool Start(const HttpAnswer& answer) override {
        const bool sameFile = answer.lastModified.empty() || answer.lastModified == lastModified_;
        if (first_ == 0) {
            changed_ = !sameFile;
            return !changed_;
        }
        // After the first byte only the asked-for slice will do. A whole
        // file (200) is what If-Range brings when the file has changed; any
        // other answer has no bytes for this place.
        const bool slice = answer.status == 206;
        const bool rightSlice =
            slice && (answer.contentRange.empty() || SliceStart(answer.contentRange) == first_);
        changed_ = !sameFile || answer.status == 200 || (slice && !rightSlice);
        return sameFile && rightSlice;
    }
    void Data(const Bytes& piece) override {
        part_.Write(piece);
        received_ += static_cast<int64_t>(piece.size());
        ui_.ShowProgress(first_ + received_, length_);
    }

    bool Changed() const { return changed_; }
    int64_t Received() const { return received_; }

private:
    // The first byte of "bytes a-b/n"; -1 when it cannot be read.
    static int64_t SliceStart(const Text& contentRange) {
        const Text unit = u"bytes ";
        if (contentRange.compare(0, unit.size(), unit) != 0) return -1;
        int64_t value = -1;
        for (size_t i = unit.size(); i < contentRange.size() && contentRange[i] >= u'0' && contentRange[i] <= u'9';
             ++i) {
            value = (value < 0 ? 0 : value * 10) + (contentRange[i] - u'0');
            if (value > INT32_MAX) return -1;
        }
        return value;
    }

    PartFile& part_;
    IWindowUi& ui_;
    int64_t first_;
    int64_t length_;
    Text lastModified_;
    bool changed_ = false;
    int64_t received_ = 0;
};

// Content-Length as a signed 32-bit number: decimal digits only.
int32_t ReadLength(const Text& header) {
    size_t first = 0;
    size_t last = header.size();
    while (first < last && header[first] == u' ') ++first;
    while (last > first && header[last - 1] == u' ') --last;
    if (first == last) throw QxError(kTypeMismatch, u"服务器没有给出文件长度");
    int64_t value = 0;
    for (size_t i = first; i < last; ++i) {
        const char16_t c = header[i];
        if (c < u'0' || c > u'9') throw QxError(kTypeMismatch, u"类型不匹配");
        value = value * 10 + (c - u'0');
        if (value > INT32_MAX) throw QxError(err::kOverflow, u"溢出");
    }
    return static_cast<int32_t>(value);
}

// How long a target held by another program (a virus scanner reading the
// old file) is waited for before the download is refused.
constexpr uint64_t kHeldTargetWaitMs = 500;

// The target may be replaced only when nobody holds it open, it is not
// read-only and it is not a folder. A brief hold is waited out with the
// window answering; only one that lasts refuses the download.
bool TargetWritable(IFileSystem& files, IClock& clock, WindowWaiter& waiter, const Text& target) {
    try {
        if (files.DirExists(target)) return false;
        if (!files.FileExists(target)) return true;
        if ((files.GetAttributes(target) & attr::kReadOnly) != 0) return false;
        const uint64_t until = clock.MonotonicMs() + kHeldTargetWaitMs;
        while (!files.CanOpenExclusively(target)) {
            if (clock.MonotonicMs() >= until || !waiter.KeepWaiting()) return false;
            clock.Sleep(10);
        }
        return true;
    } catch (...) {
        return false;
    }
}

void TryMakeDir(IFileSystem& files, const Text& dir) {
    try {
        files.MakeDir(dir);
    } catch (...) {
        // Already there, a drive root or a bad name: the next level decides.
    }
}

// Collects a body up to a limit; one byte more ends the request.
class SmallSink : public IHttpSink {
public:
    explicit SmallSink(int64_t maxSize) : maxSize_(maxSize) {}
    bool Start(const HttpAnswer& answer) override { return answer.status == 200 || answer.status == 206; }
    void Data(const Bytes& piece) override {
        body += piece;
        if (static_cast<int64_t>(body.size()) > maxSize_) throw QxError(err::kOverflow, u"溢出");
    }
    Bytes body;

private:
    int64_t maxSize_;
};

}  // namespace

bool FetchSmallFile(const DownloadContext& c, const Text& strPath, int64_t maxSize, Bytes& body) {
    try {
        if (!c.http.Available()) return false;
        WindowWaiter waiter(c.ui, c.fields.blnQuit);
        SmallSink sink(maxSize);
        // One byte beyond the limit is asked for, so that an oversized file
        // shows itself even to a server that honours the range.
        const HttpAnswer answer =
            c.http.Get(EncodeURI(c.fields.strServerURL + strPath, kUrlKeep), 0, maxSize, Text(), sink, waiter);
        if (answer.status != 200 && answer.status != 206) return false;
        if (static_cast<int64_t>(sink.body.size()) > maxSize) return false;
        body = sink.body;
        return true;
    } catch (...) {
        return false;
    }
}

int32_t FileSize(IFileSystem& files, const Text& strFile) {
    try {
        const int64_t length = files.FileLength(strFile);
        if (length < 0 || length > INT32_MAX) return -1;
        return static_cast<int32_t>(length);
    } catch (...) {
        return -1;
    }
}

void MyMkDir(IFileSystem& files, const Text& strDir) {
    // Each level with its backslash ("c:\" first), then the folder itself.
    for (size_t p = strDir.find(u'\\'); p != Text::npos; p = strDir.find(u'\\', p + 1)) {
        TryMakeDir(files, strDir.substr(0, p + 1));
    }
    TryMakeDir(files, strDir);
}

Text DownloadFile(const DownloadContext& c, const Text& strURLFile, const Text& strLocalFile, bool blnUpdate,
                  const Bytes& sha256) {
    IFileSystem& files = c.files;
    Text strURL = strURLFile;
    Text local = strLocalFile;
    std::unique_ptr<BusyPointer> busy;
    std::unique_ptr<PartFile> part;
    WindowWaiter waiter(c.ui, c.fields.blnQuit);

    // The target cannot be written: the one line about it, no error details.
    auto targetInUse = [&]() {
        if (busy) busy->Restore();
        if (part) part->Discard();
        c.log.Pending().Clear();
        c.log.ErrLog(u"文件\"" + local + u"\"已经打开");
        return Text();
    };
    auto incomplete = [&]() {
        if (part) part->Discard();
        busy->Restore();
        c.log.ErrLog(u"下载的数据不完整！");
        return Text();
    };

    try {
        // The query never reaches the server.
        strURL = StrLeft(strURL + u"?", u"?");
        // Without a scheme: a path on the update server.
        if (!HasScheme(strURL)) strURL = c.fields.strServerURL + strURL;
        if (local.empty()) local = c.fields.strTempDir + StrRightBack(strURL, u"/");
        const Text folder = StrLeftBack(local, u"\\");
        if (!files.DirExists(folder) && !files.FileExists(folder)) MyMkDir(files, folder);

        busy.reset(new BusyPointer(c.ui));

        std::replace(strURL.begin(), strURL.end(), u'\\', u'/');
        strURL = EncodeURI(strURL, kUrlKeep);

        if (!c.http.Available()) {
            c.log.ErrLog(u"无法创建XMLHTTP对象");
            throw QxError(err::kObjectRequired, u"缺少对象");
        }

        // A file replaced on the server while it downloads is started over
        // once, from a fresh HEAD; a second change counts as incomplete data.
        for (int attempt = 0;; ++attempt) {
            const HttpAnswer head = c.http.Head(strURL, waiter);
            const Text status = Decimal(head.status);
            if (status.substr(0, 2) != u"20") {
                throw QxError(err::kAutomation, u"服务器应答状态" + status);
            }
            const Text& lastModified = head.lastModified;
            DateTime serverTime = DateTime::Zero();
            if (!lastModified.empty() && !ParseHttpDate(lastModified, serverTime)) {
                throw QxError(kTypeMismatch, u"无法识别的时间：" + lastModified);
            }
            const int32_t length = ReadLength(head.contentLength);

            if (attempt == 0 && blnUpdate && length == FileSize(files, local) &&
                serverTime == GetFileDate(files, local)) {
                return local;  // unchanged
            }

            if (!TargetWritable(files, c.clock, waiter, local)) return targetInUse();
            // Without a time stamp nothing tells a later attempt that the
            // server still has the same file, so such a download is not
            // continued.
            const Bytes record = ToUtf8(strURL + u"\r\n" + Decimal(length) + u"\r\n" + lastModified + u"\r\n");
            int64_t written = 0;
            try {
                part.reset(new PartFile(files, local));
                written = part->Open(record, length, !lastModified.empty());
            } catch (...) {
                return targetInUse();
            }
            c.ui.ShowProgress(written, length);

            // Each range starts where the bytes written so far end, so a
            // short answer is continued rather than leaving a gap.
            bool changed = false;
            do {
                RangeSink sink(*part, c.ui, written, length, lastModified);
                c.http.Get(strURL, written, written + kDownloadRangeSize - 1,
                                  written > 0 ? lastModified : Text(), sink, waiter);
                changed = sink.Changed();
                // A server with nothing more to give will not change its mind.
                if (changed || sink.Received() == 0) break;
                written += sink.Received();
            } while (written < length);

            if (changed) {
                part->Discard();
                if (attempt == 0) continue;
                return incomplete();
            }
            if (part->Length() != length) return incomplete();
            if (!sha256.empty() && part->Digest(c.crypto) != sha256) {
                part->Discard();
                busy->Restore();
                c.log.ErrLog(u"文件" + Quoted(local) + u"的校验值不符，未更新。");
                return Text();
            }
            try {
                part->ReplaceTarget(local);
            } catch (...) {
                return targetInUse();
            }
            if (!lastModified.empty()) SetFileDate(files, local, serverTime);
            return local;
        }
    } catch (...) {
        if (busy) busy->Restore();
        // What has arrived stays in the part file for the next attempt.
        if (part) part->Interrupted();
        // The window is closing or the session stopping: it shows nothing
        // more.
        if (!waiter.Stopped()) LogFailure(c.log, u"下载文件\"" + strURL + u"\"失败");
        return Text();
    }
}

}  // namespace qx
