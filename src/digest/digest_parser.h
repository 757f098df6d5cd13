#pragma once

#include <cstddef>

#include "common/algorithm_id.h"
#include "digest/digest_list.h"

enum class ListEncoding {
  kCodePage,  // names in the thread's ANSI code page
  kUtf8,      // a list that said so with a byte-order mark
};

// Turns digest file text into records of its list.
class DigestParser {
 public:
  explicit DigestParser(DigestList& list) : list_(list) {}

  // `text` ends at its first zero byte. Appends one entry per record and
  // returns false at the first malformed one; entries before it stay.
  bool Parse(const char* text, AlgorithmId algorithm);
  // A file's `size` bytes. A zero byte among them makes the file malformed
  // there: the record it falls in is dropped, since a zero must not cut a
  // name short and so name another file.
  bool Parse(const char* text, std::size_t size, AlgorithmId algorithm,
             ListEncoding encoding);

 private:
  DigestList& list_;
};
