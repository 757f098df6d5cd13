#include "common/wide_string.h"

#include <new>

bool WideString::Append(std::u16string_view text) {
  try {
    text_.append(text);
  } catch (const std::bad_alloc&) {
    return false;  // std::u16string::append leaves the string unchanged
  }
  present_ = true;
  return true;
}

bool WideString::Append(const WideString& text) {
  if (text.IsAbsent()) return true;
  return Append(text.View());
}
