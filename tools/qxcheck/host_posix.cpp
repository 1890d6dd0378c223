// qxcheck on Linux and other POSIX systems: arguments and output in UTF-8,
// code pages through iconv.
#include <errno.h>
#include <iconv.h>
#include <string.h>
#include <sys/stat.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "qxcheck.h"

namespace qx::qxcheck {
namespace {

std::string IconvName(unsigned codePage) {
    if (codePage == 65001) return "UTF-8";
    return "CP" + std::to_string(codePage);
}

class PosixHost : public Host {
public:
    ~PosixHost() override {
        for (auto& entry : converters_) iconv_close(entry.second);
    }

    bool KnowsCodePage(unsigned codePage) override { return Converter(codePage) != nullptr; }

    bool DecodeStrict(unsigned codePage, const Bytes& bytes, Text& text) override {
        iconv_t cd = Converter(codePage);
        if (cd == nullptr) return false;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
        std::string buffer(bytes);
        std::string utf8;
        char* src = buffer.empty() ? nullptr : &buffer[0];
        size_t srcLeft = buffer.size();
        while (srcLeft > 0) {
            char chunk[1024];
            char* dst = chunk;
            size_t dstLeft = sizeof chunk;
            const size_t r = iconv(cd, &src, &srcLeft, &dst, &dstLeft);
            utf8.append(chunk, static_cast<size_t>(dst - chunk));
            // EILSEQ: not a character there; EINVAL: cut short at the end.
            if (r == static_cast<size_t>(-1) && errno != E2BIG) return false;
            // glibc counts characters it could only approximate.
            if (r != static_cast<size_t>(-1) && r > 0) return false;
        }
        text = FromUtf8(utf8);
        return true;
    }

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

    void Out(const Text& line) override { std::printf("%s\n", ToUtf8(line).c_str()); }
    void Err(const Text& line) override { std::fprintf(stderr, "%s\n", ToUtf8(line).c_str()); }

private:
    [[noreturn]] static void Raise(int code) {
        const int32_t number = code == ENOENT ? err::kFileNotFound
                               : code == EACCES ? err::kPermissionDenied
                                                : err::kPathFileAccess;
        throw QxError(number, FromUtf8(strerror(code)));
    }

    iconv_t Converter(unsigned codePage) {
        auto found = converters_.find(codePage);
        if (found != converters_.end()) return found->second;
        iconv_t cd = iconv_open("UTF-8", IconvName(codePage).c_str());
        if (cd == reinterpret_cast<iconv_t>(-1)) return nullptr;
        converters_[codePage] = cd;
        return cd;
    }

    std::map<unsigned, iconv_t> converters_;
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
