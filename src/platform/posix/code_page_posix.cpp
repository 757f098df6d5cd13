#include "platform/code_page.h"
#include "platform/posix/locale_codec.h"

namespace platform {

WideString AnsiToWide(const char* bytes, std::size_t length) {
  if (length == 0) return WideString::Absent();
  return WideString(posix::DecodeLocale(bytes, length));
}

bool WideToAnsi(const WideString& text, std::string* bytes) {
  *bytes = posix::EncodeLocale(text.View());
  return true;
}

}  // namespace platform
