// qxsign on Windows: wide arguments, files through Win32, cryptography from
// CNG.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "common/console_win.h"
#include "platform/win32/codepage_win.h"
#include "platform/win32/crypto_win.h"
#include "platform/win32/handles_win.h"
#include "qxsign.h"

namespace qx::qxsign {
namespace {

[[noreturn]] void Raise(const Text& path, const char* operation, DWORD code) {
    const int32_t number = code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND ? err::kFileNotFound
                           : code == ERROR_ACCESS_DENIED                                ? err::kPermissionDenied
                                                                                        : err::kPathFileAccess;
    throw QxError(number, path + FromUtf8(std::string(": cannot ") + operation + " (error " +
                                          std::to_string(code) + ")"));
}

UniqueHandle Open(const Text& path, DWORD access, DWORD disposition, const char* operation) {
    const HANDLE h = ::CreateFileW(Wide(path), access, FILE_SHARE_READ, nullptr, disposition,
                                   FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) Raise(path, operation, ::GetLastError());
    return UniqueHandle(h);
}

class Win32Host : public Host {
public:
    Win32Host() : keys_(NewKeyMaker()) {}

    ICrypto& Crypto() override { return crypto_; }
    KeyMaker& Keys() override { return *keys_; }

    bool IsFile(const Text& path) override {
        const DWORD attributes = ::GetFileAttributesW(Wide(path));
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
    }

    // Access for the owner alone is left to the folder the key is kept in:
    // a new file takes its permissions from there.
    void WriteWhole(const Text& path, const Bytes& data, bool) override {
        const Text temp = path + u".qxsign-" + FromUtf8(std::to_string(::GetCurrentProcessId()));
        DWORD failure = 0;
        {
            const UniqueHandle file = Open(temp, GENERIC_WRITE, CREATE_ALWAYS, "write");
            size_t done = 0;
            while (failure == 0 && done < data.size()) {
                const DWORD slice = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 20));
                DWORD wrote = 0;
                if (!::WriteFile(file.Get(), data.data() + done, slice, &wrote, nullptr) || wrote == 0) {
                    failure = ::GetLastError() ? ::GetLastError() : ERROR_WRITE_FAULT;
                }
                done += wrote;
            }
            if (failure == 0 && !::FlushFileBuffers(file.Get())) failure = ::GetLastError();
        }
        if (failure == 0 &&
            !::MoveFileExW(Wide(temp), Wide(path), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            failure = ::GetLastError();
        }
        if (failure != 0) {
            ::DeleteFileW(Wide(temp));
            Raise(path, "write", failure);
        }
    }

    void Out(const Text& line) override { tools::PrintLine(STD_OUTPUT_HANDLE, line); }
    void Err(const Text& line) override { tools::PrintLine(STD_ERROR_HANDLE, line); }

    void ReadPieces(const Text& path, const std::function<void(const char*, size_t)>& take) override {
        if (!IsFile(path)) Raise(path, "read", ERROR_FILE_NOT_FOUND);
        const UniqueHandle file = Open(path, GENERIC_READ, OPEN_EXISTING, "read");
        std::vector<char> buffer(1 << 16);
        for (;;) {
            DWORD got = 0;
            if (!::ReadFile(file.Get(), buffer.data(), static_cast<DWORD>(buffer.size()), &got, nullptr)) {
                Raise(path, "read", ::GetLastError());
            }
            if (got == 0) break;
            take(buffer.data(), got);
        }
    }

private:
    Win32Crypto crypto_;
    std::unique_ptr<KeyMaker> keys_;
};

}  // namespace
}  // namespace qx::qxsign

int wmain(int argc, wchar_t** argv) {
    const std::vector<qx::Text> args = qx::tools::Arguments(argc, argv);
    qx::qxsign::Win32Host host;
    return qx::qxsign::Run(host, args);
}
