#include "desktop/posix/terminal_desktop.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cwchar>
#include <string>

#include "common/unicode.h"
#include "desktop/posix/visible_text.h"
#include "platform/posix/locale_codec.h"
#include "progress/progress_texts.h"

namespace platform {
namespace posix {
namespace {

std::u16string_view IconWord(std::uint32_t style) {
  switch (platform::IconOf(style)) {
    case MB_ICONERROR:
      return u"エラー";
    case MB_ICONWARNING:
      return u"警告";
    case MB_ICONINFORMATION:
      return u"情報";
    case MB_ICONQUESTION:
      return u"確認";
    default:
      return u"";
  }
}

// The locale's charset where it can show every character, else UTF-8.
std::string ForTerminal(const std::u16string& text) {
  bool exact = true;
  std::string bytes = EncodeLocale(text, &exact);
  return exact ? bytes : EncodeUtf8(text);
}

bool WriteAll(int fd, const std::string& bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t put = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (put < 0 && errno == EINTR) continue;
    if (put <= 0) return false;
    done += static_cast<std::size_t>(put);
  }
  return true;
}

// One line, without its line end; false at the end of input.
bool ReadLine(int fd, std::string* line) {
  line->clear();
  for (;;) {
    char c;
    const ssize_t got = ::read(fd, &c, 1);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return !line->empty();
    if (c == '\n') return true;
    if (c != '\r') line->push_back(c);
  }
}

// Columns a character takes: the locale's answer, else two for the wide
// scripts.
int ColumnsOf(char32_t c) {
  const int width = ::wcwidth(static_cast<wchar_t>(c));
  if (width >= 0) return width;
  return c >= 0x2E80 ? 2 : 1;
}

// Whether Ctrl+C was pressed since the progress line showed. A signal
// handler can reach nothing but a static; this is the only one.
volatile std::sig_atomic_t interrupted = 0;

extern "C" void OnInterrupt(int) { interrupted = 1; }

// Ctrl+C cancels while it lives. The handler is installed once (the kernel
// puts the default action back when it runs), so a second Ctrl+C ends the
// program at once; a SIGINT the program was started to ignore stays so.
class InterruptScope {
 public:
  InterruptScope() {
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    interrupted = 0;
    installed_ = ::sigaction(SIGINT, nullptr, &previous_) == 0 &&
                 previous_.sa_handler != SIG_IGN &&
                 ::sigaction(SIGINT, &action, nullptr) == 0;
  }
  ~InterruptScope() {
    if (installed_) ::sigaction(SIGINT, &previous_, nullptr);
  }
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

  bool Pressed() const { return interrupted != 0; }

