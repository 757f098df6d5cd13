// Any bytes as a digest file: the parser and the hex decoder must neither
// crash nor read past the text, whatever they are given.
#include <cstddef>
#include <cstdint>
#include <string>

#include "digest/digest_parser.h"
#include "digest/hex_to_bytes.h"
#include "digest/list_text.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // Exactly the file's bytes, as the scan hands them over, marks and all.
  const std::string bytes(reinterpret_cast<const char*>(data), size);
  const ListText file(bytes.data(), bytes.size());
  DigestList list;
  DigestParser parser(list);
  parser.Parse(file.Text(), file.Size(), size % 2 ? CALG_SHA1 : CALG_MD5,
               file.Encoding());
  for (std::size_t slot = 0; slot < list.Count(); ++slot) {
    const auto entry = list.Take(slot);
    std::uint8_t bytes[64];
    const std::size_t max = entry->GetAlgorithm() == CALG_SHA1 ? 20 : 16;
    if (HexToBytes(entry->GetDigest().CStr(), bytes, max) > max)
      __builtin_trap();
  }
  return 0;
}
