// qxsign: the publisher's side of signed updates. It makes a key, writes
// the public key into the updaters a deployer hands out, pins the files a
// script downloads and signs the script. The command is portable; the host
// gives it the files, the console and the cryptography of the system.
#pragma once

#include <functional>
#include <memory>
#include <vector>

#include "common/codepage_option.h"
#include "platform/core_types.h"
#include "platform/crypto.h"

namespace qx::qxsign {

// Exit statuses.
constexpr int kOk = 0;
constexpr int kFailed = 1;   // a file could not be read or written
constexpr int kRefused = 2;  // bad usage, or a request refused before anything was written
// pin: some lines were left as they were; verify: the updater would refuse
// the script or a file it fetches.
constexpr int kNotAll = 3;

// The operations that need the private key. The updater never holds one,
// so they live in the tool alone.
class KeyMaker {
public:
    virtual ~KeyMaker() = default;
    // A fresh P-256 key: the secret d and its public point X||Y. Raises.
    virtual void Generate(Bytes& d32, Bytes& xy64) = 0;
    // r||s over digest32. Raises.
    virtual Bytes Sign(const Bytes& d32, const Bytes& xy64, const Bytes& digest32) = 0;
};

// The system's: libcrypto on POSIX systems, CNG on Windows.
std::unique_ptr<KeyMaker> NewKeyMaker();

class Host {
public:
    virtual ~Host() = default;

    virtual ICrypto& Crypto() = 0;
    virtual KeyMaker& Keys() = 0;

    // Raise QxError on failure.
    // Hands the file to take piece by piece, so a large file is hashed
    // without being held whole.
    virtual void ReadPieces(const Text& path, const std::function<void(const char*, size_t)>& take) = 0;
    Bytes ReadFile(const Text& path);
    Bytes FileSha256(const Text& path);
    virtual bool IsFile(const Text& path) = 0;
    // Writes a temporary file beside path and renames it into place, so
    // path is either as it was or whole. A new file that is secret is
    // readable by its owner alone; a replaced file keeps its permissions.
    virtual void WriteWhole(const Text& path, const Bytes& data, bool secret) = 0;

    virtual void Out(const Text& line) = 0;  // one line on standard output
    virtual void Err(const Text& line) = 0;  // one line on standard error
};

// Runs the command with the arguments after the program name and returns
// the exit status.
int Run(Host& host, const std::vector<Text>& args);

}  // namespace qx::qxsign
