#pragma once

#include "common/algorithm_id.h"
#include "digest/digest_list.h"

// Turns digest file text into records of its list.
class DigestParser {
 public:
  explicit DigestParser(DigestList& list) : list_(list) {}

  // `text` ends at its first zero byte. Appends one entry per record and
  // returns false at the first malformed one; entries before it stay.
  bool Parse(const char* text, AlgorithmId algorithm);

 private:
  DigestList& list_;
};
