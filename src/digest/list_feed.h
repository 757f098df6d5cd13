#pragma once

#include <cstddef>
#include <string>

#include "common/algorithm_id.h"
#include "digest/digest_parser.h"

namespace digest {

// Hands a digest file's bytes to the parser as they are read. A UTF-8
// byte-order mark (as Notepad saves) is skipped and marks the names as
// UTF-8; a UTF-16LE file (Notepad's "Unicode") is converted to UTF-8 on the
// way, a lone surrogate kept as its WTF-8 bytes, never replaced. Anything
// else goes as it stands, names in the code page.
class ListFeed {
 public:
  ListFeed(DigestParser& parser, common::AlgorithmId algorithm)
      : parser_(parser), algorithm_(algorithm) {}

  // False once the file is malformed: nothing more need be read.
  bool Feed(const char* bytes, std::size_t size);
  // After the last piece: false when the file ended malformed.
  bool Finish();

 private:
  enum class Mode { kUndecided, kAsItStands, kUtf16Le };
  bool Decide(bool at_end);
  bool FeedUtf16Le(const char* bytes, std::size_t size);

  DigestParser& parser_;
  common::AlgorithmId algorithm_;
  Mode mode_ = Mode::kUndecided;
  std::string head_;        // the first bytes, until the mark is known
  std::string odd_;         // a UTF-16LE byte waiting for its pair
  std::u16string pending_;  // a high surrogate waiting for its low one
};

}  // namespace digest
