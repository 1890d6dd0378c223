// The configuration trailer as bytes: the last 32 bytes of the updater's
// program file hold the server address in the ANSI code page, NUL-padded.
// Shared by the updater and the deployer's tool, so it knows nothing of the
// window or the platform services.
#pragma once

#include <cstddef>

#include "platform/core_types.h"

namespace qx {

constexpr size_t kTrailerSize = 32;

// The address the updater falls back to when its trailer holds none.
const Text& DefaultServerAddress();

// The 32 bytes to store for the ANSI bytes of a text: cut after 32 bytes or
// padded with NUL bytes. A multi-byte character cut at the boundary is
// stored cut; only a text of at most 31 bytes can be read back.
Bytes EncodeTrailer(const Bytes& ansi);

// Whether ansi can be stored so that the updater reads it back unchanged:
// at most 31 bytes and no NUL byte inside.
bool FitsTrailer(const Bytes& ansi);

// The ANSI bytes of the address a trailer holds: the bytes before the
// first NUL. False when there is none to read: fewer than 32 bytes, a
// first byte that is NUL, or no NUL at all (a text of 32 bytes has no
// terminator, so the updater does not trust it).
bool DecodeTrailer(const Bytes& trailer, Bytes& ansi);

}  // namespace qx
