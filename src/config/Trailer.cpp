#include "config/Trailer.h"

#include "config/TrailerBytes.h"

namespace qx {

namespace {

void WriteTrailer(FrmUpdate& form, const Text& strFile, const Text& text) {
    const Platform& p = form.platform();
    const Bytes b = EncodeTrailer(p.codepage.ToAnsi(text));
    const int64_t lngLength = p.files.FileLength(strFile);
    // Writing at a negative offset, or past the end of a short file, would
    // either fail obscurely or make the file longer; neither is a trailer.
    if (lngLength < static_cast<int64_t>(kTrailerSize)) {
        throw QxError(err::kInvalidCall, u"写入文件\"" + strFile + u"\"失败：文件长度不足32字节。");
    }
    p.files.WriteAt(strFile, lngLength - static_cast<int64_t>(kTrailerSize), b);
}

}  // namespace

Text GetServerIP(FrmUpdate& form) {
    try {
        const Platform& p = form.platform();
        const Text strFile = form.strAppDir + form.ProgramBaseName() + u".exe";
        const int64_t lngLength = p.files.FileLength(strFile);
        if (lngLength < static_cast<int64_t>(kTrailerSize)) return DefaultServerAddress();
        const Bytes trailer = p.files.ReadAt(strFile, lngLength - static_cast<int64_t>(kTrailerSize), kTrailerSize);
        // Cutting at the first NUL before converting is safe: no ANSI code
        // page uses NUL as the second byte of a character.
        Bytes ansi;
        if (!DecodeTrailer(trailer, ansi)) return DefaultServerAddress();
        const Text address = p.codepage.FromAnsi(ansi);
        if (address.empty() || address.find(u'\0') != Text::npos) return DefaultServerAddress();
        return address;
    } catch (...) {
        // Any failure, of whatever kind, means "no address configured".
        return DefaultServerAddress();
    }
}

void WriteIP(FrmUpdate& form, const Text& strFile, const Text& strIP) { WriteTrailer(form, strFile, strIP); }

void WriteSetupPath(FrmUpdate& form, const Text& strFile, const Text& strSetupPath) {
    WriteTrailer(form, strFile, strSetupPath);
}

}  // namespace qx
