// Large inputs cost little: a file hashed with no memory to spare for a
// chunk, a sparse list of gigabytes, a file past 4 GiB.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "hash/file_hash.h"
#include "support/run_test.h"
#include "support/texts.h"
#include "support/utf.h"

namespace {

using HostileInputsTest = RunTest;

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
      hash::FileHash hash(provider_);
      const bool created = hash.Create(common::CALG_MD5);
      std::uint8_t digest[16];
      ok = created && hash::HashFile(common::WideString(u"big"), hash) &&
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

}  // namespace
