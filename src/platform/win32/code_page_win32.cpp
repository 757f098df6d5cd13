#include <climits>

#include "platform/code_page.h"
#include "platform/win32/windows_include.h"

namespace platform {

WideString AnsiToWide(const char* bytes, std::size_t length) {
  if (length == 0) return WideString::Absent();
  if (length > INT_MAX) throw std::bad_alloc();
  const int size = static_cast<int>(length);
  // The length first, then a string of exactly that many units.
  const int units =
      ::MultiByteToWideChar(CP_THREAD_ACP, 0, bytes, size, nullptr, 0);
  std::u16string text(static_cast<std::size_t>(units > 0 ? units : 0), u'\0');
  if (units > 0) {
    ::MultiByteToWideChar(CP_THREAD_ACP, 0, bytes, size,
                          reinterpret_cast<wchar_t*>(&text[0]), units);
  }
  return WideString(text);
}

bool WideToAnsi(const WideString& text, std::string* bytes) {
  bytes->clear();
  if (text.Length() == 0) return true;
  if (text.Length() > INT_MAX) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  const auto* wide = reinterpret_cast<const wchar_t*>(text.CStr());
  const int units = static_cast<int>(text.Length());
  // Flags 0 and no default character of our own: a character the code page
  // lacks becomes its close equivalent or the code page's default.
  const UINT code_page = ::GetACP();
  const int size = ::WideCharToMultiByte(code_page, 0, wide, units, nullptr, 0,
                                         nullptr, nullptr);
  if (size <= 0) return false;
  bytes->resize(static_cast<std::size_t>(size));
  return ::WideCharToMultiByte(code_page, 0, wide, units, &(*bytes)[0], size,
                               nullptr, nullptr) == size;
}

}  // namespace platform
