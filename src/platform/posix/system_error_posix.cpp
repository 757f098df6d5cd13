#include <cstring>

#include "platform/locale_codec.h"
#include "platform/system_error.h"

namespace platform {

bool SystemErrorText(ErrorCode code, common::WideString* text) {
  // strerror speaks the language of LC_MESSAGES, in the locale's charset.
  const char* message = std::strerror(static_cast<int>(code));
  if (message == nullptr || *message == '\0') return false;
  *text = common::WideString(DecodeLocale(message, std::strlen(message)));
  return true;
}

}  // namespace platform
