#include "platform/system_error.h"
#include "platform/win32/windows_include.h"

namespace platform {

bool SystemErrorText(ErrorCode code, common::WideString* text) {
  wchar_t* buffer = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS |
          FORMAT_MESSAGE_ALLOCATE_BUFFER,
      nullptr, code, MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT),
      reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
  if (length == 0 || buffer == nullptr) return false;
  try {
    *text = common::WideString(
        std::u16string_view(reinterpret_cast<const char16_t*>(buffer), length));
  } catch (...) {
    ::LocalFree(buffer);
    throw;
  }
  ::LocalFree(buffer);
  return true;
}

}  // namespace platform
