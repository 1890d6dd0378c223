// Registry entries named by one full path: root, key path and value name
// joined by backslashes ("HKCU\Software\Vendor\Name"). A path ending in a
// backslash names the key itself.
//
// Platform failures (access denied, missing key, unknown root) are never
// raised: a read gives its default, a write or delete has no effect. Only
// faults of the text itself raise: a path with too few backslashes (error
// 5), a "dword:" number out of range or a "hex:" text too long (error 6).
// Every key opened here is closed before the procedure returns.
#pragma once

#include "platform/codepage.h"
#include "platform/progress.h"
#include "platform/registry.h"

namespace qx {

// The predefined handle for a root name in any letter case ("HKEY_CURRENT_USER"
// or "HKCU"); 0 for a name that is not a root.
RegKey GetRootKey(const Text& strRoot);

// Opens the key for reading only and renders one value: a string up to its
// first NUL, a DWORD as signed decimal text, any other type as empty text.
// False (and empty text) when the key cannot be opened, the value cannot be
// read or is longer than 1024 bytes.
[[nodiscard]] bool QueryRegValue(IRegistryApi& api, const ICodePage& codepage, RegKey hRoot,
                                 const Text& strKeyPath, const Text& strValueName, Text& strOut);

// The value rendered as QueryRegValue does, or strDefault when it cannot be
// read. A path with fewer than two backslashes raises.
[[nodiscard]] Text GetRegValue(IRegistryApi& api, const ICodePage& codepage, const Text& strKeyPath,
                               const Text& strDefault);

// Writes a value, creating missing keys. The value text chooses the type:
// "hex:" pairs of hexadecimal digits (binary), "dword:" a number (32-bit),
// anything else a string. The value name "@" is the key's default value;
// an empty value name only makes sure the key exists. A path without any
// backslash raises. True when the value was written (or the key exists).
bool SetRegValue(IRegistryApi& api, const ICodePage& codepage, const Text& strKeyPath, const Text& strValue);

// Deletes the key (path ending in a backslash) or the value. A path whose
// part after the root has no backslash raises. True when something was
// deleted.
bool DeleteRegEntry(IRegistryApi& api, const ICodePage& codepage, const Text& strKeyPath);

// The type a value text selects: reg::kBinary for "hex:", reg::kDword for
// "dword:" (prefixes in any letter case, at the very start), reg::kSz for
// anything else. payload, when given, receives the text after the prefix
// (the whole text for a string).
uint32_t RegValueType(const Text& strValue, Text* payload = nullptr);

// The bytes SetRegValue stores for the text after "hex:": one byte per pair
// of characters, the count being half the length rounded half to even, each
// pair read from its leading hexadecimal digits. More than 16384 bytes
// raise QxError(err::kOverflow).
Bytes RegBinaryData(const Text& digits);

// The 4 bytes (little-endian) SetRegValue stores for the text after
// "dword:": a hexadecimal or octal number as its 32-bit pattern, a decimal
// one rounded half to even. A decimal value outside the signed 32-bit range,
// or a hexadecimal one beyond 32 bits, raises QxError(err::kOverflow).
Bytes RegDwordData(const Text& number);

// Script actions. DoRegWrite logs a faulty path or value and returns; a
// faulty path given to DoRegDelete ends the update session.
void DoRegWrite(IProgressLog& log, IRegistryApi& api, const ICodePage& codepage, const Text& strKey,
                const Text& strValue);
void DoRegDelete(IProgressLog& log, IRegistryApi& api, const ICodePage& codepage, const Text& strKey);

}  // namespace qx
