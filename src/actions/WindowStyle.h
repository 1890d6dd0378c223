// The window style an execute line asks for. The execute action and the
// script checker both ask here, so the checker accepts exactly what runs.
#pragma once

#include <optional>

namespace qx {

// The numeric value of the style field rounded down, when it is one of the
// styles a started program can be given; nothing otherwise.
std::optional<int> WindowStyleOf(double number);

}  // namespace qx
