// qxe2e_boxicon TITLE-HEX: tells which standard icon a message box shows.
// The icon handle of another process cannot be read, so the icon is
// recognised by its pixels: the box's icon control is copied from the
// screen and compared with each standard icon drawn here. Pixels that an
// icon leaves transparent (or blends) do not count.
// Prints one JSON line: {"icon":"none"|"hand"|"question"|"exclamation"|
// "asterisk","scores":{...}}; exit code 2 when no box has that title.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::wstring FromHex(const char* hex) {
  std::string bytes;
  for (const char* p = hex; p[0] && p[1]; p += 2) {
    char pair[3] = {p[0], p[1], 0};
    bytes.push_back(static_cast<char>(std::strtoul(pair, nullptr, 16)));
  }
  int n = MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), nullptr, 0);
  std::wstring w(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), &w[0], n);
  return w;
}

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

HWND g_icon = nullptr;

BOOL CALLBACK FindIconControl(HWND h, LPARAM) {
  wchar_t cls[32];
  GetClassNameW(h, cls, 32);
  if (lstrcmpiW(cls, L"Static") == 0 && (GetWindowLongW(h, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
    g_icon = h;
    return FALSE;
  }
  return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::printf("{\"error\":\"usage: qxe2e_boxicon TITLE-HEX\"}\n");
    return 1;
  }
  HWND box = FindWindowW(L"#32770", FromHex(argv[1]).c_str());
  if (!box) {
    std::printf("{\"error\":\"no message box with that title\"}\n");
    return 2;
  }
  EnumChildWindows(box, FindIconControl, 0);
  if (!g_icon || !IsWindowVisible(g_icon)) {
    std::printf("{\"icon\":\"none\",\"control\":%s}\n", g_icon ? "\"hidden\"" : "null");
    return 0;
  }
  RECT r;
  GetWindowRect(g_icon, &r);
  const int w = r.right - r.left, h = r.bottom - r.top;
  Pixels screen;
  {
    Canvas shot(w > 0 ? w : 1, h > 0 ? h : 1, 0);
    HDC desktop = GetDC(nullptr);
    BitBlt(shot.dc, 0, 0, w, h, desktop, r.left, r.top, SRCCOPY);
    ReleaseDC(nullptr, desktop);
    screen = shot.Take();
  }
  struct Candidate {
    const char* name;
    LPCWSTR id;
  } candidates[] = {{"hand", IDI_HAND},
                    {"question", IDI_QUESTION},
                    {"exclamation", IDI_EXCLAMATION},
                    {"asterisk", IDI_ASTERISK}};
  const int size = GetSystemMetrics(SM_CXICON);
  std::string scores;
  const char* best = "none";
  double bestScore = 0.0;
  for (const Candidate& c : candidates) {
    HICON icon = LoadIconW(nullptr, c.id);
    // The control draws the icon at its corner, or centred when it is larger.
    double s = Score(screen, icon, size, 0, 0);
    double centred = Score(screen, icon, size, (w - size) / 2, (h - size) / 2);
    if (centred > s) s = centred;
    char buf[64];
    std::snprintf(buf, sizeof buf, "%s\"%s\":%.3f", scores.empty() ? "" : ",", c.name, s);
    scores += buf;
    if (s > bestScore) {
      bestScore = s;
      best = c.name;
    }
  }
  if (bestScore < 0.9) best = "none";
  std::printf("{\"icon\":\"%s\",\"scores\":{%s},\"size\":[%d,%d]}\n", best, scores.c_str(), w, h);
  return 0;
}
