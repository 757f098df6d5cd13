#include "output/digest_file_batch.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <string>

#include "platform/last_error.h"
#include "support/temp_dir.h"

namespace {

common::WideString Name(const char* name) {
  return common::WideString(
      std::u16string(name, name + std::char_traits<char>::length(name)));
}

// Staged files wait for Commit, which puts them in place in order and stops
// at the first that fails: the names after it keep what they held, and no
// temporary file is left.
TEST(DigestFileBatchTest, CommitsInOrderAndStopsAtTheFirstFailure) {
  const TempDirectory dir;
  for (const char* name : {"a.md5", "b.md5", "c.md5", "d.md5"}) {
    WriteBytes(name, "old\n");
  }
  output::DigestFileBatch batch;
  for (const char* name : {"a.md5", "b.md5", "c.md5"}) {
    ASSERT_TRUE(batch.Stage(Name(name), std::string(name) + " new\n"));
  }
  EXPECT_TRUE(batch.Holds(Name("B.MD5")));
  EXPECT_FALSE(batch.Holds(Name("d.md5")));
  EXPECT_EQ(ReadBytes("a.md5"), "old\n");
  // b.md5 turns into a folder before its turn: nothing may replace it.
  std::filesystem::remove("b.md5");
  std::filesystem::create_directory("b.md5");
  EXPECT_FALSE(batch.Commit());
  EXPECT_NE(platform::GetLastErrorCode(), 0u);
  EXPECT_FALSE(batch.Holds(Name("c.md5")));
  const std::map<std::string, std::string> expected = {
      {"a.md5", "a.md5 new\n"}, {"c.md5", "old\n"}, {"d.md5", "old\n"}};
  EXPECT_EQ(Snapshot(), expected);
  EXPECT_TRUE(batch.Flush());
  // A batch goes on after a failure, and a full one commits by itself.
  ASSERT_GT(batch.Capacity(), 1u);
  for (std::size_t i = 0; i < batch.Capacity(); ++i) {
    ASSERT_FALSE(Exists("e0.md5"));
    ASSERT_TRUE(batch.Stage(Name(("e" + std::to_string(i) + ".md5").c_str()),
                            std::to_string(i)));
  }
  const std::string last = std::to_string(batch.Capacity() - 1);
  EXPECT_EQ(ReadBytes("e" + last + ".md5"), last);
  EXPECT_TRUE(batch.Commit() && batch.Flush());
}

}  // namespace