 private:
  struct sigaction previous_ = {};
  bool installed_ = false;
};

int TerminalColumns(int tty) {
  struct winsize size = {};
  if (::ioctl(tty, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
    return size.ws_col;
  }
  return 80;
}

}  // namespace

namespace {

int WidthOf(std::u16string_view text) {
  int width = 0;
  ForEachCodePoint(
      text, [&](std::uint32_t c, std::size_t) { width += ColumnsOf(c); });
  return width;
}

// The text's first `room` columns.
std::u16string Head(std::u16string_view text, int room) {
  std::size_t fits = 0;
  ForEachCodePoint(text, [&](std::uint32_t c, std::size_t units) {
    room -= ColumnsOf(c);
    if (room >= 0) fits += units;
  });
  return std::u16string(text.substr(0, fits));
}

// A name cut to `room` columns by losing its middle, which the ends tell
// apart least.
std::u16string CutMiddle(const std::u16string& name, int room) {
  const int width = WidthOf(name);
  if (width <= room) return name;
  const int tail_room = (room - 3) / 2;
  std::u16string head = Head(name, room - 3 - tail_room);
  // The tail: the last code points that fit in tail_room.
  std::size_t start = name.size();
  int used = 0;
  while (start > 0) {
    std::size_t begin = start - 1;
    if (begin > 0 && IsLowSurrogate(name[begin]) &&
        IsHighSurrogate(name[begin - 1])) {
      --begin;
    }
    int columns = 0;
    ForEachCodePoint(
        std::u16string_view(name).substr(begin, start - begin),
        [&](std::uint32_t c, std::size_t) { columns = ColumnsOf(c); });
    if (used + columns > tail_room) break;
    used += columns;
    start = begin;
  }
  return head + u"..." + name.substr(start);
}

}  // namespace

std::u16string FormatProgressLine(const WideString& title,
                                  const ProgressView& view, int columns) {
  enum Part { kTitle, kCounts, kSizes, kSpeed, kLeft, kName, kParts };
  std::u16string parts[kParts];
  parts[kTitle] = VisibleCaption(title);
  parts[kCounts] = progress::CountText(view.unit, view.done, view.all) + u"  " +
                   progress::PercentText(view.percent);
  if (view.bytes_known) {
    parts[kSizes] = progress::OfText(progress::DecimalSize(view.bytes_done),
                                     progress::DecimalSize(view.bytes_all));
  }
  if (view.speed_known) {
    parts[kSpeed] = progress::SpeedText(progress::DecimalSize(view.speed));
  }
  if (view.left_known) parts[kLeft] = progress::LeftText(view.seconds_left);
  // A tab too, shown as the other controls are: its width depends on
  // where it falls.
  std::u16string name;
  for (const char16_t unit :
       VisibleText(view.name.View(), LineEnds::kEscaped, true)) {
    if (unit == u'\t') {
      name += u"\\x09";
    } else {
      name += unit;
    }
  }
  // Where the line is too narrow: the name loses its middle; the title,
  // the speed and the sizes go to leave it some room; then the name goes,
  // then the time left; the counts and percentage are cut last.
  const int room = columns - 1;
  const auto width = [&] {
    int used = -2;
    for (const std::u16string& part : parts) {
      if (!part.empty()) used += WidthOf(part) + 2;
    }
    return used;
  };
  for (const Part part : {kTitle, kSpeed, kSizes}) {
    if (width() + 2 + std::min(WidthOf(name), 12) <= room) break;
    parts[part].clear();
  }
  const int name_room = room - width() - 2;
  if (!name.empty() && name_room >= 8) {
    parts[kName] = CutMiddle(name, name_room);
  }
  if (width() > room) parts[kLeft].clear();
  std::u16string line;
  for (const std::u16string& part : parts) {
    if (part.empty()) continue;
    if (!line.empty()) line += u"  ";
    line += part;
  }
  return Head(line, room);
}

int OpenTerminal() { return ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC); }

std::u16string FormatTerminalBox(const WideString& text,
                                 const WideString& caption,
                                 std::uint32_t style) {
  std::u16string box;
  const std::u16string_view icon = IconWord(style);
  if (!icon.empty()) box.append(u"[").append(icon).append(u"] ");
  box.append(VisibleCaption(caption));
  box.append(u"\n");
  box.append(VisibleBody(text));
  box.append(u"\n");
  return box;
}

bool IsYesAnswer(const std::string& line) {
  std::string word;
  for (char c : line) {
    if (c == ' ' || c == '\t') continue;
    word.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c);
  }
  if (word == "y" || word == "yes") return true;
  const std::u16string decoded = DecodeLocale(word.data(), word.size());
  // Also as UTF-8 bytes, for a terminal that does not follow the locale.
  return decoded == u"はい" || word == "\xE3\x81\xAF\xE3\x81\x84";
}

int TerminalDesktop::ShowMessageBox(const WideString& text,
                                    const WideString& caption,
                                    std::uint32_t style) {
  const bool yes_no = platform::IsYesNo(style);
  std::u16string box = FormatTerminalBox(text, caption, style);
  box.append(yes_no ? u"(y/n) " : u"[Enter] ");

  const int tty = OpenTerminal();
  if (tty < 0) {
    box.append(u"\n");
    WriteAll(STDERR_FILENO, ForTerminal(box));
    return yes_no ? IDNO : IDOK;
  }
  WriteAll(tty, "\n" + ForTerminal(box));
  std::string line;
  const bool answered = ReadLine(tty, &line);
  ::close(tty);
  if (!yes_no) return IDOK;
  return answered && IsYesAnswer(line) ? IDYES : IDNO;
}

void TerminalDesktop::ShowProgress(const WideString& title,
                                   ProgressFeed& feed) {
  const int tty = OpenTerminal();
  // Boxes go to standard error: a log, where redrawn lines are noise.
  if (tty < 0) return;
  const InterruptScope interrupt;
  ProgressView view;
  while (feed.Update(&view)) {
    if (interrupt.Pressed()) {
      feed.Cancel();
      break;
    }
    const std::u16string line =
        FormatProgressLine(title, view, TerminalColumns(tty));
    WriteAll(tty, "\r" + ForTerminal(line) + "\x1b[K");
    feed.Wait(250);
  }
  WriteAll(tty, "\r\x1b[K");
  ::close(tty);
}

}  // namespace posix
}  // namespace platform
