#pragma once

#include <cstddef>
#include <memory>

#include "common/wide_string.h"

// A file's bytes with a zero byte after them.
struct FileContent {
  std::unique_ptr<char[]> bytes;
  std::size_t size = 0;  // without the zero byte

  const char* Text() const { return bytes.get(); }
};

// Reads the whole file. Returns false, leaving the reason as the last error,
// when it cannot be opened, sized, held in memory or read. The text ends
// after the bytes actually read, should the file shrink meanwhile.
bool ReadWholeFile(const WideString& name, FileContent* content);
