// The files a publisher handles, in the layouts openssl reads and writes:
// signatures in DER, keys in PEM. For P-256 every one of them is a fixed
// template around the numbers, so the updater and the tools parse and
// write them without a cryptographic library.
#pragma once

#include <string>

#include "platform/core_types.h"

namespace qx {

// Standard base64 with padding. Decoding skips line breaks and blanks and
// refuses anything else that is not of the alphabet.
std::string EncodeBase64(const Bytes& data);
bool DecodeBase64(const std::string& text, Bytes& data);

// Longest DER signature of P-256: two 33-byte integers in a sequence.
constexpr size_t kMaxDerSignatureSize = 72;

// The 64 bytes r||s of a DER ECDSA-Sig-Value. False for anything not in
// strict DER, longer than 72 bytes, or with r or s zero or of more than
// 32 bytes.
bool DerSignatureToRs(const Bytes& der, Bytes& rs64);
// The DER form of r||s, as openssl writes it.
Bytes RsToDerSignature(const Bytes& rs64);

// "PUBLIC KEY": the SubjectPublicKeyInfo of a P-256 point.
std::string EncodePublicKeyPem(const Bytes& xy64);
bool DecodePublicKeyPem(const std::string& pem, Bytes& xy64);

// "EC PRIVATE KEY": the secret d with its public point, named curve.
std::string EncodePrivateKeyPem(const Bytes& d32, const Bytes& xy64);
bool DecodePrivateKeyPem(const std::string& pem, Bytes& d32, Bytes& xy64);

}  // namespace qx
