// qxdriver: looks at and operates the updater's windows from another process,
// for the end-to-end tests. One command per run; the result is printed on
// stdout as one JSON object per line, in UTF-8.
//
// Chinese texts travel on the command line as hex of their UTF-8 bytes
// (--caption-hex E59CA8...), because a Wine command line does not carry them
// reliably; plain ASCII forms (--caption TEXT) exist too.
//
// Everything that changes the target is posted, never sent: a button handler
// may run a whole update session, and SendMessage would block the driver
// until it ends. Texts of windows in another process are read with
// GetWindowTextW, which does not need the target's thread; list-box items do,
// so they are asked for with a time limit and reported as unreadable when the
// target is busy.
//
// Exit codes: 0 done, 1 usage, 2 not found or time limit reached,
// 3 found but not operable (the button is disabled or hidden).

// Vista and later: QueryFullProcessImageNameW, CompareStringOrdinal.
#ifndef _WIN32_WINNT
#define _WIN32_WINNT 0x0601
#endif
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitNotFound = 2;
constexpr int kExitRefused = 3;

// How long one cross-process list-box query may take before the target is
// taken as busy.
constexpr UINT kQueryTimeoutMs = 1500;
constexpr DWORD kPollMs = 20;

// ---------------------------------------------------------------- text

std::string ToUtf8(const std::wstring& w) {
  if (w.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), nullptr, 0,
                              nullptr, nullptr);
  std::string s(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), static_cast<int>(w.size()), &s[0], n, nullptr,
                      nullptr);
  return s;
}

std::wstring FromUtf8(const std::string& s) {
  if (s.empty()) return std::wstring();
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), &w[0], n);
  return w;
}

bool HexToText(const std::wstring& hex, std::wstring* out) {
  if (hex.size() % 2 != 0) return false;
  std::string bytes;
  for (size_t i = 0; i < hex.size(); i += 2) {
    int v = 0;
    for (size_t k = i; k < i + 2; ++k) {
      wchar_t c = hex[k];
      v <<= 4;
      if (c >= L'0' && c <= L'9') v |= c - L'0';
      else if (c >= L'a' && c <= L'f') v |= c - L'a' + 10;
      else if (c >= L'A' && c <= L'F') v |= c - L'A' + 10;
      else return false;
    }
    bytes.push_back(static_cast<char>(v));
  }
  *out = FromUtf8(bytes);
  return true;
}

std::string JsonString(const std::wstring& w) {
  std::string s = ToUtf8(w);
  std::string out = "\"";
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  out += "\"";
  return out;
}

std::string HwndText(HWND h) {
  char buf[24];
  std::snprintf(buf, sizeof buf, "\"0x%08lx\"", static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(h)));
  return buf;
}

std::string Num(long long v) { return std::to_string(v); }
std::string Bool(bool b) { return b ? "true" : "false"; }

