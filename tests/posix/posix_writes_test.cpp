// What creation writes over what only a POSIX directory can hold: folders
// that refuse a rename, FIFOs, devices and sockets at a digest file's name,
// and the temporary files of other runs.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <filesystem>

#include "output/digest_file_batch.h"
#include "platform/last_error.h"
#include "platform/temporary_file.h"
#include "posix/unix_socket.h"
#include "support/run_test.h"
#include "support/texts.h"
#include "support/utf.h"

namespace {

namespace fs = std::filesystem;

using PosixRunsTest = RunTest;

// An immutable folder refuses new names and renames even to root, as a
// folder of someone else's refuses a user; its files still take writes.
class Frozen {
 public:
  explicit Frozen(const char* folder) : folder_(folder) { ok_ = Set(true); }
  ~Frozen() { Set(false); }
  bool ok() const { return ok_; }

 private:
  bool Set(bool on) {
    const int fd = open(folder_, O_RDONLY | O_DIRECTORY);
    int flags = 0;
    bool ok = fd >= 0 && ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    flags = on ? flags | FS_IMMUTABLE_FL : flags & ~FS_IMMUTABLE_FL;
    ok = ok && ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    if (fd >= 0) close(fd);
    return ok;
  }
  const char* folder_;
  bool ok_ = false;
};

// Where replacing is refused, a digest file is written in place, in its
// turn: after the files staged before it, not after a failure, and never
// through a link.
TEST_F(PosixRunsTest, WhereReplacingIsRefusedTheFileIsWrittenInPlaceInTurn) {
  for (const char* folder : {"open", "shut", "late"}) {
    fs::create_directory(folder);
  }
  WriteBytes("victim", "precious");
  for (const char* name :
       {"open/a.md5", "open/c.md5", "shut/b.md5", "late/d.md5"}) {
    WriteBytes(name, "an old record, longer than the new one\n");
  }
  fs::create_symlink("../victim", "shut/link.md5");
  fs::create_hard_link("victim", "shut/hard.md5");
  struct stat before;
  ASSERT_EQ(stat("shut/b.md5", &before), 0);
  output::DigestFileBatch batch;
  ASSERT_TRUE(batch.Stage(common::WideString(u"late/d.md5"), "d\n"));
  const Frozen shut("shut");
  const Frozen late("late");
  if (!shut.ok() || !late.ok()) GTEST_SKIP() << "no immutable folders here";
  ASSERT_TRUE(batch.Stage(common::WideString(u"open/a.md5"), "a\n"));
  ASSERT_TRUE(batch.Stage(common::WideString(u"shut/b.md5"), "b\n"));
  EXPECT_EQ(ReadBytes("late/d.md5"), "d\n");  // refused at its commit
  EXPECT_EQ(ReadBytes("open/a.md5"), "a\n");
  EXPECT_EQ(ReadBytes("shut/b.md5"), "b\n");
  struct stat after;
  ASSERT_EQ(stat("shut/b.md5", &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(batch.Committed(), 3u);
  ASSERT_TRUE(batch.Stage(common::WideString(u"open/c.md5"), "c\n"));
  fs::remove("open/c.md5");
  fs::create_directory("open/c.md5");
  EXPECT_FALSE(batch.Stage(common::WideString(u"shut/b.md5"), "b again\n"));
  EXPECT_EQ(ReadBytes("shut/b.md5"), "b\n");
  for (const char16_t* name : {u"shut/link.md5", u"shut/hard.md5"}) {
    EXPECT_FALSE(batch.Stage(common::WideString(name), "x\n"));
    EXPECT_EQ(platform::GetLastErrorCode(), static_cast<unsigned>(EPERM));
  }
  EXPECT_EQ(ReadBytes("victim"), "precious");
  EXPECT_TRUE(fs::is_symlink("shut/link.md5"));
}

// Only an ordinary file is ever written: a FIFO with a reader, a device or
// a socket at a digest file's name stops the run as a folder there does,
// untouched, and leaves no temporary file; the digest files written before
// stay, replaced whole, with the permissions the old file had.
TEST_F(PosixRunsTest, OnlyOrdinaryFilesAreWrittenAndEachWhole) {
  const mode_t mask = umask(022);
  WriteBytes("a.txt", "");
  WriteBytes("a.txt.md5", "an old record\n");
  chmod("a.txt.md5", 0600);
  Create();
  EXPECT_EQ(ReadBytes("a.txt.md5"), std::string(kEmptyMd5) + " *a.txt\n");
  struct stat made;
  ASSERT_EQ(stat("a.txt.md5", &made), 0);
  EXPECT_EQ(made.st_mode & 0777, 0600u);
  umask(mask);
  for (const char* name : {"a.txt", "a.txt.md5", "a.txt.md5.md5"}) {
    fs::remove(name);
  }
  WriteBytes("b.txt", "");
  ASSERT_EQ(mkfifo("b.txt.md5", 0600), 0);
  const int reader = open("b.txt.md5", O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  const int sock = BindUnixSocket("c.md5");
  ASSERT_GE(sock, 0);
  WriteBytes("c", "");
  for (const bool fifo : {true, false}) {
    if (!fifo) fs::remove("b.txt");
    ScriptedDesktop desktop;
    create::CreateDigests(desktop, provider_, common::CALG_MD5,
                          common::WideString(u"md5"));
    ASSERT_EQ(desktop.boxes.size(), 1u);
    EXPECT_EQ(desktop.boxes[0].text, u"Operation not supported");
  }
  close(reader);
  close(sock);
  EXPECT_EQ(fs::symlink_status("b.txt.md5").type(), fs::file_type::fifo);
  EXPECT_TRUE(fs::is_socket(fs::symlink_status("c.md5")));
  for (const auto& entry : fs::directory_iterator(".")) {
    EXPECT_FALSE(platform::IsTemporaryName(U16(entry.path().filename())));
  }
}

// A killed run's temporary file (a cut record) goes with the next creation;
// one a live run holds (its lock), a link, a folder, a name of another form
// and a user's file of that form stay, the last hashed as any other.
TEST_F(PosixRunsTest, OnlyADeadRunsTemporaryFilesAreRemoved) {
  WriteBytes("victim", "precious");
  WriteBytes(".~digestbox-1-0.tmp", "0123456789abcdef0123456789abcdef *vic");
  WriteBytes(".~digestbox-1-5.tmp", "a user's file of that name");
  WriteBytes(".~digestbox-1-1.tmp", "a live run's");
  const int held = open(".~digestbox-1-1.tmp", O_RDONLY);
  ASSERT_EQ(flock(held, LOCK_EX), 0);
  fs::create_symlink("victim", ".~digestbox-1-2.tmp");
  fs::create_directory(".~digestbox-1-3.tmp");
  WriteBytes(".~digestbox-1-4.tmpx", "");
  Create();
  close(held);
  EXPECT_EQ(LastText(), kDoneText);
  EXPECT_FALSE(Exists(".~digestbox-1-0.tmp"));
  EXPECT_EQ(ReadBytes(".~digestbox-1-1.tmp"), "a live run's");
  EXPECT_TRUE(fs::is_symlink(".~digestbox-1-2.tmp"));
  EXPECT_TRUE(fs::is_directory(".~digestbox-1-3.tmp"));
  EXPECT_TRUE(Exists(".~digestbox-1-4.tmpx"));
  EXPECT_TRUE(Exists(".~digestbox-1-5.tmp.md5"));
  EXPECT_EQ(ReadBytes("victim"), "precious");
}

}  // namespace
