#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace digest {

// Decodes zero-terminated hex text into at most `max` bytes and returns how
// many it stored. Any unit that is not a hex digit counts as 0; a final
// unpaired digit is dropped.
std::size_t HexToBytes(const char16_t* text, std::uint8_t* out,
                       std::size_t max);
// The same over ASCII digits.
std::size_t HexToBytes(std::string_view text, std::uint8_t* out,
                       std::size_t max);

}  // namespace digest
