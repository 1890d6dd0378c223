// The publisher's public key carried in the updater's program file, in a
// block just before the address trailer: the marker, then the point's X
// and Y. The trailer keeps its place, so the address tools and the
// hand-overs never need to know about the block.
#pragma once

#include <cstddef>

#include "platform/files.h"

namespace qx {

constexpr size_t kKeyBlockSize = 72;
constexpr size_t kPublicKeySize = 64;
// Bytes from the block's first byte to the end of the file.
constexpr size_t kKeyBlockDistance = kKeyBlockSize + 32;
// Also what the deployer's tool looks for in a program file's sections to
// tell an updater that knows keys from one that would ignore it.
extern const char kKeyBlockMarker[9];

// The 72 bytes that carry xy64.
Bytes EncodeKeyBlock(const Bytes& xy64);
// False when the bytes do not begin with the marker: no key at all.
bool DecodeKeyBlock(const Bytes& block, Bytes& xy64);

// What the program file says about signed updates. A present key may still
// be unusable (not a point of the curve); only the crypto can tell.
struct ProgramKey {
    bool present = false;
    Bytes xy;
};

// The key block of strProgramFile. A file too short, unreadable or
// without the marker carries no key.
[[nodiscard]] ProgramKey ReadProgramKey(IFileSystem& files, const Text& strProgramFile);

}  // namespace qx
