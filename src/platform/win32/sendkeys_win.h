// Typing key strokes into the window that has the keyboard focus.
#pragma once

#include <windows.h>

#include <vector>

#include "platform/process.h"

namespace qx {

// The key the wait flag appends after the strokes: a code no keyboard has
// and no program acts on.
constexpr WORD kKeysDoneMarker = 0xE8;

// The input events that type the strokes. A character the active keyboard
// layout has is pressed as its key with the shift state it needs; only a
// character the layout lacks goes as a Unicode character. Keys are pressed
// with their modifiers, and a modifier stays down across
// consecutive strokes that share it, so "+(abc)" is one Shift chord. Every
// modifier is released at the end.
std::vector<INPUT> KeyInputs(const std::vector<KeyStroke>& strokes);

// Types the strokes into the focused window. With wait, returns only once
// the thread of the foreground window has taken every stroke out of its
// queue and handled it; raises when that does not happen in time.
void SendKeysToFocus(const std::vector<KeyStroke>& strokes, bool wait);

}  // namespace qx
