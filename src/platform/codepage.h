// The machine's ANSI code page, used where text leaves the program for
// files, the registry and the program-file trailer.
#pragma once

#include "platform/core_types.h"
#include "platform/noncopyable.h"

namespace qx {

class ICodePage : NonCopyable {
public:
    virtual ~ICodePage() = default;
    virtual unsigned Number() const = 0;
    // Characters without a mapping become the code page's default character.
    virtual Bytes ToAnsi(const Text& text) const = 0;
    virtual Text FromAnsi(const Bytes& bytes) const = 0;
};

}  // namespace qx
