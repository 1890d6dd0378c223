#include "qxaddr.h"

#include <algorithm>

#include "config/TrailerBytes.h"
#include "platform/codepage.h"

namespace qx::qxaddr {

namespace {

const char16_t kUsage[] =
    u"usage: qxaddr FILE                          show the server address FILE carries\n"
    u"       qxaddr FILE ADDRESS [--codepage N]   write ADDRESS into FILE\n"
    u"ADDRESS is an IP address or host name, optionally with \":port\", at most 31 bytes\n"
    u"in code page N (default 936, the one of the machines that run the updater).\n"
    u"An empty ADDRESS (\"\") clears the trailer: the updater then uses 127.0.0.1.";

const char16_t kNone[] = u"(none: 127.0.0.1)";

Text Ascii(const std::string& s) { return Text(s.begin(), s.end()); }

Text Number(int64_t n) { return Ascii(std::to_string(n)); }

uint32_t Le16(const Bytes& b, size_t at) {
    return static_cast<uint32_t>(static_cast<unsigned char>(b[at])) |
           static_cast<uint32_t>(static_cast<unsigned char>(b[at + 1])) << 8;
}

uint32_t Le32(const Bytes& b, size_t at) { return Le16(b, at) | Le16(b, at + 2) << 16; }

struct Options {
    std::vector<Text> positional;
    unsigned codePage = tools::kDefaultCodePage;
    bool help = false;
};

// False, with the reason, for anything but FILE [ADDRESS] and the options.
bool Parse(const std::vector<Text>& args, Options& o, Text& why) {
    bool optionsEnded = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const Text& a = args[i];
        if (!optionsEnded && a == u"--") {
            optionsEnded = true;
        } else if (!optionsEnded && (a == u"--help" || a == u"-h" || a == u"/?")) {
            o.help = true;
        } else if (!optionsEnded && (a == u"--codepage" || a.rfind(u"--codepage=", 0) == 0)) {
            Text value;
            if (a == u"--codepage") {
                if (i + 1 >= args.size()) {
                    why = u"--codepage needs a number";
                    return false;
                }
                value = args[++i];
            } else {
                value = a.substr(11);
            }
            if (!tools::ParseCodePage(value, o.codePage)) {
                why = u"not a code page number: " + value;
                return false;
            }
        } else if (!optionsEnded && a.size() > 1 && a[0] == u'-' && a[1] == u'-') {
            why = u"unknown option " + a;
            return false;
        } else {
            o.positional.push_back(a);
        }
    }
    if (o.help) return true;
    if (o.positional.empty() || o.positional.size() > 2) {
        why = o.positional.empty() ? u"no FILE given" : u"too many arguments";
        return false;
    }
    return true;
}

// Prints what a trailer holds: the address, or the updater's fallback.
void Show(Host& host, unsigned codePage, const Bytes& trailer) {
    Bytes ansi;
    if (DecodeTrailer(trailer, ansi)) {
        host.Out(host.Decode(codePage, ansi));
        return;
    }
    host.Out(kNone);
    if (trailer.size() == kTrailerSize && trailer.find('\0') == Bytes::npos) {
        host.Err(u"qxaddr: note: the trailer holds 32 bytes without a terminating NUL; "
                 u"the updater ignores them");
    }
}

}  // namespace

