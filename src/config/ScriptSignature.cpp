#include "config/ScriptSignature.h"

#include "config/SigningFormats.h"

namespace qx {

ScriptVerdict JudgeScript(ICrypto& crypto, const ProgramKey& key, const Bytes& script,
                          const std::optional<Bytes>& signature) {
    if (!key.present) return ScriptVerdict::kUnsigned;
    // A damaged key is told apart so the deployer looks at the program file,
    // not at the server.
    if (!crypto.IsP256PublicKey(key.xy)) return ScriptVerdict::kKeyDamaged;
    if (!signature) return ScriptVerdict::kSignatureMissing;
    Bytes rs;
    if (!DerSignatureToRs(*signature, rs)) return ScriptVerdict::kSignatureMalformed;
    return crypto.VerifyP256(key.xy, Sha256(crypto, script), rs) ? ScriptVerdict::kAccepted
                                                                  : ScriptVerdict::kSignatureWrong;
}

const char16_t* VerdictReason(ScriptVerdict v) {
    switch (v) {
        case ScriptVerdict::kUnsigned:
            return u"the program carries no key: the script runs without a check";
        case ScriptVerdict::kAccepted:
            return u"the signature is good: the script runs";
        case ScriptVerdict::kKeyDamaged:
            return u"the key in the program is damaged: every script is refused";
        case ScriptVerdict::kSignatureMissing:
            return u"there is no signature: the script is refused";
        case ScriptVerdict::kSignatureMalformed:
            return u"the signature is malformed: the script is refused";
        case ScriptVerdict::kSignatureWrong:
            return u"the signature does not match the script and the key: the script is refused";
    }
    return u"";
}

}  // namespace qx
