#include "digest/digest_entry.h"

#include <algorithm>
#include <cstring>

#include "digest/hex_to_bytes.h"
#include "platform/code_page.h"

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
    const WideString text = platform::AnsiToWide(bytes, length);
    count = HexToBytes(text.CStr(), digest_, kMaxListedDigest);
  }
  decoded_ = static_cast<std::uint8_t>(count);
}

void DigestEntry::SetName(const char* bytes, std::size_t length) {
  name_.assign(bytes, length);
  utf8_ = false;
}

void DigestEntry::SetUtf8Name(const char* bytes, std::size_t length) {
  name_.assign(bytes, length);
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

WideString DigestEntry::GetName() const {
  return utf8_ ? platform::Utf8ToWide(name_.data(), name_.size())
               : platform::AnsiToWide(name_.data(), name_.size());
}

WideString DigestEntry::GetOtherName() const {
  if (utf8_) return WideString::Absent();
  return platform::OtherReading(name_.data(), name_.size());
}
