#include "drivers/ntfs/ntfs_driver_mount.h"

#include <algorithm>

#include "platform/fs_driver.h"

namespace platform {

NtfsMount::NtfsMount(std::shared_ptr<BlockDevice> device, bool readOnly)
    : device_(std::move(device)), readOnly_(readOnly) {}

_ntfs_volume* NtfsMount::MountAs(bool writable, nt::NTSTATUS& status) {
  CloseHeld();
  mount_.reset();
  bool readFailed = false;
  mount_ = Ntfs3gVolume::Mount(device_, !writable, error_, &readFailed);
  if (!mount_) {
    status = readFailed ? nt::STATUS_DEVICE_DATA_ERROR : nt::STATUS_DISK_CORRUPT_ERROR;
    return nullptr;
  }
  writable_ = writable;
  status = nt::STATUS_SUCCESS;
  return mount_->Volume();
}

_ntfs_volume* NtfsMount::Volume(nt::NTSTATUS& status) {
  if (mount_) {
    status = nt::STATUS_SUCCESS;
    return mount_->Volume();
  }
  return MountAs(false, status);
}

_ntfs_volume* NtfsMount::WritableVolume(nt::NTSTATUS& status) {
  // The device reports read-only while the program holds the lock.
  if (readOnly_ || device_->ReadOnly()) {
    status = readOnly_ ? nt::STATUS_MEDIA_WRITE_PROTECTED : nt::STATUS_ACCESS_DENIED;
    return nullptr;
  }
  if (mount_ && writable_) {
    status = nt::STATUS_SUCCESS;
    return mount_->Volume();
  }
  return MountAs(true, status);
}

void NtfsMount::Drop() {
  CloseHeld();
  mount_.reset();
  writable_ = false;
}

void NtfsMount::Attach(Holder* holder) { holders_.push_back(holder); }

void NtfsMount::Detach(Holder* holder) {
  holders_.erase(std::remove(holders_.begin(), holders_.end(), holder), holders_.end());
}

void NtfsMount::CloseHeld() {
  for (Holder* holder : holders_) holder->CloseOpen();
}

}  // namespace platform
