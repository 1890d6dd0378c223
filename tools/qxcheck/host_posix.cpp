// qxcheck on Linux and other POSIX systems: arguments and output in UTF-8.
#include <errno.h>
#include <string.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "platform/posix/crypto_posix.h"
#include "qxcheck.h"

namespace qx::qxcheck {
namespace {

class PosixHost : public Host {
public:
    Bytes ReadFile(const Text& path) override {
        const std::string name = ToUtf8(path);
        struct stat st;
        if (stat(name.c_str(), &st) != 0) Raise(errno);
        if (!S_ISREG(st.st_mode)) Raise(EISDIR);
        std::ifstream in(name, std::ios::binary);
        if (!in) Raise(errno);
        std::ostringstream content;
        content << in.rdbuf();
        if (in.bad()) Raise(EIO);
        return content.str();
    }

    bool FileExistsBelow(const Text& root, const Text& serverPath) override {
        struct stat st;
        return stat(ToUtf8(root + serverPath).c_str(), &st) == 0 && S_ISREG(st.st_mode);
    }

    ICrypto& Crypto() override { return crypto_; }

    void Out(const Text& line) override { std::printf("%s\n", ToUtf8(line).c_str()); }
    void Err(const Text& line) override { std::fprintf(stderr, "%s\n", ToUtf8(line).c_str()); }

private:
    OpenSslCrypto crypto_;

    [[noreturn]] static void Raise(int code) {
        const int32_t number = code == ENOENT ? err::kFileNotFound
                               : code == EACCES ? err::kPermissionDenied
                                                : err::kPathFileAccess;
        throw QxError(number, FromUtf8(strerror(code)));
    }
};

}  // namespace
}  // namespace qx::qxcheck

int main(int argc, char** argv) {
    std::vector<qx::Text> args;
    for (int i = 1; i < argc; ++i) args.push_back(qx::FromUtf8(argv[i]));
    qx::qxcheck::PosixHost host;
    const int status = qx::qxcheck::Run(host, args);
    std::fflush(stdout);
    return status;
}
