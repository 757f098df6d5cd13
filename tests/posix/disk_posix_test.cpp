#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "platform/posix/rotational.h"
#include "support/temp_dir.h"

namespace {

// A fake sysfs: a spinning disk with a partition, a solid-state disk, a
// device-mapper volume on the spinning one, and an md array.
void Device(const std::string& at, const char* rotational) {
  std::filesystem::create_directories(at + "/queue");
  std::ofstream(at + "/queue/rotational") << rotational << "\n";
}

TEST(DiskPosixTest, RotationalThroughTheParentDiskAndUnknownOtherwise) {
  const TempDirectory dir;
  const std::string sysfs = dir.path().string();
  std::filesystem::create_directories(sysfs + "/block/sda/sda1");
  Device(sysfs + "/block/sda", "1");
  std::ofstream(sysfs + "/block/sda/sda1/partition") << "1\n";
  Device(sysfs + "/block/nvme0n1", "0");
  Device(sysfs + "/block/dm-0", "1");
  std::filesystem::create_directories(sysfs + "/block/dm-0/dm");
  Device(sysfs + "/block/md0", "1");
  std::filesystem::create_directories(sysfs + "/block/md0/md");
  std::filesystem::create_directories(sysfs + "/dev/block");
  const std::pair<const char*, const char*> links[] = {{"8:0", "sda"},
                                                       {"8:1", "sda/sda1"},
                                                       {"259:0", "nvme0n1"},
                                                       {"253:0", "dm-0"},
                                                       {"9:0", "md0"}};
  for (const auto& [number, device] : links) {
    std::filesystem::create_directory_symlink(sysfs + "/block/" + device,
                                              sysfs + "/dev/block/" + number);
  }
  using platform::posix::IsRotational;
  EXPECT_TRUE(IsRotational(sysfs, 8, 0));
  EXPECT_TRUE(IsRotational(sysfs, 8, 1)) << "a partition, through its disk";
  EXPECT_FALSE(IsRotational(sysfs, 259, 0));
  EXPECT_FALSE(IsRotational(sysfs, 253, 0)) << "device-mapper: unknown";
  EXPECT_FALSE(IsRotational(sysfs, 9, 0)) << "md: unknown";
  EXPECT_FALSE(IsRotational(sysfs, 0, 42)) << "btrfs, overlay, NFS: unknown";

  // Disks that say they seek: a KVM guest's virtio disk, and a spinning
  // disk behind an ordinary SCSI host, which still seeks.
  const std::string pci = sysfs + "/devices/pci0000:00/0000:00:02.0";
  Device(pci + "/virtio1/block/vda", "1");
  std::filesystem::create_directory_symlink(
      "../../../../bus/virtio/drivers/virtio_blk", pci + "/virtio1/driver");
  std::filesystem::create_directory_symlink(
      "../../../bus/pci/drivers/virtio-pci", pci + "/driver");
  Device(pci + "/host0/target0:0:0/0:0:0:0/block/sdb", "1");
  std::filesystem::create_directory_symlink(
      "../../../../../bus/scsi/drivers/sd",
      pci + "/host0/target0:0:0/0:0:0:0/driver");
  std::filesystem::create_directory_symlink(pci + "/virtio1/block/vda",
                                            sysfs + "/dev/block/254:0");
  std::filesystem::create_directory_symlink(
      pci + "/host0/target0:0:0/0:0:0:0/block/sdb", sysfs + "/dev/block/8:16");
  EXPECT_FALSE(IsRotational(sysfs, 254, 0)) << "virtio_blk: every core";
  EXPECT_TRUE(IsRotational(sysfs, 8, 16)) << "a real spinning disk: one";
}

}  // namespace
