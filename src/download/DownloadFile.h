// Fetching one file over HTTP: a HEAD request for the size and time stamp,
// then ranged GET requests streamed into a part file beside the target
// (target + ".part", with what it belongs to in target + ".part.txt") that
// takes the target's place only once it is complete. A download cut off
// part-way continues from its part file on the next attempt when the
// server still offers a file of the same length and time stamp.
#pragma once

#include <cstdint>
#include <memory>

#include "download/SharedFields.h"
#include "platform/clock.h"
#include "platform/crypto.h"
#include "platform/files.h"
#include "platform/http.h"
#include "platform/progress.h"
#include "platform/window.h"

namespace qx {

// What a download reads and uses: the server and temp folder from the
// window's fields, blnQuit to give up, the window to keep answering.
struct DownloadContext {
    IProgressLog& log;
    IWindowUi& ui;
    IFileSystem& files;
    IHttpClient& http;
    IClock& clock;
    const SharedFields& fields;
    ICrypto& crypto;
    // The program carries a publisher's key: a download line must pin its
    // file, or a signed script would protect nothing.
    bool pinsRequired = false;
};

// Size of one GET range.
constexpr int32_t kDownloadRangeSize = 1048576;

// Fetches strURLFile (a path on the update server such as
// "/qxupdate/update.inf", or an absolute URL) into strLocalFile (the temp
// folder and the URL's file name when empty). With blnUpdate, a local file
// with the server's size and time stamp is kept without a GET. Returns the
// local path, or empty text after logging why the download failed. On
// failure the previous target is left as it was. The window keeps handling
// its messages meanwhile; once it closes (or the session is told to stop)
// the download ends at once and logs nothing. With sha256 (32 bytes) the
// new file takes the target's place only when its digest is that one.
[[nodiscard]] Text DownloadFile(const DownloadContext& c, const Text& strURLFile, const Text& strLocalFile = u"",
                  bool blnUpdate = false, const Bytes& sha256 = Bytes());

// The body of a small file on the update server (strPath such as
// "/qxupdate/update.inf.sig"), in one request and never written to disk.
// False, without a word in the log, when it cannot be fetched or has more
// than maxSize bytes: the caller tells the user what that means.
[[nodiscard]] bool FetchSmallFile(const DownloadContext& c, const Text& strPath, int64_t maxSize, Bytes& body);

// Length of the file in bytes; -1 when it cannot be determined or does not
// fit a signed 32-bit number.
[[nodiscard]] int32_t FileSize(IFileSystem& files, const Text& strFile);

// Creates strDir and each missing folder above it; "\" separates levels.
// Every failure is ignored.
void MyMkDir(IFileSystem& files, const Text& strDir);

}  // namespace qx
