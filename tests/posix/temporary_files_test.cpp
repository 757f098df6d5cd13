// The open defined below replaces the C library's, which fortified headers
// would define inline here.
#undef _FORTIFY_SOURCE

#include <dlfcn.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "output/digest_file_batch.h"
#include "support/temp_dir.h"

namespace {

// Names someone planted: the next `taken` temporary names the program asks
// for (an exclusive creation or a link) answer "exists", and each name
// asked is noted. `no_unnamed` refuses O_TMPFILE, as vfat does. Only this
// test sets them, on its own thread.
int taken = 0;
bool no_unnamed = false;
std::vector<std::string> asked;

bool Taken(const char* path) {
  if (std::strstr(path, ".~digestbox-") == nullptr) return false;
  asked.emplace_back(path);
  if (taken == 0) return false;
  --taken;
  errno = EEXIST;
  return true;
}

}  // namespace

extern "C" int open(const char* path, int flags, ...) {
  using Open = int (*)(const char*, int, ...);
  static const auto real = reinterpret_cast<Open>(::dlsym(RTLD_NEXT, "open"));
  va_list rest;
  va_start(rest, flags);
  const mode_t mode = va_arg(rest, mode_t);
  va_end(rest);
  if (no_unnamed && (flags & O_TMPFILE) == O_TMPFILE) {
    errno = EOPNOTSUPP;
    return -1;
  }
  if ((flags & O_EXCL) != 0 && Taken(path)) return -1;
  return real(path, flags, mode);
}

extern "C" int linkat(int from_folder, const char* from, int to_folder,
                      const char* to, int flags) noexcept {
  using Link = int (*)(int, const char*, int, const char*, int);
  static const auto real = reinterpret_cast<Link>(::dlsym(RTLD_NEXT, "linkat"));
  if (Taken(to)) return -1;
  return real(from_folder, from, to_folder, to, flags);
}

namespace {

// Taken names, whether the file was made under one (named) or linked to one
// at the end (unnamed), never stop the run nor are tried again: each try is
// a new random name, and the file still takes its place, leaving no other.
TEST(TemporaryFilesTest, TakenTemporaryNamesAreNotTriedAgain) {
  const TempDirectory dir;
  for (const bool named : {false, true}) {
    WriteBytes("a.md5", "old\n");
    no_unnamed = named;
    taken = 40;
    asked.clear();
    output::DigestFileBatch batch;
    const bool staged = batch.Stage(common::WideString(u"a.md5"), "new\n");
    const bool committed = staged && batch.Commit();
    no_unnamed = false;
    EXPECT_TRUE(committed) << named;
    EXPECT_EQ(taken, 0);
    EXPECT_EQ(std::set<std::string>(asked.begin(), asked.end()).size(), 41u);
    // Not a count a planter could run ahead of: random numbers.
    ASSERT_GE(asked.size(), 2u);
    const auto number = [](const std::string& path) {
      return std::stoull(path.substr(path.rfind('-') + 1));
    };
    EXPECT_NE(number(asked[1]), number(asked[0]) + 1);
    const std::map<std::string, std::string> expected = {{"a.md5", "new\n"}};
    EXPECT_EQ(Snapshot(), expected);
  }
}

// The usual soft limit of 1,024 descriptors would halve every batch, and
// double its flushes: the batch raises it toward the hard limit.
TEST(TemporaryFilesTest, ALowSoftLimitStillGivesAFullBatch) {
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &limit), 0);
  if (limit.rlim_max < 2 * output::DigestFileBatch::kMostStaged) {
    GTEST_SKIP() << "a hard limit of " << limit.rlim_max << " descriptors";
  }
  const pid_t child = fork();
  if (child == 0) {
    const rlimit low = {1024, limit.rlim_max};
    setrlimit(RLIMIT_NOFILE, &low);
    const output::DigestFileBatch batch;
    _exit(batch.Capacity() == output::DigestFileBatch::kMostStaged ? 0 : 1);
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

}  // namespace
