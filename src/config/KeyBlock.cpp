#include "config/KeyBlock.h"

namespace qx {

const char kKeyBlockMarker[9] = "QXSIGKEY";

namespace {
constexpr size_t kMarkerSize = 8;
}

Bytes EncodeKeyBlock(const Bytes& xy64) { return Bytes(kKeyBlockMarker, kMarkerSize) + xy64.substr(0, kPublicKeySize); }

bool DecodeKeyBlock(const Bytes& block, Bytes& xy64) {
    if (block.size() != kKeyBlockSize || block.compare(0, kMarkerSize, kKeyBlockMarker) != 0) return false;
    xy64 = block.substr(kMarkerSize);
    return true;
}

ProgramKey ReadProgramKey(IFileSystem& files, const Text& strProgramFile) {
    ProgramKey key;
    try {
        const int64_t length = files.FileLength(strProgramFile);
        if (length < static_cast<int64_t>(kKeyBlockDistance)) return key;
        const Bytes block =
            files.ReadAt(strProgramFile, length - static_cast<int64_t>(kKeyBlockDistance), kKeyBlockSize);
        key.present = DecodeKeyBlock(block, key.xy);
    } catch (...) {
        // The running program's own file: unreadable only when something is
        // badly wrong, and then like a file without the block.
    }
    return key;
}

}  // namespace qx
