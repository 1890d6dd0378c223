// qxdriver: looks at and operates the updater's windows from another process for the end-to-end tests.
// One command per run, its result on stdout as JSON lines in UTF-8; exit code 0 done, 1 usage, 2 not
// found in time, 3 refused (a disabled button, a control that kept its text).
//
// Chinese texts come as hex of their UTF-8 bytes: a Wine command line does not carry them reliably.
// Whatever changes the target is posted, never sent, since a button handler may run a whole session.
// List boxes are read with a time limit per message and reported unreadable while their program is busy.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

enum { kOk = 0, kUsage = 1, kNotFound = 2, kRefused = 3 };

std::string Utf8(const std::wstring& w) {
  std::string s(w.size() * 3, '\0');
  s.resize(WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0],
                               static_cast<int>(s.size()), nullptr, nullptr));
  return s;
}

bool FromHex(const std::wstring& hex, std::wstring* out) {
  std::string bytes;
  for (size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<char>(wcstoul(hex.substr(i, 2).c_str(), nullptr, 16)));
  }
  out->assign(bytes.size(), L'\0');
  out->resize(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &(*out)[0],
                                  static_cast<int>(out->size())));
  return hex.size() % 2 == 0 && hex.find_first_not_of(L"0123456789abcdefABCDEF") == std::wstring::npos;
}

std::string Str(const std::wstring& w) {
  std::string out = "\"";
  for (unsigned char c : Utf8(w)) {
    char buf[8];
    std::snprintf(buf, sizeof buf, "\\u%04x", c);
    out += c == '"' || c == '\\' ? std::string("\\") + static_cast<char>(c) : c < 0x20 ? buf : std::string(1, c);
  }
  return out + "\"";
}

std::string Hwnd(HWND h) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "\"0x%08lx\"", static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(h)));
  return buf;
}

std::string B(bool b) { return b ? "true" : "false"; }

void Emit(const std::string& line) {
  const std::string data = line + "\n";
  DWORD written = 0;
  WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
}

int Fail(int code, const std::string& what) {
  Emit("{\"error\":" + Str(std::wstring(what.begin(), what.end())) + "}");
  return code;
}

std::wstring Text(HWND h) {
  wchar_t buf[1024];
  return std::wstring(buf, GetWindowTextW(h, buf, 1024));
}

std::wstring Class(HWND h) {
  wchar_t buf[256];
  return std::wstring(buf, GetClassNameW(h, buf, 256));
}

bool Is(HWND h, const wchar_t* cls) { return CompareStringOrdinal(Class(h).c_str(), -1, cls, -1, TRUE) == CSTR_EQUAL; }

std::wstring ExeOf(HWND h) {
  DWORD pid = 0, n = MAX_PATH;
  GetWindowThreadProcessId(h, &pid);
  wchar_t buf[MAX_PATH] = L"";
  HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (p && !QueryFullProcessImageNameW(p, 0, buf, &n)) buf[0] = 0;
  if (p) CloseHandle(p);
  const std::wstring path = buf;
  return path.substr(path.find_last_of(L"\\/") + 1);
}

struct Args {
  std::wstring command, arg, caption, exe, cls;
  bool hasCaption = false;
  HWND hwnd = nullptr;
  DWORD timeoutMs = 0;
  int id = -1;
};

bool Matches(const Args& a, HWND h) {
  return IsWindowVisible(h) && (!a.hasCaption || Text(h) == a.caption) && (a.cls.empty() || Class(h) == a.cls) &&
         (a.exe.empty() || CompareStringOrdinal(ExeOf(h).c_str(), -1, a.exe.c_str(), -1, TRUE) == CSTR_EQUAL);
}

BOOL CALLBACK Collect(HWND h, LPARAM out) {
  reinterpret_cast<std::vector<HWND>*>(out)->push_back(h);
  return TRUE;
}

std::vector<HWND> Windows(const Args& a) {
  std::vector<HWND> found;
  if (a.hwnd) {
    if (IsWindow(a.hwnd) && Matches(a, a.hwnd)) found.push_back(a.hwnd);
    return found;
  }
  EnumWindows(Collect, reinterpret_cast<LPARAM>(&found));
  found.erase(std::remove_if(found.begin(), found.end(), [&](HWND h) { return !Matches(a, h); }), found.end());
  return found;
}

std::vector<HWND> Children(HWND top) {
  std::vector<HWND> out;
  EnumChildWindows(top, Collect, reinterpret_cast<LPARAM>(&out));
  return out;
}

