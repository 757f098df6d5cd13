#include "hash/file_hash.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "support/temp_dir.h"

namespace {

std::string Hex(const std::uint8_t* bytes, std::uint32_t size) {
  static const char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (std::uint32_t i = 0; i < size; ++i) {
    hex.push_back(kDigits[bytes[i] >> 4]);
    hex.push_back(kDigits[bytes[i] & 15]);
  }
  return hex;
}

class FileHashTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(provider_.Acquire()); }

  // The digest of a byte string, or "" when hashing failed.
  std::string DigestOf(common::AlgorithmId algorithm, const std::string& data) {
    hash::FileHash hash(provider_);
    if (!hash.Create(algorithm)) return "";
    if (!data.empty() &&
        !hash.AddData(reinterpret_cast<const std::uint8_t*>(data.data()),
                      static_cast<std::uint32_t>(data.size()))) {
      return "";
    }
    return Value(hash);
  }

  std::string DigestOfFile(common::AlgorithmId algorithm,
                           const std::string& name) {
    hash::FileHash hash(provider_);
    if (!hash.Create(algorithm) ||
        !hash::HashFile(common::WideString(u16(name)), hash)) {
      return "";
    }
    return Value(hash);
  }

  static std::string Value(hash::FileHash& hash) {
    std::uint8_t value[hash::kMaxDigestSize];
    const std::uint32_t size = hash.GetSize();
    if (!hash.GetValue(value, size)) return "";
    return Hex(value, size);
  }

  static std::u16string u16(const std::string& ascii) {
    return std::u16string(ascii.begin(), ascii.end());
  }

  hash::CryptProvider provider_;
};

TEST_F(FileHashTest, PublishedVectors) {
  const std::string million_a(1000000, 'a');
  // RFC 1321, appendix A.5.
  EXPECT_EQ(DigestOf(common::CALG_MD5, ""), "d41d8cd98f00b204e9800998ecf8427e");
  EXPECT_EQ(DigestOf(common::CALG_MD5, "abc"),
            "900150983cd24fb0d6963f7d28e17f72");
  EXPECT_EQ(DigestOf(common::CALG_MD5, "message digest"),
            "f96b697d7cb7938d525a2f31aaf161d0");
  EXPECT_EQ(DigestOf(common::CALG_MD5,
                     "12345678901234567890123456789012345678901234567890123456"
                     "789012345678901234567890"),
            "57edf4a22be3c955ac49da2e2107b67a");
  // FIPS 180-1, appendices A and B, and the million 'a' of appendix C.
  EXPECT_EQ(DigestOf(common::CALG_SHA1, "abc"),
            "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(
      DigestOf(common::CALG_SHA1,
               "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
      "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
  EXPECT_EQ(DigestOf(common::CALG_SHA1, million_a),
            "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

TEST_F(FileHashTest, FilesAroundTheBlockSize) {
  const TempDirectory dir;
  struct Case {
    std::size_t size;
    const char* md5;
    const char* sha1;
  };
  const Case cases[] = {
      {0, "d41d8cd98f00b204e9800998ecf8427e",
       "da39a3ee5e6b4b0d3255bfef95601890afd80709"},
      {4095, "53de317667ca40d9642e2d859bfbfd16",
       "42ffc5bcbf726e50581e9efaead4022e015795e7"},
      {4096, "d105289f5617c241f52a191c6b2fc809",
       "6272f6754cd52a09ecc9c22764b6cc138a7c907b"},
      {4097, "c7cfb8a6d3d4929f9035e0918250b62d",
       "fdb2e012e62d840b9ea0bb5d7bcfd4e4378a41e9"},
      {3 * 1024 * 1024 + 5, "88fa70d4a9d46da8b3561f475f808424",
       "9a3e7d4d411045a120c1d50061d2ef67f8f3c4e8"},
  };
  for (const Case& c : cases) {
    const std::string name = "f" + std::to_string(c.size);
    WriteBytes(name, Pattern(c.size));
    EXPECT_EQ(DigestOfFile(common::CALG_MD5, name), c.md5) << c.size;
    EXPECT_EQ(DigestOfFile(common::CALG_SHA1, name), c.sha1) << c.size;
  }
}

TEST_F(FileHashTest, WhatIsNotAReadableFileFails) {
  const TempDirectory dir;
  std::filesystem::create_directory("sub");
  hash::FileHash hash(provider_);
  ASSERT_TRUE(hash.Create(common::CALG_MD5));
  EXPECT_FALSE(hash::HashFile(common::WideString(u"sub"), hash));
  EXPECT_FALSE(hash::HashFile(common::WideString(u"missing.txt"), hash));
  EXPECT_FALSE(hash::HashFile(common::WideString(), hash));
}

TEST_F(FileHashTest, SizesAndShortValueBuffers) {
  hash::FileHash md5(provider_);
  ASSERT_TRUE(md5.Create(common::CALG_MD5));
  EXPECT_EQ(md5.GetSize(), 16u);
  hash::FileHash sha1(provider_);
  ASSERT_TRUE(sha1.Create(common::CALG_SHA1));
  EXPECT_EQ(sha1.GetSize(), 20u);

  std::uint8_t value[hash::kMaxDigestSize] = {};
  EXPECT_FALSE(sha1.GetValue(value, 19));
  EXPECT_FALSE(sha1.GetValue(value, 0));
  EXPECT_EQ(value[0], 0) << "a refused call stores nothing";
  EXPECT_TRUE(sha1.GetValue(value, 20));
}

TEST_F(FileHashTest, UnknownAlgorithmIsRefused) {
  hash::FileHash hash(provider_);
  EXPECT_FALSE(hash.Create(0));
  EXPECT_EQ(hash.GetSize(), 0u);
}

}  // namespace
