// The SHA-256 a script line may require of the file it downloads: field 3
// of down, create, update and ver, "sha256=" and 64 hexadecimal digits.
#pragma once

#include "platform/core_types.h"

namespace qx {

struct Pin {
    enum State {
        kNone,       // the field does not begin with "sha256=": no pin
        kValid,      // digest holds the 32 bytes
        kMalformed,  // begins with "sha256=" but is not a pin
    };
    State state = kNone;
    Bytes digest;
};

// Letters of the prefix and the digits in any case, nothing else: a blank
// anywhere makes a malformed pin, since a publisher who wrote "sha256="
// meant one.
Pin ParsePin(const Text& field);

// "sha256=" and the digest in lower-case hexadecimal.
Text FormatPin(const Bytes& digest32);

}  // namespace qx