// One line on stdout. A pipe gets the UTF-8 bytes as they are; a console
// would reinterpret them in its code page, so it gets UTF-16.
void EmitLine(const std::string& line) {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
  DWORD mode = 0;
  if (GetConsoleMode(out, &mode)) {
    std::wstring w = FromUtf8(line + "\n");
    DWORD written = 0;
    WriteConsoleW(out, w.data(), static_cast<DWORD>(w.size()), &written, nullptr);
    return;
  }
  std::string data = line + "\n";
  DWORD written = 0;
  WriteFile(out, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
}

void EmitError(const std::string& what) {
  EmitLine("{\"error\":" + JsonString(FromUtf8(what)) + "}");
}

// ---------------------------------------------------------------- windows

std::wstring WindowText(HWND h) {
  int len = GetWindowTextLengthW(h);
  std::wstring s(static_cast<size_t>(len) + 1, L'\0');
  int got = GetWindowTextW(h, &s[0], len + 1);
  s.resize(got > 0 ? static_cast<size_t>(got) : 0);
  return s;
}

std::wstring ClassOf(HWND h) {
  wchar_t buf[256];
  int n = GetClassNameW(h, buf, 256);
  return std::wstring(buf, n > 0 ? static_cast<size_t>(n) : 0);
}

bool SameText(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

std::wstring ImageOf(DWORD pid) {
  std::wstring path;
  HANDLE p = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
  if (!p) return path;
  wchar_t buf[MAX_PATH * 2];
  DWORD n = MAX_PATH * 2;
  if (QueryFullProcessImageNameW(p, 0, buf, &n)) path.assign(buf, n);
  CloseHandle(p);
  return path;
}

std::wstring BaseName(const std::wstring& path) {
  size_t cut = path.find_last_of(L"\\/");
  return cut == std::wstring::npos ? path : path.substr(cut + 1);
}

// What selects the window a command works on.
struct Target {
  bool has_caption = false;
  std::wstring caption;
  std::wstring exe;          // base name of the owning program, any case
  std::wstring window_class; // exact class name
  HWND hwnd = nullptr;       // a window named by its handle
  bool include_hidden = false;
};

struct TopLevel {
  HWND hwnd;
  DWORD pid;
  std::wstring exe;
  std::wstring window_class;
  std::wstring caption;
  bool visible;
};

struct EnumCtx {
  const Target* target;
  std::vector<TopLevel>* found;
};

bool Matches(const Target& t, HWND h, TopLevel* info) {
  info->hwnd = h;
  info->visible = IsWindowVisible(h) != FALSE;
  if (!t.include_hidden && !info->visible) return false;
  info->caption = WindowText(h);
  if (t.has_caption && info->caption != t.caption) return false;
  info->window_class = ClassOf(h);
  if (!t.window_class.empty() && info->window_class != t.window_class) return false;
  info->pid = 0;
  GetWindowThreadProcessId(h, &info->pid);
  info->exe = ImageOf(info->pid);
  if (!t.exe.empty() && !SameText(BaseName(info->exe), t.exe)) return false;
  return true;
}

BOOL CALLBACK CollectTopLevel(HWND h, LPARAM lp) {
  auto* ctx = reinterpret_cast<EnumCtx*>(lp);
  TopLevel info{};
  if (Matches(*ctx->target, h, &info)) ctx->found->push_back(info);
  return TRUE;
}

std::vector<TopLevel> FindTopLevel(const Target& t) {
  std::vector<TopLevel> found;
  if (t.hwnd) {
    TopLevel info{};
    if (IsWindow(t.hwnd) && Matches(t, t.hwnd, &info)) found.push_back(info);
    return found;
  }
  EnumCtx ctx{&t, &found};
  EnumWindows(CollectTopLevel, reinterpret_cast<LPARAM>(&ctx));
  return found;
}

std::string TopLevelJson(const TopLevel& w) {
  return "{\"hwnd\":" + HwndText(w.hwnd) + ",\"pid\":" + Num(w.pid) + ",\"exe\":" +
         JsonString(w.exe) + ",\"class\":" + JsonString(w.window_class) + ",\"caption\":" +
         JsonString(w.caption) + ",\"visible\":" + Bool(w.visible) + "}";
}

struct Child {
  HWND hwnd;
  std::wstring window_class;
  std::wstring text;
  int id;
  bool visible;
  bool enabled;
};

struct ChildCtx {
  HWND top;
  std::vector<Child>* children;
};

BOOL CALLBACK CollectChild(HWND h, LPARAM lp) {
  auto* ctx = reinterpret_cast<ChildCtx*>(lp);
  Child c{};
  c.hwnd = h;
  c.window_class = ClassOf(h);
  c.text = WindowText(h);
  c.id = GetDlgCtrlID(h);
  c.visible = IsWindowVisible(h) != FALSE;
  c.enabled = IsWindowEnabled(h) != FALSE;
  ctx->children->push_back(c);
  return TRUE;
}

std::vector<Child> ChildrenOf(HWND top) {
  std::vector<Child> children;
  ChildCtx ctx{top, &children};
  EnumChildWindows(top, CollectChild, reinterpret_cast<LPARAM>(&ctx));
  return children;
}

bool IsClass(const Child& c, const wchar_t* name) {
  return CompareStringOrdinal(c.window_class.c_str(), -1, name, -1, TRUE) == CSTR_EQUAL;
}

bool Query(HWND h, UINT msg, WPARAM wp, LPARAM lp, LRESULT* result) {
  DWORD_PTR r = 0;
  if (!SendMessageTimeoutW(h, msg, wp, lp, SMTO_BLOCK | SMTO_ABORTIFHUNG, kQueryTimeoutMs, &r)) {
    return false;
  }
  *result = static_cast<LRESULT>(r);
  return true;
}

std::string ListBoxJson(HWND lb) {
  LRESULT count = 0, sel = 0;
  if (!Query(lb, LB_GETCOUNT, 0, 0, &count) || !Query(lb, LB_GETCURSEL, 0, 0, &sel)) {
    return "{\"hwnd\":" + HwndText(lb) + ",\"readable\":false}";
  }
  std::string items = "[";
  bool readable = true;
  for (LRESULT i = 0; i < count; ++i) {
    LRESULT len = 0;
    if (!Query(lb, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0, &len) || len < 0) {
      readable = false;
      break;
    }
    std::wstring text(static_cast<size_t>(len) + 1, L'\0');
    LRESULT got = 0;
    if (!Query(lb, LB_GETTEXT, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&text[0]), &got) ||
        got < 0) {
      readable = false;
      break;
    }
    text.resize(static_cast<size_t>(got));
    if (i > 0) items += ",";
    items += JsonString(text);
  }
  items += "]";
  return "{\"hwnd\":" + HwndText(lb) + ",\"readable\":" + Bool(readable) + ",\"count\":" +
         Num(count) + ",\"selected\":" + Num(sel == LB_ERR ? -1 : sel) + ",\"items\":" + items +
         "}";
}

std::string ChildJson(const Child& c) {
  return "{\"hwnd\":" + HwndText(c.hwnd) + ",\"class\":" + JsonString(c.window_class) +
         ",\"id\":" + Num(c.id) + ",\"text\":" + JsonString(c.text) + ",\"visible\":" +
         Bool(c.visible) + ",\"enabled\":" + Bool(c.enabled) + "}";
}

// The whole picture of one top-level window: its caption, every control, and
// the list box, statics and buttons pulled out for convenience.
std::string StateJson(const TopLevel& w) {
  std::vector<Child> children = ChildrenOf(w.hwnd);
  std::string controls = "[", lists = "[", statics = "[", buttons = "[";
  bool first_control = true, first_list = true, first_static = true, first_button = true;
  for (const Child& c : children) {
    controls += (first_control ? "" : ",") + ChildJson(c);
    first_control = false;
    if (IsClass(c, L"ListBox")) {
      lists += (first_list ? "" : ",") + ListBoxJson(c.hwnd);
      first_list = false;
    } else if (IsClass(c, L"Static")) {
      statics += (first_static ? "" : ",") + ChildJson(c);
      first_static = false;
    } else if (IsClass(c, L"Button")) {
      buttons += (first_button ? "" : ",") + ChildJson(c);
      first_button = false;
    }
  }
  controls += "]";
  lists += "]";
  statics += "]";
  buttons += "]";
  std::string top = TopLevelJson(w);
  top.pop_back();  // reopen the object to add the state fields
  return top + ",\"enabled\":" + Bool(IsWindowEnabled(w.hwnd) != FALSE) + ",\"lists\":" + lists + ",\"statics\":" + statics + ",\"buttons\":" +
         buttons + ",\"controls\":" + controls + "}";
}

// ---------------------------------------------------------------- arguments

struct Args {
  std::wstring command;
  std::vector<std::wstring> positional;
  Target target;
  DWORD timeout_ms = 0;
  bool has_button = false;
  std::wstring button;
  bool has_id = false;
  int id = 0;
  bool all = false;
  std::string error;
};

bool TakeText(const std::wstring& flag, const std::wstring& value, const wchar_t* plain,
              const wchar_t* hex, std::wstring* out, bool* has, std::string* error) {
  if (flag == plain) {
    *out = value;
    *has = true;
    return true;
  }
  if (flag == hex) {
    if (!HexToText(value, out)) {
      *error = "not hex of UTF-8 bytes: " + ToUtf8(value);
      return true;
    }
    *has = true;
    return true;
  }
  return false;
}

Args Parse(int argc, wchar_t** argv) {
  Args a;
  if (argc < 2) {
    a.error = "no command";
    return a;
  }
  a.command = argv[1];
  for (int i = 2; i < argc; ++i) {
    std::wstring flag = argv[i];
    if (flag.rfind(L"--", 0) != 0) {
      a.positional.push_back(flag);
      continue;
    }
    if (flag == L"--hidden") {
      a.target.include_hidden = true;
      continue;
    }
    if (flag == L"--all") {
      a.all = true;
      continue;
    }
    if (i + 1 >= argc) {
      a.error = "missing value after " + ToUtf8(flag);
      return a;
    }
    std::wstring value = argv[++i];
    bool dummy = false;
    if (TakeText(flag, value, L"--caption", L"--caption-hex", &a.target.caption,
                 &a.target.has_caption, &a.error) ||
        TakeText(flag, value, L"--title", L"--title-hex", &a.target.caption,
                 &a.target.has_caption, &a.error) ||
        TakeText(flag, value, L"--button", L"--button-hex", &a.button, &a.has_button, &a.error) ||
        TakeText(flag, value, L"--exe", L"--exe-hex", &a.target.exe, &dummy, &a.error)) {
      if (!a.error.empty()) return a;
    } else if (flag == L"--hwnd") {
      a.target.hwnd = reinterpret_cast<HWND>(static_cast<UINT_PTR>(wcstoul(value.c_str(), nullptr, 0)));
      if (!a.target.hwnd) a.error = "bad --hwnd";
    } else if (flag == L"--timeout-ms") {
      a.timeout_ms = wcstoul(value.c_str(), nullptr, 10);
    } else if (flag == L"--id") {
      a.has_id = true;
      a.id = static_cast<int>(wcstol(value.c_str(), nullptr, 0));
    } else {
      a.error = "unknown option " + ToUtf8(flag);
    }
    if (!a.error.empty()) return a;
  }
  return a;
}

// Positional forms of a button: "id:N" names it by control id, anything
// else is hex of the UTF-8 bytes of its text.
bool TakeButtonArg(Args* a) {
  if (a->positional.empty()) return true;
  const std::wstring& p = a->positional[0];
  if (p.rfind(L"id:", 0) == 0) {
    a->has_id = true;
    a->id = static_cast<int>(wcstol(p.c_str() + 3, nullptr, 0));
    return true;
  }
  if (!HexToText(p, &a->button)) {
    a->error = "button is neither id:N nor hex of UTF-8 bytes: " + ToUtf8(p);
    return false;
  }
  a->has_button = true;
  return true;
}

// ---------------------------------------------------------------- polling

class Deadline {
 public:
  explicit Deadline(DWORD ms) : start_(GetTickCount()), ms_(ms) {}
  bool Passed() const { return Elapsed() >= ms_; }
  DWORD Elapsed() const { return GetTickCount() - start_; }

 private:
  DWORD start_;
  DWORD ms_;
};

// Polls until at least one window matches or the time limit passes.
bool WaitForWindows(const Args& a, std::vector<TopLevel>* found) {
  Deadline d(a.timeout_ms);
  for (;;) {
    *found = FindTopLevel(a.target);
    if (!found->empty()) return true;
    if (d.Passed()) return false;
    Sleep(kPollMs);
  }
}

std::string DescribeTarget(const Target& t) {
  std::string s;
  if (t.hwnd) s += " hwnd " + HwndText(t.hwnd);
  if (t.has_caption) s += " caption " + JsonString(t.caption);
  if (!t.window_class.empty()) s += " class " + JsonString(t.window_class);
  if (!t.exe.empty()) s += " exe " + JsonString(t.exe);
  return s.empty() ? " any window" : s;
}

int NotFound(const Args& a, const char* what) {
  EmitError(std::string("no ") + what + " with" + DescribeTarget(a.target) + " within " +
            std::to_string(a.timeout_ms) + " ms");
  return kExitNotFound;
}

// Exactly one window must match, or the command would act on a guess.
int SingleTarget(const Args& a, const char* what, TopLevel* out) {
  std::vector<TopLevel> found;
  if (!WaitForWindows(a, &found)) return NotFound(a, what);
  if (found.size() > 1) {
    std::string list;
    for (const TopLevel& w : found) list += " " + TopLevelJson(w);
    EmitError(std::to_string(found.size()) + " windows match" + DescribeTarget(a.target) +
              "; narrow it with --exe or --hwnd:" + list);
    return kExitNotFound;
  }
  *out = found[0];
  return kExitOk;
}

std::wstring WithoutAccelerator(const std::wstring& s) {
  std::wstring out;
  for (size_t i = 0; i < s.size(); ++i) {
    if (s[i] == L'&' && i + 1 < s.size()) {
      out.push_back(s[++i]);
      continue;
    }
    out.push_back(s[i]);
  }
  return out;
}

bool ButtonMatches(const Args& a, const Child& c) {
  if (!IsClass(c, L"Button") || !c.visible) return false;
  if (a.has_id) return c.id == a.id;
  return c.text == a.button || WithoutAccelerator(c.text) == a.button;
}

// Posts the click the way a pressed button reports it to its parent. A
// disabled button is not clicked: a person could not click it either.
int ClickButton(const Args& a, const TopLevel& top) {
  Deadline d(a.timeout_ms);
  for (;;) {
    std::vector<Child> children = ChildrenOf(top.hwnd);
    const Child* button = nullptr;
    for (const Child& c : children) {
      if (ButtonMatches(a, c)) {
        button = &c;
        break;
      }
    }
    if (button && button->enabled) {
      HWND parent = GetParent(button->hwnd);
      if (!parent) parent = top.hwnd;
      PostMessageW(parent, WM_COMMAND, MAKEWPARAM(button->id, BN_CLICKED),
                   reinterpret_cast<LPARAM>(button->hwnd));
      EmitLine("{\"clicked\":" + ChildJson(*button) + ",\"window\":" + HwndText(top.hwnd) + "}");
      return kExitOk;
    }
    if (d.Passed()) {
      if (button) {
        EmitError("button " + JsonString(button->text) + " is disabled");
        return kExitRefused;
      }
      std::string name = a.has_id ? "id " + std::to_string(a.id) : JsonString(a.button);
      EmitError("no visible button " + name + " in " + TopLevelJson(top));
      return kExitNotFound;
    }
    Sleep(kPollMs);
  }
}

// ---------------------------------------------------------------- commands

// Counts the matching windows.
int CmdCount(Args& a) {
  const std::vector<TopLevel> found = FindTopLevel(a.target);
  std::string windows = "[";
  for (size_t i = 0; i < found.size(); ++i) windows += (i ? "," : "") + TopLevelJson(found[i]);
  windows += "]";
  EmitLine("{\"count\":" + Num(static_cast<long long>(found.size())) + ",\"windows\":" + windows +
           "}");
  return kExitOk;
}

// With --all, every matching window, one line each: the failure report of a
// test shows all windows of a program, message boxes included.
int CmdState(Args& a) {
  if (a.all) {
    std::vector<TopLevel> found;
    if (!WaitForWindows(a, &found)) return NotFound(a, "window");
    for (const TopLevel& w : found) EmitLine(StateJson(w));
    return kExitOk;
  }
  TopLevel top{};
  int rc = SingleTarget(a, "window", &top);
  if (rc != kExitOk) return rc;
  EmitLine(StateJson(top));
  return kExitOk;
}

int CmdClick(Args& a) {
  if (!TakeButtonArg(&a)) return kExitUsage;
  if (!a.has_button && !a.has_id) {
    EmitError("click needs a button: hex of its text, id:N, --button or --id");
    return kExitUsage;
  }
  TopLevel top{};
  int rc = SingleTarget(a, "window", &top);
  if (rc != kExitOk) return rc;
  return ClickButton(a, top);
}

int CmdPost(Args& a, UINT msg, WPARAM wp) {
  TopLevel top{};
  int rc = SingleTarget(a, "window", &top);
  if (rc != kExitOk) return rc;
  if (!PostMessageW(top.hwnd, msg, wp, 0)) {
    EmitError("PostMessage failed, error " + std::to_string(GetLastError()));
    return kExitNotFound;
  }
  EmitLine("{\"posted\":" + Num(msg) + ",\"wparam\":" + Num(static_cast<long long>(wp)) +
           ",\"window\":" + TopLevelJson(top) + "}");
  return kExitOk;
}

int CmdSyscommand(Args& a) {
  if (a.positional.empty()) {
    EmitError("syscommand needs the command id");
    return kExitUsage;
  }
  WPARAM id = wcstoul(a.positional[0].c_str(), nullptr, 0);
  return CmdPost(a, WM_SYSCOMMAND, id);
}

// Message boxes are dialogs of class #32770; the text is the static control
// with id 0xFFFF on Windows and Wine alike. Wine creates every standard
// button and hides those the box does not use, so only visible ones count.
std::string MessageBoxJson(const TopLevel& box) {
  std::vector<Child> children = ChildrenOf(box.hwnd);
  std::wstring text;
  std::string statics = "[", buttons = "[";
  bool first_static = true, first_button = true;
  for (const Child& c : children) {
    if (IsClass(c, L"Static")) {
      if (c.id == 0xFFFF || (text.empty() && !c.text.empty())) text = c.text;
      statics += (first_static ? "" : ",") + ChildJson(c);
      first_static = false;
    } else if (IsClass(c, L"Button") && c.visible) {
      buttons += (first_button ? "" : ",") + ChildJson(c);
      first_button = false;
    }
  }
  statics += "]";
  buttons += "]";
  std::string top = TopLevelJson(box);
  top.pop_back();
  return top + ",\"title\":" + JsonString(box.caption) + ",\"text\":" + JsonString(text) +
         ",\"owner\":" + HwndText(GetWindow(box.hwnd, GW_OWNER)) + ",\"buttons\":" + buttons +
         ",\"statics\":" + statics + "}";
}

int CmdMsgbox(Args& a) {
  a.target.window_class = L"#32770";
  TopLevel box{};
  int rc = SingleTarget(a, "message box", &box);
  if (rc != kExitOk) return rc;
  EmitLine(MessageBoxJson(box));
  return kExitOk;
}

int CmdAnswer(Args& a) {
  if (!TakeButtonArg(&a)) return kExitUsage;
  if (!a.has_button && !a.has_id) {
    EmitError("answer needs a button: hex of its text, id:N, --button or --id");
    return kExitUsage;
  }
  a.target.window_class = L"#32770";
  TopLevel box{};
  int rc = SingleTarget(a, "message box", &box);
  if (rc != kExitOk) return rc;
  return ClickButton(a, box);
}

int CmdWaitGone(Args& a) {
  if (!a.target.hwnd && !a.target.has_caption) {
    EmitError("wait-gone needs --hwnd or a caption");
    return kExitUsage;
  }
  Deadline d(a.timeout_ms);
  for (;;) {
    std::vector<TopLevel> found = FindTopLevel(a.target);
    if (found.empty()) {
      EmitLine("{\"gone\":true,\"after_ms\":" + Num(d.Elapsed()) + "}");
      return kExitOk;
    }
    if (d.Passed()) {
      EmitError("still there after " + std::to_string(a.timeout_ms) + " ms: " +
                TopLevelJson(found[0]));
      return kExitNotFound;
    }
    Sleep(kPollMs);
  }
}

// The text of a control of another process. GetWindowTextW would give the
// text the control was created with, not what an edit field holds now.
bool ControlText(HWND h, std::wstring* out) {
  LRESULT len = 0;
  if (!Query(h, WM_GETTEXTLENGTH, 0, 0, &len) || len < 0) return false;
  std::wstring text(static_cast<size_t>(len) + 1, L'\0');
  LRESULT got = 0;
  if (!Query(h, WM_GETTEXT, static_cast<WPARAM>(len) + 1, reinterpret_cast<LPARAM>(&text[0]), &got) ||
      got < 0) {
    return false;
  }
  text.resize(static_cast<size_t>(got));
  *out = text;
  return true;
}

// Sets the text of one child control (--id N, or the first of
// --control-class C) the way typing would leave it, and reads it back;
// prints the text it held before too. WM_SETTEXT is sent, not posted: the
// text must be in place before the caller presses a button, and a modal
// dialog's thread answers at once.
int CmdSetText(Args& a) {
  // "-" stands for the empty text, which a command line may drop.
  std::wstring text;
  if (a.positional.empty() || (a.positional[0] != L"-" && !HexToText(a.positional[0], &text))) {
    EmitError("settext needs the text as hex of its UTF-8 bytes, or - for none");
    return kExitUsage;
  }
  if (!a.has_id) {
    EmitError("settext needs --id N");
    return kExitUsage;
  }
  TopLevel top{};
  int rc = SingleTarget(a, "window", &top);
  if (rc != kExitOk) return rc;
  for (const Child& c : ChildrenOf(top.hwnd)) {
    if (c.id != a.id) continue;
    std::wstring before, after;
    DWORD_PTR r = 0;
    if (!ControlText(c.hwnd, &before) ||
        !SendMessageTimeoutW(c.hwnd, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()),
                             SMTO_BLOCK | SMTO_ABORTIFHUNG, kQueryTimeoutMs, &r) ||
        !r || !ControlText(c.hwnd, &after)) {
      EmitError("the control did not take the text: " + ChildJson(c));
      return kExitRefused;
    }
    EmitLine("{\"control\":" + ChildJson(c) + ",\"before\":" + JsonString(before) +
             ",\"text\":" + JsonString(after) + ",\"window\":" + HwndText(top.hwnd) + "}");
    return after == text ? kExitOk : kExitRefused;
  }
  EmitError("no control with id " + std::to_string(a.id) + " in " + TopLevelJson(top));
  return kExitNotFound;
}

