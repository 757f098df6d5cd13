#include "desktop/posix/terminal_desktop.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <string>
#include <utility>

#include "common/unicode.h"
#include "desktop/posix/interrupt_watch.h"
#include "desktop/posix/visible_text.h"
#include "platform/locale_codec.h"

namespace desktop {
namespace posix {
namespace {

std::u16string_view IconWord(std::uint32_t style) {
  switch (IconOf(style)) {
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
  std::string bytes = platform::EncodeLocale(text, &exact);
  return exact ? bytes : common::EncodeUtf8(text);
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

// The signal that came since the progress line showed (SIGTERM, SIGHUP),
// or 0. A signal handler can reach nothing but a static.
volatile std::sig_atomic_t interrupted = 0;

extern "C" void OnInterrupt(int signal) { interrupted = signal; }

constexpr int kSignals[] = {SIGTERM, SIGHUP};

// SIGTERM and SIGHUP end the loop, which erases the line before the signal
// is raised again (seen at the next redraw); Ctrl+C is the run's watch's. Each
// handler is installed once (the kernel puts the default action back when it
// runs), so a second signal acts at once; a signal the program was started to
// ignore stays ignored.
class InterruptScope {
 public:
  InterruptScope() {
    struct sigaction action = {};
    action.sa_handler = OnInterrupt;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESETHAND | SA_RESTART;
    interrupted = 0;
    for (std::size_t i = 0; i < kCount; ++i) {
      installed_[i] = ::sigaction(kSignals[i], nullptr, &previous_[i]) == 0 &&
                      previous_[i].sa_handler != SIG_IGN &&
                      ::sigaction(kSignals[i], &action, nullptr) == 0;
    }
  }
  ~InterruptScope() { Restore(); }
  InterruptScope(const InterruptScope&) = delete;
  InterruptScope& operator=(const InterruptScope&) = delete;

  int Signal() const { return interrupted; }
  void Restore() {
    for (std::size_t i = 0; i < kCount; ++i) {
      if (installed_[i]) ::sigaction(kSignals[i], &previous_[i], nullptr);
      installed_[i] = false;
    }
  }

 private:
  static constexpr std::size_t kCount = sizeof kSignals / sizeof kSignals[0];
  struct sigaction previous_[kCount] = {};
  bool installed_[kCount] = {};
};

// Whether the terminal takes the escape that erases a line: TERM=dumb
// (Emacs' shell, some IDE consoles) does not.
bool ErasesLines() {
  const char* term = std::getenv("TERM");
  return term == nullptr || std::string(term) != "dumb";
}

int TerminalColumns(int tty) {
  struct winsize size = {};
  if (::ioctl(tty, TIOCGWINSZ, &size) == 0 && size.ws_col > 0) {
    return size.ws_col;
  }
  return 80;
}

}  // namespace

int OpenTerminal() { return ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC); }

namespace {

// Calls show(piece) for the box in order: the icon and caption, the text's
// pieces, the closing line feed.
template <typename Show>
void ForEachBoxPiece(const common::WideString& text,
                     const common::WideString& caption, std::uint32_t style,
                     Show show) {
  std::u16string head;
  const std::u16string_view icon = IconWord(style);
  if (!icon.empty()) head.append(u"[").append(icon).append(u"] ");
  head.append(VisibleCaption(caption));
  head.append(u"\n");
  if (show(head) && ForEachVisiblePiece(text, show)) show(u"\n");
}

// Writes the box and `answer`: in the locale's charset where it can show
// every character of them, else in UTF-8.
void WriteBox(int fd, const common::WideString& text,
              const common::WideString& caption, std::uint32_t style,
              std::u16string_view answer) {
  // Visible text holds neither lone surrogates nor undecodable bytes: in
  // UTF-8 every piece is exact, and only another charset must be asked.
  bool exact = true;
  if (!platform::LocaleIsUtf8()) {
    ForEachBoxPiece(text, caption, style, [&](std::u16string_view piece) {
      platform::EncodeLocale(piece, &exact);
      return exact;
    });
    if (exact) platform::EncodeLocale(answer, &exact);
  }
  const auto encode = [exact](std::u16string_view piece) {
    return exact ? platform::EncodeLocale(piece) : common::EncodeUtf8(piece);
  };
  ForEachBoxPiece(text, caption, style, [&](std::u16string_view piece) {
    return WriteAll(fd, encode(piece));
  });
  WriteAll(fd, encode(answer));
}

}  // namespace

std::u16string FormatTerminalBox(const common::WideString& text,
                                 const common::WideString& caption,
                                 std::uint32_t style) {
  std::u16string box;
  ForEachBoxPiece(text, caption, style, [&](std::u16string_view piece) {
    box.append(piece);
    return true;
  });
  return box;
}

bool IsYesAnswer(const std::string& line) {
  std::string word;
  for (char c : line) {
    if (c == ' ' || c == '\t') continue;
    word.push_back(c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c);
  }
  if (word == "y" || word == "yes") return true;
  const std::u16string decoded =
      platform::DecodeLocale(word.data(), word.size());
  // Also as UTF-8 bytes, for a terminal that does not follow the locale.
  return decoded == u"はい" || word == "\xE3\x81\xAF\xE3\x81\x84";
}

int TerminalDesktop::ShowMessageBox(const common::WideString& text,
                                    const common::WideString& caption,
                                    std::uint32_t style) {
  const bool yes_no = IsYesNo(style);
  const std::u16string_view answer = yes_no ? u"(y/n) " : u"[Enter] ";
  int tty = OpenTerminal();
  const bool out_of_descriptors = errno == EMFILE || errno == ENFILE;
  if (tty < 0 && out_of_descriptors && ::isatty(STDIN_FILENO) == 1 &&
      ::isatty(STDERR_FILENO) == 1) {
    // No descriptor left to open the terminal with (a box that says so):
    // the terminal the standard streams already hold answers it.
    tty = STDIN_FILENO;
  }
  if (tty < 0) {
    WriteBox(STDERR_FILENO, text, caption, style,
             std::u16string(answer) + u"\n");
    return yes_no ? IDNO : IDOK;
  }
  const int out = tty == STDIN_FILENO ? STDERR_FILENO : tty;
  WriteAll(out, "\n");
  WriteBox(out, text, caption, style, answer);
  std::string line;
  const bool answered = ReadLine(tty, &line);
  if (tty != STDIN_FILENO) ::close(tty);
  if (!yes_no) return IDOK;
  return answered && IsYesAnswer(line) ? IDYES : IDNO;
}

std::unique_ptr<RunWatch> TerminalDesktop::WatchRun(
    const std::function<void()>& cancel) {
  return WatchInterrupt(cancel);
}

void TerminalDesktop::ShowProgress(const common::WideString& title,
                                   ProgressFeed& feed) {
  const int tty = OpenTerminal();
  // Boxes go to standard error: a log, where redrawn lines are noise.
  if (tty < 0) return;
  InterruptScope interrupt;
  const bool erases = ErasesLines();
  ProgressView view;
  int signal = 0;
  for (int update = 0; feed.Update(&view); ++update) {
    signal = interrupt.Signal();
    if (signal != 0) break;
    const std::string line =
        ForTerminal(FormatProgressLine(title, view, TerminalColumns(tty)));
    // Without the escape, a plain line every 5 s rather than one a redraw.
    if (erases) {
      WriteAll(tty, "\r" + line + "\x1b[K");
    } else if (update % 20 == 0) {
      WriteAll(tty, line + "\n");
    }
    // The redraw's period; a cancel or the run's end wakes it sooner.
    feed.Wait(250);
  }
  if (erases) WriteAll(tty, "\r\x1b[K");
  ::close(tty);
  // Ended by SIGTERM or SIGHUP: the line is gone; now as the signal does.
  if (signal != 0) {
    interrupt.Restore();
    ::raise(signal);
  }
}

}  // namespace posix
}  // namespace desktop
