// The private-key operations on libcrypto.
#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include "config/SigningFormats.h"
#include "qxsign.h"

namespace qx::qxsign {
namespace {

template <class T, void (*Free)(T*)>
struct Freer {
    void operator()(T* p) const { Free(p); }
};
using Pkey = std::unique_ptr<EVP_PKEY, Freer<EVP_PKEY, EVP_PKEY_free>>;
using PkeyContext = std::unique_ptr<EVP_PKEY_CTX, Freer<EVP_PKEY_CTX, EVP_PKEY_CTX_free>>;
using Number = std::unique_ptr<BIGNUM, Freer<BIGNUM, BN_clear_free>>;

[[noreturn]] void Fail(const char* what) { throw QxError(5, FromUtf8(std::string("cannot ") + what + " (libcrypto)")); }

const unsigned char* Raw(const Bytes& b) { return reinterpret_cast<const unsigned char*>(b.data()); }

class OpenSslKeyMaker : public KeyMaker {
public:
    void Generate(Bytes& d32, Bytes& xy64) override {
        Pkey key(EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", "P-256"));
        if (!key) Fail("make a key");
        BIGNUM* raw = nullptr;
        if (EVP_PKEY_get_bn_param(key.get(), OSSL_PKEY_PARAM_PRIV_KEY, &raw) != 1) Fail("read the new key");
        const Number d(raw);
        d32.assign(32, '\0');
        unsigned char point[65];
        size_t size = 0;
        if (BN_bn2binpad(d.get(), reinterpret_cast<unsigned char*>(&d32[0]), 32) != 32 ||
            EVP_PKEY_get_octet_string_param(key.get(), OSSL_PKEY_PARAM_PUB_KEY, point, sizeof point, &size) != 1 ||
            size != 65 || point[0] != 4) {
            Fail("read the new key");
        }
        xy64.assign(reinterpret_cast<const char*>(point) + 1, 64);
    }

    Bytes Sign(const Bytes& d32, const Bytes& xy64, const Bytes& digest32) override {
        const Number d(BN_bin2bn(Raw(d32), static_cast<int>(d32.size()), nullptr));
        Bytes point = "\x04" + xy64;
        char group[] = "prime256v1";
        // The library reads the secret from a native-endian buffer.
        Bytes native(32, '\0');
        if (!d || BN_bn2nativepad(d.get(), reinterpret_cast<unsigned char*>(&native[0]), 32) != 32) Fail("read the key");
        const OSSL_PARAM params[] = {
            OSSL_PARAM_construct_utf8_string(OSSL_PKEY_PARAM_GROUP_NAME, group, 0),
            OSSL_PARAM_construct_octet_string(OSSL_PKEY_PARAM_PUB_KEY, &point[0], point.size()),
            OSSL_PARAM_construct_BN(OSSL_PKEY_PARAM_PRIV_KEY, reinterpret_cast<unsigned char*>(&native[0]), 32),
            OSSL_PARAM_construct_end(),
        };
        PkeyContext make(EVP_PKEY_CTX_new_from_name(nullptr, "EC", nullptr));
        EVP_PKEY* raw = nullptr;
        if (!make || EVP_PKEY_fromdata_init(make.get()) != 1 ||
            EVP_PKEY_fromdata(make.get(), &raw, EVP_PKEY_KEYPAIR, const_cast<OSSL_PARAM*>(params)) != 1) {
            Fail("read the key");
        }
        const Pkey key(raw);
        PkeyContext sign(EVP_PKEY_CTX_new_from_pkey(nullptr, key.get(), nullptr));
        unsigned char der[kMaxDerSignatureSize + 8];
        size_t size = sizeof der;
        if (!sign || EVP_PKEY_sign_init(sign.get()) != 1 ||
            EVP_PKEY_sign(sign.get(), der, &size, Raw(digest32), digest32.size()) != 1) {
            Fail("sign");
        }
        Bytes rs;
        if (!DerSignatureToRs(Bytes(reinterpret_cast<const char*>(der), size), rs)) Fail("sign");
        return rs;
    }
};

}  // namespace

std::unique_ptr<KeyMaker> NewKeyMaker() { return std::make_unique<OpenSslKeyMaker>(); }

}  // namespace qx::qxsign
