#include "platform/directory.h"
#include "platform/last_error.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "posix/unix_socket.h"
#include "support/temp_dir.h"
#include "support/utf.h"

namespace {

// *only_files: whether the whole folder held only files and folders.
std::map<std::string, platform::EntryKind> Scan(const char16_t* pattern,
                                                bool* only_files = nullptr) {
  std::map<std::string, platform::EntryKind> found;
  platform::DirectoryScan scan;
  platform::DirectoryEntry entry;
  if (!scan.First(common::WideString(pattern), &entry)) return found;
  do {
    found[U8(std::u16string(entry.name.View()))] = entry.kind;
  } while (scan.Next(&entry));
  EXPECT_EQ(platform::GetLastErrorCode(), platform::kErrorNoMoreFiles);
  if (only_files != nullptr) *only_files = scan.OnlyFilesAndFolders();
  return found;
}

TEST(DirectoryPosixTest, PatternsMatchLikeWindows) {
  const TempDirectory dir;
  for (const char* name :
       {"a.md5", "B.MD5", "c.md5.txt", "nodot", "d.sha1", "x.Md5", "*star"}) {
    WriteBytes(name, "");
  }
  std::filesystem::create_directory("sub");
  bool only_files = false;
  const auto md5 = Scan(u"*.md5", &only_files);
  EXPECT_TRUE(only_files) << "every entry was passed over, matching or not";
  EXPECT_EQ(md5.size(), 3u);
  EXPECT_TRUE(md5.count("B.MD5") && md5.count("x.Md5") && md5.count("a.md5"));

  const auto all = Scan(u"*.*");
  EXPECT_TRUE(all.count("nodot"));
  EXPECT_TRUE(all.count("*star")) << "a name may begin with the wildcard";
  EXPECT_TRUE(all.count(".") && all.count(".."));
  EXPECT_EQ(all.size(), 10u);

  // Both kinds of list in one walk, each entry told which ending it has.
  std::map<std::string, bool> both;
  platform::DirectoryScan scan;
  platform::DirectoryEntry entry;
  ASSERT_TRUE(scan.FirstEndingWith(common::WideString(u".md5"),
                                   common::WideString(u".SHA1"), &entry));
  do {
    both[U8(std::u16string(entry.name.View()))] = entry.other;
  } while (scan.Next(&entry));
  EXPECT_EQ(both, (std::map<std::string, bool>{{"B.MD5", false},
                                               {"a.md5", false},
                                               {"d.sha1", true},
                                               {"x.Md5", false}}));
}

TEST(DirectoryPosixTest, NothingMatchingFailsTheFirstRequest) {
  const TempDirectory dir;
  platform::DirectoryScan scan;
  platform::DirectoryEntry entry;
  EXPECT_FALSE(scan.First(common::WideString(u"*.sha1"), &entry));
}

TEST(DirectoryPosixTest, KindsFollowLinks) {
  const TempDirectory dir;
  WriteBytes("file", "");
  std::filesystem::create_directory("sub");
  std::filesystem::create_symlink("file", "link-to-file");
  std::filesystem::create_symlink("sub", "link-to-sub");
  std::filesystem::create_symlink("nowhere", "dangling");
  ASSERT_EQ(mkfifo("fifo", 0600), 0);
  const int sock = BindUnixSocket("sock");
  ASSERT_GE(sock, 0);

  bool only_files = true;
  const auto all = Scan(u"*.*", &only_files);
  EXPECT_FALSE(only_files);
  using platform::EntryKind;
  EXPECT_EQ(all.at("file"), EntryKind::kFile);
  EXPECT_EQ(all.at("link-to-file"), EntryKind::kFile);
  EXPECT_EQ(all.at("sub"), EntryKind::kDirectory);
  EXPECT_EQ(all.at("link-to-sub"), EntryKind::kDirectory);
  EXPECT_EQ(all.at("dangling"), EntryKind::kFile) << "so that opening says why";
  EXPECT_EQ(all.at("fifo"), EntryKind::kOther);
  EXPECT_EQ(all.at("sock"), EntryKind::kOther);
  close(sock);
}

}  // namespace
