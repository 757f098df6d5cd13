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
  // No best fit: a character the code page lacks becomes the code page's
  // default character, which names no file, never a look-alike (a fullwidth
  // letter or backslash read back as another file or a network path). UTF-8
  // has no best fit and takes no such flag.
  const UINT code_page = ::GetACP();
  const DWORD flags = code_page == CP_UTF8 ? 0 : WC_NO_BEST_FIT_CHARS;
  const int size = ::WideCharToMultiByte(code_page, flags, wide, units, nullptr,
                                         0, nullptr, nullptr);
  if (size <= 0) return false;
  bytes->resize(static_cast<std::size_t>(size));
  return ::WideCharToMultiByte(code_page, flags, wide, units, &(*bytes)[0],
                               size, nullptr, nullptr) == size;
}

}  // namespace platform
