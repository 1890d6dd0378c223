// The machine's ANSI code page, used where text leaves the program for
// files, the registry and the program-file trailer.
#pragma once

#include <string>

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

// Exact conversions for the deployers' tools, which must refuse what the
// program would silently replace. One implementation per system, shared by
// the program's platform layer and the tools.
bool KnowsCodePage(unsigned codePage);
// False, with the reason, when the code page is unknown or a character has
// no exact mapping there: an address must never be stored with a
// replacement character.
bool EncodeExact(unsigned codePage, const Text& text, Bytes& out, std::string& why);
// Whole, valid characters of the code page only: false when a byte is not
// valid there or a character is cut short.
bool DecodeExact(unsigned codePage, const Bytes& bytes, Text& out);

}  // namespace qx