Text CheckProgramFile(Host& host, const Text& path, int64_t length) {
    const int64_t kMinHeader = 0x40;
    if (length < static_cast<int64_t>(kTrailerSize)) {
        return u"the file is " + Number(length) + u" bytes long, shorter than the 32-byte trailer";
    }
    if (length < kMinHeader) return u"the file is not a Windows program (too short for an MZ header)";
    const Bytes dos = host.ReadAt(path, 0, static_cast<size_t>(kMinHeader));
    if (dos.size() < static_cast<size_t>(kMinHeader) || dos[0] != 'M' || dos[1] != 'Z') {
        return u"the file is not a Windows program (no MZ header)";
    }
    const int64_t peAt = Le32(dos, 0x3C);
    // Signature and file header: 4 + 20 bytes.
    if (peAt + 24 > length) {
        return u"the file is not a Windows program (its PE header offset " + Number(peAt) +
               u" lies outside the file)";
    }
    const Bytes pe = host.ReadAt(path, peAt, 24);
    if (pe.size() < 24 || pe.compare(0, 4, Bytes("PE\0\0", 4)) != 0) {
        return u"the file is not a Windows program (no PE signature at offset " + Number(peAt) + u")";
    }
    const uint32_t sections = Le16(pe, 6);
    const uint32_t optionalSize = Le16(pe, 20);
    const int64_t tableAt = peAt + 24 + optionalSize;
    const int64_t tableEnd = tableAt + 40 * static_cast<int64_t>(sections);
    if (tableEnd > length) return u"the file is not a Windows program (its section table is cut off)";
    int64_t end = tableEnd;
    if (sections > 0) {
        const Bytes table = host.ReadAt(path, tableAt, static_cast<size_t>(40 * sections));
        if (table.size() < 40 * static_cast<size_t>(sections)) {
            return u"the file is not a Windows program (its section table is cut off)";
        }
        for (uint32_t s = 0; s < sections; ++s) {
            const int64_t rawSize = Le32(table, 40 * s + 16);
            const int64_t rawAt = Le32(table, 40 * s + 20);
            if (rawSize > 0) end = std::max(end, rawAt + rawSize);
        }
    }
    // A program built without a trailer ends in its last section: writing
    // there would damage the code or data of the program.
    if (end > length - static_cast<int64_t>(kTrailerSize)) {
        return u"the last 32 bytes of the file belong to the program itself (its headers and sections "
               u"end at byte " +
               Number(end) + u" of " + Number(length) + u"): it was built without a configuration trailer";
    }
    return Text();
}

int Run(Host& host, const std::vector<Text>& args) {
    Options o;
    Text why;
    if (!Parse(args, o, why)) {
        host.Err(u"qxaddr: " + why);
        host.Err(kUsage);
        return kRefused;
    }
    if (o.help) {
        host.Out(kUsage);
        return kOk;
    }
    const Text& file = o.positional[0];
    const bool write = o.positional.size() == 2;

    // Everything about the address is checked before the file is touched.
    Bytes ansi;
    if (write) {
        const Text& address = o.positional[1];
        std::string reason;
        if (!EncodeExact(o.codePage, address, ansi, reason)) {
            host.Err(u"qxaddr: refused: the address \"" + address + u"\" cannot be written in code page " +
                     Number(o.codePage) + u": " + Ascii(reason) + u"; the file is unchanged");
            return kRefused;
        }
        if (!FitsTrailer(ansi)) {
            host.Err(u"qxaddr: refused: the address \"" + address + u"\" takes " + Number(ansi.size()) +
                     u" bytes in code page " + Number(o.codePage) +
                     u"; at most 31 fit in the trailer; the file is unchanged");
            return kRefused;
        }
    }

    try {
        const int64_t length = host.FileLength(file);
        const Text problem = CheckProgramFile(host, file, length);
        if (!problem.empty()) {
            host.Err(u"qxaddr: refused: " + file + u": " + problem + (write ? u"; the file is unchanged" : u""));
            return kRefused;
        }
        const int64_t at = length - static_cast<int64_t>(kTrailerSize);
        if (write) {
            const Bytes trailer = EncodeTrailer(ansi);
            host.WriteAt(file, at, trailer);
            const Bytes back = host.ReadAt(file, at, kTrailerSize);
            if (back != trailer || host.FileLength(file) != length) {
                host.Err(u"qxaddr: " + file + u": the trailer does not read back as written");
                return kFailed;
            }
            Show(host, o.codePage, back);
        } else {
            Show(host, o.codePage, host.ReadAt(file, at, kTrailerSize));
        }
        return kOk;
    } catch (const QxError& e) {
        host.Err(u"qxaddr: " + file + u": " + e.Description());
        return kFailed;
    }
}

}  // namespace qx::qxaddr
