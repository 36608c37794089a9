// Opens an image as drive F: through the platform, the way a volume command
// does: raw open, boot sector read with one 512-byte read, cluster count from
// the system. The image is held in memory, so tests can damage a copy.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "fat/fat_chain.h"
#include "fat/fat_table.h"
#include "platform/block_device.h"
#include "platform/platform.h"
#include "volume/error_state.h"
#include "volume/session.h"

namespace vr {

class FatImageSession {
 public:
  explicit FatImageSession(std::vector<uint8_t> image, platform::DeviceWrapper wrapper = nullptr) {
    platform::ResetPlatform();
    ResetErrorState();
    device_ = std::make_shared<platform::MemoryDevice>(std::move(image), true);
    platform::MapMemoryDrive('f', device_);
    if (wrapper) platform::SetDeviceWrapper('f', wrapper);
    VolumeSession.DriveName = "f:";
    VolumeSession.VolumeHandle = Open_Lock_Drive("f:", kAccessRead);
    opened_ = VolumeSession.VolumeHandle != -1;
    EXPECT_TRUE(opened_) << "the image does not open as a drive";
    if (!opened_) return;
    EXPECT_TRUE(Raw_Read(0, VolumeSession.BootSector.Span()));
    Long spc = 0;
    VolumeSession.TotalSectors = Disk_Size("f:\\", spc);
    VolumeSession.SectorsPerCluster = U8(VolumeSession.BootSector.Span(), 0x0D);
    ResetErrorState();
  }
  ~FatImageSession() {
    Close_Drive(VolumeSession.VolumeHandle);
    platform::ResetPlatform();
  }
  FatImageSession(const FatImageSession&) = delete;
  FatImageSession& operator=(const FatImageSession&) = delete;

  bool Opened() const { return opened_; }

 private:
  std::shared_ptr<platform::MemoryDevice> device_;
  bool opened_ = false;
};

// The clusters of the chain from `start` as FAT_Chain gives them, expanded
// from its segments (empty when it reports 0).
inline std::vector<uint32_t> ChainClusters(Long start, Long* total = nullptr,
                                           int64_t* segments = nullptr) {
  VbArray<Long> lengths, starts;
  const Long t = FAT_Chain(start, lengths, starts);
  if (total != nullptr) *total = t;
  if (segments != nullptr) *segments = lengths.UBound();
  std::vector<uint32_t> clusters;
  if (t == 0) return clusters;
  for (int64_t k = 1; k <= lengths.UBound(); ++k)
    for (int32_t n = 0; n < lengths(k); ++n)
      clusters.push_back(static_cast<uint32_t>(starts(k) + n));
  return clusters;
}

}  // namespace vr
