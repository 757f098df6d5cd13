#include "common/wide_string.h"

void WideString::Append(std::u16string_view text) {
  text_.append(text);
  present_ = true;
}

void WideString::Append(const WideString& text) {
  if (text.IsAbsent()) return;
  Append(text.View());
}
