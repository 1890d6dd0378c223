// The key-sequence notation of the keypress command, turned into the key
// strokes the platform types.
//
//   plain text       each character typed as itself: "abc", "升级", emoji
//   + ^ %            Shift, Ctrl, Alt held over the next key or group
//   ~                Enter
//   ( )              a group: "+(abc)" holds Shift over a, b and c
//   {NAME}           a special key such as {TAB}, {F5}, {ADD}; names ignore
//                    letter case
//   {x}              a single character literally, even + ^ % ~ ( ) { }
//   {NAME n}, {x n}  the key or character n times (n decimal, 0 to 9999)
//
// With a modifier held, an ASCII letter or digit is sent as its key (an
// upper-case letter adds Shift, as the keyboard does), so "^c" is Ctrl+C
// in every layout.
#pragma once

#include <vector>

#include "platform/process.h"

namespace qx {

// The largest repeat count accepted inside braces.
constexpr int kMaxKeyRepeat = 9999;

// Windows virtual-key codes the notation names. They are fixed by the
// keyboard interface, not by any header, so the parser stays portable.
namespace vk {
constexpr char32_t kBack = 0x08;
constexpr char32_t kTab = 0x09;
constexpr char32_t kReturn = 0x0D;
constexpr char32_t kCancel = 0x03;  // Break
constexpr char32_t kCapital = 0x14;
constexpr char32_t kEscape = 0x1B;
constexpr char32_t kPrior = 0x21;
constexpr char32_t kNext = 0x22;
constexpr char32_t kEnd = 0x23;
constexpr char32_t kHome = 0x24;
constexpr char32_t kLeft = 0x25;
constexpr char32_t kUp = 0x26;
constexpr char32_t kRight = 0x27;
constexpr char32_t kDown = 0x28;
constexpr char32_t kSnapshot = 0x2C;
constexpr char32_t kInsert = 0x2D;
constexpr char32_t kDelete = 0x2E;
constexpr char32_t kHelp = 0x2F;
constexpr char32_t kMultiply = 0x6A;
constexpr char32_t kAdd = 0x6B;
constexpr char32_t kSubtract = 0x6D;
constexpr char32_t kDivide = 0x6F;
constexpr char32_t kF1 = 0x70;  // F1 to F16 are consecutive
constexpr char32_t kNumLock = 0x90;
constexpr char32_t kScroll = 0x91;
}  // namespace vk

// The strokes of a whole sequence, in order, repeats expanded. A malformed
// sequence raises QxError(err::kInvalidCall) naming the fault, and nothing
// of it is to be typed.
std::vector<KeyStroke> ParseKeySequence(const Text& keys);

}  // namespace qx
