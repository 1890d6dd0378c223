// The per-user application settings store: application, section, key, text.
#pragma once

#include "platform/core_types.h"
#include "platform/noncopyable.h"

namespace qx {

class ISettingsStore : NonCopyable {
public:
    virtual ~ISettingsStore() = default;
    virtual Text GetSetting(const Text& app, const Text& section, const Text& key,
                            const Text& defaultValue) = 0;
    virtual void SaveSetting(const Text& app, const Text& section, const Text& key,
                             const Text& value) = 0;
    // Deletes one key, or the whole section when key is empty.
    virtual void DeleteSetting(const Text& app, const Text& section, const Text& key) = 0;
};

}  // namespace qx
