#include "digest/digest_entry.h"

#include <algorithm>
#include <cstring>

#include "digest/hex_to_bytes.h"
#include "platform/code_page.h"

namespace digest {

static_assert(sizeof(DigestEntry) <= 64, "a million records must fit");

void DigestEntry::SetDigest(const char* bytes, std::size_t length) {
  // ASCII reads as itself in every ANSI code page, a byte a unit; only
  // other bytes need the conversion to be read as the code page reads them.
  const bool ascii = std::all_of(bytes, bytes + length, [](char c) {
    return static_cast<unsigned char>(c) < 0x80;
  });
  std::size_t count = 0;
  if (ascii) {
    count =
        HexToBytes(std::string_view(bytes, length), digest_, kMaxListedDigest);
  } else {
    const common::WideString text = platform::AnsiToWide(bytes, length);
    count = HexToBytes(text.CStr(), digest_, kMaxListedDigest);
  }
  decoded_ = static_cast<std::uint8_t>(count);
}

DigestEntry& DigestEntry::operator=(const DigestEntry& other) {
  if (this == &other) return *this;
  AssignName(other.NameData(), other.name_size_);
  CopyRecordFrom(other);
  return *this;
}

DigestEntry& DigestEntry::operator=(DigestEntry&& other) noexcept {
  if (this == &other) return *this;
  Release();
  // The union's bytes move as they are: the inline name, or the pointer.
  std::memcpy(inline_name_, other.inline_name_, sizeof inline_name_);
  name_size_ = other.name_size_;
  other.name_size_ = 0;
  CopyRecordFrom(other);
  return *this;
}

void DigestEntry::CopyRecordFrom(const DigestEntry& other) {
  algorithm_ = other.algorithm_;
  std::memcpy(digest_, other.digest_, sizeof digest_);
  decoded_ = other.decoded_;
  star_ = other.star_;
  utf8_ = other.utf8_;
}

void DigestEntry::Release() {
  if (name_size_ > kInlineName) delete[] heap_name_;
  name_size_ = 0;
}

// Throws std::bad_alloc where a long name finds no memory, as a string did.
void DigestEntry::AssignName(const char* bytes, std::size_t length) {
  char* heap = length > kInlineName ? new char[length] : nullptr;
  Release();
  std::memcpy(heap != nullptr ? heap : inline_name_, bytes, length);
  if (heap != nullptr) heap_name_ = heap;
  name_size_ = static_cast<std::uint32_t>(length);
}

void DigestEntry::SetName(const char* bytes, std::size_t length) {
  AssignName(bytes, length);
  utf8_ = false;
}

void DigestEntry::SetUtf8Name(const char* bytes, std::size_t length) {
  AssignName(bytes, length);
  utf8_ = true;
}

// HexToBytes with `size` as its maximum stores the first `size` of the bytes
// decoded here, or all of them when there are fewer.
bool DigestEntry::Matches(const std::uint8_t* computed,
                          std::uint32_t size) const {
  if (size > kMaxListedDigest) return false;
  const std::size_t decoded = std::min<std::size_t>(decoded_, size);
  return decoded == size && std::memcmp(computed, digest_, size) == 0;
}

common::WideString DigestEntry::GetName() const {
  return utf8_ ? platform::Utf8ToWide(NameData(), name_size_)
               : platform::AnsiToWide(NameData(), name_size_);
}

common::WideString DigestEntry::GetOtherName() const {
  if (utf8_) return common::WideString::Absent();
  return platform::OtherReading(NameData(), name_size_);
}

}  // namespace digest
