// The one hidden-away setting: "设置升级地址" on the window's system menu.
#pragma once

#include "app/frmUpdate.h"

namespace qx {

constexpr unsigned kSetServerMenuId = 100;

// Asks for a new server address and hands it over; cancel or an empty
// answer changes nothing.
void PromptSetIP(FrmUpdate& form);

}  // namespace qx
