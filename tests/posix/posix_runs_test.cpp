// Creation and verification over what only a POSIX directory can hold:
// FIFOs, sockets, devices, links and names that are not text.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <clocale>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iterator>
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
    hash::FileHash hash(provider_);
    ASSERT_TRUE(hash.Create(common::CALG_MD5));
    EXPECT_FALSE(hash::HashFile(common::WideString(name), hash));
  }
  // Where a walk saw only files, what was put there since is still refused
  // once open, and a link is still followed to an ordinary file alone.
  const int sock = BindUnixSocket("sock");
  ASSERT_GE(sock, 0);
  WriteBytes("file", "");
  fs::create_symlink("fifo", "to-fifo");
  fs::create_symlink("file", "to-file");
  hash::Opened listed;
  listed.listed = platform::Listed::kFolderOfFiles;
  hash::FileHash hash(provider_);  // one context: its device known after "file"
  const std::pair<const char16_t*, bool> opens[] = {
      {u"file", true},     {u"fifo", false}, {u"sock", false},
      {u"to-fifo", false}, {u".", false},    {u"to-file", true}};
  for (const auto& [name, hashed] : opens) {
    ASSERT_TRUE(hash.Create(common::CALG_MD5));
    EXPECT_EQ(hash::HashFile(common::WideString(name), hash, nullptr, &listed),
              hashed)
        << U8(name);
  }
  close(sock);
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
  EXPECT_EQ(desktop_.boxes[0].style, desktop::MB_ICONERROR);
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
    ASSERT_TRUE(batch.Stage(common::WideString(U16(name)), "new\n") &&
                batch.Commit() && batch.Flush());
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
    create::CreateDigests(desktop, provider_, common::CALG_MD5,
                          common::WideString(u"md5"));
    for (const std::string& name : names) {
      EXPECT_EQ(ReadBytes(name + ".md5").substr(32), " *" + name + "\n");
    }
    ScriptedDesktop verifier;
    verify::VerifyDigests(verifier, provider_);
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
      create::CreateDigests(creator, provider_, common::CALG_SHA1,
                            common::WideString(u"sha1"), On(workers));
      ASSERT_EQ(creator.boxes.size(), 1u) << locale;
      EXPECT_EQ(creator.boxes[0].text, kDoneText);
    }
    ScriptedDesktop verifier;
    verify::VerifyDigests(verifier, provider_, On(4));
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
  EXPECT_EQ(desktop_.boxes[0].style, desktop::MB_ICONERROR);
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

std::size_t ThreadsNow() {
  const fs::directory_iterator tasks("/proc/self/task");
  return static_cast<std::size_t>(
      std::distance(fs::begin(tasks), fs::end(tasks)));
}

// Creation that fails at its first file (a folder stands at its digest
// file's name) with large files after it: while the error box waits, the
// workers read at most the read in hand and the helper's, each. The box
// waits until the run's hashing threads are gone (at once: they end before
// any box), and at most 10 s for workers that go on behind it.
TEST_F(PosixRunsTest, NothingIsReadBehindAFailureBox) {
  for (int i = 0; i < 40; ++i) {
    const std::string name = "f" + std::to_string(i);
    WriteBytes(name, "");
    fs::resize_file(name, std::uint64_t{16} << 20);
    fs::create_directory(name + ".md5");
  }
  // Only the pass's read-ahead helper, idle, outlives the workers.
  const std::size_t before = ThreadsNow();
  std::uint64_t behind = 0;
  desktop_.WhileShown([&] {
    const std::uint64_t at_box = BytesReadSoFar();
    const auto until =
        std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (ThreadsNow() > before + 1 &&
           std::chrono::steady_clock::now() < until) {
      std::this_thread::yield();
    }
    behind = BytesReadSoFar() - at_box;
  });
  create::CreateDigests(desktop_, provider_, common::CALG_MD5,
                        common::WideString(u"md5"), On(2));
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_EQ(desktop_.boxes[0].style, desktop::MB_ICONERROR);
  EXPECT_LE(behind, 2 * 2 * std::uint64_t{hash::HashContext::kAheadChunkSize});
}

}  // namespace
