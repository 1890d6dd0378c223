// CNG with the vectors the native tests check against libcrypto: both
// platforms must reach the same answers.
#include <gtest/gtest.h>

#include "config/ScriptSignature.h"
#include "platform/win32/crypto_win.h"
#include "support/SigningVectors.h"
#include "support/TestValues.h"

namespace qx {
namespace {

TEST(CryptoWin, HashesAndVerifiesAsOpensslDoes) {
    Win32Crypto crypto;
    const std::unique_ptr<IHash> hash = crypto.NewSha256();
    hash->Add(test::kSignedScript.data(), 10);
    hash->Add(test::kSignedScript.data() + 10, test::kSignedScript.size() - 10);
    EXPECT_EQ(test::Hex(hash->Finish()), test::Hex(test::kScriptSha256)) << "fed in two pieces";

    EXPECT_TRUE(crypto.IsP256PublicKey(test::kPublicXY));
    EXPECT_TRUE(crypto.VerifyP256(test::kPublicXY, test::kScriptSha256, test::kSignatureRs));
    Bytes otherDigest = test::kScriptSha256;
    otherDigest[0] ^= 1;
    EXPECT_FALSE(crypto.VerifyP256(test::kPublicXY, otherDigest, test::kSignatureRs));

    const ProgramKey key{true, test::kPublicXY};
    EXPECT_EQ(JudgeScript(crypto, key, test::kSignedScript, test::kSignatureDer), ScriptVerdict::kAccepted);
    EXPECT_EQ(JudgeScript(crypto, key, test::kSignedScript + " ", test::kSignatureDer),
              ScriptVerdict::kSignatureWrong);
}

}  // namespace
}  // namespace qx