// The list boxes of a window, or "" when one of them does not answer (the
// window is busy or closing). A busy program answers a query only when it
// next handles its messages, so the items are read again only when the
// count has changed: a progress list only grows, and one query per round
// keeps the times of changes exact to about one such pause.
// *changed_ms is when the new count was seen: reading the items takes a few
// such pauses more.
std::string ReadableLists(HWND top, const Deadline& d, std::vector<LRESULT>* counts,
                          const std::string& previous, DWORD* changed_ms) {
  std::vector<HWND> boxes;
  for (const Child& c : ChildrenOf(top)) {
    if (IsClass(c, L"ListBox")) boxes.push_back(c.hwnd);
  }
  // A window being destroyed loses its controls first.
  if (boxes.empty()) return std::string();
  std::vector<LRESULT> now;
  for (HWND lb : boxes) {
    LRESULT count = 0;
    if (!Query(lb, LB_GETCOUNT, 0, 0, &count)) return std::string();
    now.push_back(count);
  }
  if (!previous.empty() && now == *counts) return previous;
  *changed_ms = d.Elapsed();
  std::string lists = "[";
  for (size_t i = 0; i < boxes.size(); ++i) {
    std::string one = ListBoxJson(boxes[i]);
    if (one.find("\"readable\":true") == std::string::npos) return std::string();
    lists += (i ? "," : "") + one;
  }
  *counts = now;
  return lists + "]";
}

