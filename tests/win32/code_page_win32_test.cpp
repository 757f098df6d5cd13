// Names written in a code page read back in that page, the one the
// machine may be set to but Wine cannot (65001) included.
#include <gtest/gtest.h>

#include "platform/win32/code_page_win32.h"
#include "support/utf.h"

#include <windows.h>

namespace {

using platform::win32::AnsiToWideIn;
using platform::win32::OtherReadingIn;
using platform::win32::WideToAnsiIn;

TEST(CodePageTest, EveryCodePageReadsBackTheNamesItWrites) {
  for (const unsigned code_page : {932u, 1252u, unsigned{CP_UTF8}}) {
    for (const char* name : {"日本.txt", "café.txt", "\U0001F600.txt"}) {
      const WideString wide(U16(name));
      std::string bytes;
      ASSERT_TRUE(WideToAnsiIn(code_page, wide, &bytes)) << code_page << name;
      const WideString read =
          AnsiToWideIn(code_page, bytes.data(), bytes.size());
      const WideString other =
          OtherReadingIn(code_page, bytes.data(), bytes.size());
      EXPECT_TRUE(read == wide || other == wide) << code_page << " " << name;
      // In UTF-8 the code page's reading is the UTF-8 one: no second.
      if (code_page == CP_UTF8) {
        EXPECT_EQ(bytes, name);
        EXPECT_TRUE(read == wide);
        EXPECT_TRUE(other.IsAbsent());
      }
    }
  }
}

}  // namespace
