#include "config/SigningFormats.h"

namespace qx {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The DER around the numbers, byte for byte as openssl writes them.
const Bytes kPublicPrefix(
    "\x30\x59\x30\x13\x06\x07\x2a\x86\x48\xce\x3d\x02\x01\x06\x08\x2a\x86\x48\xce\x3d\x03\x01\x07\x03\x42\x00\x04", 27);
const Bytes kPrivatePrefix("\x30\x77\x02\x01\x01\x04\x20", 7);
const Bytes kPrivateMiddle("\xa0\x0a\x06\x08\x2a\x86\x48\xce\x3d\x03\x01\x07\xa1\x44\x03\x42\x00\x04", 18);

const char kPublicLabel[] = "PUBLIC KEY";
const char kPrivateLabel[] = "EC PRIVATE KEY";

int Sextet(char c) {
    for (int i = 0; i < 64; ++i) {
        if (kAlphabet[i] == c) return i;
    }
    return -1;
}

std::string Pem(const char* label, const Bytes& der) {
    const std::string body = EncodeBase64(der);
    std::string out = std::string("-----BEGIN ") + label + "-----\n";
    for (size_t i = 0; i < body.size(); i += 64) out += body.substr(i, 64) + "\n";
    return out + "-----END " + label + "-----\n";
}

// The DER between the BEGIN and END lines of label; false when they are
// missing or the body is no base64.
bool Unpem(const std::string& pem, const char* label, Bytes& der) {
    const std::string begin = std::string("-----BEGIN ") + label + "-----";
    const std::string end = std::string("-----END ") + label + "-----";
    const size_t first = pem.find(begin);
    if (first == std::string::npos) return false;
    const size_t bodyStart = first + begin.size();
    const size_t last = pem.find(end, bodyStart);
    if (last == std::string::npos) return false;
    return DecodeBase64(pem.substr(bodyStart, last - bodyStart), der);
}

// One DER INTEGER at der[at] as 32 big-endian bytes; at moves past it.
bool ReadInteger(const Bytes& der, size_t& at, Bytes& out) {
    if (at + 2 > der.size() || der[at] != 0x02) return false;
    const size_t length = static_cast<unsigned char>(der[at + 1]);
    at += 2;
    if (length == 0 || length > 33 || at + length > der.size()) return false;
    Bytes value = der.substr(at, length);
    at += length;
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(value[i]); };
    if (byte(0) & 0x80) return false;                                   // negative
    if (length > 1 && byte(0) == 0 && !(byte(1) & 0x80)) return false;  // not minimal
    if (byte(0) == 0 && length > 1) value.erase(0, 1);
    if (value.size() > 32 || value.find_first_not_of('\0') == Bytes::npos) return false;
    out = Bytes(32 - value.size(), '\0') + value;
    return true;
}

Bytes Integer(const Bytes& big32) {
    size_t skip = 0;
    while (skip < big32.size() - 1 && big32[skip] == 0) ++skip;
    Bytes value = big32.substr(skip);
    if (static_cast<unsigned char>(value[0]) & 0x80) value.insert(0, 1, '\0');
    return Bytes("\x02", 1) + static_cast<char>(value.size()) + value;
}

}  // namespace

std::string EncodeBase64(const Bytes& data) {
    std::string out;
    for (size_t i = 0; i < data.size(); i += 3) {
        const size_t n = data.size() - i < 3 ? data.size() - i : 3;
        uint32_t group = 0;
        for (size_t k = 0; k < 3; ++k) {
            group = (group << 8) | (k < n ? static_cast<unsigned char>(data[i + k]) : 0u);
        }
        for (size_t k = 0; k < 4; ++k) out += k <= n ? kAlphabet[(group >> (18 - 6 * k)) & 63] : '=';
    }
    return out;
}

bool DecodeBase64(const std::string& text, Bytes& data) {
    Bytes out;
    uint32_t group = 0;
    int count = 0;
    int padding = 0;
    for (char c : text) {
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n') continue;
        if (c == '=') {
            if (count < 2 || ++padding + count > 4) return false;
            continue;
        }
        const int v = Sextet(c);
        if (v < 0 || padding > 0) return false;
        group = (group << 6) | static_cast<uint32_t>(v);
        if (++count == 4) {
            out += static_cast<char>(group >> 16);
            out += static_cast<char>(group >> 8);
            out += static_cast<char>(group);
            group = 0;
            count = 0;
        }
    }
    if (padding > 0) {
        if (count + padding != 4) return false;
        group <<= 6 * padding;
        out += static_cast<char>(group >> 16);
        if (padding == 1) out += static_cast<char>(group >> 8);
    } else if (count != 0) {
        return false;
    }
    data = out;
    return true;
}

bool DerSignatureToRs(const Bytes& der, Bytes& rs64) {
    if (der.size() < 8 || der.size() > kMaxDerSignatureSize || der[0] != 0x30 ||
        static_cast<unsigned char>(der[1]) != der.size() - 2) {
        return false;
    }
    size_t at = 2;
    Bytes r;
    Bytes s;
    if (!ReadInteger(der, at, r) || !ReadInteger(der, at, s) || at != der.size()) return false;
    rs64 = r + s;
    return true;
}

Bytes RsToDerSignature(const Bytes& rs64) {
    const Bytes body = Integer(rs64.substr(0, 32)) + Integer(rs64.substr(32, 32));
    return Bytes("\x30", 1) + static_cast<char>(body.size()) + body;
}

std::string EncodePublicKeyPem(const Bytes& xy64) { return Pem(kPublicLabel, kPublicPrefix + xy64); }

bool DecodePublicKeyPem(const std::string& pem, Bytes& xy64) {
    Bytes der;
    if (!Unpem(pem, kPublicLabel, der) || der.size() != kPublicPrefix.size() + 64 ||
        der.compare(0, kPublicPrefix.size(), kPublicPrefix) != 0) {
        return false;
    }
    xy64 = der.substr(kPublicPrefix.size());
    return true;
}

std::string EncodePrivateKeyPem(const Bytes& d32, const Bytes& xy64) {
    return Pem(kPrivateLabel, kPrivatePrefix + d32 + kPrivateMiddle + xy64);
}

bool DecodePrivateKeyPem(const std::string& pem, Bytes& d32, Bytes& xy64) {
    Bytes der;
    const size_t middleAt = kPrivatePrefix.size() + 32;
    if (!Unpem(pem, kPrivateLabel, der) || der.size() != middleAt + kPrivateMiddle.size() + 64 ||
        der.compare(0, kPrivatePrefix.size(), kPrivatePrefix) != 0 ||
        der.compare(middleAt, kPrivateMiddle.size(), kPrivateMiddle) != 0) {
        return false;
    }
    d32 = der.substr(kPrivatePrefix.size(), 32);
    xy64 = der.substr(middleAt + kPrivateMiddle.size());
    return true;
}

}  // namespace qx
