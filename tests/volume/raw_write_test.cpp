// The one raw-write path on real FAT and NTFS volumes: who may write, the
// clean-volume check, and what a failed write leaves behind.
#include "volume/raw_write.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "platform/block_device.h"
#include "platform/nt.h"
#include "platform/platform.h"
#include "runtime/bytes.h"
#include "support/volume_images.h"
#include "volume/clean_check.h"
#include "volume/error_state.h"
#include "volume/session.h"

extern "C" {
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/layout.h>
#include <ntfs-3g/volume.h>
}

namespace vr {
namespace {

// Accepts every write and keeps none of it: a device that drops writes.
class DroppingDevice : public platform::ForwardingDevice {
 public:
  explicit DroppingDevice(std::shared_ptr<platform::BlockDevice> inner)
      : ForwardingDevice(std::move(inner)) {}
  bool Write(uint64_t, const void*, size_t) override { return true; }
  bool Flush() override { return true; }
  bool ReadOnly() const override { return false; }
};

// A fresh FAT volume from mkfs.fat: FAT16 of 16 MB or FAT12 of 1.44 MB.
std::vector<uint8_t> MakeImage(int fatBits = 16) {
  const std::string path = testsupport::TempPath("raw-write.fat");
  std::string error;
  EXPECT_TRUE(
      testsupport::MakeFatImage(path, fatBits == 16 ? 16384 : 1440, fatBits, "", "RAW", error))
      << error;
  std::vector<uint8_t> bytes = testsupport::ReadFileBytes(path);
  std::remove(path.c_str());
  return bytes;
}

class RawWriteTest : public testing::Test {
 protected:
  void SetUp() override {
    platform::ResetPlatform();
    ResetErrorState();
    SetWriteVerify(false);
  }
  void TearDown() override {
    Close_Drive(VolumeSession.VolumeHandle);
    SetWriteVerify(false);
    platform::ResetPlatform();
  }
  // Maps `image` as drive W under a write log (and `extra` wrappers below
  // it), then opens it as the optimiser does.
  void Open(const std::vector<uint8_t>& image, uint32_t access = kAccessReadWrite,
            std::vector<std::string> busy = {}, platform::DeviceWrapper extra = nullptr) {
    device_ = std::make_shared<platform::MemoryDevice>(image, false);
    platform::MapMemoryDrive('w', device_, std::move(busy));
    platform::SetDeviceWrapper('w', [this, extra](std::shared_ptr<platform::BlockDevice> inner) {
      if (extra) inner = extra(inner);
      log_ = std::make_shared<platform::WriteLogDevice>(inner);
      return log_;
    });
    VolumeSession.VolumeHandle = Open_Lock_Drive("w:", access);
    ASSERT_NE(VolumeSession.VolumeHandle, -1);
  }
  std::vector<uint8_t> Sectors(int count, uint8_t fill) {
    return std::vector<uint8_t>(static_cast<size_t>(count) * kSectorSize, fill);
  }
  std::shared_ptr<platform::MemoryDevice> device_;
  std::shared_ptr<platform::WriteLogDevice> log_;
};

TEST_F(RawWriteTest, WritesOnlyOnAVolumeHeldExclusivelyAndLocked) {
  const std::vector<uint8_t> image = MakeImage();
  // Another program holds a file: the open falls back to shared.
  ASSERT_NO_FATAL_FAILURE(Open(image, kAccessReadWrite, {"busy.dat"}));
  ASSERT_NE(VolumeSession.SharedMode, 0);
  EXPECT_FALSE(Raw_Write(100, Sectors(1, 0xAB)));
  EXPECT_EQ(LastWriteRefusal(), "The volume is not held exclusively and locked.");
  EXPECT_TRUE(log_->Log().empty());
  Close_Drive(VolumeSession.VolumeHandle);
  // A read-only handle never writes, even exclusive and locked.
  ASSERT_NO_FATAL_FAILURE(Open(image, kAccessRead));
  ASSERT_NE(VolumeSession.Locked, 0);
  EXPECT_FALSE(Raw_Write(100, Sectors(1, 0xAB)));
  EXPECT_TRUE(log_->Log().empty());
  EXPECT_EQ(device_->Bytes(), image);
  Close_Drive(VolumeSession.VolumeHandle);
  // Exclusive, locked, writable and clean: whole sectors go where asked.
  ASSERT_NO_FATAL_FAILURE(Open(image));
  EXPECT_FALSE(Raw_Write(100, std::vector<uint8_t>(100, 0xAB)));
  EXPECT_EQ(LastWriteRefusal(), "A write must cover whole sectors.");
  EXPECT_FALSE(Raw_Write(-1, Sectors(1, 0xAB)));
  EXPECT_TRUE(log_->Log().empty());
  ASSERT_TRUE(Raw_Write(100, Sectors(2, 0xAB))) << LastWriteRefusal();
  EXPECT_EQ(LastWriteRefusal(), "");
  ASSERT_EQ(log_->Log().size(), 1u);
  EXPECT_EQ(log_->Log()[0].offset, 100u * kSectorSize);
  EXPECT_EQ(log_->Log()[0].bytes.size(), 2u * kSectorSize);
  for (size_t i = 0; i < image.size(); ++i)
    ASSERT_EQ(device_->Bytes()[i],
              i / kSectorSize == 100 || i / kSectorSize == 101 ? 0xAB : image[i])
        << i;
  // Nothing of the error state is touched: the callers report in their words.
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

TEST_F(RawWriteTest, UncleanFatVolumeIsViewedButNeverWritten) {
  const std::vector<uint8_t> clean = MakeImage();
  const size_t fatSector = U16(clean, 0x0E);
  struct Case {
    const char* name;
    size_t at;
    uint8_t clear, set;
    const char* why;
  } cases[] = {
      {"shut down uncleanly", fatSector * 512 + 3, 0x80, 0,
       "The volume is not clean: it was not shut down cleanly (FAT entry 1)."},
      {"disk errors", fatSector * 512 + 3, 0x40, 0,
       "The volume is not clean: it has disk errors recorded (FAT entry 1)."},
      {"boot byte 0x25", 0x25, 0, 0x01,
       "The volume is not clean: it is marked dirty (boot sector)."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<uint8_t> image = clean;
    image[c.at] = static_cast<uint8_t>((image[c.at] & ~c.clear) | c.set);
    ASSERT_NO_FATAL_FAILURE(Open(image));
    EXPECT_EQ(VolumeNotClean(), c.why);
    ByteArray boot(511);
    EXPECT_TRUE(Raw_Read(0, boot.Span())) << "an unclean volume is still read";
    EXPECT_FALSE(Raw_Write(100, Sectors(1, 0xAB)));
    EXPECT_EQ(LastWriteRefusal(), c.why);
    EXPECT_TRUE(log_->Log().empty());
    EXPECT_EQ(device_->Bytes(), image);
    Close_Drive(VolumeSession.VolumeHandle);
  }
  // FAT12 keeps no clean bits: a fresh FAT12 volume is writable.
  ASSERT_NO_FATAL_FAILURE(Open(MakeImage(12)));
  EXPECT_EQ(VolumeNotClean(), "");
  EXPECT_TRUE(Raw_Write(40, Sectors(1, 0))) << LastWriteRefusal();
}

// Changes the NTFS image at `path` through libntfs-3g.
void SetDirty(const std::string& path) {
  ntfs_volume* vol = ntfs_mount(path.c_str(), 0);
  ASSERT_NE(vol, nullptr);
  EXPECT_EQ(ntfs_volume_write_flags(vol, vol->flags | VOLUME_IS_DIRTY), 0);
  ntfs_umount(vol, FALSE);
}

// Writes a restart page into $LogFile that names a client still in use and
// lacks the clean flag: a log with work to replay.
void SetLogInUse(const std::string& path) {
  ntfs_volume* vol = ntfs_mount(path.c_str(), 0);
  ASSERT_NE(vol, nullptr);
  ntfs_inode* ni = ntfs_inode_open(vol, FILE_LogFile);
  ASSERT_NE(ni, nullptr);
  ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0);
  ASSERT_NE(na, nullptr);
  std::vector<uint8_t> page(4096, 0);
  const MutableBytes p(page);
  PutU32(p, 0, 0x52545352u);  // "RSTR"
  PutU16(p, 4, 0x1E);
  PutU16(p, 6, 9);
  PutU32(p, 0x10, 4096);
  PutU32(p, 0x14, 4096);
  PutU16(p, 0x18, 0x30);
  PutU16(p, 0x30 + 0x0C, 0);  // client 0 in use
  PutU16(p, 0x30 + 0x0E, 0);  // not clean
  EXPECT_EQ(ntfs_attr_pwrite(na, 0, 4096, page.data()), 4096);
  ntfs_attr_close(na);
  ntfs_inode_close(ni);
  ntfs_umount(vol, FALSE);
}

TEST_F(RawWriteTest, UncleanNtfsVolumeIsViewedButNeverWritten) {
  const std::string path = testsupport::TempPath("raw-write.ntfs");
  std::string error;
  ASSERT_TRUE(testsupport::MakeNtfsImage(path, 8, 4096, "RAW", error)) << error;
  const std::vector<uint8_t> clean = testsupport::ReadFileBytes(path);
  ASSERT_NO_FATAL_FAILURE(Open(clean));
  EXPECT_EQ(VolumeNotClean(), "") << "a fresh mkntfs volume is clean";
  EXPECT_TRUE(Raw_Write(200, Sectors(1, 0))) << LastWriteRefusal();
  Close_Drive(VolumeSession.VolumeHandle);

  ASSERT_NO_FATAL_FAILURE(SetDirty(path));
  std::vector<uint8_t> dirty = testsupport::ReadFileBytes(path);
  ASSERT_NO_FATAL_FAILURE(Open(dirty));
  EXPECT_EQ(VolumeNotClean(), "The volume is not clean: it is marked dirty ($Volume).");
  EXPECT_FALSE(Raw_Write(200, Sectors(1, 0)));
  EXPECT_TRUE(log_->Log().empty());
  Close_Drive(VolumeSession.VolumeHandle);

  ASSERT_TRUE(testsupport::WriteFileBytes(path, clean));
  ASSERT_NO_FATAL_FAILURE(SetLogInUse(path));
  const std::vector<uint8_t> logged = testsupport::ReadFileBytes(path);
  ASSERT_NO_FATAL_FAILURE(Open(logged));
  EXPECT_EQ(VolumeNotClean(), "The volume is not clean: its $LogFile was not closed cleanly.");
  EXPECT_FALSE(Raw_Write(200, Sectors(1, 0)));
  EXPECT_TRUE(log_->Log().empty());
  EXPECT_EQ(device_->Bytes(), logged);
  std::remove(path.c_str());
}

TEST_F(RawWriteTest, FailedTransfersAreFailuresThatWriteNothingElsewhere) {
  const std::vector<uint8_t> image = MakeImage();
  // The device refuses the first write: a failure, the volume unchanged.
  std::shared_ptr<platform::FaultDevice> fault;
  ASSERT_NO_FATAL_FAILURE(Open(image, kAccessReadWrite, {}, [&](auto inner) {
    fault = std::make_shared<platform::FaultDevice>(inner, 0, 1);
    return fault;
  }));
  EXPECT_FALSE(Raw_Write(100, Sectors(1, 0xAB)));
  EXPECT_EQ(LastWriteRefusal(), "Error writing drive");
  EXPECT_EQ(device_->Bytes(), image);
  Close_Drive(VolumeSession.VolumeHandle);
  // A write past the end of the volume moves nothing.
  ASSERT_NO_FATAL_FAILURE(Open(image));
  const Long past = static_cast<int64_t>(image.size() / kSectorSize) - 1;
  EXPECT_FALSE(Raw_Write(past, Sectors(2, 0xAB)));
  EXPECT_EQ(device_->Bytes(), image);
  // A seek that fails (the handle gone behind the session's back) writes
  // nothing, not at the position the handle last had.
  nt::CloseHandle(VolumeSession.VolumeHandle);
  EXPECT_FALSE(Raw_Write(100, Sectors(1, 0xAB)));
  EXPECT_EQ(device_->Bytes(), image);
  VolumeSession.VolumeHandle = -1;
  VolumeSession.Locked = 0;
  // Read-back verification catches a device that drops writes; without it
  // the write looks done.
  ASSERT_NO_FATAL_FAILURE(Open(image, kAccessReadWrite, {},
                               [](auto inner) { return std::make_shared<DroppingDevice>(inner); }));
  EXPECT_TRUE(Raw_Write(100, Sectors(1, 0xAB)));
  SetWriteVerify(true);
  EXPECT_FALSE(Raw_Write(100, Sectors(1, 0xAB)));
  EXPECT_EQ(LastWriteRefusal(), "Error writing drive");
  SetWriteVerify(false);
}

}  // namespace
}  // namespace vr
