#include "app/InputBox_win.h"

#include <string>
#include <vector>

#include "platform/win32/codepage_win.h"

namespace qx {

namespace {

constexpr int kIdPrompt = 100;
constexpr int kIdAnswer = 101;

struct DialogState {
    HFONT font;
    const Text* prompt;
    const Text* defaultAnswer;
    Text answer;
};

// Builds a dialog template in memory: the layout of the classic input box.
class TemplateWriter {
public:
    void Align() {
        while (words_.size() % 2 != 0) words_.push_back(0);
    }
    void Word(WORD w) { words_.push_back(w); }
    void Dword(DWORD d) {
        Word(LOWORD(d));
        Word(HIWORD(d));
    }
    void String(const wchar_t* s) {
        for (; *s; ++s) Word(static_cast<WORD>(*s));
        Word(0);
    }
    void Item(DWORD style, short x, short y, short cx, short cy, WORD id, WORD classAtom,
              const wchar_t* text) {
        Align();
        Dword(WS_CHILD | WS_VISIBLE | style);
        Dword(0);
        Word(static_cast<WORD>(x));
        Word(static_cast<WORD>(y));
        Word(static_cast<WORD>(cx));
        Word(static_cast<WORD>(cy));
        Word(id);
        Word(0xFFFF);
        Word(classAtom);
        String(text);
        Word(0);  // no creation data
    }
    const DLGTEMPLATE* Get() const { return reinterpret_cast<const DLGTEMPLATE*>(words_.data()); }

private:
    std::vector<WORD> words_;
};

INT_PTR CALLBACK InputDialogProc(HWND dlg, UINT msg, WPARAM wParam, LPARAM lParam) {
    switch (msg) {
        case WM_INITDIALOG: {
            SetWindowLongPtrW(dlg, DWLP_USER, lParam);
            auto* state = reinterpret_cast<DialogState*>(lParam);
            if (state->font) {
                for (HWND child = GetWindow(dlg, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
                    SendMessageW(child, WM_SETFONT, reinterpret_cast<WPARAM>(state->font), FALSE);
                }
            }
            SetDlgItemTextW(dlg, kIdPrompt, Wide(*state->prompt));
            SetDlgItemTextW(dlg, kIdAnswer, Wide(*state->defaultAnswer));
            HWND edit = GetDlgItem(dlg, kIdAnswer);
            SendMessageW(edit, EM_SETSEL, 0, -1);
            SetFocus(edit);
            return FALSE;  // focus set by hand
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == IDOK) {
                auto* state = reinterpret_cast<DialogState*>(GetWindowLongPtrW(dlg, DWLP_USER));
                state->answer = WindowText(GetDlgItem(dlg, kIdAnswer));
                EndDialog(dlg, IDOK);
                return TRUE;
            }
            if (LOWORD(wParam) == IDCANCEL) {
                EndDialog(dlg, IDCANCEL);
                return TRUE;
            }
            break;
        default:
            break;
    }
    return FALSE;
}

}  // namespace

Text ShowInputBox(HINSTANCE instance, HWND owner, HFONT font, const Text& prompt, const Text& title,
                  const Text& defaultAnswer) {
    TemplateWriter t;
    t.Dword(DS_MODALFRAME | DS_CENTER | DS_SETFONT | WS_POPUP | WS_CAPTION | WS_SYSMENU);
    t.Dword(0);
    t.Word(4);  // items
    t.Word(0);
    t.Word(0);
    t.Word(240);
    t.Word(80);
    t.Word(0);  // no menu
    t.Word(0);  // standard dialog class
    t.String(Wide(title));
    t.Word(9);
    t.String(L"MS Shell Dlg");
    t.Item(SS_LEFT | SS_NOPREFIX, 7, 7, 170, 42, kIdPrompt, 0x0082, L"");
    t.Item(BS_DEFPUSHBUTTON | WS_TABSTOP, 184, 7, 50, 14, IDOK, 0x0080, L"确定");
    t.Item(BS_PUSHBUTTON | WS_TABSTOP, 184, 25, 50, 14, IDCANCEL, 0x0080, L"取消");
    t.Item(WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, 7, 57, 227, 13, kIdAnswer, 0x0081, L"");

    DialogState state{font, &prompt, &defaultAnswer, Text()};
    const INT_PTR result = DialogBoxIndirectParamW(instance, t.Get(), owner, &InputDialogProc,
                                                   reinterpret_cast<LPARAM>(&state));
    // 0 (a bad owner) or -1: no dialog was shown, which is not the user's
    // cancel; the caller asks again.
    if (result == 0 || result == -1) {
        throw QxError(err::kInvalidCall,
                      u"无法显示输入对话框（错误代码 " + FromUtf8(std::to_string(::GetLastError())) + u"）");
    }
    if (result != IDOK) return Text();
    return state.answer;
}

}  // namespace qx
