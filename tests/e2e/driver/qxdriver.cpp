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
    if (flag == L"--caption-hex") {
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
  if (c == L"state" || c == L"msgbox") return Emit(StateJson(top)), kOk;
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
  return Fail(kUsage, "usage: qxdriver state|count|click|close|syscommand|msgbox|answer|settext|follow");
}
