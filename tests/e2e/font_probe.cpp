// Draws a report line as a message box draws it (the message font, one
// line clipped to its height, Wine's font linking at work) and says, per
// character, whether it came out as the font's .notdef glyph: the squares
// a prefix without a Japanese face shows. GetGlyphIndices alone would miss
// what font linking draws. Underscores and dots must leave ink.
//
//   font_probe.exe    prints "squares: N of M" and "marks: N of M inked"
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

const wchar_t kLine[] = L"a_b.c.txt - 検証に失敗しました。";

// A white bitmap of the line's size to draw on in `font`.
struct Canvas {
  HDC dc;
  HBITMAP bitmap;
  HGDIOBJ old_bitmap, old_font;
  Canvas(HDC screen, HFONT font, const SIZE& size)
      : dc(CreateCompatibleDC(screen)),
        bitmap(CreateCompatibleBitmap(screen, size.cx, size.cy)) {
    old_bitmap = SelectObject(dc, bitmap);
    old_font = SelectObject(dc, font);
    SetBkMode(dc, TRANSPARENT);
    Clear(size);
  }
  void Clear(const SIZE& size) {
    RECT all = {0, 0, size.cx, size.cy};
    FillRect(dc, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  }
  ~Canvas() {
    SelectObject(dc, old_font);
    SelectObject(dc, old_bitmap);
    DeleteObject(bitmap);
    DeleteDC(dc);
  }
  std::vector<COLORREF> Column(int x, int height) const {
    std::vector<COLORREF> column;
    for (int y = 0; y < height; ++y) column.push_back(GetPixel(dc, x, y));
    return column;
  }
};

}  // namespace

int wmain() {
  NONCLIENTMETRICSW metrics = {};
  metrics.cbSize = sizeof metrics;
  SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
  HFONT font = CreateFontIndirectW(&metrics.lfMessageFont);
  HDC screen = GetDC(nullptr);
  const int length = static_cast<int>(wcslen(kLine));
  RECT box = {0, 0, 2000, 0};
  HGDIOBJ old = SelectObject(screen, font);
  DrawTextW(screen, kLine, length, &box,
            DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
  // Each character's left edge, as the line lays them out.
  std::vector<int> edges(1, 0);
  for (int i = 1; i <= length; ++i) {
    SIZE size = {};
    GetTextExtentPoint32W(screen, kLine, i, &size);
    edges.push_back(size.cx);
  }
  SelectObject(screen, old);
  const SIZE size = {box.right, box.bottom};
  Canvas line(screen, font, size), squares(screen, font, size);
  DrawTextW(line.dc, kLine, length, &box, DT_SINGLELINE | DT_NOPREFIX);
  int wide = 0, square = 0, marks = 0, inked = 0;
  for (int i = 0; i < length; ++i) {
    // The .notdef glyph (index 0) where the character stands.
    const WORD notdef = 0;
    squares.Clear(size);
    ExtTextOutW(squares.dc, edges[i], 0, ETO_GLYPH_INDEX, nullptr,
                reinterpret_cast<LPCWSTR>(&notdef), 1, nullptr);
    bool same = true, ink = false;
    for (int x = edges[i]; x < edges[i + 1]; ++x) {
      const std::vector<COLORREF> drawn = line.Column(x, size.cy);
      same = same && drawn == squares.Column(x, size.cy);
      for (const COLORREF pixel : drawn)
        ink = ink || pixel != RGB(255, 255, 255);
    }
    if (kLine[i] >= 0x3000) {
      ++wide;
      if (same) ++square;
    } else if (kLine[i] == L'_' || kLine[i] == L'.') {
      ++marks;
      if (ink) ++inked;
    }
  }
  ReleaseDC(nullptr, screen);
  DeleteObject(font);
  std::printf("squares: %d of %d\nmarks: %d of %d inked\n", square, wide, inked,
              marks);
  return 0;
}
