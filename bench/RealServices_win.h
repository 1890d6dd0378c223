// The services of the real program with a window that records what it was
// asked to show, for the benchmark that drives the download engine.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "unit/fakes/FakePlatform.h"
#include "platform/platform.h"
#include "platform/win32/clock_win.h"
#include "platform/win32/codepage_win.h"
#include "platform/win32/crypto_win.h"
#include "platform/win32/files_win.h"
#include "platform/win32/http_win.h"
#include "platform/win32/process_win.h"
#include "platform/win32/registry_win.h"
#include "platform/win32/settings_win.h"

namespace qx::test {

inline Text T(const std::wstring& w) { return Text(w.begin(), w.end()); }
inline std::wstring W(const Text& t) { return std::wstring(t.begin(), t.end()); }

// An environment variable, or empty text.
inline Text Env(const wchar_t* name) {
    wchar_t buffer[1024];
    const DWORD n = ::GetEnvironmentVariableW(name, buffer, 1024);
    if (n == 0 || n >= 1024) return Text();
    return T(std::wstring(buffer, n));
}

// A Linux path as Wine's drive Z: shows it.
inline Text LinuxToWindows(const Text& path) {
    Text out = u"Z:" + path;
    for (char16_t& c : out) {
        if (c == u'/') c = u'\\';
    }
    return out;
}

inline std::string U8(const Text& t) { return ToUtf8(t); }

// Lines as test output shows them.
inline std::string Join(const std::vector<Text>& lines) {
    std::string out;
    for (const Text& t : lines) out += (out.empty() ? "[" : ", [") + U8(t) + "]";
    return out.empty() ? "(none)" : out;
}

inline Bytes ReadFileBytes(const Text& path) { return Win32FileSystem().ReadAll(path); }

inline void WriteFileBytes(const Text& path, const Bytes& data) {
    Win32FileSystem files;
    auto f = files.CreateForWrite(path);
    f->Write(data);
    f->Close();
}

// Names in the target's folder that start with the target's name and a dot:
// part files and other leftovers of a download.
inline std::vector<Text> Leftovers(const Text& target) {
    std::vector<Text> out;
    WIN32_FIND_DATAW data;
    HANDLE find = ::FindFirstFileW(W(target + u".*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return out;
    const Text own = target.substr(target.rfind(u'\\') + 1);
    do {
        // The pattern also matches the file itself.
        if (T(data.cFileName) != own) out.push_back(T(data.cFileName));
    } while (::FindNextFileW(find, &data));
    ::FindClose(find);
    return out;
}

// The services of the real program, as its entry point wires them, with a
// recording window and a chosen HTTP idle limit.
struct RealServices {
    explicit RealServices(unsigned idleLimitMs) : http(idleLimitMs) {}
    fake::Window ui;  // records the progress lines and the mouse pointer
    Win32Process process;
    Win32FileSystem files;
    Win32SettingsStore settings;
    Win32RegistryApi registry;
    Win32HttpClient http;
    Win32Clock clock;
    Win32Random random;
    Win32CodePage codepage;
    Win32Crypto crypto;
    Platform platform{ui, process, files, settings, registry, http, clock, random, codepage, crypto};
};

}  // namespace qx::test
