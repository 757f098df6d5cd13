// Bad input and failing writes: the user is told, nothing is lost, nothing
// hangs, and no digest file is left half written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "hash/file_hash.h"
#include "platform/file.h"
#include "support/run_test.h"
#include "support/texts.h"
#include "support/utf.h"

namespace {

using HostileInputsTest = RunTest;

TEST_F(HostileInputsTest, AFileSizeLimitStopsCreationWithoutAPartialFile) {
  WriteBytes("a", "");             // its record, 36 bytes, fits the limit
  WriteBytes("abcdefgh.txt", "");  // its record, 47 bytes, does not
  const pid_t child = fork();
  if (child == 0) {
    // The limit and the ignored signal are the child's alone.
    const rlimit limit = {40, 40};
    setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, SIG_IGN);
    ScriptedDesktop desktop;
    create::CreateDigests(desktop, provider_, common::CALG_MD5,
                          common::WideString(u"md5"));
    const bool told = desktop.boxes.size() == 1 &&
                      desktop.boxes[0].text == u"File too large" &&
                      desktop.boxes[0].style == desktop::MB_ICONERROR;
    _exit(told ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0)
      << "one error box, and no completion box";
  EXPECT_FALSE(Exists("abcdefgh.txt.md5")) << "no partial digest file";
  if (Exists("a.md5")) {
    EXPECT_EQ(ReadBytes("a.md5"), std::string(kEmptyMd5) + " *a\n");
  }
}

// A file that shrinks under the hash, to nothing, to a chunk boundary or
// inside its last chunk, ends short of its size at open: the hash fails
// instead of passing for whole. Two threads hash at once, each with a
// context of its own, one reading ahead on a helper and one in line; the
// cut comes once the first megabyte is hashed.
TEST_F(HostileInputsTest, AFileTruncatedWhileHashedFailsWithoutACrash) {
  constexpr std::size_t kSize = std::size_t{64} << 20;
  const std::size_t cuts[] = {0, std::size_t{40} << 20, kSize - 100};
  const pipeline::Threads helped(2);
  auto hash_while_cut = [&](const std::string& name, std::size_t cut) {
    WriteBytes(name, std::string(kSize, 'x'));
    hash::HashContext context;
    if (name == "big") context.ReadAheadWith(helped.start);
    const auto hashed = std::make_shared<std::atomic<std::uint64_t>>(0);
    context.CountBytesIn(hashed);
    hash::FileHash hash(provider_, context);
    std::thread cutter([&] {
      while (hashed->load() < (std::uint64_t{1} << 20))
        std::this_thread::yield();
      EXPECT_EQ(truncate(name.c_str(), static_cast<off_t>(cut)), 0);
    });
    const bool ok = hash.Create(common::CALG_MD5) &&
                    hash::HashFile(common::WideString(U16(name)), hash);
    const int error = errno;
    cutter.join();
    return !ok && error == EIO;
  };
  for (const std::size_t cut : cuts) {
    bool other = false;
    std::thread beside([&] { other = hash_while_cut("other", cut); });
    EXPECT_TRUE(hash_while_cut("big", cut)) << "cut at " << cut;
    beside.join();
    EXPECT_TRUE(other) << "cut at " << cut << ", the other thread";
  }
}

// So few descriptors that the workers run out: the run goes on as one
// pass, and no intact file is blamed.
TEST_F(HostileInputsTest, FewDescriptorsBlameNoIntactFile) {
  std::string list;
  // Each takes long enough to hash that the workers, once started, keep
  // ahead of the pass.
  for (int i = 0; i < 200; ++i) {
    const std::string name = "f" + std::to_string(i);
    WriteBytes(name, std::string(std::size_t{1} << 18, 'f'));
    list += "cf41e243bf211225660f3fabe6db9eb6 *" + name + "\n";
  }
  WriteBytes("all.md5", list);
  const pid_t child = fork();
  if (child == 0) {
    // Standard input, output and error, as a program started with
    // `ulimit -n 8` has them; one pass needs four more at most: the folder,
    // /proc/self/fd, a probe and the file.
    for (int fd = 3; fd < 1024; ++fd) close(fd);
    const rlimit few = {8, 8};
    setrlimit(RLIMIT_NOFILE, &few);
    ScriptedDesktop desktop;
    verify::VerifyDigests(desktop, provider_, On(4));
    _exit(desktop.boxes.size() == 1 &&
                  desktop.boxes[0].caption == kSucceededCaptionText
              ? 0
              : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// A list another process keeps appending to is read up to its size at
// open, as one read would: the run reports instead of reading for ever.
TEST_F(HostileInputsTest, AListThatKeepsGrowingIsReadAtItsSizeAtOpen) {
  WriteBytes("a", "");
  const std::string record = std::string(kEmptyMd5) + " *a\n";
  WriteBytes("grows.md5", record);
  std::atomic<bool> done{false};
  std::thread writer([&] {
    std::ofstream out("grows.md5", std::ios::app | std::ios::binary);
    const std::string more(1 << 16, '\n');
    while (!done.load()) out.write(more.data(), more.size()).flush();
  });
  Verify();
  done.store(true);
  writer.join();
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_EQ(LastText(),
            u"a - OK\r\n\r\n" + std::u16string(kSucceededCaptionText));
}

// A tmpfs mounted over /proc, holding a file under every descriptor's name
// in self/fd: the reopen would open that file instead of the one probed.
// Only procfs is trusted; elsewhere the name is opened by path and must be
// the file the probe saw.
TEST_F(HostileInputsTest, AFakeProcOpensNothingOfItsOwn) {
  WriteBytes("real.txt", "real");
  WriteBytes("real.txt.md5", std::string(kEmptyMd5) + " *real.txt\n");
  const pid_t child = fork();
  if (child == 0) {
    if (unshare(CLONE_NEWNS) != 0 ||
        mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
        mount("fake", "/proc", "tmpfs", 0, nullptr) != 0) {
      _exit(2);  // no mount namespace for this user here
    }
    std::filesystem::create_directories("/proc/self/fd");
    for (int fd = 0; fd < 64; ++fd) {
      std::ofstream(("/proc/self/fd/" + std::to_string(fd)).c_str());  // empty
    }
    ScriptedDesktop desktop;
    verify::VerifyDigests(desktop, provider_, On(1));
    _exit(desktop.boxes.size() == 1 &&
                  desktop.boxes[0].text == u"real.txt - " +
                                               std::u16string(kMismatchText) +
                                               u"\r\n\r\n" + kFailedCaptionText
              ? 0
              : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 2) GTEST_SKIP() << "unshare is not allowed here";
  EXPECT_EQ(WEXITSTATUS(status), 0);
}

TEST_F(HostileInputsTest, AHugeNameIsReportedAsNotFound) {
  const std::string name(200000, 'n');
  WriteBytes("a.md5", std::string(kEmptyMd5) + " *" + name + "\n");
  Verify();
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  // Kept cut past the longest path of any platform: still no file's name.
  EXPECT_EQ(desktop_.boxes[0].text, std::u16string(32767 * 3 + 1, u'n') +
                                        u" - " + kUnreadableText + u"\r\n\r\n" +
                                        kFailedCaptionText);
}

TEST_F(HostileInputsTest, AMillionRecordsMakeOneWholeReport) {
  std::string text;
  for (int i = 0; i < 1000000; ++i) text += "00 m\n";
  WriteBytes("many.md5", text);
  Verify();
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  const std::u16string line =
      u"m - " + std::u16string(kUnreadableText) + u"\r\n";
  const std::u16string& report = desktop_.boxes[0].text;
  EXPECT_EQ(report.size(), line.size() * 1000000 + 2 +
                               std::u16string(kFailedCaptionText).size());
  EXPECT_EQ(report.substr(0, line.size()), line);
}

TEST_F(HostileInputsTest, EveryByteOfANameRoundTripsButLineEnds) {
  std::vector<std::string> names = {"*star", "-dash", " both ends ",
                                    "back\\slash"};
  for (int b = 1; b < 256; ++b) {
    if (b != '/' && b != '\r' && b != '\n') {
      names.push_back("n" + std::string(1, static_cast<char>(b)));
    }
  }
  for (const std::string& name : names) WriteBytes(name, name);
  Create();
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_EQ(desktop_.boxes[0].text, kDoneText);

  ScriptedDesktop verifier;
  verify::VerifyDigests(verifier, provider_);
  ASSERT_EQ(verifier.boxes.size(), 1u);
  EXPECT_EQ(CountOf(verifier.boxes[0].text, u" - OK\r\n"), names.size());
}

TEST_F(HostileInputsTest, ANameWithALineEndIsRefusedAtCreation) {
  // Its record would spread over two lines, and the second could pass for
  // a record of its own, or a shell command, to whatever reads it next.
  WriteBytes("a\nb", "x");
  Create();
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_EQ(desktop_.boxes[0].text,
            u"a\nb - Invalid or incomplete multibyte or wide character");
  EXPECT_FALSE(Exists("a\nb.md5"));
}

}  // namespace
