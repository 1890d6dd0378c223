#include "qxsign.h"

#include <algorithm>
#include <optional>

#include "config/KeyBlock.h"
#include "config/ScriptSignature.h"
#include "config/SigningFormats.h"
#include "download/Pin.h"
#include "download/ServerPath.h"
#include "download/TextUtils.h"
#include "platform/codepage.h"
#include "qxaddr/qxaddr.h"
#include "script/CommandTable.h"

namespace qx::qxsign {
namespace {

Text T(const char* ascii) { return FromUtf8(ascii); }

const char kUsage[] =
    "usage: qxsign keygen KEY.pem                     make a key: KEY.pem (secret) and KEY.pub.pem\n"
    "       qxsign stamp QXUpdate.exe KEY.pub.pem     write the public key into an updater\n"
    "       qxsign pin update.inf SERVERDIR           write the sha256= pin of every file the\n"
    "                                                 down, create, update and ver lines fetch\n"
    "       qxsign sign KEY.pem update.inf            write update.inf.sig\n"
    "       qxsign verify QXUpdate.exe|KEY.pub.pem update.inf [SIG] [--server DIR]\n"
    "                                                 what the updater decides, and why\n"
    "Options: --codepage N  the code page of the script (default 936)\n"
    "         --server DIR  for verify: the server folder whose files the pins must match\n"
    "                       (default: the folder above the script's qxupdate folder)\n"
    "stamp also takes the private key file. Files are replaced whole or not at all.\n"
    "Exit status: 0 done, 1 a file could not be read or written, 2 bad usage or refused,\n"
    "3 pin left lines unchanged, or verify found something the updater refuses.";

struct Options {
    std::vector<Text> positional;
    unsigned codePage = tools::kDefaultCodePage;
    Text server;
};

// A short name of a key, so a deployer can tell keys apart at a glance.
Text Fingerprint(ICrypto& crypto, const Bytes& xy) { return FormatPin(Sha256(crypto, xy)).substr(7, 16); }

// The public point a key file holds, public or private.
bool ReadKeyFile(Host& host, const Text& path, Bytes& xy, Bytes* d = nullptr) {
    const std::string pem = host.ReadFile(path);
    Bytes secret;
    if (DecodePrivateKeyPem(pem, secret, xy)) {
        if (d != nullptr) *d = secret;
        return true;
    }
    return d == nullptr && DecodePublicKeyPem(pem, xy);
}

// The address tool's program-file check, run on bytes already read.
class ProgramBytes : public qxaddr::Host {
public:
    explicit ProgramBytes(const Bytes& data) : data_(data) {}
    Text Decode(unsigned, const Bytes& ansi) override { return Text(ansi.begin(), ansi.end()); }
    int64_t FileLength(const Text&) override { return static_cast<int64_t>(data_.size()); }
    Bytes ReadAt(const Text&, int64_t offset, size_t count) override {
        return offset < static_cast<int64_t>(data_.size()) ? data_.substr(static_cast<size_t>(offset), count)
                                                            : Bytes();
    }
    void WriteAt(const Text&, int64_t, const Bytes&) override {}
    void Out(const Text&) override {}
    void Err(const Text&) override {}

private:
    const Bytes& data_;
};

Text CheckProgram(const Text& path, const Bytes& data) {
    ProgramBytes program(data);
    return qxaddr::CheckProgramFile(program, path, static_cast<int64_t>(data.size()));
}

// The lines of a script as byte ranges without their line ends, so a line
// can be rewritten while the ends and the code page stay as they were.
// They break where the updater breaks them: at CR, with or without LF; a
// lone LF is part of the line.
struct LineRange {
    size_t begin;
    size_t end;
};

std::vector<LineRange> Lines(const Bytes& raw) {
    std::vector<LineRange> lines;
    size_t begin = 0;
    while (begin < raw.size()) {
        const size_t end = std::min(raw.find('\r', begin), raw.size());
        lines.push_back({begin, end});
        begin = end + (raw.compare(end, 2, "\r\n") == 0 ? 2 : 1);
    }
    return lines;
}

// A down, create, update or ver line: where its pin field sits in the
// line's bytes and which server file it fetches. Commas are never part of
// a multi-byte character in the code pages scripts are written in, so the
// fields are cut in bytes exactly as the updater cuts them in characters.
struct PinnedLine {
    int number = 0;
    Text reference;
    Text serverPath;       // empty: not a file of this server
    size_t pinBegin = 0;   // the pin field, or where it goes
    size_t pinEnd = 0;
    size_t missingCommas = 0;  // commas to add before the pin
    Pin pin;
    Text pinText;
};

std::vector<PinnedLine> PinnableLines(const Bytes& raw, unsigned codePage) {
    std::vector<PinnedLine> out;
    const std::vector<LineRange> lines = Lines(raw);
    // Line 1 is the script's stamp.
    for (size_t n = 1; n < lines.size(); ++n) {
        const LineRange& l = lines[n];
        std::vector<size_t> commas;
        for (size_t i = l.begin; i < l.end; ++i) {
            if (raw[i] == ',') commas.push_back(i);
        }
        const size_t keywordEnd = commas.empty() ? l.end : commas[0];
        Text keyword;
        if (!DecodeExact(codePage, raw.substr(l.begin, keywordEnd - l.begin), keyword)) continue;
        const CommandSpec* command = LookUpCommand(keyword);
        if (command == nullptr) continue;
        size_t pinField = 0;
        for (size_t i = 0; i < command->fields.size(); ++i) {
            if (command->fields[i].kind == FieldKind::kPin) pinField = i + 1;
        }
        if (pinField == 0) continue;
        PinnedLine p;
        p.number = static_cast<int>(n + 1);
        auto fieldEnd = [&](size_t index) { return index < commas.size() ? commas[index] : l.end; };
        if (!commas.empty()) {
            const size_t begin = commas[0] + 1;
            if (!DecodeExact(codePage, raw.substr(begin, fieldEnd(1) - begin), p.reference)) {
                p.reference = u"?";
            } else if (!Trim(p.reference).empty()) {
                p.serverPath = ServerPathOf(p.reference);
            }
        }
        if (commas.size() >= pinField) {
            p.pinBegin = commas[pinField - 1] + 1;
            p.pinEnd = fieldEnd(pinField);
            const Bytes field = raw.substr(p.pinBegin, p.pinEnd - p.pinBegin);
            p.pinText = Text(field.begin(), field.end());
            // A pin is ASCII; anything else is read as text that is no pin.
            DecodeExact(codePage, field, p.pinText);
            p.pin = ParsePin(p.pinText);
        } else {
            p.pinBegin = p.pinEnd = l.end;
            p.missingCommas = pinField - commas.size();
        }
        out.push_back(std::move(p));
    }
    return out;
}

Text Root(Text dir) {
    while (dir.size() > 1 && (dir.back() == u'/' || dir.back() == u'\\')) dir.pop_back();
    return dir;
}

Text Where(const Text& script, const PinnedLine& p) {
    return script + u":" + Decimal(p.number) + u": \"" + p.reference + u"\": ";
}

int Keygen(Host& host, const Text& privatePath) {
    const Text stem = privatePath.size() > 4 && LowerAscii(privatePath.substr(privatePath.size() - 4)) == u".pem"
                          ? privatePath.substr(0, privatePath.size() - 4)
                          : privatePath;
    const Text publicPath = stem + u".pub.pem";
    for (const Text& path : {privatePath, publicPath}) {
        if (host.IsFile(path)) {
            host.Err(u"qxsign: refused: " + path + u" exists; a key is never overwritten");
            return kRefused;
        }
    }
    Bytes d, xy;
    host.Keys().Generate(d, xy);
    host.WriteWhole(privatePath, EncodePrivateKeyPem(d, xy), true);
    host.WriteWhole(publicPath, EncodePublicKeyPem(xy), false);
    host.Out(u"key " + Fingerprint(host.Crypto(), xy) + u": secret in " + privatePath + u", public in " +
             publicPath);
    host.Out(T("keep the secret file off the update server and out of any copy you hand out"));
    return kOk;
}

int Stamp(Host& host, const Text& exe, const Text& keyFile) {
    Bytes xy;
    if (!ReadKeyFile(host, keyFile, xy)) {
        host.Err(u"qxsign: refused: " + keyFile + u" is not a P-256 key file; " + exe + u" is unchanged");
        return kRefused;
    }
    if (!host.Crypto().IsP256PublicKey(xy)) {
        host.Err(u"qxsign: refused: the key in " + keyFile + u" is no point of P-256; " + exe + u" is unchanged");
        return kRefused;
    }
    Bytes data = host.ReadFile(exe);
    Text problem = CheckProgram(exe, data);
    const size_t at = data.size() - kKeyBlockDistance;
    if (problem.empty() && data.size() < kKeyBlockDistance) problem = T("the file is too short for a key");
    if (problem.empty() && data.substr(0, at).find(kKeyBlockMarker) == Bytes::npos) {
        problem = T("this updater was built without signed updates and would ignore a key");
    }
    Bytes old;
    const Bytes block = problem.empty() ? data.substr(at, kKeyBlockSize) : Bytes();
    const bool hadKey = problem.empty() && DecodeKeyBlock(block, old);
    if (problem.empty() && !hadKey && block != Bytes(kKeyBlockSize, '\0')) {
        problem = T("the 72 bytes before the trailer are in use: the file has no room for a key");
    }
    if (!problem.empty()) {
        host.Err(u"qxsign: refused: " + exe + u": " + problem + u"; the file is unchanged");
        return kRefused;
    }
    const Text name = Fingerprint(host.Crypto(), xy);
    if (hadKey && old == xy) {
        host.Out(exe + u" already carries key " + name);
        return kOk;
    }
    data.replace(at, kKeyBlockSize, EncodeKeyBlock(xy));
    host.WriteWhole(exe, data, false);
    if (hadKey) {
        host.Out(exe + u": key " + Fingerprint(host.Crypto(), old) + u" replaced by key " + name);
    } else {
        host.Out(exe + u" now carries key " + name + u": it runs only scripts signed with it");
    }
    return kOk;
}

int PinScript(Host& host, const Text& script, const Text& serverDir, unsigned codePage) {
    const Bytes raw = host.ReadFile(script);
    const Text root = Root(serverDir);
    Bytes out;
    size_t copied = 0;
    int pinned = 0;
    int left = 0;
    for (const PinnedLine& p : PinnableLines(raw, codePage)) {
        Text why;
        if (p.serverPath.empty()) {
            why = p.reference.empty() ? T("the line names no file") : T("not a file of this server");
        } else if (!host.IsFile(root + p.serverPath)) {
            why = u"no file " + root + p.serverPath;
        } else if (p.pin.state == Pin::kNone && !Trim(p.pinText).empty()) {
            why = T("the pin's field holds other text");
        }
        if (!why.empty()) {
            host.Err(Where(script, p) + why + u"; line left unchanged");
            ++left;
            continue;
        }
        const Text pin = FormatPin(host.FileSha256(root + p.serverPath));
        const Bytes pinBytes(pin.begin(), pin.end());
        out += raw.substr(copied, p.pinBegin - copied) + Bytes(p.missingCommas, ',') + pinBytes;
        copied = p.pinEnd;
        const bool same = p.pin.state == Pin::kValid && FormatPin(p.pin.digest) == pin;
        host.Out(Where(script, p) + (same ? T("pin unchanged") : T("pinned")));
        ++pinned;
    }
    out += raw.substr(copied);
    if (out != raw) host.WriteWhole(script, out, false);
    host.Out(Decimal(pinned) + u" lines pinned, " + Decimal(left) + u" left unchanged");
    return left == 0 ? kOk : kNotAll;
}

int SignScript(Host& host, const Text& keyFile, const Text& script) {
    Bytes d, xy;
    if (!ReadKeyFile(host, keyFile, xy, &d)) {
        host.Err(u"qxsign: refused: " + keyFile + u" is not a P-256 private key file (signing needs the secret one)");
        return kRefused;
    }
    const Bytes digest = Sha256(host.Crypto(), host.ReadFile(script));
    const Bytes rs = host.Keys().Sign(d, xy, digest);
    // A secret that does not belong to its public point would make
    // signatures no updater accepts: better to find out here.
    if (!host.Crypto().VerifyP256(xy, digest, rs)) {
        host.Err(u"qxsign: " + keyFile + u": the secret does not match its public key; nothing was written");
        return kFailed;
    }
    const Text sig = script + u".sig";
    host.WriteWhole(sig, RsToDerSignature(rs), false);
    host.Out(sig + u": signed with key " + Fingerprint(host.Crypto(), xy));
    return kOk;
}

// The folder served as the root when the script sits in its qxupdate
// folder; empty otherwise.
Text ServerOfScript(const Text& script) {
    const size_t slash = script.find_last_of(u"/\\");
    if (slash == Text::npos) return Text();
    const Text folder = script.substr(0, slash);
    const size_t up = folder.find_last_of(u"/\\");
    const Text name = up == Text::npos ? folder : folder.substr(up + 1);
    if (LowerAscii(name) != u"qxupdate") return Text();
    return up == Text::npos ? Text(u".") : up == 0 ? Text(u"/") : folder.substr(0, up);
}

int Verify(Host& host, const Options& o) {
    const Text& source = o.positional[1];
    const Text& script = o.positional[2];
    ProgramKey key;
    if (ReadKeyFile(host, source, key.xy)) {
        key.present = true;
    } else {
        const Bytes data = host.ReadFile(source);
        const Text problem = CheckProgram(source, data);
        if (!problem.empty()) {
            host.Err(u"qxsign: refused: " + source + u" is neither a key file nor an updater: " + problem);
            return kRefused;
        }
        key.present = data.size() >= kKeyBlockDistance &&
                      DecodeKeyBlock(data.substr(data.size() - kKeyBlockDistance, kKeyBlockSize), key.xy);
    }
    const Text sigFile = o.positional.size() > 3 ? o.positional[3] : script + u".sig";
    const Bytes raw = host.ReadFile(script);
    std::optional<Bytes> signature;
    if (host.IsFile(sigFile)) signature = host.ReadFile(sigFile);
    const ScriptVerdict verdict = JudgeScript(host.Crypto(), key, raw, signature);
    const Text keyName = key.present ? u"key " + Fingerprint(host.Crypto(), key.xy) + u": " : Text();
    host.Out(script + u": " + keyName + VerdictReason(verdict));
    if (!ScriptRuns(verdict)) return kNotAll;

    const Text root = Root(o.server.empty() ? ServerOfScript(script) : o.server);
    if (root.empty()) {
        host.Out(T("the pins were not checked: give the server folder with --server"));
        return kOk;
    }
    int refused = 0;
    for (const PinnedLine& p : PinnableLines(raw, o.codePage)) {
        Text why;
        if (p.pin.state == Pin::kMalformed) {
            why = T("the pin is malformed: the file is not downloaded");
        } else if (p.pin.state == Pin::kNone) {
            if (key.present) why = T("no pin: the file is not downloaded");
        } else if (p.serverPath.empty()) {
            host.Out(Where(script, p) + u"not on this server: its pin is checked when it is downloaded");
        } else if (!host.IsFile(root + p.serverPath)) {
            why = u"no file " + root + p.serverPath + u": the download fails";
        } else if (host.FileSha256(root + p.serverPath) != p.pin.digest) {
            why = T("the file does not match its pin: the updater keeps the old one");
        }
        if (!why.empty()) {
            host.Out(Where(script, p) + why);
            ++refused;
        }
    }
    return refused == 0 ? kOk : kNotAll;
}

}  // namespace

Bytes Host::ReadFile(const Text& path) {
    Bytes data;
    ReadPieces(path, [&data](const char* piece, size_t size) { data.append(piece, size); });
    return data;
}

Bytes Host::FileSha256(const Text& path) {
    const std::unique_ptr<IHash> hash = Crypto().NewSha256();
    ReadPieces(path, [&hash](const char* piece, size_t size) { hash->Add(piece, size); });
    return hash->Finish();
}

int Run(Host& host, const std::vector<Text>& args) {
    Options o;
    auto usage = [&](const Text& why) {
        host.Err(u"qxsign: " + why);
        host.Err(T(kUsage));
        return kRefused;
    };
    for (size_t i = 0; i < args.size(); ++i) {
        const Text& a = args[i];
        if (a == u"--help" || a == u"-h" || a == u"/?") {
            host.Out(T(kUsage));
            return kOk;
        } else if (a == u"--codepage") {
            if (i + 1 >= args.size() || !tools::ParseCodePage(args[i + 1], o.codePage)) {
                return usage(T("--codepage needs a number"));
            }
            ++i;
        } else if (a == u"--server") {
            if (i + 1 >= args.size() || args[i + 1].empty()) return usage(T("--server needs a folder"));
            o.server = args[++i];
        } else if (a.size() > 1 && a[0] == u'-' && a[1] == u'-') {
            return usage(u"unknown option " + a);
        } else {
            o.positional.push_back(a);
        }
    }
    if (o.positional.empty()) return usage(T("no command given"));
    if (!KnowsCodePage(o.codePage)) {
        return usage(T("this system has no converter for code page ") + Decimal(o.codePage));
    }
    struct Form {
        const char16_t* name;
        size_t least, most;
    };
    static const Form kForms[] = {
        {u"keygen", 2, 2}, {u"stamp", 3, 3}, {u"pin", 3, 3}, {u"sign", 3, 3}, {u"verify", 3, 4},
    };
    const Text& command = o.positional[0];
    const Form* form = nullptr;
    for (const Form& f : kForms) {
        if (command == f.name) form = &f;
    }
    if (form == nullptr) return usage(u"unknown command " + command);
    if (o.positional.size() < form->least || o.positional.size() > form->most) {
        return usage(command + (o.positional.size() < form->least ? u": too few arguments" : u": too many arguments"));
    }
    const std::vector<Text>& p = o.positional;
    try {
        if (command == u"keygen") return Keygen(host, p[1]);
        if (command == u"stamp") return Stamp(host, p[1], p[2]);
        if (command == u"pin") return PinScript(host, p[1], p[2], o.codePage);
        if (command == u"sign") return SignScript(host, p[1], p[2]);
        return Verify(host, o);
    } catch (const QxError& e) {
        host.Err(u"qxsign: " + e.Description());
        return kFailed;
    }
}

}  // namespace qx::qxsign
