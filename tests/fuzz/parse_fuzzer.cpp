// Any bytes as a digest file: the parser and the hex decoder must neither
// crash nor read past the text, whatever they are given.
#include <cstddef>
#include <cstdint>
#include <string>

#include "digest/digest_parser.h"
#include "digest/hex_to_bytes.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // The reader stores a zero byte after the data.
  const std::string text(reinterpret_cast<const char*>(data), size);
  DigestList list;
  DigestParser parser(list);
  parser.Parse(text.c_str(), size % 2 ? CALG_SHA1 : CALG_MD5);
  for (std::size_t slot = 0; slot < list.Count(); ++slot) {
    const auto entry = list.Take(slot);
    std::uint8_t bytes[64];
    const std::size_t max = entry->GetAlgorithm() == CALG_SHA1 ? 20 : 16;
    if (HexToBytes(entry->GetDigest().CStr(), bytes, max) > max)
      __builtin_trap();
  }
  return 0;
}
