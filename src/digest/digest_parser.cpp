#include "digest/digest_parser.h"

#include <cstring>

namespace digest {

namespace {

// The digits a comparison can read: two per byte of the largest digest.
constexpr std::size_t kMaxDigits = 128;
// Past the longest path of any platform (32,767 UTF-16 units, three bytes
// each in UTF-8): a name cut here still names no file, and reads as not
// found, as the whole name would.
constexpr std::size_t kMaxNameBytes = 32767 * 3 + 1;

// Space, tab, carriage return and line feed.
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }
// A zero byte ends a run too: Step never sees one, Feed ends the text there.
bool EndsToken(char c) { return IsBlank(c) || c == '\0'; }
bool EndsName(char c) { return IsLineEnd(c) || c == '\0'; }

// Keeps the first `most` bytes of what a run adds to `kept`.
void AppendUpTo(std::string& kept, const char* from, const char* to,
                std::size_t most) {
  if (kept.size() >= most) return;
  const auto room = most - kept.size();
  const auto run = static_cast<std::size_t>(to - from);
  kept.append(from, run < room ? run : room);
}

}  // namespace

bool DigestParser::Parse(const char* text, common::AlgorithmId algorithm) {
  Begin(algorithm, ListEncoding::kCodePage);
  return Feed(text, std::strlen(text)) && Finish();
}

void DigestParser::Begin(common::AlgorithmId algorithm, ListEncoding encoding) {
  algorithm_ = algorithm;
  encoding_ = encoding;
  state_ = State::kBetween;
}

bool DigestParser::Feed(const char* bytes, std::size_t size) {
  const char* at = bytes;
  const char* const end = bytes + size;
  while (at < end && state_ != State::kMalformed) {
    // Most of a list is digits and names: their runs are taken at once, up
    // to the byte that ends them, which Step then reads as any other.
    if (state_ == State::kToken) {
      const char* stop = at;
      while (stop != end && !EndsToken(*stop)) ++stop;
      token_length_ += static_cast<std::uint64_t>(stop - at);
      AppendUpTo(token_, at, stop, kMaxDigits);
      at = stop;
    } else if (state_ == State::kName) {
      const char* stop = at;
      while (stop != end && !EndsName(*stop)) ++stop;
      AppendUpTo(name_, at, stop, kMaxNameBytes);
      at = stop;
    }
    if (at == end) break;
    if (*at == '\0') {
      // The text ends at a zero: a name that runs up to it is whole and
      // kept; the rest of the file is malformed.
      if (state_ == State::kName && !name_.empty()) Emit();
      state_ = State::kMalformed;
    } else if (!Step(*at)) {
      state_ = State::kMalformed;
    }
    ++at;
  }
  return state_ != State::kMalformed;
}

// A record: a digest token, blanks (line ends too, so the name may stand on
// a later line), an optional asterisk, and a name up to its line end.
bool DigestParser::Step(char c) {
  switch (state_) {
    case State::kBetween:
      if (IsBlank(c)) return true;
      token_.clear();
      token_length_ = 0;
      state_ = State::kToken;
      [[fallthrough]];
    case State::kToken:
      if (!IsBlank(c)) {
        if (token_.size() < kMaxDigits) token_.push_back(c);
        ++token_length_;
        return true;
      }
      if (token_length_ % 2 != 0) return false;
      state_ = State::kGap;
      return true;
    case State::kGap:
      if (IsBlank(c)) return true;
      name_.clear();
      star_ = c == '*' ? 1 : 0;
      state_ = State::kName;
      if (star_ != 0) return true;
      [[fallthrough]];
    case State::kName:
      if (IsLineEnd(c)) return Emit();
      if (name_.size() < kMaxNameBytes) name_.push_back(c);
      return true;
    case State::kMalformed:
      break;
  }
  return false;
}

bool DigestParser::Emit() {
  DigestEntry* entry = list_.Append();
  if (entry == nullptr) return false;
  entry->SetDigest(token_.data(), token_.size());
  if (encoding_ == ListEncoding::kUtf8) {
    entry->SetUtf8Name(name_.data(), name_.size());
  } else {
    entry->SetName(name_.data(), name_.size());
  }
  entry->SetStar(star_);
  entry->SetAlgorithm(algorithm_);
  state_ = State::kBetween;
  return true;
}

bool DigestParser::Finish() {
  switch (state_) {
    case State::kBetween:
      return true;
    case State::kName:
      return Emit();
    default:  // a token, or a token and blanks, with nothing after them
      state_ = State::kMalformed;
      return false;
  }
}

}  // namespace digest
