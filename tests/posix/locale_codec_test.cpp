#include "platform/posix/locale_codec.h"

#include <gtest/gtest.h>

#include <clocale>
#include <string>

namespace {

using platform::posix::DecodeLocale;
using platform::posix::EncodeLocale;

// Switches the process locale for one test and back.
class LocaleScope {
 public:
  explicit LocaleScope(const char* name) {
    ok_ = std::setlocale(LC_ALL, name) != nullptr;
  }
  ~LocaleScope() { std::setlocale(LC_ALL, "C"); }
  bool ok() const { return ok_; }

 private:
  bool ok_;
};

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
  for (const char* locale : {"C", "C.UTF-8", "ja_JP.EUC-JP", "ja_JP.UTF-8"}) {
    LocaleScope scope(locale);
    if (!scope.ok()) continue;  // not installed here
    for (const std::string& name : AwkwardNames()) {
      EXPECT_EQ(Decoded(name), name) << locale;
    }
  }
}

TEST(LocaleCodecTest, Utf8DecodesToCharactersAndEscapesTheRest) {
  LocaleScope scope("C.UTF-8");
  ASSERT_TRUE(scope.ok());
  const std::string name = "\xE6\x97\xA5\xFF";
  EXPECT_EQ(DecodeLocale(name.data(), name.size()), u"日\xDCFF");
  EXPECT_EQ(EncodeLocale(u"\U0001F600"), "\xF0\x9F\x98\x80");
}

TEST(LocaleCodecTest, OtherCharsetsDecodeThroughIconv) {
  LocaleScope scope("ja_JP.EUC-JP");
  if (!scope.ok()) GTEST_SKIP() << "ja_JP.EUC-JP is not installed";
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
}

}  // namespace
