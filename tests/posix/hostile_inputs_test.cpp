// Bad input and failing writes: the user is told, nothing is lost, nothing
// hangs, and no digest file is left half written.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

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
    CreateDigests(desktop, provider_, CALG_MD5, WideString(u"md5"));
    const bool told = desktop.boxes.size() == 1 &&
                      desktop.boxes[0].text == u"File too large" &&
                      desktop.boxes[0].style == MB_ICONERROR;
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

// A file that shrinks under the hash, inside its last page or across pages,
// ends short of its size at open: the read fails instead of passing for
// whole. Two threads hash at once, each with a chunk of its own.
TEST_F(HostileInputsTest, AFileTruncatedWhileHashedFailsWithoutACrash) {
  constexpr std::size_t kSize = std::size_t{8} << 20;
  const std::size_t cuts[] = {0, std::size_t{5} << 20, kSize - 100};
  auto hash_while_cut = [this](const std::string& name, std::size_t cut) {
    WriteBytes(name, std::string(kSize, 'x'));
    platform::InputFile file;
    FileHash hash(provider_);
    std::uint8_t buffer[4096];
    const std::uint8_t* block = nullptr;
    std::uint32_t read = 0;
    bool ok = file.Open(WideString(U16(name))) && hash.Create(CALG_MD5);
    for (std::size_t at = 0; ok; at += read) {
      if (at == std::size_t{6} << 20 && truncate(name.c_str(), cut) != 0) break;
      ok = file.ReadBlock(buffer, sizeof buffer, &block, &read);
      if (!ok || read == 0) break;
      ok = hash.AddData(block, read);
    }
    return !ok && errno == EIO;
  };
  for (const std::size_t cut : cuts) {
    bool other = false;
    std::thread beside([&] { other = hash_while_cut("other", cut); });
    EXPECT_TRUE(hash_while_cut("big", cut)) << "cut at " << cut;
    beside.join();
    EXPECT_TRUE(other) << "cut at " << cut << ", the other thread";
  }
}

// Nothing of the program's swallows a SIGBUS (sent by another process, or a
// fault): it ends the program as it ends any program.
TEST_F(HostileInputsTest, ABusErrorEndsTheProcess) {
  WriteBytes("big", std::string(std::size_t{4} << 20, 'x'));
  WriteBytes("page", std::string(4096, 'p'));
  for (const bool sent : {true, false}) {
    const pid_t child = fork();
    if (child == 0) {
      platform::InputFile file;
      std::uint8_t buffer[4096];
      const std::uint8_t* block = nullptr;
      std::uint32_t read = 0;
      if (!file.Open(WideString(u"big")) ||
          !file.ReadBlock(buffer, sizeof buffer, &block, &read)) {
        _exit(1);
      }
      if (sent) {
        kill(getpid(), SIGBUS);
      } else {
        const int fd = open("page", O_RDWR);
        auto* page = static_cast<volatile char*>(
            mmap(nullptr, 4096, PROT_READ, MAP_SHARED, fd, 0));
        if (ftruncate(fd, 0) != 0 || page[0] == 'p') _exit(1);
      }
      _exit(0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    // The action there before: by default the signal ends the process; a
    // sanitizer's handler reports and exits. Either way it does not go on.
    EXPECT_TRUE((WIFSIGNALED(status) && WTERMSIG(status) == SIGBUS) ||
                (WIFEXITED(status) && WEXITSTATUS(status) != 0))
        << (sent ? "sent with kill" : "a fault");
  }
}

// No memory to spare for a chunk: blocks are read one by one.
TEST_F(HostileInputsTest, AFileIsHashedWithNoMemoryToSpare) {
  WriteBytes("big", std::string(std::size_t{3} << 20, 'y'));
  const pid_t child = fork();
  if (child == 0) {
    bool ok = false;
    // A thread of its own, whose chunk is not allocated yet: the limit comes
    // after its stack, before it allocates anything (an arena of its own
    // would hold the chunk).
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line) && line.rfind("VmSize:", 0) != 0) {
    }
    const rlim_t in_use = std::stoull(line.substr(7)) * 1024;
    std::thread reader([&] {
      const rlim_t stack = (rlim_t{8} << 20) + (rlim_t{64} << 10);
      const rlimit tight = {in_use + stack, in_use + stack};
      setrlimit(RLIMIT_AS, &tight);
      FileHash hash(provider_);
      const bool created = hash.Create(CALG_MD5);
      std::uint8_t digest[16];
      ok = created && HashFile(WideString(u"big"), hash) &&
           hash.GetValue(digest, sizeof digest) && digest[0] == 0xb8 &&
           digest[15] == 0x5d;
    });
    reader.join();
    _exit(ok ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// The peak resident memory, in KiB, since the last reset.
long PeakKib() {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line) && line.rfind("VmHWM:", 0) != 0) {
  }
  return line.empty() ? -1 : std::stol(line.substr(6));
}

// A sparse list of gigabytes of zeros is read a piece at a time: malformed
// at its first byte, for a few KiB, and the honest list beside it verified.
TEST_F(HostileInputsTest, ASparseListOfZerosCostsLittleAndTheOthersAreChecked) {
  const int fd = open("zeros.md5", O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, off_t{3} << 30), 0);
  close(fd);
  WriteBytes("a", "");
  WriteBytes("a.md5", std::string(kEmptyMd5) + " *a\n");
  std::ofstream("/proc/self/clear_refs") << "5";  // resets the peak
  const long before = PeakKib();
  Verify();
  EXPECT_LT(PeakKib() - before, 64 * 1024) << "KiB more at the peak";
  ASSERT_EQ(desktop_.boxes.size(), 2u);
  EXPECT_EQ(desktop_.boxes[0].caption, u"zeros.md5");
  EXPECT_EQ(LastText(),
            u"a - OK\r\n\r\n" + std::u16string(kSucceededCaptionText));
}

TEST_F(HostileInputsTest, AFileOfFiveGibibytesIsHashedWhole) {
  const int fd = open("zeros", O_CREAT | O_WRONLY, 0644);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(ftruncate(fd, off_t{5} << 30), 0);  // sparse: past any 32-bit size
  close(fd);
  WriteBytes("zeros.md5", "ec4bcc8776ea04479b786e063a9ace45 *zeros\n");
  Verify();
  ASSERT_EQ(desktop_.boxes.size(), 1u);
  EXPECT_EQ(desktop_.boxes[0].text,
            u"zeros - OK\r\n\r\n" + std::u16string(kSucceededCaptionText));
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
  VerifyDigests(verifier, provider_);
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
            u"Invalid or incomplete multibyte or wide character");
  EXPECT_FALSE(Exists("a\nb.md5"));
}

}  // namespace
