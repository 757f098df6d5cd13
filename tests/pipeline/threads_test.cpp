#include "pipeline/threads.h"

#include <gtest/gtest.h>

namespace {

using platform::DiskKind;

TEST(ThreadsTest, FilesAtOnceByDiskAndCpus) {
  EXPECT_EQ(pipeline::FilesAtOnce(DiskKind::kSpinning, 4), 1u);
  EXPECT_EQ(pipeline::FilesAtOnce(DiskKind::kOther, 1), 1u);
  EXPECT_EQ(pipeline::FilesAtOnce(DiskKind::kOther, 2), 2u);
  EXPECT_EQ(pipeline::FilesAtOnce(DiskKind::kOther, 64), 8u) << "at most 8";
  EXPECT_EQ(pipeline::FilesAtOnce(DiskKind::kVirtual, 1), 1u)
      << "one CPU given: one file";
  EXPECT_EQ(pipeline::FilesAtOnce(DiskKind::kVirtual, 2), 4u)
      << "a queue deeper than the CPUs";
  EXPECT_EQ(pipeline::FilesAtOnce(DiskKind::kVirtual, 6), 8u);
}

}  // namespace
