#include "download/DownloadFile.h"

#include <algorithm>
#include <string>

#include "download/HttpDate.h"
#include "download/ServerPath.h"
#include "download/TextUtils.h"
#include "download/modFileTime.h"

namespace qx {

namespace {

// The request objects tried, in order of preference. The list is kept as one
// text and split at every comma, blanks and all, so a name that does not
// exist on a machine simply fails to create.
const char16_t kRequestObjectNames[] =
    u"Msxml2.XMLHTTP.6.0,Msxml2.XMLHTTP.5.0,Msxml2.XMLHTTP.4.0,Msxml2.XMLHTTP.3.0, "
    u"Msxml2.XMLHTTP.2.6,Microsoft.XMLHTTP.1.0, Microsoft.XMLHTTP.1,Microsoft.XMLHTTP";

// Characters besides letters and digits sent unencoded in a request URL.
const char16_t kUrlKeep[] = u"-/:.?&=";

constexpr int32_t kTypeMismatch = 13;

Text Decimal(int64_t n) { return FromUtf8(std::to_string(n)); }

// The busy pointer for the length of one download, and the previous shape
// back on every way out.
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

// The file the body is written to before it may replace the target. Unless
// it has been handed over, it is closed and deleted when the download ends,
// so an interrupted download never leaves a half file behind.
class PartFile {
public:
    explicit PartFile(IFileSystem& files) : files_(files) {}
    ~PartFile() { Discard(); }
    PartFile(const PartFile&) = delete;
    PartFile& operator=(const PartFile&) = delete;

    void Create(const Text& path) {
        file_ = files_.CreateForWrite(path);
        path_ = path;
    }
    void Write(const Bytes& data) { file_->Write(data); }
    int64_t Length() const { return file_->Length(); }
    void Close() { file_->Close(); }
    const Text& Path() const { return path_; }

    // Moves the finished file onto target; on failure the part file is
    // still ours to delete.
    void ReplaceTarget(const Text& target) {
        file_->Close();
        files_.Replace(path_, target);
        path_.clear();
        file_.reset();
    }

