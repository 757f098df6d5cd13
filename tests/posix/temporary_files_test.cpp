#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include "output/digest_file_batch.h"

namespace {

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
