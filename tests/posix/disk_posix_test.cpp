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
  using platform::DiskKind;
  using platform::posix::KindOfDisk;
  EXPECT_EQ(KindOfDisk(sysfs, 8, 0), DiskKind::kSpinning);
  EXPECT_EQ(KindOfDisk(sysfs, 8, 1), DiskKind::kSpinning)
      << "a partition, through its disk";
  EXPECT_EQ(KindOfDisk(sysfs, 259, 0), DiskKind::kOther);
  EXPECT_EQ(KindOfDisk(sysfs, 253, 0), DiskKind::kOther) << "device-mapper";
  EXPECT_EQ(KindOfDisk(sysfs, 9, 0), DiskKind::kOther) << "md";
  EXPECT_EQ(KindOfDisk(sysfs, 0, 42), DiskKind::kOther)
      << "btrfs, overlay, NFS: no block device";

  // Disks that say they seek: a KVM guest's virtio disk, and a spinning
  // disk behind an ordinary SCSI host, which still seeks. A virtio disk
  // that says it does not is the hypervisor's all the same.
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
  Device(pci + "/virtio1/block/vdb", "0");
  std::filesystem::create_directory_symlink(pci + "/virtio1/block/vdb",
                                            sysfs + "/dev/block/254:16");
  EXPECT_EQ(KindOfDisk(sysfs, 254, 0), DiskKind::kVirtual);
  EXPECT_EQ(KindOfDisk(sysfs, 254, 16), DiskKind::kVirtual);
  EXPECT_EQ(KindOfDisk(sysfs, 8, 16), DiskKind::kSpinning)
      << "a real spinning disk";
}

}  // namespace
