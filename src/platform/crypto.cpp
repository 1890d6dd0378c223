#include "platform/crypto.h"

namespace qx {

Bytes Sha256(ICrypto& crypto, const Bytes& data) {
    const std::unique_ptr<IHash> hash = crypto.NewSha256();
    hash->Add(data.data(), data.size());
    return hash->Finish();
}

}  // namespace qx
