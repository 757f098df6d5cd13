#include "digest/digest_parser.h"

#include <cstring>
#include <memory>
#include <new>

namespace {

// Space, tab, carriage return and line feed.
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

}  // namespace

bool DigestParser::Parse(const char* text, AlgorithmId algorithm) {
  return Parse(text, std::strlen(text), algorithm, ListEncoding::kCodePage);
}

bool DigestParser::Parse(const char* text, std::size_t size,
                         AlgorithmId algorithm, ListEncoding encoding) {
  const char* p = text;
  const char* const end = text + size;
  // A zero byte stops every scan below as the end of the text would, but
  // makes the file malformed instead of ending it.
  while (p != end) {
    while (p != end && IsBlank(*p)) ++p;
    if (p == end) return true;

    const char* token = p;
    while (p != end && *p != '\0' && !IsBlank(*p)) ++p;
    if (p == end || *p == '\0') return false;
    const std::size_t token_length = static_cast<std::size_t>(p - token);
    if (token_length % 2 != 0) return false;

    // Line ends count as blanks here: the name may stand on a later line.
    while (p != end && IsBlank(*p)) ++p;
    if (p == end || *p == '\0') return false;

    std::uint8_t star = 0;
    if (*p == '*') {
      star = 1;
      ++p;
    }
    const char* name = p;
    while (p != end && *p != '\0' && !IsLineEnd(*p)) ++p;
    if (p != end && *p == '\0') return false;

    std::unique_ptr<DigestEntry> entry(new (std::nothrow) DigestEntry);
    if (!entry) return false;
    entry->SetDigest(token, token_length);
    const auto name_length = static_cast<std::size_t>(p - name);
    if (encoding == ListEncoding::kUtf8) {
      entry->SetUtf8Name(name, name_length);
    } else {
      entry->SetName(name, name_length);
    }
    entry->SetStar(star);
    entry->SetAlgorithm(algorithm);
    list_.Append(std::move(entry));
  }
  return true;
}