// Follows one window from its first appearance until it is gone. Prints
// "ready"; "seen" with the window's state; "caption" and "lists" each time
// the caption or a list box changes, with the time in ms since "ready"; and
// at the end "gone" with every caption the window carried and the last
// lists that could be read. A window that another program closes within a
// second of its last change is caught this way, where one driver run per
// look would miss it.
int CmdFollow(Args& a) {
  EmitLine("{\"event\":\"ready\"}");
  Deadline d(a.timeout_ms);
  TopLevel w{};
  for (;;) {
    std::vector<TopLevel> found = FindTopLevel(a.target);
    if (!found.empty()) {
      w = found[0];
      break;
    }
    if (d.Passed()) return NotFound(a, "window");
    Sleep(kPollMs);
  }
  std::vector<std::wstring> captions{w.caption};
  EmitLine("{\"event\":\"seen\",\"t_ms\":" + Num(d.Elapsed()) + ",\"state\":" + StateJson(w) + "}");
  std::string lists;
  std::vector<LRESULT> counts;
  for (;;) {
    const std::wstring caption = WindowText(w.hwnd);
    // A window destroyed meanwhile reads as an empty caption: not a change.
    if (!IsWindow(w.hwnd)) break;
    if (caption != captions.back()) {
      captions.push_back(caption);
      EmitLine("{\"event\":\"caption\",\"t_ms\":" + Num(d.Elapsed()) + ",\"caption\":" +
               JsonString(caption) + "}");
    }
    DWORD changed_ms = 0;
    const std::string now = ReadableLists(w.hwnd, d, &counts, lists, &changed_ms);
    if (!now.empty() && now != lists && IsWindow(w.hwnd)) {
      lists = now;
      EmitLine("{\"event\":\"lists\",\"t_ms\":" + Num(changed_ms) + ",\"lists\":" + lists + "}");
    }
    if (d.Passed()) {
      EmitError("the window is still there after " + std::to_string(a.timeout_ms) + " ms");
      return kExitNotFound;
    }
    Sleep(kPollMs);
  }
  std::string list = "[";
  for (size_t i = 0; i < captions.size(); ++i) list += (i ? "," : "") + JsonString(captions[i]);
  list += "]";
  EmitLine("{\"event\":\"gone\",\"t_ms\":" + Num(d.Elapsed()) + ",\"captions\":" + list +
           ",\"lists\":" + (lists.empty() ? std::string("null") : lists) + "}");
  return kExitOk;
}

