// Files and folders. Paths are full Windows paths as the scripts give them.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "platform/core_types.h"
#include "platform/noncopyable.h"

namespace qx {

// File attributes: the Windows values.
namespace attr {
constexpr uint32_t kNormal = 0;
constexpr uint32_t kReadOnly = 1;
constexpr uint32_t kHidden = 2;
constexpr uint32_t kSystem = 4;
constexpr uint32_t kDirectory = 16;
constexpr uint32_t kArchive = 32;
}  // namespace attr

// A file open for writing; closed when destroyed.
class IOpenFile : NonCopyable {
public:
    virtual ~IOpenFile() = default;
    virtual void Write(const Bytes& data) = 0;  // raises on failure
    virtual int64_t Length() const = 0;
    virtual void Close() = 0;
};

class IFileSystem : NonCopyable {
public:
    virtual ~IFileSystem() = default;

    virtual bool FileExists(const Text& path) = 0;  // hidden and system files count
    virtual bool DirExists(const Text& path) = 0;
    // Raises when the length cannot be determined.
    virtual int64_t FileLength(const Text& path) = 0;

    virtual Bytes ReadAll(const Text& path) = 0;
    virtual Bytes ReadAt(const Text& path, int64_t offset, size_t count) = 0;
    virtual void WriteAt(const Text& path, int64_t offset, const Bytes& data) = 0;
    // An existing file open for writing at its end; raises when it cannot be.
    virtual std::unique_ptr<IOpenFile> OpenForAppend(const Text& path) = 0;
    // Creates or truncates; raises when the file cannot be opened for writing.
    virtual std::unique_ptr<IOpenFile> CreateForWrite(const Text& path) = 0;
    // Puts source in place of target, in one step where the folder allows
    // it; an existing target keeps its attributes and access rights.
    virtual void Replace(const Text& source, const Text& target) = 0;

    virtual void Copy(const Text& source, const Text& target) = 0;
    virtual void Delete(const Text& path) = 0;
    virtual uint32_t GetAttributes(const Text& path) = 0;
    virtual void SetAttributes(const Text& path, uint32_t attributes) = 0;
    // Names of the entries matching pattern whose attributes fit the mask.
    virtual std::vector<Text> List(const Text& pattern, uint32_t attributeMask) = 0;
    virtual void MakeDir(const Text& path) = 0;
    // True when the file can be opened for writing with no one else sharing it.
    virtual bool CanOpenExclusively(const Text& path) = 0;

    // Time stamps in raw file time (100 ns since 1601-01-01 UTC).
    // 0 when the file cannot be opened for reading.
    virtual uint64_t GetFileWriteTime(const Text& path) = 0;
    // Sets creation, last-access and last-write time; failures are silent.
    virtual void SetFileTimes(const Text& path, uint64_t fileTime) = 0;
};

}  // namespace qx
