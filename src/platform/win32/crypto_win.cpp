#include "platform/win32/crypto_win.h"

#include <algorithm>
#include <vector>

#include "platform/win32/handles_win.h"

namespace qx {

namespace {

constexpr int32_t kCryptoFailure = 5;

[[noreturn]] void Fail() { throw QxError(kCryptoFailure, u"无法计算校验值"); }

UniqueAlgorithmHandle OpenProvider(LPCWSTR algorithm) {
    BCRYPT_ALG_HANDLE handle = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptOpenAlgorithmProvider(&handle, algorithm, nullptr, 0))) return {};
    return UniqueAlgorithmHandle(handle);
}

PUCHAR Raw(Bytes& b) { return reinterpret_cast<PUCHAR>(&b[0]); }

class CngSha256 : public IHash {
public:
    CngSha256() : provider_(OpenProvider(BCRYPT_SHA256_ALGORITHM)) {
        BCRYPT_HASH_HANDLE hash = nullptr;
        if (!provider_ || !BCRYPT_SUCCESS(::BCryptCreateHash(provider_.Get(), &hash, nullptr, 0, nullptr, 0, 0))) {
            Fail();
        }
        hash_.Reset(hash);
    }
    void Add(const char* data, size_t size) override {
        // CNG takes a ULONG per call; a larger piece goes in slices.
        while (size > 0) {
            const ULONG slice = size > 0x40000000u ? 0x40000000u : static_cast<ULONG>(size);
            if (!BCRYPT_SUCCESS(::BCryptHashData(hash_.Get(), reinterpret_cast<PUCHAR>(const_cast<char*>(data)),
                                                 slice, 0))) {
                Fail();
            }
            data += slice;
            size -= slice;
        }
    }
    Bytes Finish() override {
        Bytes digest(32, '\0');
        if (!BCRYPT_SUCCESS(::BCryptFinishHash(hash_.Get(), Raw(digest), 32, 0))) Fail();
        return digest;
    }

private:
    UniqueAlgorithmHandle provider_;
    UniqueHashHandle hash_;
};

// A public key of the provider, or none when the point is not one.
UniqueCngKey ImportP256(const UniqueAlgorithmHandle& provider, const Bytes& xy) {
    if (!provider || xy.size() != 64) return {};
    Bytes blob(sizeof(BCRYPT_ECCKEY_BLOB), '\0');
    BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, 32};
    std::copy(reinterpret_cast<const char*>(&header), reinterpret_cast<const char*>(&header) + sizeof header,
              blob.begin());
    blob += xy;
    BCRYPT_KEY_HANDLE key = nullptr;
    if (!BCRYPT_SUCCESS(::BCryptImportKeyPair(provider.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &key, Raw(blob),
                                              static_cast<ULONG>(blob.size()), 0))) {
        return {};
    }
    return UniqueCngKey(key);
}

}  // namespace

std::unique_ptr<IHash> Win32Crypto::NewSha256() { return std::make_unique<CngSha256>(); }

bool Win32Crypto::IsP256PublicKey(const Bytes& publicXY64) {
    const UniqueAlgorithmHandle provider = OpenProvider(BCRYPT_ECDSA_P256_ALGORITHM);
    return ImportP256(provider, publicXY64).Valid();
}

bool Win32Crypto::VerifyP256(const Bytes& publicXY64, const Bytes& digest32, const Bytes& rs64) {
    if (digest32.size() != 32 || rs64.size() != 64) return false;
    const UniqueAlgorithmHandle provider = OpenProvider(BCRYPT_ECDSA_P256_ALGORITHM);
    const UniqueCngKey key = ImportP256(provider, publicXY64);
    if (!key) return false;
    Bytes digest = digest32;
    Bytes rs = rs64;
    return BCRYPT_SUCCESS(::BCryptVerifySignature(key.Get(), nullptr, Raw(digest), 32, Raw(rs), 64, 0));
}

}  // namespace qx
