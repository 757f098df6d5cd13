#pragma once

#include <cstddef>
#include <cstdint>

#include "common/algorithm_id.h"
#include "common/wide_string.h"

// One record of a digest file.
class DigestEntry {
 public:
  // Both take `length` bytes in the thread's ANSI code page; 0 bytes give
  // an absent string.
  void SetDigest(const char* bytes, std::size_t length);
  void SetName(const char* bytes, std::size_t length);
  void SetStar(std::uint8_t star) { star_ = star; }
  void SetAlgorithm(AlgorithmId algorithm) { algorithm_ = algorithm; }

  const WideString& GetDigest() const { return digest_; }
  const WideString& GetName() const { return name_; }
  std::uint8_t GetStar() const { return star_; }
  AlgorithmId GetAlgorithm() const { return algorithm_; }

 private:
  WideString digest_;
  WideString name_;
  std::uint8_t star_ = 0;  // recorded, never consulted: files are raw bytes
  AlgorithmId algorithm_ = CALG_MD5;
};
