#include "platform/win32/settings_win.h"

#include <windows.h>

#include "platform/win32/codepage_win.h"
#include "platform/win32/handles_win.h"

namespace qx {

Text SettingsSectionPath(const Text& app, const Text& section) {
    return u"Software\\VB and VBA Program Settings\\" + app + u"\\" + section;
}

Text Win32SettingsStore::GetSetting(const Text& app, const Text& section, const Text& key,
                                    const Text& defaultValue) {
    // An empty name would make the path name the parent key instead.
    if (app.empty() || section.empty()) return defaultValue;
    UniqueRegKey sectionKey;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, Wide(SettingsSectionPath(app, section)), 0,
                        KEY_QUERY_VALUE, sectionKey.Receive()) != ERROR_SUCCESS) {
        return defaultValue;
    }
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS status = ::RegQueryValueExW(sectionKey.Get(), Wide(key), nullptr, &type, nullptr, &size);
    Text value;
    while (status == ERROR_SUCCESS || status == ERROR_MORE_DATA) {
        if (type != REG_SZ) return defaultValue;
        // Round up: a value of odd length still fits and loses only its
        // half character.
        value.assign((size + 1) / sizeof(char16_t), u'\0');
        DWORD capacity = static_cast<DWORD>(value.size() * sizeof(char16_t));
        status = ::RegQueryValueExW(sectionKey.Get(), Wide(key), nullptr, &type,
                                    reinterpret_cast<BYTE*>(&value[0]), &capacity);
        if (status == ERROR_SUCCESS) {
            if (type != REG_SZ) return defaultValue;
            value.resize(capacity / sizeof(char16_t));
            // The stored terminator, when there is one, is not part of the text.
            const size_t end = value.find(u'\0');
            if (end != Text::npos) value.resize(end);
            return value;
        }
        size = capacity;
    }
    return defaultValue;
}

void Win32SettingsStore::SaveSetting(const Text& app, const Text& section, const Text& key,
                                     const Text& value) {
    if (app.empty() || section.empty() || key.empty()) {
        throw QxError(err::kInvalidCall, u"无效的过程调用或参数");
    }
    UniqueRegKey sectionKey;
    if (::RegCreateKeyExW(HKEY_CURRENT_USER, Wide(SettingsSectionPath(app, section)), 0, nullptr,
                          REG_OPTION_NON_VOLATILE, KEY_SET_VALUE, nullptr, sectionKey.Receive(),
                          nullptr) != ERROR_SUCCESS) {
        throw QxError(err::kInvalidCall, u"无法保存设置");
    }
    const DWORD bytes = static_cast<DWORD>((value.size() + 1) * sizeof(char16_t));
    if (::RegSetValueExW(sectionKey.Get(), Wide(key), 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(value.c_str()), bytes) != ERROR_SUCCESS) {
        throw QxError(err::kInvalidCall, u"无法保存设置");
    }
}

void Win32SettingsStore::DeleteSetting(const Text& app, const Text& section, const Text& key) {
    // With an empty application or section the path would name a parent
    // key, and deleting that would take other programs' settings with it.
    if (app.empty() || section.empty()) return;
    const Text path = SettingsSectionPath(app, section);
    if (key.empty()) {
        ::RegDeleteKeyW(HKEY_CURRENT_USER, Wide(path));
        return;
    }
    UniqueRegKey sectionKey;
    if (::RegOpenKeyExW(HKEY_CURRENT_USER, Wide(path), 0, KEY_SET_VALUE, sectionKey.Receive()) ==
        ERROR_SUCCESS) {
        ::RegDeleteValueW(sectionKey.Get(), Wide(key));
    }
}

}  // namespace qx
