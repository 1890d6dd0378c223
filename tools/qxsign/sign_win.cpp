// The private-key operations on CNG, so the Windows tool needs no library
// beyond Windows' own.
#include <windows.h>
#include <bcrypt.h>

#include <algorithm>

#include "platform/win32/handles_win.h"
#include "qxsign.h"

namespace qx::qxsign {
namespace {

[[noreturn]] void Fail(const char* what, NTSTATUS status) {
    char code[16];
    wsprintfA(code, "%08lX", static_cast<unsigned long>(status));
    throw QxError(5, FromUtf8(std::string("cannot ") + what + " (CNG status 0x" + code + ")"));
}

PUCHAR Raw(Bytes& b) { return reinterpret_cast<PUCHAR>(&b[0]); }

UniqueAlgorithmHandle OpenEcdsa() {
    BCRYPT_ALG_HANDLE handle = nullptr;
    const NTSTATUS status = ::BCryptOpenAlgorithmProvider(&handle, BCRYPT_ECDSA_P256_ALGORITHM, nullptr, 0);
    if (!BCRYPT_SUCCESS(status)) Fail("open ECDSA P-256", status);
    return UniqueAlgorithmHandle(handle);
}

// An ECCPRIVATE_BLOB is the header, X, Y and d, 32 bytes each.
Bytes PrivateBlob(const Bytes& d32, const Bytes& xy64) {
    const BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PRIVATE_P256_MAGIC, 32};
    return Bytes(reinterpret_cast<const char*>(&header), sizeof header) + xy64 + d32;
}

class CngKeyMaker : public KeyMaker {
public:
    void Generate(Bytes& d32, Bytes& xy64) override {
        const UniqueAlgorithmHandle provider = OpenEcdsa();
        BCRYPT_KEY_HANDLE raw = nullptr;
        NTSTATUS status = ::BCryptGenerateKeyPair(provider.Get(), &raw, 256, 0);
        if (!BCRYPT_SUCCESS(status)) Fail("make a key", status);
        const UniqueCngKey key(raw);
        status = ::BCryptFinalizeKeyPair(key.Get(), 0);
        if (!BCRYPT_SUCCESS(status)) Fail("make a key", status);
        Bytes blob(sizeof(BCRYPT_ECCKEY_BLOB) + 96, '\0');
        ULONG size = 0;
        status = ::BCryptExportKey(key.Get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, Raw(blob),
                                   static_cast<ULONG>(blob.size()), &size, 0);
        if (!BCRYPT_SUCCESS(status) || size != blob.size()) Fail("export the new key", status);
        xy64 = blob.substr(sizeof(BCRYPT_ECCKEY_BLOB), 64);
        d32 = blob.substr(sizeof(BCRYPT_ECCKEY_BLOB) + 64, 32);
        std::fill(blob.begin(), blob.end(), '\0');
    }

    Bytes Sign(const Bytes& d32, const Bytes& xy64, const Bytes& digest32) override {
        const UniqueAlgorithmHandle provider = OpenEcdsa();
        Bytes blob = PrivateBlob(d32, xy64);
        BCRYPT_KEY_HANDLE raw = nullptr;
        NTSTATUS status = ::BCryptImportKeyPair(provider.Get(), nullptr, BCRYPT_ECCPRIVATE_BLOB, &raw, Raw(blob),
                                                static_cast<ULONG>(blob.size()), 0);
        std::fill(blob.begin(), blob.end(), '\0');
        if (!BCRYPT_SUCCESS(status)) Fail("read the key", status);
        const UniqueCngKey key(raw);
        Bytes digest = digest32;
        Bytes rs(64, '\0');
        ULONG size = 0;
        status = ::BCryptSignHash(key.Get(), nullptr, Raw(digest), static_cast<ULONG>(digest.size()), Raw(rs), 64,
                                  &size, 0);
        if (!BCRYPT_SUCCESS(status) || size != 64) Fail("sign", status);
        return rs;
    }
};

}  // namespace

std::unique_ptr<KeyMaker> NewKeyMaker() { return std::make_unique<CngKeyMaker>(); }

}  // namespace qx::qxsign
