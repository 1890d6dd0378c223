#include "platform/posix/crypto_posix.h"

#include <openssl/bn.h>
#include <openssl/ec.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/obj_mac.h>

namespace qx {

namespace {

constexpr int32_t kCryptoFailure = 5;

template <class T, void (*Free)(T*)>
struct Freer {
    void operator()(T* p) const { Free(p); }
};
using EcKey = std::unique_ptr<EC_KEY, Freer<EC_KEY, EC_KEY_free>>;
using EcPoint = std::unique_ptr<EC_POINT, Freer<EC_POINT, EC_POINT_free>>;
using EcSig = std::unique_ptr<ECDSA_SIG, Freer<ECDSA_SIG, ECDSA_SIG_free>>;
using MdContext = std::unique_ptr<EVP_MD_CTX, Freer<EVP_MD_CTX, EVP_MD_CTX_free>>;

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

// The low-level EC_KEY calls are deprecated in OpenSSL 3 but stay the
// shortest honest way to build a key from a bare point.
#if defined(__GNUC__)
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif

EcKey PublicKey(const Bytes& xy) {
    if (xy.size() != 64) return nullptr;
    EcKey key(EC_KEY_new_by_curve_name(NID_X9_62_prime256v1));
    if (!key) return nullptr;
    const EC_GROUP* group = EC_KEY_get0_group(key.get());
    EcPoint point(EC_POINT_new(group));
    Bytes octets = "\x04" + xy;
    if (!point ||
        EC_POINT_oct2point(group, point.get(), reinterpret_cast<const unsigned char*>(octets.data()), octets.size(),
                           nullptr) != 1 ||
        EC_KEY_set_public_key(key.get(), point.get()) != 1 || EC_KEY_check_key(key.get()) != 1) {
        return nullptr;
    }
    return key;
}

BIGNUM* Number(const Bytes& big) {
    return BN_bin2bn(reinterpret_cast<const unsigned char*>(big.data()), static_cast<int>(big.size()), nullptr);
}

}  // namespace

std::unique_ptr<IHash> OpenSslCrypto::NewSha256() { return std::make_unique<OpenSslSha256>(); }

bool OpenSslCrypto::IsP256PublicKey(const Bytes& publicXY64) { return PublicKey(publicXY64) != nullptr; }

bool OpenSslCrypto::VerifyP256(const Bytes& publicXY64, const Bytes& digest32, const Bytes& rs64) {
    if (digest32.size() != 32 || rs64.size() != 64) return false;
    const EcKey key = PublicKey(publicXY64);
    if (!key) return false;
    EcSig sig(ECDSA_SIG_new());
    BIGNUM* r = Number(rs64.substr(0, 32));
    BIGNUM* s = Number(rs64.substr(32));
    if (!sig || !r || !s || ECDSA_SIG_set0(sig.get(), r, s) != 1) {
        BN_free(r);
        BN_free(s);
        return false;
    }
    return ECDSA_do_verify(reinterpret_cast<const unsigned char*>(digest32.data()), 32, sig.get(), key.get()) == 1;
}

}  // namespace qx
