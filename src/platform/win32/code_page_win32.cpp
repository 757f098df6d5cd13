#include <climits>
#include <string>
#include <utility>

#include "common/unicode.h"
#include "platform/code_page.h"
#include "platform/file.h"
#include "platform/win32/code_page_win32.h"
#include "platform/win32/windows_include.h"

namespace platform {
namespace {

common::WideString Convert(UINT code_page, DWORD flags, const char* bytes,
                           int size) {
  // The length first, then a string of exactly that many units.
  const int units =
      ::MultiByteToWideChar(code_page, flags, bytes, size, nullptr, 0);
  if (units <= 0) return common::WideString::Absent();
  std::u16string text(static_cast<std::size_t>(units), u'\0');
  ::MultiByteToWideChar(code_page, flags, bytes, size,
                        reinterpret_cast<wchar_t*>(&text[0]), units);
  return common::WideString(text);
}

// Strict UTF-8 (no invalid or overlong bytes), absent otherwise.
common::WideString FromUtf8(const char* bytes, std::size_t length) {
  if (length == 0 || length > INT_MAX) return common::WideString::Absent();
  return Convert(CP_UTF8, MB_ERR_INVALID_CHARS, bytes,
                 static_cast<int>(length));
}

bool HasLoneSurrogate(std::u16string_view text) {
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < text.size() &&
        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      ++i;
    } else if (unit >= 0xD800 && unit <= 0xDFFF) {
      return true;
    }
  }
  return false;
}

bool ToMultiByte(UINT code_page, DWORD flags, const common::WideString& text,
                 std::string* bytes, BOOL* lossy) {
  const auto* wide = reinterpret_cast<const wchar_t*>(text.CStr());
  const int units = static_cast<int>(text.Length());
  const int size = ::WideCharToMultiByte(code_page, flags, wide, units, nullptr,
                                         0, nullptr, lossy);
  if (size <= 0) return false;
  bytes->resize(static_cast<std::size_t>(size));
  return ::WideCharToMultiByte(code_page, flags, wide, units, &(*bytes)[0],
                               size, nullptr, lossy) == size;
}

// Whether another reading of the bytes written for `text` names another
// file, not a folder, of the folder: verification would check that file too.
bool NamesAnotherFile(const common::WideString& reading,
                      const common::WideString& text) {
  return !reading.IsAbsent() && reading != text && NamesFile(reading);
}

}  // namespace

common::WideString AnsiToWide(const char* bytes, std::size_t length) {
  return win32::AnsiToWideIn(::GetACP(), bytes, length);
}

// A lone surrogate from a UTF-16LE list comes as WTF-8, and opens that
// exact UTF-16 name.
common::WideString Utf8ToWide(const char* bytes, std::size_t length) {
  const common::WideString text = FromUtf8(bytes, length);
  if (!text.IsAbsent()) return text;
  std::u16string exact;
  if (length > 0 && common::DecodeWtf8(bytes, length, &exact)) {
    return common::WideString(exact);
  }
  return AnsiToWide(bytes, length);
}

common::WideString OtherReading(const char* bytes, std::size_t length) {
  return win32::OtherReadingIn(::GetACP(), bytes, length);
}

bool WideToAnsi(const common::WideString& text, std::string* bytes) {
  return win32::WideToAnsiIn(::GetACP(), text, bytes);
}

namespace win32 {

common::WideString AnsiToWideIn(unsigned code_page, const char* bytes,
                                std::size_t length) {
  if (length == 0) return common::WideString::Absent();
  if (length > INT_MAX) throw std::bad_alloc();
  const common::WideString text =
      Convert(code_page, 0, bytes, static_cast<int>(length));
  return text.IsAbsent() ? common::WideString(u"") : text;
}

// Where the code page is UTF-8, the code-page reading is the UTF-8 one.
common::WideString OtherReadingIn(unsigned code_page, const char* bytes,
                                  std::size_t length) {
  if (code_page == CP_UTF8) return common::WideString::Absent();
  bool non_ascii = false;
  for (std::size_t i = 0; i < length && !non_ascii; ++i) {
    non_ascii = (static_cast<unsigned char>(bytes[i]) & 0x80) != 0;
  }
  return non_ascii ? FromUtf8(bytes, length) : common::WideString::Absent();
}

bool WideToAnsiIn(unsigned code_page, const common::WideString& text,
                  std::string* bytes) {
  bytes->clear();
  if (text.Length() == 0) return true;
  if (text.Length() > INT_MAX / 3) {
    ::SetLastError(ERROR_INVALID_PARAMETER);
    return false;
  }
  // No code page holds a lone surrogate, which NTFS allows: UTF-8 would
  // write U+FFFD, a record for another name.
  if (HasLoneSurrogate(text.View())) {
    ::SetLastError(ERROR_NO_UNICODE_TRANSLATION);
    return false;
  }
  // No best fit: a character the code page lacks would become a look-alike
  // (a fullwidth letter or backslash read back as another file or a network
  // path). UTF-8 has no best fit; WC_ERR_INVALID_CHARS is for it alone.
  if (code_page == CP_UTF8) {
    return ToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, text, bytes, nullptr);
  }
  BOOL lossy = FALSE;
  if (!ToMultiByte(code_page, WC_NO_BEST_FIT_CHARS, text, bytes, &lossy)) {
    return false;
  }
  // In the code page, unless those bytes, read as UTF-8 as a list from
  // elsewhere is read too, name another file: in 1252 "Ã©" is the UTF-8 of
  // "é".
  if (!lossy &&
      !NamesAnotherFile(OtherReadingIn(code_page, bytes->data(), bytes->size()),
                        text)) {
    return true;
  }
  std::string utf8;
  if (!ToMultiByte(CP_UTF8, 0, text, &utf8, nullptr)) return false;
  // Else in UTF-8, unless those bytes, read in the code page as a
  // verification here reads them first, name another file: in code page 932
  // "café" in UTF-8 reads as "cafﾃｩ".
  if (NamesAnotherFile(AnsiToWideIn(code_page, utf8.data(), utf8.size()),
                       text)) {
    ::SetLastError(ERROR_FILE_EXISTS);
    return false;
  }
  *bytes = std::move(utf8);
  return true;
}

}  // namespace win32
}  // namespace platform
