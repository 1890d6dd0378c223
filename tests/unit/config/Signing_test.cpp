// The formats a publisher's files come in and the decision on a fetched
// script, with the native crypto and vectors made by openssl.
#include "config/KeyBlock.h"
#include "config/ScriptSignature.h"
#include "config/SigningFormats.h"
#include "download/Pin.h"
#include "fakes/FormFixture.h"
#include "support/SigningVectors.h"
#include "support/TestValues.h"

namespace qx::fake {
namespace {

using test::Hex;
using test::Unhex;

const Text kProgram = u"c:\\app\\QXUpdate.exe";

TEST(KeyBlock, SitsJustBeforeTheTrailer) {
    const Bytes block = EncodeKeyBlock(test::kPublicXY);
    const struct { const char* name; Bytes file; bool present; } rows[] = {
        {"stamped", "MZ" + block + Bytes(32, '\0'), true},
        {"stamped, nothing before", block + Bytes(32, '\0'), true},
        {"unstamped", "MZ" + Bytes(104, '\0'), false},
        {"marker one byte off", "MZ" + block + Bytes(31, '\0'), false},
        {"too short for a block", block.substr(1) + Bytes(32, '\0'), false},
        {"marker in other case", "MZqxsigkey" + test::kPublicXY + Bytes(32, '\0'), false},
    };
    for (const auto& row : rows) {
        Machine m;
        m.s.files.AddFile(kProgram, row.file);
        const ProgramKey key = ReadProgramKey(m.s.files, kProgram);
        EXPECT_EQ(key.present, row.present) << row.name;
        if (row.present) EXPECT_EQ(Hex(key.xy), Hex(test::kPublicXY)) << row.name;
    }
}

TEST(SigningFormats, DerSignatures) {
    const struct { const char* name; Bytes der; Bytes rs; } rows[] = {
        {"openssl's", test::kSignatureDer, test::kSignatureRs},
        {"short integers", Unhex("3006020105020101"), Bytes(31, '\0') + "\x05" + Bytes(31, '\0') + "\x01"},
        {"empty", Bytes(), Bytes()},
        {"one byte too many", test::kSignatureDer + "0", Bytes()},
        {"not a sequence", "\x31" + test::kSignatureDer.substr(1), Bytes()},
        {"sequence length off", "\x30\x45" + test::kSignatureDer.substr(2), Bytes()},
        {"negative r", Unhex("3006020180020101"), Bytes()},
        {"r not minimal", Unhex("300702020001020101"), Bytes()},
        {"r zero", Unhex("3006020100020101"), Bytes()},
        {"r of 33 bytes", Unhex("3026022101") + Bytes(32, '\x01') + Unhex("020101"), Bytes()},
    };
    for (const auto& row : rows) {
        Bytes rs;
        EXPECT_EQ(DerSignatureToRs(row.der, rs), !row.rs.empty()) << row.name;
        if (row.rs.empty()) continue;
        EXPECT_EQ(Hex(rs), Hex(row.rs)) << row.name;
        EXPECT_EQ(Hex(RsToDerSignature(row.rs)), Hex(row.der)) << row.name;
    }
}

TEST(SigningFormats, PemKeysAsOpensslWritesThem) {
    Bytes xy;
    Bytes d;
    ASSERT_TRUE(DecodePublicKeyPem(test::kPublicPem, xy));
    EXPECT_EQ(Hex(xy), Hex(test::kPublicXY));
    EXPECT_EQ(EncodePublicKeyPem(xy), test::kPublicPem);
    ASSERT_TRUE(DecodePrivateKeyPem(test::kPrivatePem, d, xy));
    EXPECT_EQ(Hex(xy), Hex(test::kPublicXY));
    EXPECT_EQ(EncodePrivateKeyPem(d, xy), test::kPrivatePem);

    const std::string pub = test::kPublicPem;
    const std::string refused[] = {
        test::kPrivatePem,                               // the other layout
        "-----BEGIN PUBLIC KEY-----\nMFkw\n-----END PUBLIC KEY-----\n",  // too short
        pub.substr(0, 40) + "!" + pub.substr(41),        // not base64
        pub.substr(0, pub.find("-----END")),             // no end line
    };
    for (const std::string& pem : refused) EXPECT_FALSE(DecodePublicKeyPem(pem, xy)) << pem;
    std::string crlf;
    for (char c : pub) crlf += c == '\n' ? std::string("\r\n") : std::string(1, c);
    EXPECT_TRUE(DecodePublicKeyPem(crlf, xy)) << "Windows line ends";

    const struct { std::string text; const char* bytes; } base64[] = {
        {"", ""}, {"Zg==", "f"}, {"Zm8=", "fo"}, {"Zm9v", "foo"}, {"Zm9vYg==", "foob"},
        {"Zg=", nullptr}, {"Z===", nullptr}, {"Zm9v=", nullptr}, {"Zm9", nullptr}, {"Zg==Zg==", nullptr},
    };
    for (const auto& row : base64) {
        Bytes out;
        EXPECT_EQ(DecodeBase64(row.text, out), row.bytes != nullptr) << row.text;
        if (row.bytes) EXPECT_EQ(out, row.bytes) << row.text;
        if (row.bytes) EXPECT_EQ(EncodeBase64(row.bytes), row.text);
    }
}

TEST(Pin, OnlySha256AndSixtyFourHexDigits) {
    const Text hex = u"5562143842899B357da770388a5c793b7c7ecc997f9b04a7d792e882a3fbcdda";
    const struct { Text field; Pin::State state; } rows[] = {
        {u"sha256=" + hex, Pin::kValid},     {u"SHA256=" + hex, Pin::kValid},
        {u"", Pin::kNone},                   {u"c:\\x", Pin::kNone},
        {u"sha1=" + hex, Pin::kNone},        {u" sha256=" + hex, Pin::kNone},
        {u"sha256=" + hex + u" ", Pin::kMalformed}, {u"sha256=" + hex.substr(1), Pin::kMalformed},
        {u"sha256=" + hex.substr(1) + u"g", Pin::kMalformed}, {u"sha256= " + hex.substr(1), Pin::kMalformed},
        {u"sha256=", Pin::kMalformed},
    };
    for (const auto& row : rows) {
        const Pin pin = ParsePin(row.field);
        EXPECT_EQ(pin.state, row.state) << ToUtf8(row.field);
        if (row.state == Pin::kValid) EXPECT_EQ(Hex(pin.digest), Hex(test::kScriptSha256));
    }
}

TEST(JudgeScript, WhatTheUpdaterDecides) {
    OpenSslCrypto crypto;
    const ProgramKey key{true, test::kPublicXY};
    Bytes offCurve = test::kPublicXY;
    offCurve[63] ^= 1;
    Bytes tampered = test::kSignedScript;
    tampered[21] = 'H';
    Bytes otherR = test::kSignatureDer;
    otherR[10] ^= 1;
    const struct { const char* name; ProgramKey key; Bytes script; std::optional<Bytes> sig; ScriptVerdict verdict; }
        rows[] = {
            {"good", key, test::kSignedScript, test::kSignatureDer, ScriptVerdict::kAccepted},
            {"no key", ProgramKey{}, test::kSignedScript, std::nullopt, ScriptVerdict::kUnsigned},
            {"key off the curve", ProgramKey{true, offCurve}, test::kSignedScript, test::kSignatureDer,
             ScriptVerdict::kKeyDamaged},
            {"no signature", key, test::kSignedScript, std::nullopt, ScriptVerdict::kSignatureMissing},
            {"empty signature", key, test::kSignedScript, Bytes(), ScriptVerdict::kSignatureMalformed},
            {"script changed", key, tampered, test::kSignatureDer, ScriptVerdict::kSignatureWrong},
            {"signature changed", key, test::kSignedScript, otherR, ScriptVerdict::kSignatureWrong},
        };
    for (const auto& row : rows) {
        const ScriptVerdict v = JudgeScript(crypto, row.key, row.script, row.sig);
        EXPECT_EQ(v, row.verdict) << row.name;
        EXPECT_EQ(ScriptRuns(v), row.verdict == ScriptVerdict::kAccepted || row.verdict == ScriptVerdict::kUnsigned);
    }
    EXPECT_FALSE(crypto.VerifyP256(offCurve, test::kScriptSha256, test::kSignatureRs));
}

}  // namespace
}  // namespace qx::fake
