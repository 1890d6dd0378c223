// The per-user application settings area in the registry.
#pragma once

#include "platform/settings.h"

namespace qx {

// Where a section lives below HKEY_CURRENT_USER. The area is shared with
// other programs that keep their settings the same way, so the updater's
// values stay readable by the tools administrators already use.
Text SettingsSectionPath(const Text& app, const Text& section);

// One REG_SZ value per key under the section's registry key.
class Win32SettingsStore final : public ISettingsStore {
public:
    // The default when the application, section or key is missing or the
    // value is not a string.
    Text GetSetting(const Text& app, const Text& section, const Text& key,
                    const Text& defaultValue) override;
    // Creates the keys as needed; raises error 5 when the value cannot be
    // written or a name is empty.
    void SaveSetting(const Text& app, const Text& section, const Text& key,
                     const Text& value) override;
    // Deleting what does not exist is not a failure: the caller only wants
    // it gone.
    void DeleteSetting(const Text& app, const Text& section, const Text& key) override;
};

}  // namespace qx
