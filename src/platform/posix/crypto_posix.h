// The cryptography of the native build and the Linux tools: libcrypto.
#pragma once

#include "platform/crypto.h"

namespace qx {

class OpenSslCrypto : public ICrypto {
public:
    std::unique_ptr<IHash> NewSha256() override;
    bool IsP256PublicKey(const Bytes& publicXY64) override;
    bool VerifyP256(const Bytes& publicXY64, const Bytes& digest32, const Bytes& rs64) override;
};

}  // namespace qx
