// The server address carried in the updater's own program file.
#pragma once

#include "platform/codepage.h"
#include "platform/files.h"

namespace qx {

// The address in the trailer of strAppDir + program base name + ".exe":
// the installed program, or the copy of the same name under "InitDir".
// Never fails and never logs: anything unreadable gives "127.0.0.1".
[[nodiscard]] Text GetServerIP(IFileSystem& files, const ICodePage& codepage, const Text& strProgramFile);

// Both writers store the text in the ANSI code page, cut or NUL-padded to
// 32 bytes, over the last 32 bytes of strFile, which keeps its length.
// Nothing is validated first; failures (missing, locked, read-only or too
// short a file) are raised to the caller, which retries.
void WriteIP(IFileSystem& files, const ICodePage& codepage, const Text& strFile, const Text& strIP);
// The setup path has no place of its own: it takes the address's bytes.
void WriteSetupPath(IFileSystem& files, const ICodePage& codepage, const Text& strFile, const Text& strSetupPath);

}  // namespace qx
