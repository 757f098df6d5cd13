#pragma once

#include <cstdint>

namespace common {

// The platform's hash algorithm identifier. The values are CryptoAPI's, so
// the Windows backend passes them through unchanged.
using AlgorithmId = std::uint32_t;

// <wincrypt.h> defines these as macros of the same value; a translation unit
// that includes it first simply keeps the platform's definition.
#ifndef CALG_MD5
constexpr AlgorithmId CALG_MD5 = 0x8003;
constexpr AlgorithmId CALG_SHA1 = 0x8004;
#endif

}  // namespace common
