#include "platform/win32/files_win.h"

#include <windows.h>

#include <string>

#include "platform/win32/codepage_win.h"
#include "platform/win32/handles_win.h"

namespace qx {

namespace {

constexpr int32_t kDiskFull = 61;

// Largest piece handed to one ReadFile or WriteFile call.
constexpr DWORD kChunk = 1u << 20;

// The system's own words for an error, and its code.
Text SystemErrorText(DWORD code) {
    Text text = SystemMessage(code);
    if (text.empty()) text = u"未知错误";
    return text + u"（错误代码 " + FromUtf8(std::to_string(code)) + u"）";
}

// Win32 error codes to the numbers of the classic Windows run-time errors,
// which administrators and the rest of the program already know.
int32_t ErrorNumber(DWORD code) {
    switch (code) {
        case ERROR_FILE_NOT_FOUND:
            return err::kFileNotFound;
        case ERROR_PATH_NOT_FOUND:
        case ERROR_INVALID_DRIVE:
        case ERROR_BAD_NETPATH:
        case ERROR_BAD_NET_NAME:
        case ERROR_NOT_READY:
            return err::kPathNotFound;
        case ERROR_SHARING_VIOLATION:
        case ERROR_LOCK_VIOLATION:
        case ERROR_USER_MAPPED_FILE:
            return err::kFileAlreadyOpen;
        case ERROR_WRITE_PROTECT:
        case ERROR_NETWORK_ACCESS_DENIED:
        case ERROR_PRIVILEGE_NOT_HELD:
            return err::kPermissionDenied;
        case ERROR_INVALID_NAME:
        case ERROR_BAD_PATHNAME:
        case ERROR_FILENAME_EXCED_RANGE:
            return err::kBadFileName;
        case ERROR_DISK_FULL:
        case ERROR_HANDLE_DISK_FULL:
            return kDiskFull;
        default:
            // Access denied (read-only file, a folder where a file was
            // expected), a name that exists already, and everything else.
            return err::kPathFileAccess;
    }
}

// Raises for the error the last Win32 call left behind. subject is put in
// quotes after the operation: 打开文件"c:\a.txt"失败：...
[[noreturn]] void RaiseWin32Error(DWORD code, const Text& operation, const Text& subject) {
    throw QxError(ErrorNumber(code), operation + u"\"" + subject + u"\"失败：" + SystemErrorText(code));
}

[[noreturn]] void RaiseLastError(const Text& operation, const Text& subject) {
    RaiseWin32Error(::GetLastError(), operation, subject);
}

UniqueHandle OpenExisting(const Text& path, DWORD access, DWORD share, const Text& operation) {
    UniqueHandle file(::CreateFileW(Wide(path), access, share, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) RaiseLastError(operation, path);
    return file;
}

// Windows refuses write access to a read-only file, but an administrator
// account on a POSIX host (Wine run as root) is let through. Asking first
// keeps read-only files protected everywhere; on Windows the open itself
// would fail the same way.
bool IsFileWith(const Text& path, DWORD anyOf) {
    const DWORD attributes = ::GetFileAttributesW(Wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & anyOf) != 0 &&
           (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool IsReadOnlyFile(const Text& path) {
    return IsFileWith(path, FILE_ATTRIBUTE_READONLY);
}

// CreateFileW for write access with the read-only rule above; no handle and
// ERROR_ACCESS_DENIED as last error for a read-only file.
UniqueHandle OpenForWriting(const Text& path, DWORD share, DWORD disposition) {
    if (IsReadOnlyFile(path)) {
        ::SetLastError(ERROR_ACCESS_DENIED);
        return UniqueHandle();
    }
    return UniqueHandle(::CreateFileW(Wide(path), GENERIC_WRITE, share, nullptr, disposition,
                                      FILE_ATTRIBUTE_NORMAL, nullptr));
}

void Seek(HANDLE file, int64_t offset, const Text& operation, const Text& path) {
    if (offset < 0) throw QxError(err::kInvalidCall, operation + u"\"" + path + u"\"失败：位置为负数");
    LARGE_INTEGER distance;
    distance.QuadPart = offset;
    if (!::SetFilePointerEx(file, distance, nullptr, FILE_BEGIN)) RaiseLastError(operation, path);
}

// Reads until count bytes are in or the file ends.
Bytes ReadUpTo(HANDLE file, size_t count, const Text& path) {
    Bytes data;
    while (data.size() < count) {
        const size_t want = count - data.size() < kChunk ? count - data.size() : kChunk;
        const size_t start = data.size();
        data.resize(start + want);
        DWORD got = 0;
        if (!::ReadFile(file, &data[start], static_cast<DWORD>(want), &got, nullptr)) {
            const DWORD code = ::GetLastError();
            data.resize(start);
            RaiseWin32Error(code, u"读取文件", path);
        }
        data.resize(start + got);
        if (got == 0) break;
    }
    return data;
}

void WriteAll(HANDLE file, const Bytes& data, const Text& path) {
    size_t done = 0;
    while (done < data.size()) {
        const size_t left = data.size() - done;
        const DWORD want = static_cast<DWORD>(left < kChunk ? left : kChunk);
        DWORD written = 0;
        if (!::WriteFile(file, data.data() + done, want, &written, nullptr)) {
            RaiseLastError(u"写入文件", path);
        }
        if (written == 0) RaiseWin32Error(ERROR_DISK_FULL, u"写入文件", path);
        done += written;
    }
}

// Another program (a virus scanner, typically) has the target open for a
// moment; a replacement is tried again for about half a second before it
// fails. Callers that can wait longer (the hand-over) retry themselves,
// with their window answering in between.
constexpr int kHeldRetries = 5;
constexpr DWORD kHeldRetryMs = 100;

bool IsHeldByOthers(DWORD code) {
    return code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION || code == ERROR_USER_MAPPED_FILE ||
           code == ERROR_UNABLE_TO_REMOVE_REPLACED;
}

// ERROR_SUCCESS when the target could be renamed over now; the sharing
// error when another program holds it open without allowing that.
DWORD HeldByOthers(const Text& target) {
    UniqueHandle probe(::CreateFileW(Wide(target), GENERIC_READ | DELETE,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    if (probe) return ERROR_SUCCESS;
    const DWORD code = ::GetLastError();
    return IsHeldByOthers(code) ? code : ERROR_SUCCESS;
}

bool OnSameVolume(const Text& a, const Text& b) {
    wchar_t rootA[MAX_PATH + 1] = {};
    wchar_t rootB[MAX_PATH + 1] = {};
    if (!::GetVolumePathNameW(Wide(a), rootA, MAX_PATH + 1) ||
        !::GetVolumePathNameW(Wide(b), rootB, MAX_PATH + 1)) {
        return true;  // let the replacement itself find out
    }
    return ::lstrcmpiW(rootA, rootB) == 0;
}

// Overwrites target with the bytes of source, through the target's own
// handle, so its attributes, owner and security stay as they are.
void CopyContentInPlace(const Text& source, const Text& target, const Text& subject) {
    UniqueHandle in = OpenExisting(source, GENERIC_READ, FILE_SHARE_READ, u"打开文件");
    UniqueHandle out = OpenForWriting(target, FILE_SHARE_READ, OPEN_EXISTING);
    if (!out) RaiseLastError(u"替换文件", subject);
    for (;;) {
        const Bytes piece = ReadUpTo(in.Get(), kChunk, source);
        WriteAll(out.Get(), piece, target);
        if (piece.size() < kChunk) break;
    }
    if (!::SetEndOfFile(out.Get())) RaiseLastError(u"替换文件", subject);
}

uint32_t KnownAttributes(DWORD attributes) {
    return attributes & (attr::kReadOnly | attr::kHidden | attr::kSystem | attr::kDirectory | attr::kArchive);
}

class Win32OpenFile : public IOpenFile {
public:
    Win32OpenFile(UniqueHandle file, Text path) : file_(std::move(file)), path_(std::move(path)) {}

    void Write(const Bytes& data) override {
        if (!file_) {
            throw QxError(err::kInvalidCall, u"写入文件\"" + path_ + u"\"失败：文件已经关闭");
        }
        WriteAll(file_.Get(), data, path_);
    }

    int64_t Length() const override {
        LARGE_INTEGER size;
        if (!file_ || !::GetFileSizeEx(file_.Get(), &size)) return 0;
        return size.QuadPart;
    }

    void Close() override { file_.Reset(); }

private:
    UniqueHandle file_;
    Text path_;
};

}  // namespace

bool Win32FileSystem::FileExists(const Text& path) {
    const DWORD attributes = ::GetFileAttributesW(Wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

bool Win32FileSystem::DirExists(const Text& path) {
    const DWORD attributes = ::GetFileAttributesW(Wide(path));
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

int64_t Win32FileSystem::FileLength(const Text& path) {
    // The directory entry is enough, so a file that another program holds
    // open without sharing can still be measured.
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!::GetFileAttributesExW(Wide(path), GetFileExInfoStandard, &data)) {
        RaiseLastError(u"读取文件长度", path);
    }
    if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        RaiseWin32Error(ERROR_FILE_NOT_FOUND, u"读取文件长度", path);
    }
    return static_cast<int64_t>((static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow);
}

Bytes Win32FileSystem::ReadAll(const Text& path) {
    UniqueHandle file = OpenExisting(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, u"打开文件");
    Bytes data;
    for (;;) {
        const Bytes piece = ReadUpTo(file.Get(), kChunk, path);
        data += piece;
        if (piece.size() < kChunk) break;
    }
    return data;
}

Bytes Win32FileSystem::ReadAt(const Text& path, int64_t offset, size_t count) {
    UniqueHandle file = OpenExisting(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, u"打开文件");
    Seek(file.Get(), offset, u"读取文件", path);
    return ReadUpTo(file.Get(), count, path);
}

void Win32FileSystem::WriteAt(const Text& path, int64_t offset, const Bytes& data) {
    UniqueHandle file = OpenForWriting(path, FILE_SHARE_READ, OPEN_EXISTING);
    if (!file) RaiseLastError(u"打开文件", path);
    Seek(file.Get(), offset, u"写入文件", path);
    WriteAll(file.Get(), data, path);
}

std::unique_ptr<IOpenFile> Win32FileSystem::OpenForAppend(const Text& path) {
    UniqueHandle file = OpenForWriting(path, FILE_SHARE_READ, OPEN_EXISTING);
    if (!file) RaiseLastError(u"打开文件", path);
    LARGE_INTEGER zero{};
    if (!::SetFilePointerEx(file.Get(), zero, nullptr, FILE_END)) RaiseLastError(u"打开文件", path);
    return std::unique_ptr<IOpenFile>(new Win32OpenFile(std::move(file), path));
}

std::unique_ptr<IOpenFile> Win32FileSystem::CreateForWrite(const Text& path) {
    // OPEN_ALWAYS and an explicit truncation rather than CREATE_ALWAYS, which
    // refuses to overwrite a hidden or system file.
    UniqueHandle file = OpenForWriting(path, FILE_SHARE_READ, OPEN_ALWAYS);
    if (!file) RaiseLastError(u"创建文件", path);
    if (!::SetEndOfFile(file.Get())) RaiseLastError(u"创建文件", path);
    return std::unique_ptr<IOpenFile>(new Win32OpenFile(std::move(file), path));
}

void Win32FileSystem::Replace(const Text& source, const Text& target) {
    const Text subject = source + u"\"到\"" + target;
    if (IsReadOnlyFile(target)) RaiseWin32Error(ERROR_ACCESS_DENIED, u"替换文件", subject);
    const DWORD kept = ::GetFileAttributesW(Wide(target));
    if (kept == INVALID_FILE_ATTRIBUTES) {
        // Nothing to keep: the staged file simply takes the name.
        if (!::MoveFileExW(Wide(source), Wide(target),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
            RaiseLastError(u"移动文件", subject);
        }
        return;
    }
    // Wine's ReplaceFileW leaves a side file behind whenever it fails, and
    // across drives it can lose the target: it is called only once the
    // target is free and on the source's drive.
    if (!OnSameVolume(source, target)) {
        CopyContentInPlace(source, target, subject);
        ::DeleteFileW(Wide(source));
        return;
    }
    DWORD code = ERROR_SUCCESS;
    for (int attempt = 0;; ++attempt) {
        code = HeldByOthers(target);
        if (code == ERROR_SUCCESS &&
            ::ReplaceFileW(Wide(target), Wide(source), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                           nullptr, nullptr)) {
            break;
        }
        if (code == ERROR_SUCCESS) code = ::GetLastError();
        if (!IsHeldByOthers(code) || attempt == kHeldRetries) break;
        ::Sleep(kHeldRetryMs);
    }
    if (IsHeldByOthers(code)) {
        throw QxError(err::kFileAlreadyOpen, u"替换文件\"" + subject + u"\"失败：" + SystemErrorText(code));
    }
    if (code != ERROR_SUCCESS) {
        // The swap was refused (no right to add or rename files in the
        // target's folder), yet the target itself may be writable: then it
        // gets the content in place and keeps what it had as the same file.
        // A system whose replacement failed half-way and left no target
        // gets the source under the target's name.
        if (::GetFileAttributesW(Wide(target)) != INVALID_FILE_ATTRIBUTES) {
            CopyContentInPlace(source, target, subject);
            ::DeleteFileW(Wide(source));
            return;
        }
        if (!::MoveFileExW(Wide(source), Wide(target), MOVEFILE_REPLACE_EXISTING)) {
            RaiseWin32Error(code, u"替换文件", subject);
        }
    }
    // Windows keeps them itself; not every system that runs this program does.
    const DWORD carried = kept & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    ::SetFileAttributesW(Wide(target), carried == 0 ? FILE_ATTRIBUTE_NORMAL : carried);
}

void Win32FileSystem::Copy(const Text& source, const Text& target) {
    // CopyFile's documented refusal to overwrite a read-only or hidden file,
    // made to hold where the platform would let it pass.
    if (IsFileWith(target, FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN)) {
        RaiseWin32Error(ERROR_ACCESS_DENIED, u"复制文件", source + u"\"到\"" + target);
    }
    if (!::CopyFileW(Wide(source), Wide(target), FALSE)) {
        RaiseLastError(u"复制文件", source + u"\"到\"" + target);
    }
}

void Win32FileSystem::Delete(const Text& path) {
    if (!::DeleteFileW(Wide(path))) RaiseLastError(u"删除文件", path);
}

uint32_t Win32FileSystem::GetAttributes(const Text& path) {
    const DWORD attributes = ::GetFileAttributesW(Wide(path));
    if (attributes == INVALID_FILE_ATTRIBUTES) RaiseLastError(u"读取文件属性", path);
    return KnownAttributes(attributes);
}

void Win32FileSystem::SetAttributes(const Text& path, uint32_t attributes) {
    DWORD value = attributes & (attr::kReadOnly | attr::kHidden | attr::kSystem | attr::kArchive);
    if (value == 0) value = FILE_ATTRIBUTE_NORMAL;
    if (!::SetFileAttributesW(Wide(path), value)) RaiseLastError(u"设置文件属性", path);
}

std::vector<Text> Win32FileSystem::List(const Text& pattern, uint32_t attributeMask) {
    Text search = pattern;
    if (!search.empty() && (search.back() == u'\\' || search.back() == u'/')) search += u'*';

    std::vector<Text> names;
    WIN32_FIND_DATAW found;
    UniqueFindHandle find(::FindFirstFileW(Wide(search), &found));
    if (!find) {
        const DWORD code = ::GetLastError();
        if (code == ERROR_FILE_NOT_FOUND || code == ERROR_PATH_NOT_FOUND || code == ERROR_NO_MORE_FILES) {
            return names;
        }
        RaiseWin32Error(code, u"列出文件", pattern);
    }
    const uint32_t special = attr::kHidden | attr::kSystem | attr::kDirectory;
    do {
        const Text name = FromWide(found.cFileName);
        if (name == u"." || name == u"..") continue;
        if ((found.dwFileAttributes & special & ~attributeMask) != 0) continue;
        names.push_back(name);
    } while (::FindNextFileW(find.Get(), &found));
    const DWORD code = ::GetLastError();
    if (code != ERROR_NO_MORE_FILES) RaiseWin32Error(code, u"列出文件", pattern);
    return names;
}

void Win32FileSystem::MakeDir(const Text& path) {
    if (!::CreateDirectoryW(Wide(path), nullptr)) RaiseLastError(u"创建文件夹", path);
}

bool Win32FileSystem::CanOpenExclusively(const Text& path) {
    // OPEN_EXISTING: asking must not leave an empty file behind.
    return OpenForWriting(path, 0, OPEN_EXISTING).Valid();
}

uint64_t Win32FileSystem::GetFileWriteTime(const Text& path) {
    UniqueHandle file(::CreateFileW(Wide(path), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return 0;
    FILETIME creation, access, write;
    if (!::GetFileTime(file.Get(), &creation, &access, &write)) return 0;
    return (static_cast<uint64_t>(write.dwHighDateTime) << 32) | write.dwLowDateTime;
}

void Win32FileSystem::SetFileTimes(const Text& path, uint64_t fileTime) {
    if (fileTime == 0) return;
    UniqueHandle file = OpenForWriting(path, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING);
    if (!file) return;
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(fileTime & 0xFFFFFFFFu);
    time.dwHighDateTime = static_cast<DWORD>(fileTime >> 32);
    ::SetFileTime(file.Get(), &time, &time, &time);
}

}  // namespace qx
