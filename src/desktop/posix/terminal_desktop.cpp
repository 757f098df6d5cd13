#include "desktop/posix/terminal_desktop.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "common/unicode.h"
#include "desktop/posix/visible_text.h"
#include "platform/posix/locale_codec.h"

namespace platform {
namespace posix {
namespace {

std::u16string_view IconWord(std::uint32_t style) {
  switch (platform::IconOf(style)) {
    case MB_ICONERROR:
      return u"エラー";
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

}  // namespace

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

}  // namespace posix
}  // namespace platform
