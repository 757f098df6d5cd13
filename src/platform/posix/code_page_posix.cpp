#include "platform/code_page.h"
#include "platform/locale_codec.h"

namespace platform {

common::WideString AnsiToWide(const char* bytes, std::size_t length) {
  if (length == 0) return common::WideString::Absent();
  return common::WideString(DecodeLocale(bytes, length));
}

common::WideString Utf8ToWide(const char* bytes, std::size_t length) {
  return AnsiToWide(bytes, length);
}

common::WideString OtherReading(const char* /*bytes*/, std::size_t /*length*/) {
  return common::WideString::Absent();  // names are bytes: one reading only
}

bool WideToAnsi(const common::WideString& text, std::string* bytes) {
  *bytes = EncodeLocale(text.View());
  return true;
}

}  // namespace platform
