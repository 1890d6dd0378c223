// Entry point of QXUpdate.exe: wires the Win32 services to the window logic.
#include <windows.h>

#include <commctrl.h>
#include <objbase.h>

#include "app/frmUpdate.h"
#include "app/frmUpdate_win.h"
#include "platform/win32/clock_win.h"
#include "platform/win32/codepage_win.h"
#include "platform/win32/crypto_win.h"
#include "platform/win32/files_win.h"
#include "platform/win32/http_win.h"
#include "platform/win32/process_win.h"
#include "platform/win32/registry_win.h"
#include "platform/win32/settings_win.h"

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int showCommand) {
    INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS};
    InitCommonControlsEx(&icc);
    // The taskbar button's progress is reached through COM.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);

    int exitCode = 0;
    {
        qx::Win32Window window(instance);
        qx::Win32Process process;
        qx::Win32FileSystem files;
        qx::Win32SettingsStore settings;
        qx::Win32RegistryApi registry;
        qx::Win32HttpClient http;
        qx::Win32Clock clock;
        qx::Win32Random random;
        qx::Win32CodePage codepage;
        qx::Win32Crypto crypto;
        const qx::Platform platform{window, process, files, settings, registry,
                                    http,   clock,   random, codepage, crypto};
        qx::FrmUpdate form(platform);
        try {
            // Created hidden: a refused second copy never shows a window.
            window.Create(&form);
            if (form.Form_Load()) {
                window.Show(showCommand);
                exitCode = window.Run();
            }
        } catch (...) {
            exitCode = 1;
        }
    }
    if (SUCCEEDED(com)) CoUninitialize();
    return exitCode;
}
