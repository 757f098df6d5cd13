#include "digest/digest_parser.h"

#include <memory>
#include <new>

namespace {

// Space, tab, carriage return and line feed.
bool IsBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool IsLineEnd(char c) { return c == '\r' || c == '\n'; }

}  // namespace

bool DigestParser::Parse(const char* text, AlgorithmId algorithm) {
  const char* p = text;
  while (*p != '\0') {
    while (IsBlank(*p)) ++p;
    if (*p == '\0') return true;

    const char* token = p;
    while (*p != '\0' && !IsBlank(*p)) ++p;
    if (*p == '\0') return false;
    const std::size_t token_length = static_cast<std::size_t>(p - token);
    if (token_length % 2 != 0) return false;

    // Line ends count as blanks here: the name may stand on a later line.
    while (IsBlank(*p)) ++p;
    if (*p == '\0') return false;

    std::uint8_t star = 0;
    if (*p == '*') {
      star = 1;
      ++p;
    }
    const char* name = p;
    while (*p != '\0' && !IsLineEnd(*p)) ++p;

    std::unique_ptr<DigestEntry> entry(new (std::nothrow) DigestEntry);
    if (!entry) return false;
    entry->SetDigest(token, token_length);
    entry->SetName(name, static_cast<std::size_t>(p - name));
    entry->SetStar(star);
    entry->SetAlgorithm(algorithm);
    list_.Append(std::move(entry));
  }
  return true;
}