// Polls until exactly one window matches: acting on one of several would be a guess.
int One(const Args& a, HWND* out) {
  const DWORD start = GetTickCount();
  for (;;) {
    const std::vector<HWND> found = Windows(a);
    if (found.size() == 1) return *out = found[0], kOk;
    if (GetTickCount() - start >= a.timeoutMs) {
      return Fail(kNotFound, std::to_string(found.size()) + " matching windows after " + std::to_string(a.timeoutMs) + " ms");
    }
    Sleep(20);
  }
}

bool Query(HWND h, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) {
  DWORD_PTR r = 0;
  const bool ok = SendMessageTimeoutW(h, msg, wp, lp, SMTO_BLOCK | SMTO_ABORTIFHUNG, 1500, &r) != 0;
  *result = static_cast<LRESULT>(r);
  return ok;
}

// The progress list's lines, or null while its program does not answer.
std::string Items(HWND top) {
  for (HWND lb : Children(top)) {
    if (!Is(lb, L"ListBox")) continue;
    LRESULT count = 0;
    bool readable = Query(lb, LB_GETCOUNT, 0, 0, &count);
    std::string items;
    for (LRESULT i = 0; readable && i < count; ++i) {
      wchar_t text[2048] = L"";
      LRESULT len = 0;
      readable = Query(lb, LB_GETTEXTLEN, i, 0, &len) && len >= 0 && len < 2048 &&
                 Query(lb, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text), &len) && len >= 0;
      items += (i ? "," : "") + Str(std::wstring(text, readable ? len : 0));
    }
    return readable ? "[" + items + "]" : "null";
  }
  return "null";
}

std::string ControlJson(HWND c) {
  return "{\"hwnd\":" + Hwnd(c) + ",\"class\":" + Str(Class(c)) + ",\"id\":" + std::to_string(GetDlgCtrlID(c)) +
         ",\"text\":" + Str(Text(c)) + ",\"visible\":" + B(IsWindowVisible(c)) + ",\"enabled\":" +
         B(IsWindowEnabled(c)) + "}";
}

std::string StateJson(HWND top) {
  std::string controls;
  for (HWND c : Children(top)) controls += (controls.empty() ? "" : ",") + ControlJson(c);
  RECT r = {};
  GetWindowRect(top, &r);
  char rect[96];  // for the demo's screenshot
  std::snprintf(rect, sizeof rect, "{\"left\":%ld,\"top\":%ld,\"right\":%ld,\"bottom\":%ld}", r.left, r.top, r.right, r.bottom);
  return "{\"hwnd\":" + Hwnd(top) + ",\"exe\":" + Str(ExeOf(top)) + ",\"caption\":" + Str(Text(top)) +
         ",\"rect\":" + rect + ",\"controls\":[" + controls + "],\"items\":" + Items(top) + "}";
}

// Wine's message boxes create every standard button and hide the unused ones; their text is the static
// control 0xFFFF, an input box's the first static with a text.
std::string BoxJson(HWND box) {
  std::wstring text;
  std::string buttons;
  for (HWND c : Children(box)) {
    if (Is(c, L"Static") && (GetDlgCtrlID(c) == 0xFFFF || text.empty())) text = Text(c);
    if (Is(c, L"Button") && IsWindowVisible(c)) buttons += (buttons.empty() ? "" : ",") + ControlJson(c);
  }
  return "{\"hwnd\":" + Hwnd(box) + ",\"title\":" + Str(Text(box)) + ",\"text\":" + Str(text) +
         ",\"buttons\":[" + buttons + "]}";
}

// Posts the click as a pressed button reports it to its parent; a disabled button is not pressed.
int Click(const Args& a, HWND top) {
  std::wstring label;
  if (a.id < 0 && !FromHex(a.arg, &label)) return Fail(kUsage, "the button is neither id:N nor hex");
  const DWORD start = GetTickCount();
  for (;;) {
    for (HWND c : Children(top)) {
      std::wstring text = Text(c);
      if (text.find(L'&') != std::wstring::npos) text.erase(text.find(L'&'), 1);
      if (!Is(c, L"Button") || !IsWindowVisible(c) || (a.id >= 0 ? GetDlgCtrlID(c) != a.id : text != label)) continue;
      if (IsWindowEnabled(c)) {
        PostMessageW(GetParent(c), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(c), BN_CLICKED), reinterpret_cast<LPARAM>(c));
        return Emit("{\"clicked\":" + ControlJson(c) + "}"), kOk;
      }
      if (GetTickCount() - start >= a.timeoutMs) return Fail(kRefused, "the button is disabled");
    }
    if (GetTickCount() - start >= a.timeoutMs) return Fail(kNotFound, "no such visible button");
    Sleep(20);
  }
}

