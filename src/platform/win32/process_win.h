// The running program and the programs it starts, on Windows.
#pragma once

#include "platform/process.h"
#include "platform/win32/handles_win.h"

namespace qx {

// The part of a command line after the program path: after the closing
// quote when the path is quoted, else from the first blank on. The tail is
// returned whole, leading blank included, because only the caller knows
// how much blank it means to ignore.
Text CommandLineTail(const wchar_t* commandLine);

// The name of the mutex that marks a running copy of the program file at
// programPath. Windows paths ignore letter case, so neither does the name;
// backslashes, which a mutex name may not contain, are encoded.
Text PreviousInstanceMutexName(const Text& programPath);

class Win32Process final : public IProcessService {
public:
    Text CommandLine() const override;
    Text ProgramPath() const override;
    // The first call decides and the answer is kept: from then on this
    // object holds the mutex, which marks this copy as running until the
    // object is destroyed.
    bool PreviousInstanceRunning() override;

    void Start(const Text& commandLine, int windowStyle) override;
    void SendKeys(const std::vector<KeyStroke>& keys, bool wait) override;

    uintptr_t FindTopWindow(const Text& caption) override;
    bool IsWindowAlive(uintptr_t window) override;
    void RequestClose(uintptr_t window) override;

    Bytes WindowsDirectoryAnsi() override;
    Bytes SystemDirectoryAnsi() override;

private:
    UniqueHandle instanceMutex_;
    bool instanceChecked_ = false;
    bool previousInstance_ = false;
};

}  // namespace qx
