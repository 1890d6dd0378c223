// Whether the updater runs a script it fetched: the one decision shared by
// the update session and the publisher's tool, so the tool tells exactly
// what the updater will do and why.
#pragma once

#include <optional>

#include "config/KeyBlock.h"
#include "platform/crypto.h"

namespace qx {

// Longest signature file the session fetches; a proper one has 72 bytes
// at most, the room beyond is only so that a wrong one is read and refused
// rather than cut.
constexpr int64_t kMaxSignatureFileSize = 4096;

enum class ScriptVerdict {
    kUnsigned,            // the program carries no key: the script runs unchecked
    kAccepted,            // the signature is the publisher's over these bytes
    kKeyDamaged,          // the program's key is no point of P-256
    kSignatureMissing,    // no signature file could be fetched
    kSignatureMalformed,  // not a DER ECDSA signature of P-256
    kSignatureWrong,      // well-formed, but not over these bytes with this key
};

// signature is empty when the signature file could not be fetched.
[[nodiscard]] ScriptVerdict JudgeScript(ICrypto& crypto, const ProgramKey& key, const Bytes& script,
                                        const std::optional<Bytes>& signature);

// Whether the updater runs the script's lines.
inline bool ScriptRuns(ScriptVerdict v) { return v == ScriptVerdict::kUnsigned || v == ScriptVerdict::kAccepted; }

// The reason in a few words, for the publisher's tool.
const char16_t* VerdictReason(ScriptVerdict v);

}  // namespace qx
