#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace common {

// UTF-16 text owned by one holder, which may hold no string at all (absent).
// Appending absent text changes nothing; appending present text, even empty
// text, makes the string present. Constructing or appending to a string
// that finds no memory throws std::bad_alloc: a report never goes on
// without one of its pieces, and the run ends with the memory box.
class WideString {
 public:
  WideString() = default;
  explicit WideString(std::u16string_view text) : text_(text), present_(true) {}

  static WideString Absent() { return WideString(); }

  bool IsAbsent() const { return !present_; }
  bool IsEmpty() const { return !present_ || text_.empty(); }
  std::size_t Length() const { return text_.size(); }

  // Never null; an absent string reads as "".
  const char16_t* CStr() const { return text_.c_str(); }
  std::u16string_view View() const { return text_; }

  void Append(std::u16string_view text);
  void Append(const WideString& text);
  // Room for `units` in all, so that appends up to there move nothing; a
  // hint only: without the memory, appends grow the string as they go.
  void Reserve(std::size_t units);

  bool operator==(const WideString& other) const {
    return present_ == other.present_ && text_ == other.text_;
  }
  bool operator!=(const WideString& other) const { return !(*this == other); }

 private:
  std::u16string text_;
  bool present_ = false;
};

}  // namespace common
