#include "platform/win32/sendkeys_win.h"

#include "platform/win32/handles_win.h"

namespace qx {

namespace {

const char16_t kRefused[] = u"按键被系统拒绝，可能有其他程序阻止了模拟输入";
const char16_t kNotProcessed[] = u"等待按键处理超时，接收按键的窗口没有响应";

// How long a wait may take: a fixed allowance for a slow window plus a
// little for every event, so long sequences are not cut short.
constexpr ULONGLONG kWaitBaseMs = 10000;
constexpr ULONGLONG kWaitPerEventMs = 5;

// Keys whose scan code comes with the E0 prefix; without the extended flag
// a program reading scan codes would take the arrows for the numeric pad.
bool IsExtendedKey(WORD key) {
    switch (key) {
        case VK_INSERT: case VK_DELETE: case VK_HOME: case VK_END: case VK_PRIOR: case VK_NEXT:
        case VK_LEFT: case VK_RIGHT: case VK_UP: case VK_DOWN: case VK_DIVIDE: case VK_NUMLOCK:
        case VK_SNAPSHOT: case VK_CANCEL: case VK_RCONTROL: case VK_RMENU:
            return true;
        default:
            return false;
    }
}

INPUT KeyEvent(WORD key, bool up) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = key;
    input.ki.wScan = static_cast<WORD>(::MapVirtualKeyW(key, MAPVK_VK_TO_VSC));
    input.ki.dwFlags = (up ? KEYEVENTF_KEYUP : 0) | (IsExtendedKey(key) ? KEYEVENTF_EXTENDEDKEY : 0);
    return input;
}

INPUT UnitEvent(WORD unit, bool up) {
    INPUT input = {};
    input.type = INPUT_KEYBOARD;
    input.ki.wScan = unit;
    input.ki.dwFlags = KEYEVENTF_UNICODE | (up ? KEYEVENTF_KEYUP : 0);
    return input;
}

struct ModifierKey {
    uint8_t bit;
    WORD key;
};
const ModifierKey kModifierKeys[] = {
    {KeyStroke::kCtrl, VK_CONTROL}, {KeyStroke::kAlt, VK_MENU}, {KeyStroke::kShift, VK_SHIFT}};

class InputBuilder {
public:
    void Stroke(const KeyStroke& stroke) {
        if (stroke.kind == KeyStroke::kVirtualKey) {
            Key(static_cast<WORD>(stroke.code), stroke.modifiers);
            return;
        }
        if (stroke.code <= 0xFFFF) {
            // Controls act on keys, not characters (Space on a check box,
            // a program reading key presses), so a character the active
            // layout has goes as its key with the shift state it needs,
            // the chord's modifiers on top.
            const SHORT scan = ::VkKeyScanW(static_cast<WCHAR>(stroke.code));
            if (LOBYTE(scan) != 0xFF && (HIBYTE(scan) & ~7) == 0) {
                uint8_t layout = 0;
                if (HIBYTE(scan) & 1) layout |= KeyStroke::kShift;
                if (HIBYTE(scan) & 2) layout |= KeyStroke::kCtrl;
                if (HIBYTE(scan) & 4) layout |= KeyStroke::kAlt;
                Key(LOBYTE(scan), static_cast<uint8_t>(stroke.modifiers | layout));
                return;
            }
        }
        // No key for it in this layout: the character itself, with the
        // modifiers held.
        Hold(stroke.modifiers);
        if (stroke.code >= 0x10000) {
            const char32_t v = stroke.code - 0x10000;
            Unit(static_cast<WORD>(0xD800 + (v >> 10)));
            Unit(static_cast<WORD>(0xDC00 + (v & 0x3FF)));
        } else {
            Unit(static_cast<WORD>(stroke.code));
        }
    }

    // The press of the marker key only; see SendKeysToFocus.
    void Marker() {
        Hold(0);
        inputs_.push_back(KeyEvent(kKeysDoneMarker, false));
    }

    std::vector<INPUT> Finish() {
        Hold(0);
        return std::move(inputs_);
    }

private:
    void Key(WORD key, uint8_t modifiers) {
        Hold(modifiers);
        inputs_.push_back(KeyEvent(key, false));
        inputs_.push_back(KeyEvent(key, true));
    }

    void Unit(WORD unit) {
        inputs_.push_back(UnitEvent(unit, false));
        inputs_.push_back(UnitEvent(unit, true));
    }