    // Never raises: it runs while another failure is being handled.
    void Discard() {
        if (file_) {
            try {
                file_->Close();
            } catch (...) {
            }
            file_.reset();
        }
        if (!path_.empty()) {
            try {
                files_.Delete(path_);
            } catch (...) {
            }
            path_.clear();
        }
    }

private:
    IFileSystem& files_;
    std::unique_ptr<IOpenFile> file_;
    Text path_;
};

// Asks every cache on the way to answer from the server. HTTP/1.1 caches go
// by Cache-Control, HTTP/1.0 proxies by Pragma. The If-Modified-Since trick
// against the system's own URL cache is deliberately not used: a file whose
// time stamp is older than the date sent would come back as 304 with no
// body. The Windows client keeps that cache out of the way itself.
void AskForFreshCopy(IHttpRequest& request) {
    request.SetRequestHeader(u"Cache-Control", u"no-cache");
    request.SetRequestHeader(u"Pragma", u"no-cache");
}

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

// The target may be replaced only when nobody holds it open, it is not
// read-only and it is not a folder.
bool TargetWritable(IFileSystem& files, const Text& target) {
    try {
        if (files.DirExists(target)) return false;
        if (!files.FileExists(target)) return true;
        if ((files.GetAttributes(target) & attr::kReadOnly) != 0) return false;
        return files.CanOpenExclusively(target);
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

}  // namespace

std::unique_ptr<IHttpRequest> GetXMLHttpObject(FrmUpdate& form) {
    const Text names = kRequestObjectNames;
    size_t start = 0;
    for (;;) {
        const size_t comma = names.find(u',', start);
        const Text name = names.substr(start, comma == Text::npos ? Text::npos : comma - start);
        try {
            std::unique_ptr<IHttpRequest> request = form.platform().http.CreateObject(name);
            if (request) return request;
        } catch (...) {
            // Not registered on this machine: try the next name.
        }
        if (comma == Text::npos) return nullptr;
        start = comma + 1;
    }
}

int32_t FileSize(FrmUpdate& form, const Text& strFile) {
    try {
        const int64_t length = form.platform().files.FileLength(strFile);
        if (length < 0 || length > INT32_MAX) return -1;
        return static_cast<int32_t>(length);
    } catch (...) {
        return -1;
    }
}

void MyMkDir(FrmUpdate& form, const Text& strDir) {
    IFileSystem& files = form.platform().files;
    // Each level with its backslash ("c:\" first), then the folder itself.
    for (size_t p = strDir.find(u'\\'); p != Text::npos; p = strDir.find(u'\\', p + 1)) {
        TryMakeDir(files, strDir.substr(0, p + 1));
    }
    TryMakeDir(files, strDir);
}

Text DownloadFile(FrmUpdate& form, const Text& strURLFile, const Text& strLocalFile, bool blnUpdate) {
    const Platform& platform = form.platform();
    IFileSystem& files = platform.files;
    Text strURL = strURLFile;
    Text local = strLocalFile;
    std::unique_ptr<BusyPointer> busy;
    PartFile part(files);

    // The target cannot be written: the one line about it, no error details.
    auto targetInUse = [&]() {
        if (busy) busy->Restore();
        part.Discard();
        form.Err.Clear();
        form.ErrLog(u"文件\"" + local + u"\"已经打开");
        return Text();
    };

    try {
        // The query never reaches the server.
        strURL = StrLeft(strURL + u"?", u"?");
        // Without a scheme: a path on the update server.
        if (!HasScheme(strURL)) strURL = form.strServerURL + strURL;
        if (local.empty()) local = form.strTempDir + StrRightBack(strURL, u"/");
        const Text folder = StrLeftBack(local, u"\\");
        if (!files.DirExists(folder) && !files.FileExists(folder)) MyMkDir(form, folder);

        busy.reset(new BusyPointer(platform.ui));

        std::replace(strURL.begin(), strURL.end(), u'\\', u'/');
        strURL = EncodeURI(strURL, kUrlKeep);

        std::unique_ptr<IHttpRequest> http = GetXMLHttpObject(form);
        if (!http) {
            form.ErrLog(u"无法创建XMLHTTP对象");
            throw QxError(err::kObjectRequired, u"缺少对象");
        }

        http->Open(u"HEAD", strURL);
        AskForFreshCopy(*http);
        http->Send();
        const Text status = Decimal(http->Status());
        if (status.substr(0, 2) != u"20") {
            throw QxError(err::kAutomation, u"服务器应答状态" + status);
        }

        const Text lastModified = http->GetResponseHeader(u"Last-Modified");
        DateTime serverTime = DateTime::Zero();
        if (!lastModified.empty() && !ParseHttpDate(lastModified, serverTime)) {
            throw QxError(kTypeMismatch, u"无法识别的时间：" + lastModified);
        }
        const int32_t length = ReadLength(http->GetResponseHeader(u"Content-Length"));

        if (blnUpdate && length == FileSize(form, local) && serverTime == GetFileDate(files, local)) {
            return local;  // unchanged
        }

        if (!TargetWritable(files, local)) return targetInUse();
        try {
            part.Create(local + u"." + form.GetRndString(8) + u".part");
        } catch (...) {
            return targetInUse();
        }

        // Each range starts where the bytes written so far end, so a short
        // answer is continued rather than leaving a gap.
        int64_t written = 0;
        do {
            http->Open(u"GET", strURL);
            AskForFreshCopy(*http);
            http->SetRequestHeader(u"Range", u"bytes=" + Decimal(written) + u"-" +
                                                 Decimal(written + kDownloadRangeSize - 1));
            http->Send();
            const Bytes body = http->ResponseBody();
            // A server with nothing more to give will not change its mind.
            if (body.empty()) break;
            part.Write(body);
            written += static_cast<int64_t>(body.size());
        } while (written < length);

        if (part.Length() != length) {
            part.Discard();
            busy->Restore();
            form.ErrLog(u"下载的数据不完整！");
            return Text();
        }
        try {
            part.ReplaceTarget(local);
        } catch (...) {
            return targetInUse();
        }
        if (!lastModified.empty()) SetFileDate(files, local, serverTime);
        return local;
    } catch (...) {
        form.Err.TakeCurrentException();
        if (busy) busy->Restore();
        part.Discard();
        form.ErrLog(u"下载文件\"" + strURL + u"\"失败");
        return Text();
    }
}

}  // namespace qx
