#include "common/wide_string.h"

#include <new>

namespace common {

void WideString::Append(std::u16string_view text) {
  text_.append(text);
  present_ = true;
}

void WideString::Append(const WideString& text) {
  if (text.IsAbsent()) return;
  Append(text.View());
}

void WideString::Reserve(std::size_t units) {
  try {
    text_.reserve(units);
  } catch (const std::bad_alloc&) {
    // Growing as the appends come needs less at once.
  }
}

}  // namespace common