    // Releases the modifiers no longer wanted, then presses the new ones.
    void Hold(uint8_t wanted) {
        for (const ModifierKey& m : kModifierKeys) {
            if ((held_ & m.bit) && !(wanted & m.bit)) inputs_.push_back(KeyEvent(m.key, true));
        }
        for (const ModifierKey& m : kModifierKeys) {
            if (!(held_ & m.bit) && (wanted & m.bit)) inputs_.push_back(KeyEvent(m.key, false));
        }
        held_ = wanted;
    }

    std::vector<INPUT> inputs_;
    uint8_t held_ = 0;
};

std::vector<INPUT> BuildInputs(const std::vector<KeyStroke>& strokes, bool marker) {
    InputBuilder builder;
    for (const KeyStroke& stroke : strokes) builder.Stroke(stroke);
    if (marker) builder.Marker();
    return builder.Finish();
}

void Send(std::vector<INPUT>& inputs) {
    if (inputs.empty()) return;
    const UINT count = static_cast<UINT>(inputs.size());
    if (::SendInput(count, inputs.data(), sizeof(INPUT)) != count) {
        throw QxError(err::kInvalidCall, kRefused);
    }
}

// Lets this thread's own windows handle what reaches them, which includes
// the keys when the focused window is one of them.
void PumpOwnMessages() {
    MSG message;
    while (::PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageW(&message);
    }
}

// Waits until the receiving thread has taken the marker's press (down) or
// its release (up), as its key state shows.
void AwaitMarker(bool down, ULONGLONG deadline) {
    for (;;) {
        PumpOwnMessages();
        if (((::GetKeyState(kKeysDoneMarker) & 0x8000) != 0) == down) return;
        if (::GetTickCount64() >= deadline) throw QxError(err::kInvalidCall, kNotProcessed);
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
}

}  // namespace

std::vector<INPUT> KeyInputs(const std::vector<KeyStroke>& strokes) { return BuildInputs(strokes, false); }

// Waiting: a window has processed a key once its thread has taken the key
// out of the queue and returned for the next message. A thread takes input
// in the order it was sent, and takes posted messages (the characters that
// translating a key produces) before further input. So after the strokes
// comes the press of a marker key; when the receiving thread takes it,
// every stroke before it has been handled, its characters included. The
// marker shows as down in the receiving thread's key state from that moment,
// and this thread reads that state by attaching to the receiving thread's
// input, or directly when the focused window is its own (then it also has to
// pump its own messages for the keys to arrive). The marker is released only
// after it was seen: a release sent with the press could be taken before the
// next look, and the toggle bit a press flips is not kept reliably by every
// system across attaching and releasing.
void SendKeysToFocus(const std::vector<KeyStroke>& strokes, bool wait) {
    if (!wait) {
        std::vector<INPUT> inputs = BuildInputs(strokes, false);
        Send(inputs);
        return;
    }
    const HWND foreground = ::GetForegroundWindow();
    const DWORD target = foreground != nullptr ? ::GetWindowThreadProcessId(foreground, nullptr) : 0;
    InputAttachment attachment(target);
    std::vector<INPUT> inputs = BuildInputs(strokes, attachment.SharesKeyState());
    if (!attachment.SharesKeyState()) {
        // Nothing to read the progress from: no window would take the keys
        // at all, or its thread refuses to share its input. The most that
        // can be done is to let its thread come round to its queue once.
        Send(inputs);
        if (foreground != nullptr) {
            DWORD_PTR ignored = 0;
            ::SendMessageTimeoutW(foreground, WM_NULL, 0, 0, SMTO_ABORTIFHUNG, static_cast<UINT>(kWaitBaseMs),
                                  &ignored);
        }
        return;
    }
    const ULONGLONG deadline = ::GetTickCount64() + kWaitBaseMs + kWaitPerEventMs * inputs.size();
    // The release that ended the previous wait may still be on its way;
    // until it is taken, the marker would seem pressed already.
    AwaitMarker(false, deadline);
    Send(inputs);
    struct ReleaseMarker {
        ~ReleaseMarker() {
            INPUT up = KeyEvent(kKeysDoneMarker, true);
            ::SendInput(1, &up, sizeof up);
        }
    } release;
    AwaitMarker(true, deadline);
}

}  // namespace qx
