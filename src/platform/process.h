// The running program and the programs it starts.
#pragma once

#include <cstdint>
#include <vector>

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

// One key press and release typed into the focused window.
struct KeyStroke {
    enum Kind : uint8_t {
        // A character: pressed as its key where the keyboard layout has
        // one, typed as itself otherwise.
        kCharacter,
        // A key of the keyboard by its Windows virtual-key code.
        kVirtualKey,
    };
    enum Modifier : uint8_t { kShift = 1, kCtrl = 2, kAlt = 4 };

    Kind kind = kCharacter;
    // A Unicode scalar value for kCharacter, a virtual-key code otherwise.
    char32_t code = 0;
    // Modifier bits held down around the key.
    uint8_t modifiers = 0;

    friend bool operator==(const KeyStroke& a, const KeyStroke& b) {
        return a.kind == b.kind && a.code == b.code && a.modifiers == b.modifiers;
    }
    friend bool operator!=(const KeyStroke& a, const KeyStroke& b) { return !(a == b); }
};

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
    // Types the keys into the focused window; with wait, returns only once
    // the receiving window has taken them all. Raises on failure.
    virtual void SendKeys(const std::vector<KeyStroke>& keys, bool wait) = 0;

    // Windows of other copies of the updater, found by exact caption.
    virtual uintptr_t FindTopWindow(const Text& caption) = 0;
    virtual bool IsWindowAlive(uintptr_t window) = 0;
    virtual void RequestClose(uintptr_t window) = 0;

    // Directories the platform reports in its ANSI code page.
    virtual Bytes WindowsDirectoryAnsi() = 0;
    virtual Bytes SystemDirectoryAnsi() = 0;
};

}  // namespace qx
