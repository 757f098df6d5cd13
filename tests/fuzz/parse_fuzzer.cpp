// Any bytes as a digest file: the parser and the hex decoder must neither
// crash nor read past the text, whatever they are given.
#include <cstddef>
#include <cstdint>
#include <string>

#include "digest/digest_parser.h"
#include "digest/list_feed.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // Fed in two pieces, split where the first byte says.
  const auto* bytes = reinterpret_cast<const char*>(data);
  const std::size_t split = size == 0 ? 0 : data[0] % (size + 1);
  digest::DigestList list;
  digest::DigestParser parser(list);
  digest::ListFeed feed(parser,
                        size % 2 ? common::CALG_SHA1 : common::CALG_MD5);
  if (feed.Feed(bytes, split)) feed.Feed(bytes + split, size - split);
  feed.Finish();
  for (std::size_t slot = 0; slot < list.Count(); ++slot) {
    const digest::DigestEntry* entry = list.At(slot);
    if (entry->GetDigest().size() > digest::kMaxListedDigest) __builtin_trap();
  }
  return 0;
}
