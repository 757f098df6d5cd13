#pragma once

#include "desktop/posix/keyboard_desktop.h"

namespace desktop {
namespace posix {

// Message boxes on the controlling terminal: the icon's word, the caption
// and the text; OK waits for Enter, Yes/No reads one answer. With no
// terminal the box goes to standard error, OK returns at once and Yes/No
// answers No.
class TerminalDesktop : public KeyboardDesktop {
 public:
  int ShowMessageBox(const common::WideString& text,
                     const common::WideString& caption,
                     std::uint32_t style) override;
  // One line on the terminal, redrawn in place and erased at the end (with
  // TERM=dumb, a plain line every few seconds); Ctrl+C cancels through the
  // run's watch (WatchRun), which ends the line at once; SIGTERM and SIGHUP
  // erase the line, then act as they would. With no terminal nothing is
  // shown.
  void ShowProgress(const common::WideString& title,
                    ProgressFeed& feed) override;
  // Ctrl+C at the controlling terminal, where there is one.
  std::unique_ptr<RunWatch> WatchRun(
      const std::function<void()>& cancel) override;
};

// The progress line as the terminal shows it, cut to `columns` less three,
// so that the terminal never wraps it, nor the "^C" it echoes after it.
std::u16string FormatProgressLine(const common::WideString& title,
                                  const ProgressView& view, int columns);

// The controlling terminal, for reading and writing; -1 when there is none.
int OpenTerminal();

// The box as the terminal shows it, in UTF-16, before any answer, with its
// caption and text made visible (VisibleText).
std::u16string FormatTerminalBox(const common::WideString& text,
                                 const common::WideString& caption,
                                 std::uint32_t style);

// Only y, yes or はい, in any case, mean Yes.
bool IsYesAnswer(const std::string& line);

}  // namespace posix
}  // namespace desktop
