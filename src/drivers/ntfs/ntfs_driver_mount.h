// The NTFS driver's libntfs-3g mount of its volume: made when first needed,
// dropped when the volume changed behind the driver (after the program's
// lock or its raw writes) and made again on the next request, so nothing
// the driver answers comes from before the change.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "drivers/ntfs/ntfs3g_device.h"
#include "platform/block_device.h"
#include "platform/nt.h"

struct _ntfs_volume;

namespace platform {

class NtfsMount {
 public:
  // Keeps libntfs-3g inodes of this mount open between requests (an open
  // file's inode and data attribute). Told to close them before every
  // unmount, so nothing opened in one mount is used in the next.
  class Holder {
   public:
    virtual void CloseOpen() = 0;

   protected:
    ~Holder() = default;
  };

  // `readOnly`: the volume may never be changed (mounted by the kernel, or
  // an image that cannot be written).
  NtfsMount(std::shared_ptr<BlockDevice> device, bool readOnly);

  // The mounted volume, read-only; null and the status to answer when
  // libntfs-3g cannot mount it.
  _ntfs_volume* Volume(nt::NTSTATUS& status);
  // The volume mounted for changes (file moves): remounted read-write when
  // it was mounted read-only. Refused with STATUS_MEDIA_WRITE_PROTECTED on
  // a read-only volume, STATUS_ACCESS_DENIED while the program holds the
  // volume locked.
  _ntfs_volume* WritableVolume(nt::NTSTATUS& status);
  // The mount as libntfs-3g holds it (null when not mounted).
  Ntfs3gVolume* Mounted() const { return mount_.get(); }
  // Unmounts; the next request mounts again.
  void Drop();
  // A holder is attached while it may keep inodes open; it detaches
  // before it goes away.
  void Attach(Holder* holder);
  void Detach(Holder* holder);
  // Closes what every holder keeps open: before an unmount, and before a
  // change to the volume that the kept inodes would not see.
  void CloseHeld();
  bool ReadOnly() const { return readOnly_; }
  // The reason of the last failed mount.
  const std::string& Error() const { return error_; }

 private:
  _ntfs_volume* MountAs(bool writable, nt::NTSTATUS& status);
  std::shared_ptr<BlockDevice> device_;
  bool readOnly_;
  std::vector<Holder*> holders_;
  std::unique_ptr<Ntfs3gVolume> mount_;
  bool writable_ = false;
  std::string error_;
};

}  // namespace platform
