// qxsign on Linux and other POSIX systems: arguments and output in UTF-8,
// files through POSIX calls, cryptography from libcrypto.
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/posix/crypto_posix.h"
#include "qxsign.h"

namespace qx::qxsign {
namespace {

[[noreturn]] void Raise(const std::string& path, const std::string& operation, int code) {
    const int32_t number = code == ENOENT ? err::kFileNotFound : code == EACCES ? err::kPermissionDenied
                                                                                : err::kPathFileAccess;
    throw QxError(number, FromUtf8(path + ": cannot " + operation + ": " + strerror(code)));
}

class Descriptor {
public:
    explicit Descriptor(int fd) : fd_(fd) {}
    ~Descriptor() {
        if (fd_ >= 0) close(fd_);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int fd() const { return fd_; }
    int Release() {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }

private:
    int fd_;
};

class PosixHost : public Host {
public:
    PosixHost() : keys_(NewKeyMaker()) {}

    ICrypto& Crypto() override { return crypto_; }
    KeyMaker& Keys() override { return *keys_; }

    bool IsFile(const Text& path) override {
        struct stat st;
        return stat(ToUtf8(path).c_str(), &st) == 0 && S_ISREG(st.st_mode);
    }

    void WriteWhole(const Text& path, const Bytes& data, bool secret) override {
        const std::string name = ToUtf8(path);
        struct stat st;
        const bool exists = stat(name.c_str(), &st) == 0;
        std::string temp = name + ".XXXXXX";
        Descriptor file(mkstemp(&temp[0]));
        if (file.fd() < 0) Raise(name, "write", errno);
        // mkstemp makes the file the owner's alone; a public file gets the
        // permissions a new file would, a replaced one keeps its own.
        const mode_t umaskNow = umask(0);
        umask(umaskNow);
        const mode_t mode = exists ? (st.st_mode & 07777) : secret ? 0600 : (0666 & ~umaskNow);
        size_t done = 0;
        int failure = fchmod(file.fd(), mode) == 0 ? 0 : errno;
        while (failure == 0 && done < data.size()) {
            const ssize_t n = write(file.fd(), data.data() + done, data.size() - done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) failure = n < 0 ? errno : EIO;
            else done += static_cast<size_t>(n);
        }
        if (failure == 0 && fsync(file.fd()) != 0) failure = errno;
        if (close(file.Release()) != 0 && failure == 0) failure = errno;
        if (failure == 0 && rename(temp.c_str(), name.c_str()) != 0) failure = errno;
        if (failure != 0) {
            unlink(temp.c_str());
            Raise(name, "write", failure);
        }
    }

    void Out(const Text& line) override { std::printf("%s\n", ToUtf8(line).c_str()); }
    void Err(const Text& line) override { std::fprintf(stderr, "%s\n", ToUtf8(line).c_str()); }

    void ReadPieces(const Text& path, const std::function<void(const char*, size_t)>& take) override {
        const std::string name = ToUtf8(path);
        Descriptor file(open(name.c_str(), O_RDONLY));
        struct stat st;
        if (file.fd() < 0 || fstat(file.fd(), &st) != 0) Raise(name, "read", errno);
        if (!S_ISREG(st.st_mode)) Raise(name, "read", EISDIR);
        char buffer[1 << 16];
        for (;;) {
            const ssize_t n = read(file.fd(), buffer, sizeof buffer);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) Raise(name, "read", errno);
            if (n == 0) break;
            take(buffer, static_cast<size_t>(n));
        }
    }

private:
    OpenSslCrypto crypto_;
    std::unique_ptr<KeyMaker> keys_;
};

}  // namespace
}  // namespace qx::qxsign

int main(int argc, char** argv) {
    std::vector<qx::Text> args;
    for (int i = 1; i < argc; ++i) args.push_back(qx::FromUtf8(argv[i]));
    qx::qxsign::PosixHost host;
    const int status = qx::qxsign::Run(host, args);
    std::fflush(stdout);
    return status;
}
