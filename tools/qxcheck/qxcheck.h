// qxcheck: checks update scripts for their authors. The command is
// portable; the host gives it the files and console of the system it runs
// on.
#pragma once

#include <vector>

#include "common/codepage_option.h"
#include "platform/core_types.h"
#include "platform/crypto.h"

namespace qx::qxcheck {

// Exit statuses.
constexpr int kClean = 0;
constexpr int kFindings = 1;
constexpr int kUnreadable = 2;  // a script could not be read, or bad usage

class Host {
public:
    virtual ~Host() = default;

    // Raises QxError when the file cannot be read.
    virtual Bytes ReadFile(const Text& path) = 0;
    // A regular file at root followed by serverPath ("/qxupdate/a.exe").
    virtual bool FileExistsBelow(const Text& root, const Text& serverPath) = 0;
    virtual ICrypto& Crypto() = 0;

    virtual void Out(const Text& line) = 0;  // one line on standard output
    virtual void Err(const Text& line) = 0;  // one line on standard error
};

// Runs the command with the arguments after the program name and returns
// the exit status.
int Run(Host& host, const std::vector<Text>& args);

}  // namespace qx::qxcheck
