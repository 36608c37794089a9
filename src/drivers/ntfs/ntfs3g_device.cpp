// libntfs-3g mounted over a BlockDevice through its device-operations table.
#include "drivers/ntfs/ntfs3g_device.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

extern "C" {
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/cache.h>
#include <ntfs-3g/device.h>
#include <ntfs-3g/logging.h>
#include <ntfs-3g/types.h>
#include <ntfs-3g/volume.h>
}

namespace platform {

// The private data of the ntfs_device: the block device and a file position
// for the sequential calls.
struct Ntfs3gVolume::DeviceState {
  std::shared_ptr<BlockDevice> device;
  s64 position = 0;
  bool readFailed = false;
};

namespace {

using State = Ntfs3gVolume::DeviceState;

State* StateOf(struct ntfs_device* dev) { return static_cast<State*>(dev->d_private); }

int OpOpen(struct ntfs_device* dev, int flags) {
  State* s = StateOf(dev);
  if ((flags & O_ACCMODE) != O_RDONLY && s->device->ReadOnly()) {
    errno = EROFS;
    return -1;
  }
  if ((flags & O_ACCMODE) == O_RDONLY) NDevSetReadOnly(dev);
  s->position = 0;
  NDevSetOpen(dev);
  return 0;
}

int OpClose(struct ntfs_device* dev) {
  if (NDevDirty(dev) && !StateOf(dev)->device->Flush()) {
    errno = EIO;
    return -1;
  }
  NDevClearOpen(dev);
  return 0;
}

s64 OpSeek(struct ntfs_device* dev, s64 offset, int whence) {
  State* s = StateOf(dev);
  s64 base = 0;
  switch (whence) {
    case SEEK_SET: base = 0; break;
    case SEEK_CUR: base = s->position; break;
    case SEEK_END: base = static_cast<s64>(s->device->Size()); break;
    default: errno = EINVAL; return -1;
  }
  if (base + offset < 0) {
    errno = EINVAL;
    return -1;
  }
  s->position = base + offset;
  return s->position;
}

// libntfs-3g accepts a short count at the end of the device; everything
// inside it must move in full or the call fails with EIO.
s64 OpPread(struct ntfs_device* dev, void* buf, s64 count, s64 offset) {
  State* s = StateOf(dev);
  if (count < 0 || offset < 0) {
    errno = EINVAL;
    return -1;
  }
  const auto size = static_cast<s64>(s->device->Size());
  if (offset >= size) return 0;
  if (count > size - offset) count = size - offset;
  if (!s->device->Read(static_cast<uint64_t>(offset), buf, static_cast<size_t>(count))) {
    s->readFailed = true;
    errno = EIO;
    return -1;
  }
  return count;
}

s64 OpPwrite(struct ntfs_device* dev, const void* buf, s64 count, s64 offset) {
  State* s = StateOf(dev);
  if (NDevReadOnly(dev) || s->device->ReadOnly()) {
    errno = EROFS;
    return -1;
  }
  if (count < 0 || offset < 0 || count > static_cast<s64>(s->device->Size()) - offset) {
    errno = ENOSPC;
    return -1;
  }
  if (!s->device->Write(static_cast<uint64_t>(offset), buf, static_cast<size_t>(count))) {
    errno = EIO;
    return -1;
  }
  NDevSetDirty(dev);
  return count;
}

s64 OpRead(struct ntfs_device* dev, void* buf, s64 count) {
  const s64 n = OpPread(dev, buf, count, StateOf(dev)->position);
  if (n > 0) StateOf(dev)->position += n;
  return n;
}

s64 OpWrite(struct ntfs_device* dev, const void* buf, s64 count) {
  const s64 n = OpPwrite(dev, buf, count, StateOf(dev)->position);
  if (n > 0) StateOf(dev)->position += n;
  return n;
}

int OpSync(struct ntfs_device* dev) {
  if (!StateOf(dev)->device->Flush()) {
    errno = EIO;
    return -1;
  }
  NDevClearDirty(dev);
  return 0;
}

int OpStat(struct ntfs_device* dev, struct stat* buf) {
  *buf = {};
  buf->st_mode = S_IFREG | 0600;
  buf->st_size = static_cast<off_t>(StateOf(dev)->device->Size());
  return 0;
}

int OpIoctl(struct ntfs_device*, unsigned long, void*) {
  errno = ENOTTY;
  return -1;
}

struct ntfs_device_operations kOperations = {
    OpOpen, OpClose, OpSeek, OpRead, OpWrite, OpPread, OpPwrite, OpSync, OpStat, OpIoctl,
};

}  // namespace

void ConfigureNtfs3gLogging() {
  const char* debug = std::getenv("VODURU_DEBUG");
  if (debug != nullptr && *debug != '\0') {
    ntfs_log_set_handler(ntfs_log_handler_stderr);
  } else {
    ntfs_log_set_handler(ntfs_log_handler_null);
    ntfs_log_clear_levels(~0u);
  }
}

Ntfs3gVolume::Ntfs3gVolume(std::unique_ptr<DeviceState> state, _ntfs_volume* volume)
    : state_(std::move(state)), volume_(volume) {}

std::unique_ptr<Ntfs3gVolume> Ntfs3gVolume::Mount(std::shared_ptr<BlockDevice> device,
                                                  bool readOnly, std::string& error,
                                                  bool* readFailed) {
  ConfigureNtfs3gLogging();
  if (readFailed != nullptr) *readFailed = false;
  auto state = std::make_unique<DeviceState>();
  state->device = std::move(device);
  if (!readOnly && state->device->ReadOnly()) {
    error = "The volume is read-only";
    return nullptr;
  }
  struct ntfs_device* dev = ntfs_device_alloc("voduru", 0, &kOperations, state.get());
  if (dev == nullptr) {
    error = "Out of memory";
    return nullptr;
  }
  errno = 0;
  ntfs_volume* vol =
      ntfs_device_mount(dev, static_cast<ntfs_mount_flags>(readOnly ? NTFS_MNT_RDONLY : 0));
  if (vol == nullptr) {
    const int err = errno;
    if (NDevOpen(dev)) OpClose(dev);
    ntfs_device_free(dev);
    if (readFailed != nullptr) *readFailed = state->readFailed;
    error = state->readFailed ? "Error reading the volume"
                              : std::string("NTFS volume not mountable: ") +
                                    (err != 0 ? std::strerror(err) : "unknown");
    return nullptr;
  }
  // The caches ntfs_mount sets up over its own device: closed inodes kept
  // for reopening (a listing, the open by path and the read that follow
  // meet the same records), lookups and security ids. They belong to this
  // mount and go with it (ntfs_umount frees them).
  ntfs_create_lru_caches(vol);
  return std::unique_ptr<Ntfs3gVolume>(new Ntfs3gVolume(std::move(state), vol));
}

Ntfs3gVolume::~Ntfs3gVolume() {
  if (volume_ != nullptr) ntfs_umount(volume_, FALSE);  // also frees the ntfs_device
}

uint64_t Ntfs3gVolume::TotalClusters() const { return static_cast<uint64_t>(volume_->nr_clusters); }

uint32_t Ntfs3gVolume::ClusterSize() const { return volume_->cluster_size; }

std::string Ntfs3gVolume::Label() const {
  return volume_->vol_name != nullptr ? std::string(volume_->vol_name) : std::string();
}

bool Ntfs3gVolume::CountFreeClusters(uint64_t& free) const {
  free = 0;
  ntfs_attr* na = volume_->lcnbmp_na;
  if (na == nullptr) return false;
  const uint64_t clusters = TotalClusters();
  std::vector<uint8_t> buffer(65536);
  uint64_t bit = 0;
  s64 position = 0;
  while (bit < clusters) {
    const uint64_t wantBytes = std::min<uint64_t>(buffer.size(), (clusters - bit + 7) / 8);
    const s64 got = ntfs_attr_pread(na, position, static_cast<s64>(wantBytes), buffer.data());
    if (got != static_cast<s64>(wantBytes)) return false;
    for (uint64_t i = 0; i < wantBytes; ++i) {
      uint8_t byte = buffer[i];
      const uint64_t bitsHere = std::min<uint64_t>(8, clusters - bit);
      if (bitsHere < 8) byte |= static_cast<uint8_t>(0xFF << bitsHere);  // bits past the end
      free += static_cast<uint64_t>(8 - std::popcount(byte));
      bit += bitsHere;
    }
    position += got;
  }
  return true;
}

}  // namespace platform
