#include "platform/win32/process_win.h"

#include <windows.h>

#include <vector>

#include "platform/win32/codepage_win.h"
#include "platform/win32/sendkeys_win.h"

namespace qx {

namespace {

bool IsBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

const char16_t kFileNotFound[] = u"文件未找到";
const char16_t kInvalidCall[] = u"无效的过程调用或参数";

// Kernel object names are limited to MAX_PATH characters.
constexpr size_t kMaxObjectName = MAX_PATH - 1;
const char16_t kMutexPrefix[] = u"QXUpdate.Instance.";

// FNV-1a over the UTF-16 code units: stands in for the part of a very
// long path that does not fit into the name.
uint64_t Fnv1a(const Text& text) {
    uint64_t hash = 14695981039346656037ull;
    for (char16_t unit : text) {
        hash ^= static_cast<uint64_t>(unit);
        hash *= 1099511628211ull;
    }
    return hash;
}

Text Hex64(uint64_t value) {
    static const char16_t kDigits[] = u"0123456789ABCDEF";
    Text out(16, u'0');
    for (int i = 15; i >= 0; --i) {
        out[static_cast<size_t>(i)] = kDigits[value & 0xF];
        value >>= 4;
    }
    return out;
}

WORD ShowCommandForStyle(int windowStyle) {
    switch (windowStyle) {
        case winstyle::kHide: return SW_HIDE;
        case winstyle::kNormalFocus: return SW_SHOWNORMAL;
        case winstyle::kMinimizedFocus: return SW_SHOWMINIMIZED;
        case winstyle::kMaximizedFocus: return SW_SHOWMAXIMIZED;
        case winstyle::kNormalNoFocus: return SW_SHOWNOACTIVATE;
        case winstyle::kMinimizedNoFocus: return SW_SHOWMINNOACTIVE;
        default: throw QxError(err::kInvalidCall, kInvalidCall);
    }
}

Bytes AnsiDirectory(UINT (WINAPI *query)(LPSTR, UINT)) {
    char buffer[1024] = {};
    query(buffer, sizeof buffer);
    size_t length = 0;
    while (length < sizeof buffer && buffer[length] != '\0') ++length;
    return Bytes(buffer, length);
}

}  // namespace

Text CommandLineTail(const wchar_t* commandLine) {
    if (commandLine == nullptr) return Text();
    const wchar_t* p = commandLine;
    while (IsBlank(*p)) ++p;
    if (*p == L'"') {
        ++p;
        while (*p != L'\0' && *p != L'"') ++p;
        if (*p == L'"') ++p;
    } else {
        while (*p != L'\0' && !IsBlank(*p)) ++p;
    }
    return FromWide(p);
}

Text PreviousInstanceMutexName(const Text& programPath) {
    Text lower = programPath;
    if (!lower.empty()) {
        ::CharLowerBuffW(reinterpret_cast<wchar_t*>(&lower[0]), static_cast<DWORD>(lower.size()));
    }
    // A slash cannot occur in a Windows file name, so the encoding keeps
    // different paths apart.
    Text encoded = lower;
    for (char16_t& unit : encoded) {
        if (unit == u'\\') unit = u'/';
    }
    const Text prefix = kMutexPrefix;
    if (prefix.size() + encoded.size() <= kMaxObjectName) return prefix + encoded;
    // Keep the end of the path, where the file name is, and let the hash
    // tell apart paths that share that end.
    const Text hash = Hex64(Fnv1a(lower)) + u".";
    const size_t room = kMaxObjectName - prefix.size() - hash.size();
    return prefix + hash + encoded.substr(encoded.size() - room);
}

Text Win32Process::CommandLine() const { return CommandLineTail(::GetCommandLineW()); }

Text Win32Process::ProgramPath() const {
    // Paths can exceed MAX_PATH; grow until the whole name fits.
    std::vector<wchar_t> buffer(MAX_PATH);
    for (;;) {
        const DWORD size = static_cast<DWORD>(buffer.size());
        const DWORD length = ::GetModuleFileNameW(nullptr, buffer.data(), size);
        if (length == 0) {
            throw QxError(err::kFileNotFound, kFileNotFound);
        }
        if (length < size) {
            return FromWide(buffer.data(), length);
        }
        buffer.resize(buffer.size() * 2);
    }
}

bool Win32Process::PreviousInstanceRunning() {
    if (instanceChecked_) return previousInstance_;
    const Text name = PreviousInstanceMutexName(ProgramPath());
    // Windows need not clear the last error when it creates a new mutex.
    ::SetLastError(ERROR_SUCCESS);
    const HANDLE mutex = ::CreateMutexW(nullptr, FALSE, Wide(name));
    const DWORD error = ::GetLastError();
    instanceMutex_.Reset(mutex);
    // Access denied means the mutex exists but was made by a copy running
    // under another account: that is still a running copy.
    previousInstance_ = error == ERROR_ALREADY_EXISTS || error == ERROR_ACCESS_DENIED;
    instanceChecked_ = true;
    return previousInstance_;
}

void Win32Process::Start(const Text& commandLine, int windowStyle) {
    const WORD showCommand = ShowCommandForStyle(windowStyle);
    bool blank = true;
    for (char16_t unit : commandLine) blank = blank && IsBlank(unit);
    if (blank) throw QxError(err::kInvalidCall, kInvalidCall);

    STARTUPINFOW startup = {};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = showCommand;
    PROCESS_INFORMATION started = {};
    // CreateProcessW may write into the command line, so it gets a copy.
    std::vector<wchar_t> buffer(commandLine.begin(), commandLine.end());
    buffer.push_back(L'\0');
    if (!::CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                          &startup, &started)) {
        const DWORD error = ::GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ||
            error == ERROR_INVALID_NAME || error == ERROR_BAD_PATHNAME) {
            throw QxError(err::kFileNotFound, kFileNotFound);
        }
        throw QxError(err::kInvalidCall, kInvalidCall);
    }
    // Nothing waits for the program, so its handles are let go at once.
    UniqueHandle process(started.hProcess);
    UniqueHandle thread(started.hThread);
}

void Win32Process::SendKeys(const std::vector<KeyStroke>& keys, bool wait) { SendKeysToFocus(keys, wait); }

uintptr_t Win32Process::FindTopWindow(const Text& caption) {
    return reinterpret_cast<uintptr_t>(::FindWindowW(nullptr, Wide(caption)));
}

bool Win32Process::IsWindowAlive(uintptr_t window) {
    return window != 0 && ::IsWindow(reinterpret_cast<HWND>(window)) != FALSE;
}

void Win32Process::RequestClose(uintptr_t window) {
    // Posted, not sent: a sent message would block this thread until the
    // other copy handled it, and that copy may itself be busy in a wait or
    // a message box, or hung. Every caller polls IsWindowAlive with a time
    // limit afterwards, so nothing is lost by not waiting here.
    ::PostMessageW(reinterpret_cast<HWND>(window), WM_CLOSE, 0, 0);
}

Bytes Win32Process::WindowsDirectoryAnsi() { return AnsiDirectory(&::GetWindowsDirectoryA); }

Bytes Win32Process::SystemDirectoryAnsi() { return AnsiDirectory(&::GetSystemDirectoryA); }

}  // namespace qx
