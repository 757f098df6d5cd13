// Creation and verification over what only a POSIX directory can hold:
// FIFOs, sockets, devices, links and names that are not text.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "hash/file_hash.h"
#include "hash/hash_context.h"
#include "output/digest_file_batch.h"
#include "platform/temporary_file.h"
#include "posix/locale_scope.h"
#include "posix/unix_socket.h"
#include "support/run_test.h"
#include "support/texts.h"
#include "support/utf.h"

namespace {

namespace fs = std::filesystem;

using PosixRunsTest = RunTest;

TEST_F(PosixRunsTest, HashFileRefusesWhatIsNotARegularFile) {
  ASSERT_EQ(mkfifo("fifo", 0600), 0);
  for (const char16_t* name : {u"fifo", u"/dev/zero", u"/dev/null", u"."}) {
    FileHash hash(provider_);
    ASSERT_TRUE(hash.Create(CALG_MD5));
    EXPECT_FALSE(HashFile(WideString(name), hash));
  }
}

TEST_F(PosixRunsTest, CreationSkipsFifosAndFollowsLinks) {
  ASSERT_EQ(mkfifo("fifo", 0600), 0);
  WriteBytes("a.txt", "");
  fs::create_symlink("a.txt", "link");
  Create();
  EXPECT_FALSE(Exists("fifo.md5"));
  EXPECT_EQ(ReadBytes("link.md5"), std::string(kEmptyMd5) + " *link\n");
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_EQ(LastText(), kDoneText);
}

TEST_F(PosixRunsTest, AFileThatCannotBeReadStopsCreation) {
  fs::create_symlink("nowhere", "dangling");
  Create();
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_EQ(desktop_.boxes[0].style, MB_ICONERROR);
  EXPECT_EQ(LastText(), u"No such file or directory");
  EXPECT_FALSE(Exists("dangling.md5"));
}

TEST_F(PosixRunsTest, ADigestFileReplacesLinksAtItsNameNotTheirTargets) {
  // As a folder unpacked from someone else's archive may hold them.
  fs::create_directory("keep");
  WriteBytes("keep/victim", "precious");
  WriteBytes("keep/shared", "shared");
  fs::create_symlink("keep/victim", "a.md5");
  fs::create_symlink("keep/nowhere", "b.md5");
  fs::create_hard_link("keep/shared", "c.md5");
  WriteBytes("d.md5", "an older record, longer than the new one\n");
  for (const std::string name : {"a.md5", "b.md5", "c.md5", "d.md5"}) {
    output::DigestFileBatch batch;
    ASSERT_TRUE(batch.Stage(WideString(U16(name)), "new\n") && batch.Commit() &&
                batch.Flush());
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(name)));
    EXPECT_EQ(fs::hard_link_count(name), 1u);
    EXPECT_EQ(ReadBytes(name), "new\n");
  }
  EXPECT_EQ(ReadBytes("keep/victim"), "precious");
  EXPECT_EQ(ReadBytes("keep/shared"), "shared");
  EXPECT_FALSE(Exists("keep/nowhere"));
  for (const auto& entry : fs::directory_iterator(".")) {
    EXPECT_FALSE(platform::IsTemporaryName(U16(entry.path().filename())));
  }
}

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
  ASSERT_TRUE(batch.Stage(WideString(u"late/d.md5"), "d\n"));
  const Frozen shut("shut");
  const Frozen late("late");
  if (!shut.ok() || !late.ok()) GTEST_SKIP() << "no immutable folders here";
  ASSERT_TRUE(batch.Stage(WideString(u"open/a.md5"), "a\n"));
  ASSERT_TRUE(batch.Stage(WideString(u"shut/b.md5"), "b\n"));
  EXPECT_EQ(ReadBytes("late/d.md5"), "d\n");  // refused at its commit
  EXPECT_EQ(ReadBytes("open/a.md5"), "a\n");
  EXPECT_EQ(ReadBytes("shut/b.md5"), "b\n");
  struct stat after;
  ASSERT_EQ(stat("shut/b.md5", &after), 0);
  EXPECT_EQ(after.st_ino, before.st_ino);
  EXPECT_EQ(batch.Committed(), 3u);
  ASSERT_TRUE(batch.Stage(WideString(u"open/c.md5"), "c\n"));
  fs::remove("open/c.md5");
  fs::create_directory("open/c.md5");
  EXPECT_FALSE(batch.Stage(WideString(u"shut/b.md5"), "b again\n"));
  EXPECT_EQ(ReadBytes("shut/b.md5"), "b\n");
  for (const char16_t* name : {u"shut/link.md5", u"shut/hard.md5"}) {
    EXPECT_FALSE(batch.Stage(WideString(name), "x\n"));
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
    CreateDigests(desktop, provider_, CALG_MD5, WideString(u"md5"));
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

TEST_F(PosixRunsTest, NamesThatAreNotTextRoundTripInEveryLocale) {
  // The last ones are characters that legacy converters hold back, combine
  // or share between two byte sequences.
  for (const char* locale : {"C", "C.UTF-8", "he_IL.CP1255", "vi_VN.CP1258",
                             "zh_HK.BIG5-HKSCS", "zh_TW.BIG5"}) {
    const LocaleScope scope(locale);
    ASSERT_TRUE(scope.ok()) << locale;
    const TempDirectory dir;
    const std::string names[] = {"\xE6\x97\xA5\xE6\x9C\xAC.txt",
                                 "\xFF\xFE.bin",
                                 "caf\xE9",
                                 " spaces at both ends ",
                                 "a",
                                 "a\x88\x66",
                                 "x\xE0",
                                 "A\xCC",
                                 "\xA2\xCC"};
    for (const std::string& name : names) WriteBytes(name, name);
    ScriptedDesktop desktop;
    CreateDigests(desktop, provider_, CALG_MD5, WideString(u"md5"));
    for (const std::string& name : names) {
      EXPECT_EQ(ReadBytes(name + ".md5").substr(32), " *" + name + "\n");
    }
    ScriptedDesktop verifier;
    VerifyDigests(verifier, provider_);
    ASSERT_EQ(verifier.boxes.size(), 1u);
    EXPECT_EQ(verifier.boxes[0].caption, kSucceededCaptionText) << locale;
  }
}

// Every worker converts names at once in a legacy charset, each with
// converters of its own: creation and verification of the same folder on
// one thread and on four agree.
TEST_F(PosixRunsTest, SeveralWorkersInLegacyLocales) {
  for (const char* locale : {"ja_JP.EUC-JP", "en_US.ISO-8859-1"}) {
    const LocaleScope scope(locale);
    ASSERT_TRUE(scope.ok()) << locale;
    const TempDirectory dir;
    for (int i = 0; i < 200; ++i) {
      WriteBytes("\xA4\xA2\xE9" + std::to_string(i), std::to_string(i));
    }
    for (const unsigned workers : {4u, 1u}) {
      ScriptedDesktop creator;
      CreateDigests(creator, provider_, CALG_SHA1, WideString(u"sha1"),
                    On(workers));
      ASSERT_EQ(creator.boxes.size(), 1u) << locale;
      EXPECT_EQ(creator.boxes[0].text, kDoneText);
    }
    ScriptedDesktop verifier;
    VerifyDigests(verifier, provider_, On(4));
    ASSERT_EQ(verifier.boxes.size(), 1u);
    EXPECT_EQ(CountOf(verifier.boxes[0].text, u" - OK\r\n"), 400u) << locale;
  }
}

TEST_F(PosixRunsTest, ARecordForALongerNameDoesNotPassForAShorterOne) {
  const LocaleScope scope("he_IL.CP1255");
  ASSERT_TRUE(scope.ok());
  WriteBytes("x", "");
  WriteBytes("a.md5", std::string(kEmptyMd5) + " *x\xE0\n");  // x, alef
  Verify();
  EXPECT_EQ(LastText(), u"x\u05D0 - " + std::u16string(kUnreadableText) +
                            u"\r\n\r\n" + kFailedCaptionText);
}

// Devices, FIFOs and the files of pseudo file systems (which claim sizes
// they do not have: /proc/self/pagemap yields some 256 GiB) are unreadable
// at once.
TEST_F(PosixRunsTest, RecordsNamingDevicesFifosAndPseudoFilesAreUnreadable) {
  ASSERT_EQ(mkfifo("fifo", 0600), 0);
  const char* names[] = {"/dev/zero",
                         "/dev/stdin",
                         "fifo",
                         "/proc/self/pagemap",
                         "/proc/self/status",
                         "/sys/kernel/mm/transparent_hugepage/enabled"};
  std::string list;
  std::u16string report;
  for (const char* name : names) {
    list += std::string(kEmptyMd5) + " *" + name + "\n";
    report += U16(name) + u" - " + kUnreadableText + u"\r\n";
  }
  WriteBytes("a.md5", list);
  Verify();
  EXPECT_EQ(LastText(), report + u"\r\n" + kFailedCaptionText);
}

TEST_F(PosixRunsTest, AFileThatVanishesAfterCollectionIsReportedLost) {
  WriteBytes("a.txt", "");
  WriteBytes("a.md5", std::string(kEmptyMd5) + " *a.txt\n");
  WriteBytes("bad.sha1", "odd *x\n");  // its box comes after every md5 file
  desktop_.WhileShown([] { std::remove("a.txt"); });
  Verify();
  ASSERT_EQ(desktop_.boxes.size(), 2u);
  EXPECT_EQ(LastText(), u"a.txt - " + std::u16string(kUnreadableText) +
                            u"\r\n\r\n" + kFailedCaptionText);
}

TEST_F(PosixRunsTest, ASocketAsDigestFileIsRefused) {
  const int sock = BindUnixSocket("s.md5");
  ASSERT_GE(sock, 0);
  Verify();
  close(sock);
  ASSERT_EQ(desktop_.boxes.size(), 2u);
  EXPECT_EQ(desktop_.boxes[0].style, MB_ICONERROR);
  EXPECT_EQ(LastText(), kNothingToVerifyText);
}

TEST_F(PosixRunsTest, AnUnreadableDigestFileEndsOnlyItsPattern) {
  ASSERT_EQ(mkfifo("pipe.md5", 0600), 0);
  WriteBytes("a.txt", "");
  WriteBytes("a.sha1", std::string(kEmptySha1) + " *a.txt\n");
  Verify();
  ASSERT_EQ(desktop_.boxes.size(), 2u);
  EXPECT_EQ(desktop_.boxes[0].text, u"Operation not supported");
  EXPECT_EQ(LastText(),
            u"a.txt - OK\r\n\r\n" + std::u16string(kSucceededCaptionText));
}

// The bytes this process has read, all threads together.
std::uint64_t BytesReadSoFar() {
  FILE* io = std::fopen("/proc/self/io", "r");
  unsigned long long read = 0;
  if (io != nullptr && std::fscanf(io, "rchar: %llu", &read) != 1) read = 0;
  if (io != nullptr) std::fclose(io);
  return read;
}

// Creation that fails at its first file (a folder stands at its digest
// file's name) with large files after it: while the error box waits, the
// workers read at most the read in hand and the helper's, each.
TEST_F(PosixRunsTest, NothingIsReadBehindAFailureBox) {
  for (int i = 0; i < 40; ++i) {
    const std::string name = "f" + std::to_string(i);
    WriteBytes(name, "");
    fs::resize_file(name, std::uint64_t{16} << 20);
    fs::create_directory(name + ".md5");
  }
  std::uint64_t behind = 0;
  desktop_.WhileShown([&] {
    const std::uint64_t at_box = BytesReadSoFar();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    behind = BytesReadSoFar() - at_box;
  });
  CreateDigests(desktop_, provider_, CALG_MD5, WideString(u"md5"), On(2));
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_EQ(desktop_.boxes[0].style, MB_ICONERROR);
  EXPECT_LE(behind, 2 * 2 * std::uint64_t{HashContext::kAheadChunkSize});
}

}  // namespace
