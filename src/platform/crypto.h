// Hashing and signature checks, from the system's own cryptography: the
// updater trusts a publisher's key but implements no algorithm itself.
#pragma once

#include <cstddef>
#include <memory>

#include "platform/core_types.h"
#include "platform/noncopyable.h"

namespace qx {

// A SHA-256 computation fed piece by piece, so a large download is never
// held in memory at once.
class IHash : NonCopyable {
public:
    virtual ~IHash() = default;
    virtual void Add(const char* data, size_t size) = 0;  // raises on failure
    virtual Bytes Finish() = 0;                           // the 32-byte digest
};

class ICrypto : NonCopyable {
public:
    virtual ~ICrypto() = default;
    // Raises when the system offers no SHA-256.
    virtual std::unique_ptr<IHash> NewSha256() = 0;
    // Whether xy64 (X then Y, 32 bytes each, big-endian) is a point of
    // P-256 the system accepts as a public key.
    virtual bool IsP256PublicKey(const Bytes& publicXY64) = 0;
    // Whether rs64 (r then s) is a valid ECDSA signature of digest32 under
    // the key. Every failure, a damaged key included, is a "no".
    virtual bool VerifyP256(const Bytes& publicXY64, const Bytes& digest32, const Bytes& rs64) = 0;
};

// SHA-256 of a whole byte string.
Bytes Sha256(ICrypto& crypto, const Bytes& data);

}  // namespace qx
