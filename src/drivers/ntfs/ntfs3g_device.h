// libntfs-3g over our block devices: a custom ntfs_device_operations table
// whose every read and write goes through a BlockDevice, so memory drives,
// fault injection and the write log see libntfs-3g's traffic too.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/block_device.h"

struct _ntfs_volume;
struct ntfs_device;

namespace platform {

// A volume mounted by libntfs-3g; unmounted when destroyed.
class Ntfs3gVolume {
 public:
  // Mounts the volume held by `device`. Null with an explanation when
  // libntfs-3g refuses it; `readFailed` is set when a device read failed.
  static std::unique_ptr<Ntfs3gVolume> Mount(std::shared_ptr<BlockDevice> device, bool readOnly,
                                             std::string& error, bool* readFailed = nullptr);
  ~Ntfs3gVolume();
  Ntfs3gVolume(const Ntfs3gVolume&) = delete;
  Ntfs3gVolume& operator=(const Ntfs3gVolume&) = delete;

  // The libntfs-3g volume, for drivers that go further.
  _ntfs_volume* Volume() const { return volume_; }
  uint64_t TotalClusters() const;
  uint32_t ClusterSize() const;
  std::string Label() const;
  // Zero bits of the cluster bitmap for clusters 0 .. TotalClusters - 1;
  // false when the bitmap cannot be read.
  bool CountFreeClusters(uint64_t& free) const;

  // The device behind libntfs-3g's ntfs_device (defined in the .cpp).
  struct DeviceState;

 private:
  Ntfs3gVolume(std::unique_ptr<DeviceState> state, _ntfs_volume* volume);
  std::unique_ptr<DeviceState> state_;
  _ntfs_volume* volume_;
};

// Quiets libntfs-3g's messages on standard error unless VODURU_DEBUG is set.
// Called by Mount; safe to call again.
void ConfigureNtfs3gLogging();

}  // namespace platform