// The icon handle of another process cannot be read, so the box's icon is told by its pixels: the icon
// control is copied from the screen and compared with each standard icon drawn here over black and over
// white; pixels an icon leaves transparent or blends do not count.
struct Canvas {
  HDC dc = CreateCompatibleDC(nullptr);
  DWORD* bits = nullptr;
  HBITMAP bmp;
  HGDIOBJ old;
  int w, h;
  Canvas(int width, int height, DWORD fill) : w(width), h(height) {
    BITMAPINFO bi = {};
    bi.bmiHeader = {sizeof bi.bmiHeader, w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, reinterpret_cast<void**>(&bits), nullptr, 0);
    old = SelectObject(dc, bmp);
    for (int i = 0; i < w * h; ++i) bits[i] = fill;
  }
  ~Canvas() {
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
  }
  DWORD At(int x, int y) const { return GdiFlush(), bits[y * w + x] & 0xFFFFFF; }
};

double Score(const Canvas& screen, HICON icon, int size, int ox, int oy) {
  Canvas black(size, size, 0), white(size, size, 0xFFFFFF);
  DrawIconEx(black.dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
  DrawIconEx(white.dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
  int opaque = 0, same = 0;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      const DWORD p = black.At(x, y);
      if (p != white.At(x, y) || ox + x < 0 || oy + y < 0 || ox + x >= screen.w || oy + y >= screen.h) continue;
      ++opaque;
      bool alike = true;
      for (int s = 0; s < 24; s += 8) alike = alike && abs(int((p >> s) & 0xFF) - int((screen.At(ox + x, oy + y) >> s) & 0xFF)) <= 12;
      same += alike;
    }
  }
  return opaque < 50 ? 0.0 : double(same) / opaque;
}

