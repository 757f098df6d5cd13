#include "digest/digest_entry.h"

#include "platform/code_page.h"

void DigestEntry::SetDigest(const char* bytes, std::size_t length) {
  digest_ = platform::AnsiToWide(bytes, length);
}

void DigestEntry::SetName(const char* bytes, std::size_t length) {
  name_ = platform::AnsiToWide(bytes, length);
  other_name_ = platform::OtherReading(bytes, length);
}

void DigestEntry::SetUtf8Name(const char* bytes, std::size_t length) {
  name_ = platform::Utf8ToWide(bytes, length);
}
