#pragma once

#include <cstdint>

#include "common/wide_string.h"

// Message box styles, answers and keys under their Win32 names and values.
// Where <windows.h> came first, its macros of the same values stand.
#ifndef MB_YESNO
constexpr std::uint32_t MB_OK = 0x00;
constexpr std::uint32_t MB_YESNO = 0x04;
constexpr std::uint32_t MB_ICONERROR = 0x10;
constexpr std::uint32_t MB_ICONQUESTION = 0x20;
constexpr std::uint32_t MB_ICONINFORMATION = 0x40;
constexpr std::uint32_t MB_TYPEMASK = 0x0F;
constexpr std::uint32_t MB_ICONMASK = 0xF0;
constexpr int IDOK = 1;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
constexpr int VK_SHIFT = 0x10;
constexpr int VK_CONTROL = 0x11;
#endif

namespace platform {

// A box style's buttons and icon, as MessageBoxW reads them.
inline bool IsYesNo(std::uint32_t style) {
  return (style & MB_TYPEMASK) == MB_YESNO;
}
inline std::uint32_t IconOf(std::uint32_t style) { return style & MB_ICONMASK; }

// The user's side of the program: key state and modal message boxes. It is
// an interface so that tests can hold keys, give answers and record boxes.
// Threads: one thread only, the one that shows the boxes.
class Desktop {
 public:
  virtual ~Desktop() = default;

  // Whether the key is down at the moment of the call.
  virtual bool IsKeyDown(int virtual_key) = 0;

  // A modal, owner-less box. An absent caption shows the platform's default
  // caption. Returns the button chosen (IDOK, IDYES, IDNO).
  virtual int ShowMessageBox(const WideString& text, const WideString& caption,
                             std::uint32_t style) = 0;
};

}  // namespace platform
