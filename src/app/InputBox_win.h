// A modal input dialog of our own: prompt, one edit field, OK and Cancel.
// Standard controls, so automation tools can fill it in and confirm it.
#pragma once

#include <windows.h>

#include "platform/core_types.h"

namespace qx {

// The entered text, or empty text when the user cancelled. Raises when the
// dialog cannot be shown at all.
Text ShowInputBox(HINSTANCE instance, HWND owner, HFONT font, const Text& prompt, const Text& title,
                  const Text& defaultAnswer);

}  // namespace qx
