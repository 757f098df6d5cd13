#include "digest/list_feed.h"

#include <algorithm>

#include "common/unicode.h"

namespace digest {

namespace {

constexpr char kUtf8Mark[] = "\xEF\xBB\xBF";
constexpr char kUtf16LeMark[] = "\xFF\xFE";

bool StartsWith(const std::string& text, const char* mark, std::size_t size) {
  return text.size() >= size && text.compare(0, size, mark, size) == 0;
}

}  // namespace

// Once three bytes are in (or the file ended), the mark is known.
bool ListFeed::Decide(bool at_end) {
  if (head_.size() < 3 && !at_end) return true;
  std::string head;
  head.swap(head_);
  if (StartsWith(head, kUtf8Mark, 3)) {
    mode_ = Mode::kAsItStands;
    parser_.Begin(algorithm_, ListEncoding::kUtf8);
    return parser_.Feed(head.data() + 3, head.size() - 3);
  }
  if (StartsWith(head, kUtf16LeMark, 2)) {
    mode_ = Mode::kUtf16Le;
    parser_.Begin(algorithm_, ListEncoding::kUtf8);
    return FeedUtf16Le(head.data() + 2, head.size() - 2);
  }
  mode_ = Mode::kAsItStands;
  parser_.Begin(algorithm_, ListEncoding::kCodePage);
  return parser_.Feed(head.data(), head.size());
}

bool ListFeed::Feed(const char* bytes, std::size_t size) {
  if (mode_ == Mode::kUndecided) {
    const std::size_t take = std::min<std::size_t>(size, 3 - head_.size());
    head_.append(bytes, take);
    bytes += take;
    size -= take;
    if (!Decide(false)) return false;
    if (mode_ == Mode::kUndecided) return true;
  }
  return mode_ == Mode::kUtf16Le ? FeedUtf16Le(bytes, size)
                                 : parser_.Feed(bytes, size);
}

bool ListFeed::FeedUtf16Le(const char* bytes, std::size_t size) {
  std::u16string units;
  units.swap(pending_);
  units.reserve(units.size() + size / 2 + 1);
  std::size_t i = 0;
  if (!odd_.empty() && size > 0) {
    units.push_back(
        static_cast<char16_t>(static_cast<unsigned char>(odd_[0]) |
                              (static_cast<unsigned char>(bytes[0]) << 8)));
    odd_.clear();
    i = 1;
  }
  for (; i + 1 < size; i += 2) {
    units.push_back(
        static_cast<char16_t>(static_cast<unsigned char>(bytes[i]) |
                              (static_cast<unsigned char>(bytes[i + 1]) << 8)));
  }
  if (i < size) odd_.assign(1, bytes[i]);
  // A pair split between two pieces is joined in the next one.
  if (!units.empty() && common::IsHighSurrogate(units.back())) {
    pending_.assign(1, units.back());
    units.pop_back();
  }
  const std::string text = common::EncodeWtf8(units);
  return parser_.Feed(text.data(), text.size());
}

bool ListFeed::Finish() {
  if (mode_ == Mode::kUndecided && !Decide(true)) return false;
  if (mode_ == Mode::kUtf16Le) {
    const std::string text = common::EncodeWtf8(pending_);
    pending_.clear();
    // A lone last byte is no character: the file is malformed there, as it
    // is at a zero unit.
    if (!parser_.Feed(text.data(), text.size()) || !odd_.empty()) {
      return false;
    }
  }
  return parser_.Finish();
}

}  // namespace digest
