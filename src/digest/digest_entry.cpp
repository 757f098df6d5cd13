#include "digest/digest_entry.h"

#include "platform/code_page.h"

void DigestEntry::SetDigest(const char* bytes, std::size_t length) {
  digest_ = platform::AnsiToWide(bytes, length);
}

void DigestEntry::SetName(const char* bytes, std::size_t length) {
  name_ = platform::AnsiToWide(bytes, length);
}
