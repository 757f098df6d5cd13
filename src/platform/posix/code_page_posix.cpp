#include "platform/code_page.h"
#include "platform/locale_codec.h"

namespace platform {

WideString AnsiToWide(const char* bytes, std::size_t length) {
  if (length == 0) return WideString::Absent();
  return WideString(DecodeLocale(bytes, length));
}

WideString Utf8ToWide(const char* bytes, std::size_t length) {
  return AnsiToWide(bytes, length);
}

WideString OtherReading(const char* /*bytes*/, std::size_t /*length*/) {
  return WideString::Absent();  // names are bytes: one reading only
}

bool WideToAnsi(const WideString& text, std::string* bytes) {
  *bytes = EncodeLocale(text.View());
  return true;
}

}  // namespace platform
