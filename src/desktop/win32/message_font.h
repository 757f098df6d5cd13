#pragma once

#include <algorithm>
#include <string_view>

#include "platform/win32/windows_include.h"

namespace desktop {
namespace win32 {

// A font like `base` with glyphs for every character of `text`, or, where
// no face has them all, for every character of `own` and most of the rest;
// null when `base` has them all or no face will do (covering_font.cpp).
HFONT FontCovering(HFONT base, std::u16string_view text,
                   std::u16string_view own);

// The font message boxes use, owned for the time of one box.
class MessageFont {
 public:
  MessageFont() {
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof metrics;
    if (::SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics,
                                &metrics, 0)) {
      font_ = ::CreateFontIndirectW(&metrics.lfMessageFont);
    }
  }
  ~MessageFont() {
    if (font_ != nullptr) ::DeleteObject(font_);
  }
  MessageFont(const MessageFont&) = delete;
  MessageFont& operator=(const MessageFont&) = delete;
  HFONT Get() const {
    return font_ != nullptr
               ? font_
               : static_cast<HFONT>(::GetStockObject(DEFAULT_GUI_FONT));
  }
  // Takes a face of the same size that has every character of `text`, where
  // this one lacks some (Japanese in an English system's message font):
  // text drawn through font fallback is slow to lay out, a line at a time.
  // Where no face has them all, the one that has every character of `own`
  // (the program's own texts) and most of the others.
  void Cover(std::u16string_view text, std::u16string_view own) {
    HFONT covering = FontCovering(Get(), text, own);
    if (covering == nullptr) return;
    if (font_ != nullptr) ::DeleteObject(font_);
    font_ = covering;
  }

 private:
  HFONT font_ = nullptr;
};

inline RECT WorkAreaOf(HMONITOR monitor) {
  MONITORINFO info = {};
  info.cbSize = sizeof info;
  if (!::GetMonitorInfoW(monitor, &info)) {
    ::SystemParametersInfoW(SPI_GETWORKAREA, 0, &info.rcWork, 0);
  }
  return info.rcWork;
}

inline RECT PrimaryWorkArea() {
  return WorkAreaOf(::MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY));
}

inline int Width(const RECT& r) { return r.right - r.left; }
inline int Height(const RECT& r) { return r.bottom - r.top; }

// The height of one line of the message font and its average character
// width, on the screen.
inline void FontMetrics(HFONT font, int* line, int* average) {
  HDC screen = ::GetDC(nullptr);
  HGDIOBJ old = ::SelectObject(screen, font);
  TEXTMETRICW metrics = {};
  ::GetTextMetricsW(screen, &metrics);
  ::SelectObject(screen, old);
  ::ReleaseDC(nullptr, screen);
  *line = metrics.tmHeight + metrics.tmExternalLeading;
  *average = std::max<int>(1, metrics.tmAveCharWidth);
}

}  // namespace win32
}  // namespace desktop
