#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "common/algorithm_id.h"
#include "digest/digest_list.h"

namespace digest {

enum class ListEncoding {
  kCodePage,  // names in the system ANSI code page
  kUtf8,      // a list that said so with a byte-order mark
};

// Turns digest file text into records of its list. The text may come in
// pieces of any size, as a file is read: what a record keeps is bounded
// (its first 128 digest digits, a name cut at the longest path), so a list
// costs memory in proportion to its records, never to its size.
class DigestParser {
 public:
  explicit DigestParser(DigestList& list) : list_(list) {}

  // `text` ends at its first zero byte. Appends one entry per record and
  // returns false at the first malformed one; entries before it stay.
  bool Parse(const char* text, common::AlgorithmId algorithm);

  // The same a piece at a time: Begin, Feed each piece in order while it
  // returns true, then Finish. A zero byte among a file's bytes ends its
  // text, and the file is malformed from there: a record whose name runs
  // up to the zero is kept, one cut in its digest or before its name is
  // dropped.
  void Begin(common::AlgorithmId algorithm, ListEncoding encoding);
  bool Feed(const char* bytes, std::size_t size);
  bool Finish();

  // For a file whose reading failed: its records go again.
  std::size_t Mark() const { return list_.Count(); }
  void DropFrom(std::size_t mark) { list_.Truncate(mark); }

 private:
  enum class State { kBetween, kToken, kGap, kName, kMalformed };
  bool Step(char c);
  bool Emit();

  DigestList& list_;
  common::AlgorithmId algorithm_ = common::CALG_MD5;
  ListEncoding encoding_ = ListEncoding::kCodePage;
  State state_ = State::kBetween;
  std::string token_;  // its first kMaxDigits bytes
  std::uint64_t token_length_ = 0;
  std::string name_;  // its first kMaxNameBytes bytes
  std::uint8_t star_ = 0;
};

}  // namespace digest
