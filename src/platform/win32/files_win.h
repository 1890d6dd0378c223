// The file service on Win32, through the wide-character API so that any
// path the program holds reaches the file system unchanged.
#pragma once

#include "platform/files.h"

namespace qx {

// Failures raise QxError with the number of the classic Windows run-time
// error (53 file not found, 76 path not found, 55 file in use by another
// program, 75 path/file access error such as a read-only file, 70 permission
// denied, 52 bad file name, 61 disk full) and a description that names the
// operation, the path and the system's own error text.
class Win32FileSystem : public IFileSystem {
public:
    bool FileExists(const Text& path) override;
    bool DirExists(const Text& path) override;
    // Works while another program has the file open; a folder raises 53.
    int64_t FileLength(const Text& path) override;

    Bytes ReadAll(const Text& path) override;
    // Fewer bytes than count (or none) when the file ends first.
    Bytes ReadAt(const Text& path, int64_t offset, size_t count) override;
    // The file must exist; writing past its end makes it longer.
    void WriteAt(const Text& path, int64_t offset, const Bytes& data) override;
    // Others may read the file while it is open, not write it.
    std::unique_ptr<IOpenFile> OpenForAppend(const Text& path) override;
    std::unique_ptr<IOpenFile> CreateForWrite(const Text& path) override;
    // Like ReplaceFileW: an existing target keeps its attributes, owner and
    // security descriptor (a read-only target raises 75). A target held by
    // another program is tried again for about half a second, then raises 55.
    // When the folder refuses the swap but the target is writable, the
    // content is written into the target in place and the source deleted.
    void Replace(const Text& source, const Text& target) override;

    // Replaces an existing target; contents, attributes and last-write time
    // come from the source.
    void Copy(const Text& source, const Text& target) override;
    void Delete(const Text& path) override;
    // Read-only, hidden, system, directory and archive bits only.
    uint32_t GetAttributes(const Text& path) override;
    void SetAttributes(const Text& path, uint32_t attributes) override;
    // Like the classic Dir: normal, read-only and archive entries always
    // match; hidden, system and directory entries only when every one of
    // those bits they carry is in the mask. "." and ".." are never listed.
    // A pattern ending in "\" lists the whole folder. A folder that does not
    // exist gives an empty list.
    std::vector<Text> List(const Text& pattern, uint32_t attributeMask) override;
    // One level only; raises 75 when it exists already, 76 when its parent
    // does not.
    void MakeDir(const Text& path) override;
    // False for a file that does not exist (nothing is created), a folder,
    // a read-only file and a file someone else has open. Callers that treat
    // a missing file as free must test for it themselves.
    bool CanOpenExclusively(const Text& path) override;

    uint64_t GetFileWriteTime(const Text& path) override;
    // A file that cannot be opened for writing (missing, read-only, in use)
    // keeps its times. As with SetFileTime itself, 0 leaves them unchanged.
    void SetFileTimes(const Text& path, uint64_t fileTime) override;
};

}  // namespace qx
