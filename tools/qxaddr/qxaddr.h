// qxaddr: reads or writes the server address that a deployer puts into the
// configuration trailer of QXUpdate.exe. The command itself is portable;
// the host gives it the file and the console of the system it runs on, and
// the way it shows bytes that are no text in the code page.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/codepage_option.h"
#include "platform/core_types.h"

namespace qx::qxaddr {

// Exit statuses.
constexpr int kOk = 0;
constexpr int kFailed = 1;   // the file could not be read or written
constexpr int kRefused = 2;  // bad usage, or a request refused before anything was written

class Host {
public:
    virtual ~Host() = default;

    // For display; characters that cannot be decoded may be replaced.
    virtual Text Decode(unsigned codePage, const Bytes& ansi) = 0;

    // Raise QxError on failure. WriteAt writes in place: the file keeps its
    // length and every byte outside the range.
    virtual int64_t FileLength(const Text& path) = 0;
    virtual Bytes ReadAt(const Text& path, int64_t offset, size_t count) = 0;
    virtual void WriteAt(const Text& path, int64_t offset, const Bytes& data) = 0;

    virtual void Out(const Text& line) = 0;  // one line on standard output
    virtual void Err(const Text& line) = 0;  // one line on standard error
};

// Runs the command with the arguments after the program name and returns
// the exit status.
int Run(Host& host, const std::vector<Text>& args);

// Why a file is no place for a trailer, or empty text when it is one: a PE
// program at least 32 bytes long whose headers and sections all end before
// its last 32 bytes (so rewriting them cannot damage the program).
Text CheckProgramFile(Host& host, const Text& path, int64_t length);

}  // namespace qx::qxaddr
