// qxaddr on Linux and other POSIX systems: arguments in UTF-8, files through
// POSIX calls.
#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <string>
#include <vector>

#include "platform/codepage.h"
#include "qxaddr.h"

namespace qx::qxaddr {
namespace {

[[noreturn]] void Raise(const std::string& operation) {
    const int code = errno;
    const int32_t number = code == ENOENT ? err::kFileNotFound : code == EACCES ? err::kPermissionDenied
                                                                                : err::kPathFileAccess;
    throw QxError(number, FromUtf8("cannot " + operation + ": " + strerror(code)));
}

class PosixFile {
public:
    PosixFile(const Text& path, int flags, const char* operation) : fd_(open(ToUtf8(path).c_str(), flags)) {
        if (fd_ < 0) Raise(operation);
    }
    ~PosixFile() {
        if (fd_ >= 0) close(fd_);
    }
    PosixFile(const PosixFile&) = delete;
    PosixFile& operator=(const PosixFile&) = delete;
    int fd() const { return fd_; }
    void Close() {
        const int fd = fd_;
        fd_ = -1;
        if (close(fd) != 0) Raise("write");
    }

private:
    int fd_;
};

class PosixHost : public Host {
public:
    Text Decode(unsigned codePage, const Bytes& ansi) override {
        Text text;
        if (DecodeExact(codePage, ansi, text)) return text;
        // Undecodable bytes are shown as hexadecimal so nothing is hidden.
        Text shown;
        for (unsigned char b : ansi) {
            static const char kHex[] = "0123456789ABCDEF";
            if (b >= 0x20 && b < 0x7F) {
                shown += static_cast<char16_t>(b);
            } else {
                shown += u"\\x";
                shown += static_cast<char16_t>(kHex[b >> 4]);
                shown += static_cast<char16_t>(kHex[b & 0xF]);
            }
        }
        return shown;
    }

    int64_t FileLength(const Text& path) override {
        struct stat st;
        if (stat(ToUtf8(path).c_str(), &st) != 0) Raise("read");
        if (!S_ISREG(st.st_mode)) {
            errno = EISDIR;
            Raise("read");
        }
        return static_cast<int64_t>(st.st_size);
    }

    Bytes ReadAt(const Text& path, int64_t offset, size_t count) override {
        PosixFile file(path, O_RDONLY, "read");
        Bytes data(count, '\0');
        size_t got = 0;
        while (got < count) {
            const ssize_t n = pread(file.fd(), &data[got], count - got, static_cast<off_t>(offset) + got);
            if (n < 0 && errno == EINTR) continue;
            if (n < 0) Raise("read");
            if (n == 0) break;
            got += static_cast<size_t>(n);
        }
        data.resize(got);
        return data;
    }

    void WriteAt(const Text& path, int64_t offset, const Bytes& data) override {
        // Neither O_CREAT nor O_TRUNC: the file is changed in place or not at all.
        PosixFile file(path, O_WRONLY, "open for writing");
        size_t done = 0;
        while (done < data.size()) {
            const ssize_t n =
                pwrite(file.fd(), data.data() + done, data.size() - done, static_cast<off_t>(offset) + done);
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) Raise("write");
            done += static_cast<size_t>(n);
        }
        if (fsync(file.fd()) != 0 && errno != EINVAL) Raise("write");
        file.Close();
    }

    void Out(const Text& line) override { std::printf("%s\n", ToUtf8(line).c_str()); }
    void Err(const Text& line) override { std::fprintf(stderr, "%s\n", ToUtf8(line).c_str()); }
};

}  // namespace
}  // namespace qx::qxaddr

int main(int argc, char** argv) {
    std::vector<qx::Text> args;
    for (int i = 1; i < argc; ++i) args.push_back(qx::FromUtf8(argv[i]));
    qx::qxaddr::PosixHost host;
    const int status = qx::qxaddr::Run(host, args);
    std::fflush(stdout);
    return status;
}
