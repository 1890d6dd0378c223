// The updater window and its dialogs, as the logic sees them.
#pragma once

#include "platform/core_types.h"
#include "platform/noncopyable.h"

namespace qx {

// Message-box flags and results: the standard Windows values, because
// scripts pass them through unchanged.
namespace mb {
constexpr int kOkOnly = 0;
constexpr int kOkCancel = 1;
constexpr int kYesNo = 4;
constexpr int kIconQuestion = 32;
constexpr int kIconExclamation = 48;
constexpr int kIconInformation = 64;
constexpr int kResultOk = 1;
constexpr int kResultCancel = 2;
constexpr int kResultYes = 6;
constexpr int kResultNo = 7;
}  // namespace mb

// Mouse-pointer shapes of the whole application.
namespace pointer {
constexpr int kDefault = 0;
constexpr int kHourglass = 11;
}  // namespace pointer

class IWindowUi : NonCopyable {
public:
    virtual ~IWindowUi() = default;

    virtual void SetCaption(const Text& caption) = 0;
    virtual Text Caption() const = 0;
    virtual void SetNotice(const Text& notice) = 0;

    // The progress list.
    virtual void AddListItem(const Text& line) = 0;
    virtual int ListCount() const = 0;
    virtual void SetListIndex(int index) = 0;  // selects and scrolls into view
    virtual void RefreshList() = 0;            // repaints at once

    virtual void EnableUpdateButton(bool enabled) = 0;
    virtual void StopStartTimer() = 0;
    // Puts "设置升级地址" on the window's system menu.
    virtual void AddMenu() = 0;

    // Asks the window to close, as the close button does.
    virtual void Close() = 0;
    // False once the window has been destroyed.
    virtual bool IsAlive() const = 0;
    // Lets the window handle every pending message, then returns.
    virtual void DoEvents() = 0;

    // Modal dialogs; both process messages while open.
    virtual int MsgBox(const Text& prompt, int flags, const Text& title) = 0;
    // Empty text when cancelled.
    virtual Text InputBox(const Text& prompt, const Text& title, const Text& defaultAnswer) = 0;

    virtual int MousePointer() const = 0;
    virtual void SetMousePointer(int shape) = 0;

    // How far the running download is: done of total bytes. A window
    // without a progress display ignores it.
    virtual void ShowProgress(int64_t done, int64_t total) {
        (void)done;
        (void)total;
    }
    // No download runs any more.
    virtual void HideProgress() {}
};

}  // namespace qx
