#include "actions/WindowStyle.h"

#include <cmath>

#include "platform/process.h"

namespace qx {

std::optional<int> WindowStyleOf(double number) {
    const double whole = std::floor(number);
    const int known[] = {winstyle::kHide,           winstyle::kNormalFocus,    winstyle::kMinimizedFocus,
                         winstyle::kMaximizedFocus, winstyle::kNormalNoFocus, winstyle::kMinimizedNoFocus};
    for (int style : known) {
        if (whole == style) return style;
    }
    return std::nullopt;
}

}  // namespace qx