// ---------------------------------------------------------------- message box icons

struct Pixels {
  int w = 0, h = 0;
  std::vector<DWORD> bits;  // 0x00RRGGBB, top row first
  DWORD at(int x, int y) const { return bits[static_cast<size_t>(y) * w + x]; }
};

// A 32-bit top-down DIB section of the given size, filled with `fill`.
struct Canvas {
  HDC dc = nullptr;
  HBITMAP bmp = nullptr;
  HGDIOBJ old = nullptr;
  DWORD* bits = nullptr;
  int w, h;
  Canvas(int width, int height, DWORD fill) : w(width), h(height) {
    BITMAPINFO bi = {};
    bi.bmiHeader.biSize = sizeof bi.bmiHeader;
    bi.bmiHeader.biWidth = w;
    bi.bmiHeader.biHeight = -h;
    bi.bmiHeader.biPlanes = 1;
    bi.bmiHeader.biBitCount = 32;
    bi.bmiHeader.biCompression = BI_RGB;
    dc = CreateCompatibleDC(nullptr);
    void* p = nullptr;
    bmp = CreateDIBSection(dc, &bi, DIB_RGB_COLORS, &p, nullptr, 0);
    bits = static_cast<DWORD*>(p);
    old = SelectObject(dc, bmp);
    for (int i = 0; i < w * h; ++i) bits[i] = fill;
  }
  ~Canvas() {
    SelectObject(dc, old);
    DeleteObject(bmp);
    DeleteDC(dc);
  }
  Pixels Take() const {
    GdiFlush();
    Pixels p;
    p.w = w;
    p.h = h;
    p.bits.assign(bits, bits + w * h);
    for (DWORD& v : p.bits) v &= 0xFFFFFF;
    return p;
  }
};

