#pragma once

#include <cstdint>
#include <functional>
#include <memory>

#include "common/wide_string.h"
#include "progress/progress_texts.h"

namespace desktop {

// Message box styles, answers and keys under their Win32 names and values.
// Where <windows.h> came first, its macros of the same values stand.
#ifndef MB_YESNO
constexpr std::uint32_t MB_OK = 0x00;
constexpr std::uint32_t MB_YESNO = 0x04;
constexpr std::uint32_t MB_ICONERROR = 0x10;
constexpr std::uint32_t MB_ICONQUESTION = 0x20;
constexpr std::uint32_t MB_ICONWARNING = 0x30;
constexpr std::uint32_t MB_ICONINFORMATION = 0x40;
constexpr std::uint32_t MB_TYPEMASK = 0x0F;
constexpr std::uint32_t MB_ICONMASK = 0xF0;
constexpr int IDOK = 1;
constexpr int IDYES = 6;
constexpr int IDNO = 7;
constexpr int VK_SHIFT = 0x10;
constexpr int VK_CONTROL = 0x11;
#endif

// A box style's buttons and icon, as MessageBoxW reads them.
inline bool IsYesNo(std::uint32_t style) {
  return (style & MB_TYPEMASK) == MB_YESNO;
}
inline std::uint32_t IconOf(std::uint32_t style) { return style & MB_ICONMASK; }

// What a long run's progress window shows, as numbers: each desktop puts
// them into the words of progress/progress_texts.h with its own form of
// sizes, and makes the name visible and cuts it to fit.
struct ProgressView {
  progress::Unit unit = progress::Unit::kFiles;
  std::uint64_t done = 0;  // files or records
  std::uint64_t all = 0;
  // Of the bytes, once their total is known.
  bool bytes_known = false;
  std::uint64_t bytes_done = 0;
  std::uint64_t bytes_all = 0;
  // Bytes a second of late, once there is a rate to tell.
  bool speed_known = false;
  std::uint64_t speed = 0;
  // Seconds left, once there is an estimate.
  bool left_known = false;
  std::uint64_t seconds_left = 0;
  // Of bytes where their total is known, else of the count; rounded down,
  // never going backwards, under 100 until the end. The bar shows it too.
  unsigned percent = 0;
  common::WideString name;  // none until the file is opened
};

// The run's side of a progress window. Threads: the desktop's thread only;
// no call waits on a hash.
// What a desktop holds while a run lasts (WatchRun); it stops at its end.
class RunWatch {
 public:
  virtual ~RunWatch() = default;
};

class ProgressFeed {
 public:
  virtual ~ProgressFeed() = default;
  // The view now; false once the run has ended and the window is to close.
  virtual bool Update(ProgressView* view) = 0;
  // Waits up to `milliseconds`, less once the run ends.
  virtual void Wait(std::uint32_t milliseconds) = 0;
  // The user asked to stop: the run stops where it stands.
  virtual void Cancel() = 0;
};

// The user's side of the program: key state, modal message boxes and the
// progress of long runs. It is an interface so that tests can hold keys,
// give answers, cancel and record what was shown.
// Threads: one thread only, the one that shows the boxes.
class Desktop {
 public:
  virtual ~Desktop() = default;

  // Whether the key is down at the moment of the call.
  virtual bool IsKeyDown(int virtual_key) = 0;

  // A modal, owner-less box. An absent caption shows the platform's default
  // caption. Returns the button chosen (IDOK, IDYES, IDNO).
  virtual int ShowMessageBox(const common::WideString& text,
                             const common::WideString& caption,
                             std::uint32_t style) = 0;

  // A window with the title, a progress bar, the feed's lines and a Cancel
  // button (Escape and closing it cancel too), updated from the feed once to
  // ten times a second until the feed ends it or the user cancels; shown
  // only for runs that take long. Returns once it is gone; a desktop that
  // can show none returns at once, and the run goes on unseen.
  virtual void ShowProgress(const common::WideString& title,
                            ProgressFeed& feed) = 0;

  // From a run's start until its last box: where the desktop hears an
  // interrupt (Ctrl+C at a terminal), the first calls `cancel`, once, on a
  // thread of the desktop's own, whether or not a window shows; a second
  // ends the program. Held while the run lasts; null where the desktop
  // hears none (the default), and an interrupt is then what it always is.
  virtual std::unique_ptr<RunWatch> WatchRun(
      const std::function<void()>& /*cancel*/) {
    return nullptr;
  }
};

}  // namespace desktop