int BoxIcon(HWND box) {
  HWND control = nullptr;
  for (HWND c : Children(box)) {
    if (Is(c, L"Static") && (GetWindowLongW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(c)) control = c;
  }
  const char* best = "none";
  if (control) {
    RECT r;
    GetWindowRect(control, &r);
    Canvas shot(r.right - r.left, r.bottom - r.top, 0);
    HDC desktop = GetDC(nullptr);
    BitBlt(shot.dc, 0, 0, shot.w, shot.h, desktop, r.left, r.top, SRCCOPY);
    ReleaseDC(nullptr, desktop);
    const int size = GetSystemMetrics(SM_CXICON);
    double bestScore = 0.9;
    const std::pair<const char*, LPCWSTR> icons[] = {
        {"hand", IDI_HAND}, {"question", IDI_QUESTION}, {"exclamation", IDI_EXCLAMATION}, {"asterisk", IDI_ASTERISK}};
    for (const auto& icon : icons) {
      HICON handle = LoadIconW(nullptr, icon.second);
      // At the control's corner, or centred in a larger control.
      const double s = std::max(Score(shot, handle, size, 0, 0),
                                Score(shot, handle, size, (shot.w - size) / 2, (shot.h - size) / 2));
      if (s > bestScore) bestScore = s, best = icon.first;
    }
  }
  return Emit(std::string("{\"icon\":\"") + best + "\"}"), kOk;
}

// Follows one window until it is gone: "ready", then "seen", "caption" and "items" at each change with
// the time since "ready", and "gone" with every caption and the last readable items. A window that
// another copy closes within a second is caught this way, where one run per look would miss it.
int Follow(const Args& a) {
  Emit("{\"event\":\"ready\"}");
  const DWORD start = GetTickCount();
  auto t = [&] { return ",\"t_ms\":" + std::to_string(GetTickCount() - start); };
  std::vector<HWND> found;
  while ((found = Windows(a)).empty()) {
    if (GetTickCount() - start >= a.timeoutMs) return Fail(kNotFound, "no window to follow");
    Sleep(20);
  }
  const HWND w = found[0];
  std::vector<std::wstring> captions{Text(w)};
  std::string items;
  Emit("{\"event\":\"seen\"" + t() + "}");
  while (IsWindow(w)) {
    const std::wstring caption = Text(w);
    if (IsWindow(w) && caption != captions.back()) {
      captions.push_back(caption);
      Emit("{\"event\":\"caption\"" + t() + ",\"caption\":" + Str(caption) + "}");
    }
    const std::string now = Items(w);
    if (now != "null" && now != items && IsWindow(w)) Emit("{\"event\":\"items\"" + t() + ",\"items\":" + (items = now) + "}");
    if (GetTickCount() - start >= a.timeoutMs) return Fail(kNotFound, "the window is still there");
    Sleep(20);
  }
  std::string all;
  for (const std::wstring& c : captions) all += (all.empty() ? "" : ",") + Str(c);
  Emit("{\"event\":\"gone\"" + t() + ",\"captions\":[" + all + "],\"items\":" + (items.empty() ? "null" : items) + "}");
  return kOk;
}

// Sets an edit field's text as typing would (sent, so it is in place before a button is pressed) and
// reports what it held before; GetWindowText would give the text it was created with.
int SetText(const Args& a, HWND top) {
  std::wstring text;
  if (!FromHex(a.arg, &text) || a.id < 0) return Fail(kUsage, "settext needs HEX and --id N");
  HWND c = GetDlgItem(top, a.id);
  wchar_t before[512] = L"", after[512] = L"";
  LRESULT r = 0, n1 = 0, n2 = 0;
  if (!c || !Query(c, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(before), &n1) ||
      !Query(c, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), &r) ||
      !Query(c, WM_GETTEXT, 512, reinterpret_cast<LPARAM>(after), &n2) || text != after) {
    return Fail(kRefused, "the control did not take the text");
  }
  return Emit("{\"before\":" + Str(before) + ",\"text\":" + Str(after) + "}"), kOk;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  Args a;
  a.command = argc > 1 ? argv[1] : L"";
  for (int i = 2; i < argc; ++i) {
    const std::wstring flag = argv[i], value = i + 1 < argc ? argv[i + 1] : L"";
    if (flag.rfind(L"--", 0) != 0) {
      if (flag.rfind(L"id:", 0) == 0) a.id = _wtoi(flag.c_str() + 3);
      a.arg = flag;
      continue;
    }
    ++i;
    if (flag == L"--caption-hex" || flag == L"--title-hex") {
      a.hasCaption = FromHex(value, &a.caption);
      if (!a.hasCaption) return Fail(kUsage, "bad hex");
    } else if (flag == L"--exe") {
      a.exe = value;
    } else if (flag == L"--hwnd") {
      a.hwnd = reinterpret_cast<HWND>(static_cast<UINT_PTR>(wcstoul(value.c_str(), nullptr, 0)));
    } else if (flag == L"--timeout-ms") {
      a.timeoutMs = wcstoul(value.c_str(), nullptr, 10);
    } else if (flag == L"--id") {
      a.id = _wtoi(value.c_str());
    } else {
      return Fail(kUsage, "unknown option");
    }
  }
  const std::wstring& c = a.command;
  if (c == L"follow") return Follow(a);
  if (c == L"count") {
    std::string windows;
    for (HWND w : Windows(a)) windows += (windows.empty() ? "" : ",") + StateJson(w);
    return Emit("{\"windows\":[" + windows + "]}"), kOk;
  }
  if (c == L"msgbox" || c == L"answer") a.cls = L"#32770";
  HWND top = nullptr;
  const int found = One(a, &top);
  if (found != kOk) return found;
  if (c == L"state") return Emit(StateJson(top)), kOk;
  if (c == L"msgbox") return Emit(BoxJson(top)), kOk;
  if (c == L"boxicon") return BoxIcon(top);
  if (c == L"click") return Click(a, top);
  if (c == L"answer") {
    // Done when the box has gone: the next look must not find it still there.
    const DWORD start = GetTickCount();
    const int clicked = Click(a, top);
    while (clicked == kOk && IsWindow(top)) {
      if (GetTickCount() - start >= a.timeoutMs) return Fail(kNotFound, "the box is still there");
      Sleep(20);
    }
    return clicked;
  }
  if (c == L"settext") return SetText(a, top);
  if (c == L"close" || c == L"syscommand") {
    PostMessageW(top, c == L"close" ? WM_CLOSE : WM_SYSCOMMAND, wcstoul(a.arg.c_str(), nullptr, 0), 0);
    return Emit("{\"posted\":true}"), kOk;
  }
  return Fail(kUsage, "usage: qxdriver state|count|click|close|syscommand|msgbox|boxicon|answer|settext|follow");
}
