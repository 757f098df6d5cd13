#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "common/algorithm_id.h"
#include "common/wide_string.h"

// The most digest bytes a record keeps: SHA-1's 20, the largest digest the
// program makes. A comparison reads no further.
constexpr std::size_t kMaxListedDigest = 20;

// One record of a digest file, the size of what it says: its digest decoded
// once, as the comparison reads it, and its name's bytes as read, converted
// where the name is opened or shown. A million records must fit in memory.
class DigestEntry {
 public:
  // Decodes the `length` digits as HexToBytes reads their UTF-16 text in
  // the system ANSI code page: a pair of digits a byte, any other unit 0.
  void SetDigest(const char* bytes, std::size_t length);
  // `length` bytes in the system ANSI code page; none give an absent name.
  void SetName(const char* bytes, std::size_t length);
  // From a list marked as UTF-8.
  void SetUtf8Name(const char* bytes, std::size_t length);
  void SetStar(std::uint8_t star) { star_ = star; }
  void SetAlgorithm(AlgorithmId algorithm) { algorithm_ = algorithm; }

  // The digest as decoded, at most kMaxListedDigest bytes.
  std::vector<std::uint8_t> GetDigest() const {
    return std::vector<std::uint8_t>(digest_, digest_ + decoded_);
  }
  // Whether the listed digest decodes to exactly these `size` bytes.
  bool Matches(const std::uint8_t* computed, std::uint32_t size) const;
  // The name converted, on each call.
  WideString GetName() const;
  // The name's UTF-8 reading where it differs from the code page's (a list
  // written elsewhere), opened when the name is not found; else absent.
  WideString GetOtherName() const;
  // An upper bound of the UTF-16 units of either reading of the name.
  std::size_t NameBytes() const { return name_.size(); }
  std::uint8_t GetStar() const { return star_; }
  AlgorithmId GetAlgorithm() const { return algorithm_; }

 private:
  std::string name_;
  std::uint8_t digest_[kMaxListedDigest] = {};
  std::uint8_t decoded_ = 0;  // bytes of digest_ the digits filled
  std::uint8_t star_ = 0;     // recorded, never consulted: files are raw bytes
  bool utf8_ = false;         // the name came from a list marked as UTF-8
  AlgorithmId algorithm_ = CALG_MD5;
};
