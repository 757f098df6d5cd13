#include "run/hash_threads.h"

#include <gtest/gtest.h>

namespace {

using platform::DiskKind;

TEST(HashThreadsTest, FilesAtOnceByDiskAndCpus) {
  EXPECT_EQ(run::FilesAtOnce(DiskKind::kSpinning, 4), 1u);
  EXPECT_EQ(run::FilesAtOnce(DiskKind::kOther, 1), 1u);
  EXPECT_EQ(run::FilesAtOnce(DiskKind::kOther, 2), 2u);
  EXPECT_EQ(run::FilesAtOnce(DiskKind::kOther, 64), 8u) << "at most 8";
  EXPECT_EQ(run::FilesAtOnce(DiskKind::kVirtual, 1), 1u)
      << "one CPU given: one file";
  EXPECT_EQ(run::FilesAtOnce(DiskKind::kVirtual, 2), 4u)
      << "a queue deeper than the CPUs";
  EXPECT_EQ(run::FilesAtOnce(DiskKind::kVirtual, 6), 8u);
}

}  // namespace
