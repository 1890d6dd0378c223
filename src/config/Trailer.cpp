#include "config/Trailer.h"

#include "config/TrailerBytes.h"

namespace qx {

namespace {

void WriteTrailer(IFileSystem& files, const ICodePage& codepage, const Text& strFile, const Text& text) {
    const Bytes b = EncodeTrailer(codepage.ToAnsi(text));
    const int64_t lngLength = files.FileLength(strFile);
    // Writing at a negative offset, or past the end of a short file, would
    // either fail obscurely or make the file longer; neither is a trailer.
    if (lngLength < static_cast<int64_t>(kTrailerSize)) {
        throw QxError(err::kInvalidCall, u"写入文件\"" + strFile + u"\"失败：文件长度不足32字节。");
    }
    files.WriteAt(strFile, lngLength - static_cast<int64_t>(kTrailerSize), b);
}

}  // namespace

Text GetServerIP(IFileSystem& files, const ICodePage& codepage, const Text& strFile) {
    try {
        const int64_t lngLength = files.FileLength(strFile);
        if (lngLength < static_cast<int64_t>(kTrailerSize)) return DefaultServerAddress();
        const Bytes trailer = files.ReadAt(strFile, lngLength - static_cast<int64_t>(kTrailerSize), kTrailerSize);
        // Cutting at the first NUL before converting is safe: no ANSI code
        // page uses NUL as the second byte of a character.
        Bytes ansi;
        if (!DecodeTrailer(trailer, ansi)) return DefaultServerAddress();
        const Text address = codepage.FromAnsi(ansi);
        if (address.empty() || address.find(u'\0') != Text::npos) return DefaultServerAddress();
        return address;
    } catch (...) {
        // Any failure, of whatever kind, means "no address configured".
        return DefaultServerAddress();
    }
}

void WriteIP(IFileSystem& files, const ICodePage& codepage, const Text& strFile, const Text& strIP) {
    WriteTrailer(files, codepage, strFile, strIP);
}

void WriteSetupPath(IFileSystem& files, const ICodePage& codepage, const Text& strFile, const Text& strSetupPath) {
    WriteTrailer(files, codepage, strFile, strSetupPath);
}

}  // namespace qx
