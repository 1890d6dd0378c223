#include "platform/posix/crypto_posix.h"

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/params.h>

namespace qx {

namespace {

constexpr int32_t kCryptoFailure = 5;

template <class T, void (*Free)(T*)>
struct Freer {
    void operator()(T* p) const { Free(p); }
};
using MdContext = std::unique_ptr<EVP_MD_CTX, Freer<EVP_MD_CTX, EVP_MD_CTX_free>>;
using PkeyContext = std::unique_ptr<EVP_PKEY_CTX, Freer<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using Pkey = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;
using Signature = std::unique_ptr<ECDSA_SIG, Freer<ECDSA_SIG, ECDSA_SIG_free>>;

const unsigned char* Raw(const Bytes& b) { return reinterpret_cast<const unsigned char*>(b.data()); }

class OpenSslSha256 : public IHash {
public:
    OpenSslSha256() : ctx_(EVP_MD_CTX_new()) {
        if (!ctx_ || EVP_DigestInit_ex(ctx_.get(), EVP_sha256(), nullptr) != 1) Fail();
    }
    void Add(const char* data, size_t size) override {
        if (EVP_DigestUpdate(ctx_.get(), data, size) != 1) Fail();
    }
    Bytes Finish() override {
        unsigned char out[EVP_MAX_MD_SIZE];
        unsigned int size = 0;
        if (EVP_DigestFinal_ex(ctx_.get(), out, &size) != 1) Fail();
        return Bytes(reinterpret_cast<const char*>(out), size);
    }

private:
    [[noreturn]] static void Fail() { throw QxError(kCryptoFailure, u"无法计算校验值"); }
    MdContext ctx_;
};

// The point as a key of the library, or none when it is not a point of the
// curve.
Pkey PublicKey(const Bytes& xy) {
    if (xy.size() != 64) return nullptr;
    Bytes octets = "\x04" + xy;
    char group[] = "prime256v1";
    const OSSL_PARAM params[] = {
        OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
        OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, &octets[0], octets.size()),
        OSSL_PARAM_construct_end(),
    };
    PkeyContext make(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
    EVP_PKEY* raw = nullptr;
    if (!make || EVP_PKEY_fromdata_init(make.get()) != 1 ||
        EVP_PKEY_fromdata(make.get(), &raw, EVP_PKEY_PUBLIC_KEY, const_cast<OSSL_PARAM*>(params)) != 1) {
        return nullptr;
    }
    Pkey key(raw);
    PkeyContext check(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
    if (!check || EVP_PKEY_public_check(check.get()) != 1) return nullptr;
    return key;
}

// The library takes a signature in DER only.
Bytes Der(const Bytes& rs64) {
    Signature sig(ECDSA_SIG_new());
    BIGNUM* r = BN_bin2bn(Raw(rs64), 32, nullptr);
    BIGNUM* s = BN_bin2bn(Raw(rs64) + 32, 32, nullptr);
    if (!sig || !r || !s || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
        BN_free(r);
        BN_free(s);
        return Bytes();
    }
    unsigned char* out = nullptr;
    const int size = i2d_ECDSA_SIG(sig.get(), &out);
    if (size <= 0) return Bytes();
    const Bytes der(reinterpret_cast<const char*>(out), static_cast<size_t>(size));
    OPENSSL_free(out);
    return der;
}

}  // namespace

std::unique_ptr<IHash> OpenSslCrypto::NewSha256() { return std::make_unique<OpenSslSha256>(); }

bool OpenSslCrypto::IsP256PublicKey(const Bytes& publicXY64) { return PublicKey(publicXY64) != nullptr; }

bool OpenSslCrypto::VerifyP256(const Bytes& publicXY64, const Bytes& digest32, const Bytes& rs64) {
    if (digest32.size() != 32 || rs64.size() != 64) return false;
    const Pkey key = PublicKey(publicXY64);
    if (!key) return false;
    PkeyContext verify(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
    const Bytes der = Der(rs64);
    return verify && !der.empty() && EVP_PKEY_verify_init(verify.get()) == 1 &&
           EVP_PKEY_verify(verify.get(), Raw(der), der.size(), Raw(digest32), digest32.size()) == 1;
}

}  // namespace qx
