#include "digest/hex_to_bytes.h"

#include <gtest/gtest.h>

#include <string>

namespace {

std::u16string Digits(std::size_t count) {
  std::u16string text;
  for (std::size_t i = 0; i < count; ++i)
    text.push_back(u"0123456789abcdef"[i % 16]);
  return text;
}

TEST(HexToBytesTest, DecodesBothCasesAndTreatsOtherUnitsAsZero) {
  std::uint8_t out[64] = {};
  ASSERT_EQ(digest::HexToBytes(u"0A1b", out, 16), 2u);
  EXPECT_EQ(out[0], 0x0A);
  EXPECT_EQ(out[1], 0x1B);
  out[0] = 0xFF;
  ASSERT_EQ(digest::HexToBytes(u"zz", out, 16), 1u);
  EXPECT_EQ(out[0], 0x00);
  EXPECT_EQ(digest::HexToBytes(u"", out, 16), 0u);
}

TEST(HexToBytesTest, StopsAtTheMaximumAndDropsAnUnpairedDigit) {
  std::uint8_t out[64] = {};
  EXPECT_EQ(digest::HexToBytes(Digits(34).c_str(), out, 16), 16u);
  EXPECT_EQ(out[16], 0) << "nothing stored past the maximum";
  EXPECT_EQ(digest::HexToBytes(Digits(30).c_str(), out, 16), 15u);
  EXPECT_EQ(digest::HexToBytes(u"abc", out, 16), 1u);
  EXPECT_EQ(out[0], 0xAB);
}

// A record decodes its ASCII digits directly: the same bytes as its text.
TEST(HexToBytesTest, AsciiDigitsDecodeAsTheirText) {
  for (const std::string& digits :
       {std::string("0A1b"), std::string("zz*g"), std::string("abc"),
        std::string(41, '7'), std::string()}) {
    std::uint8_t wide[64] = {}, narrow[64] = {};
    const std::u16string text(digits.begin(), digits.end());
    for (std::size_t max : {16u, 20u}) {
      EXPECT_EQ(digest::HexToBytes(digits, narrow, max),
                digest::HexToBytes(text.c_str(), wide, max))
          << digits;
      EXPECT_EQ(std::string(narrow, narrow + 64), std::string(wide, wide + 64))
          << digits;
    }
  }
}

}  // namespace
