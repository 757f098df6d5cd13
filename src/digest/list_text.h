#pragma once

#include <cstddef>
#include <string>

#include "digest/digest_parser.h"

// A digest file's bytes as the parser takes them. A UTF-8 byte-order mark
// (as Notepad saves) is skipped and marks the names as UTF-8; a UTF-16LE
// file (Notepad's "Unicode") is converted to UTF-8. Anything else is read
// as it stands, names in the code page.
class ListText {
 public:
  ListText(const char* bytes, std::size_t size);

  const char* Text() const { return text_; }
  std::size_t Size() const { return size_; }
  ListEncoding Encoding() const { return encoding_; }

 private:
  const char* text_;
  std::size_t size_;
  ListEncoding encoding_ = ListEncoding::kCodePage;
  std::string converted_;  // a UTF-16LE file's text
};
