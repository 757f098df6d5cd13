#pragma once

#include <cstddef>
#include <cstdint>

#include "common/algorithm_id.h"
#include "common/wide_string.h"

// One record of a digest file.
class DigestEntry {
 public:
  // Both take `length` bytes in the system ANSI code page; 0 bytes give
  // an absent string.
  void SetDigest(const char* bytes, std::size_t length);
  void SetName(const char* bytes, std::size_t length);
  // From a list marked as UTF-8.
  void SetUtf8Name(const char* bytes, std::size_t length);
  void SetStar(std::uint8_t star) { star_ = star; }
  void SetAlgorithm(AlgorithmId algorithm) { algorithm_ = algorithm; }

  const WideString& GetDigest() const { return digest_; }
  const WideString& GetName() const { return name_; }
  // The name's UTF-8 reading where it differs from the code page's (a list
  // written elsewhere), opened when the name is not found; else absent.
  const WideString& GetOtherName() const { return other_name_; }
  std::uint8_t GetStar() const { return star_; }
  AlgorithmId GetAlgorithm() const { return algorithm_; }

 private:
  WideString digest_;
  WideString name_;
  WideString other_name_;
  std::uint8_t star_ = 0;  // recorded, never consulted: files are raw bytes
  AlgorithmId algorithm_ = CALG_MD5;
};
