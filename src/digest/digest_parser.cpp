#include "digest/digest_parser.h"

#include <cstring>
#include <memory>
#include <new>

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

}  // namespace

bool DigestParser::Parse(const char* text, AlgorithmId algorithm) {
  Begin(algorithm, ListEncoding::kCodePage);
  return Feed(text, std::strlen(text)) && Finish();
}

void DigestParser::Begin(AlgorithmId algorithm, ListEncoding encoding) {
  algorithm_ = algorithm;
  encoding_ = encoding;
  state_ = State::kBetween;
}

bool DigestParser::Feed(const char* bytes, std::size_t size) {
  for (std::size_t i = 0; i < size && state_ != State::kMalformed; ++i) {
    if (bytes[i] == '\0' || !Step(bytes[i])) state_ = State::kMalformed;
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
  std::unique_ptr<DigestEntry> entry(new (std::nothrow) DigestEntry);
  if (!entry) return false;
  entry->SetDigest(token_.data(), token_.size());
  if (encoding_ == ListEncoding::kUtf8) {
    entry->SetUtf8Name(name_.data(), name_.size());
  } else {
    entry->SetName(name_.data(), name_.size());
  }
  entry->SetStar(star_);
  entry->SetAlgorithm(algorithm_);
  list_.Append(std::move(entry));
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
