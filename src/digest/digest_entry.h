#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "common/algorithm_id.h"
#include "common/wide_string.h"

namespace digest {

// The most digest bytes a record keeps: SHA-1's 20, the largest digest the
// program makes. A comparison reads no further.
constexpr std::size_t kMaxListedDigest = 20;

// One record of a digest file, the size of what it says: its digest decoded
// once, as the comparison reads it, and its name's bytes as read, converted
// where the name is opened or shown. A million records must fit in memory.
class DigestEntry {
 public:
  DigestEntry() = default;
  ~DigestEntry() { Release(); }
  DigestEntry(const DigestEntry& other) { *this = other; }
  DigestEntry& operator=(const DigestEntry& other);
  DigestEntry(DigestEntry&& other) noexcept { *this = std::move(other); }
  DigestEntry& operator=(DigestEntry&& other) noexcept;

  // Decodes the `length` digits as HexToBytes reads their UTF-16 text in
  // the system ANSI code page: a pair of digits a byte, any other unit 0.
  void SetDigest(const char* bytes, std::size_t length);
  // `length` bytes in the system ANSI code page; none give an absent name.
  void SetName(const char* bytes, std::size_t length);
  // From a list marked as UTF-8.
  void SetUtf8Name(const char* bytes, std::size_t length);
  void SetStar(std::uint8_t star) { star_ = star; }
  void SetAlgorithm(common::AlgorithmId algorithm) { algorithm_ = algorithm; }

  // The digest as decoded, at most kMaxListedDigest bytes.
  std::vector<std::uint8_t> GetDigest() const {
    return std::vector<std::uint8_t>(digest_, digest_ + decoded_);
  }
  // Whether the listed digest decodes to exactly these `size` bytes.
  bool Matches(const std::uint8_t* computed, std::uint32_t size) const;
  // The name converted, on each call.
  common::WideString GetName() const;
  // The name's UTF-8 reading where it differs from the code page's (a list
  // written elsewhere), opened when the name is not found; else absent.
  common::WideString GetOtherName() const;
  // An upper bound of the UTF-16 units of either reading of the name.
  std::size_t NameBytes() const { return name_size_; }
  std::uint8_t GetStar() const { return star_; }
  common::AlgorithmId GetAlgorithm() const { return algorithm_; }

 private:
  // A name of up to this many bytes is kept in the entry itself, as most
  // are: a million records of 32-byte names cost no allocation each, and
  // the entry stays 64 bytes.
  static constexpr std::size_t kInlineName = 32;

  const char* NameData() const {
    return name_size_ > kInlineName ? heap_name_ : inline_name_;
  }
  void AssignName(const char* bytes, std::size_t length);
  void Release();
  // Everything but the name, as `other` holds it.
  void CopyRecordFrom(const DigestEntry& other);

  union {
    char inline_name_[kInlineName] = {};
    char* heap_name_;  // owned, where the name is longer
  };
  common::AlgorithmId algorithm_ = common::CALG_MD5;
  std::uint8_t digest_[kMaxListedDigest] = {};
  std::uint32_t name_size_ = 0;
  std::uint8_t decoded_ = 0;  // bytes of digest_ the digits filled
  std::uint8_t star_ = 0;     // recorded, never consulted: files are raw bytes
  bool utf8_ = false;         // the name came from a list marked as UTF-8
};

}  // namespace digest
