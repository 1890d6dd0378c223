// The running program and the programs it starts.
#pragma once

#include "platform/core_types.h"
#include "platform/noncopyable.h"

namespace qx {

// Window styles of a started program (the classic Shell styles).
namespace winstyle {
constexpr int kHide = 0;
constexpr int kNormalFocus = 1;
constexpr int kMinimizedFocus = 2;
constexpr int kMaximizedFocus = 3;
constexpr int kNormalNoFocus = 4;
constexpr int kMinimizedNoFocus = 6;
}  // namespace winstyle

class IProcessService : NonCopyable {
public:
    virtual ~IProcessService() = default;

    // The text after the program path on the command line, as one string.
    virtual Text CommandLine() const = 0;
    // Full path of the running program file.
    virtual Text ProgramPath() const = 0;
    // True when another copy of the same program file is already running.
    virtual bool PreviousInstanceRunning() = 0;

    // Starts a command line without waiting for it; raises on failure.
    virtual void Start(const Text& commandLine, int windowStyle) = 0;
    // Sends a key sequence to the focused window; raises on failure.
    virtual void SendKeys(const Text& keys, bool wait) = 0;

    // Windows of other copies of the updater, found by exact caption.
    virtual uintptr_t FindTopWindow(const Text& caption) = 0;
    virtual bool IsWindowAlive(uintptr_t window) = 0;
    virtual void RequestClose(uintptr_t window) = 0;

    // Directories the platform reports in its ANSI code page.
    virtual Bytes WindowsDirectoryAnsi() = 0;
    virtual Bytes SystemDirectoryAnsi() = 0;
};

}  // namespace qx