bool Near(DWORD a, DWORD b) {
  for (int shift = 0; shift < 24; shift += 8) {
    int d = static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF);
    if (d > 12 || d < -12) return false;
  }
  return true;
}

// The share of the icon's opaque pixels that the screen shows at (ox, oy).
double Score(const Pixels& screen, HICON icon, int size, int ox, int oy) {
  Canvas black(size, size, 0x000000), white(size, size, 0xFFFFFF);
  DrawIconEx(black.dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
  DrawIconEx(white.dc, 0, 0, icon, size, size, 0, nullptr, DI_NORMAL);
  Pixels b = black.Take(), wt = white.Take();
  int opaque = 0, same = 0;
  for (int y = 0; y < size; ++y) {
    for (int x = 0; x < size; ++x) {
      if (b.at(x, y) != wt.at(x, y)) continue;
      int sx = ox + x, sy = oy + y;
      if (sx < 0 || sy < 0 || sx >= screen.w || sy >= screen.h) continue;
      ++opaque;
      if (Near(b.at(x, y), screen.at(sx, sy))) ++same;
    }
  }
  return opaque < 50 ? 0.0 : static_cast<double>(same) / opaque;
}



// Which standard icon the message box --hwnd H shows. The icon handle
// of another process cannot be read, so the icon is recognised by its
// pixels: the box's icon control is copied from the screen and compared
// with each standard icon drawn here; pixels an icon leaves transparent (or
// blends) do not count. Prints {"icon":"none"|"hand"|"question"|
// "exclamation"|"asterisk","scores":{...}}.
int CmdBoxIcon(Args& a) {
  HWND box = a.target.hwnd;
  if (!box || !IsWindow(box)) return NotFound(a, "message box");
  HWND icon_control = nullptr;
  for (const Child& c : ChildrenOf(box)) {
    if (IsClass(c, L"Static") && (GetWindowLongW(c.hwnd, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
      icon_control = c.hwnd;
      break;
    }
  }
  if (!icon_control || !IsWindowVisible(icon_control)) {
    EmitLine("{\"icon\":\"none\"}");
    return kExitOk;
  }
  RECT r;
  GetWindowRect(icon_control, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  Pixels screen;
  {
    Canvas shot(w > 0 ? w : 1, h > 0 ? h : 1, 0);
    HDC desktop = GetDC(nullptr);
    BitBlt(shot.dc, 0, 0, w, h, desktop, r.left, r.top, SRCCOPY);
    ReleaseDC(nullptr, desktop);
    screen = shot.Take();
  }
  const struct {
    const char* name;
    LPCWSTR id;
  } candidates[] = {{"hand", IDI_HAND}, {"question", IDI_QUESTION}, {"exclamation", IDI_EXCLAMATION},
                    {"asterisk", IDI_ASTERISK}};
  const int size = GetSystemMetrics(SM_CXICON);
  std::string scores;
  const char* best = "none";
  double best_score = 0.0;
  for (const auto& c : candidates) {
    HICON icon = LoadIconW(nullptr, c.id);
    // The control draws the icon at its corner, or centred when it is larger.
    double s = Score(screen, icon, size, 0, 0);
    const double centred = Score(screen, icon, size, (w - size) / 2, (h - size) / 2);
    if (centred > s) s = centred;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s\"%s\":%.3f", scores.empty() ? "" : ",", c.name, s);
    scores += buf;
    if (s > best_score) {
      best_score = s;
      best = c.name;
    }
  }
  if (best_score < 0.9) best = "none";
  EmitLine(std::string("{\"icon\":\"") + best + "\",\"scores\":{" + scores + "}}");
  return kExitOk;
}

void Usage() {
  EmitError(
      "usage: qxdriver COMMAND [options]; commands: count, state, "
      "click BUTTON, close, syscommand ID, msgbox, boxicon, answer BUTTON, wait-gone, "
      "settext HEX --id N, follow; "
      "options: --caption[-hex] T, --title[-hex] T, --exe NAME, --hwnd H, --hidden, "
      "--timeout-ms N, --button[-hex] T, --id N, --all (state); BUTTON is hex of its UTF-8 text or id:N");
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  // A failing driver must not wait for someone to close an error dialog.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  Args a = Parse(argc, argv);
  if (!a.error.empty()) {
    EmitError(a.error);
    return kExitUsage;
  }
  if (a.command == L"count") return CmdCount(a);
  if (a.command == L"state") return CmdState(a);
  if (a.command == L"boxicon") return CmdBoxIcon(a);
  if (a.command == L"click") return CmdClick(a);
  if (a.command == L"close") return CmdPost(a, WM_CLOSE, 0);
  if (a.command == L"syscommand") return CmdSyscommand(a);
  if (a.command == L"msgbox") return CmdMsgbox(a);
  if (a.command == L"answer") return CmdAnswer(a);
  if (a.command == L"wait-gone") return CmdWaitGone(a);
  if (a.command == L"settext") return CmdSetText(a);
  if (a.command == L"follow") return CmdFollow(a);
  Usage();
  return kExitUsage;
}
