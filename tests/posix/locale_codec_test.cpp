#include "platform/locale_codec.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "platform/system_error.h"
#include "posix/locale_scope.h"

namespace {

using platform::DecodeLocale;
using platform::EncodeLocale;

std::string Decoded(const std::string& bytes) {
  const std::u16string text = DecodeLocale(bytes.data(), bytes.size());
  return EncodeLocale(text);
}

// Every byte value but zero, and sequences that strict UTF-8 refuses.
std::vector<std::string> AwkwardNames() {
  std::string all;
  for (int b = 1; b < 256; ++b) all.push_back(static_cast<char>(b));
  return {
      all,
      "\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E.txt",  // 日本語.txt
      "\xFF\xFE latin1 \xE9",
      "\xED\xB2\x80 encoded surrogate",
      "\xC0\xAF overlong",
      "\xF4\x90\x80\x80 past U+10FFFF",
      "\xE6\x97 cut short",
      "\xF0\x9F\x98\x80 emoji",
  };
}

TEST(LocaleCodecTest, EveryNameRoundTripsInEveryLocale) {
  std::vector<std::string> names = AwkwardNames();
  names.insert(names.end(), {"x\xE0", "a.txt", "a\x88\x66", "A\xCC",
                             "\xA2\xCC \xA4\x51", "\xAD\xF0 \xA2\xE2"});
  // The last ones hold a character back until they see the next one, or map
  // two byte sequences to one character.
  for (const char* locale :
       {"C", "C.UTF-8", "ja_JP.EUC-JP", "ja_JP.UTF-8", "he_IL.CP1255",
        "vi_VN.CP1258", "zh_HK.BIG5-HKSCS", "zh_TW.BIG5", "ja_JP.EUC-JP-MS"}) {
    LocaleScope scope(locale);
    ASSERT_TRUE(scope.ok()) << locale;
    for (const std::string& name : names) {
      EXPECT_EQ(Decoded(name), name) << locale;
    }
  }
}

TEST(LocaleCodecTest, HeldBackCharactersAreFlushedAndTwinsEscaped) {
  {
    LocaleScope scope("he_IL.CP1255");
    ASSERT_TRUE(scope.ok());
    EXPECT_EQ(DecodeLocale("x\xE0", 2), u"x\u05D0");  // x, alef
  }
  {
    LocaleScope scope("vi_VN.CP1258");
    ASSERT_TRUE(scope.ok());
    EXPECT_EQ(DecodeLocale("a.txt", 5), u"a.txt");
    // Error texts keep their last character too.
    common::WideString text;
    ASSERT_TRUE(platform::SystemErrorText(ENOENT, &text));
    EXPECT_EQ(EncodeLocale(text.View()), std::strerror(ENOENT));
  }
  {
    // A2 CC and A4 51 are both U+5341: only A4 51 is that character.
    LocaleScope scope("zh_TW.BIG5");
    ASSERT_TRUE(scope.ok());
    EXPECT_EQ(DecodeLocale("\xA2\xCC\xA4\x51", 4), u"\xDCA2\xDCCC\u5341");
  }
}

TEST(LocaleCodecTest, Utf8DecodesToCharactersAndEscapesTheRest) {
  LocaleScope scope("C.UTF-8");
  ASSERT_TRUE(scope.ok());
  const std::string name = "\xE6\x97\xA5\xFF";
  EXPECT_EQ(DecodeLocale(name.data(), name.size()), u"日\xDCFF");
  EXPECT_EQ(EncodeLocale(u"\U0001F600"), "\xF0\x9F\x98\x80");
  // ASCII runs around what is not ASCII.
  const std::string mixed =
      "ab\xFF"
      "c\xE6\x97\xA5"
      "d\xF0\x9F\x98\x80.e";
  EXPECT_EQ(DecodeLocale(mixed.data(), mixed.size()),
            u"ab\xDCFF"
            u"c日d\U0001F600.e");
  EXPECT_EQ(Decoded(mixed), mixed);
}

TEST(LocaleCodecTest, OtherCharsetsDecodeThroughIconv) {
  LocaleScope scope("ja_JP.EUC-JP");
  ASSERT_TRUE(scope.ok());
  const std::string name = "\xC6\xFC\xCB\xDC.txt\xFF";  // 日本.txt in EUC-JP
  EXPECT_EQ(DecodeLocale(name.data(), name.size()), u"日本.txt\xDCFF");
  EXPECT_EQ(EncodeLocale(u"日本"), "\xC6\xFC\xCB\xDC");
}

TEST(LocaleCodecTest, CharactersTheCharsetLacksBecomeQuestionMarks) {
  LocaleScope scope("C");
  bool exact = true;
  EXPECT_EQ(EncodeLocale(u"a日b", &exact), "a?b");
  EXPECT_FALSE(exact);
  EXPECT_EQ(EncodeLocale(u"\xD800", &exact), "?") << "a lone high surrogate";
  EXPECT_EQ(EncodeLocale(u"x\U0001F600y\xDCFFz"), "x?y\xFFz");
}

}  // namespace
