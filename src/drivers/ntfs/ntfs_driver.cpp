#include "drivers/ntfs/ntfs_driver.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <optional>

#include "drivers/ntfs/ntfs_driver_file.h"
#include "drivers/ntfs/ntfs_driver_fsctl.h"
#include "drivers/ntfs/ntfs_driver_mount.h"
#include "drivers/ntfs/ntfs_driver_move.h"
#include "drivers/ntfs/ntfs_driver_names.h"
#include "drivers/ntfs/ntfs_driver_relocate.h"
#include "drivers/ntfs/ntfs_ordered_device.h"

namespace platform {

namespace {

std::optional<uint64_t>& FlushDelaySetting() {
  static std::optional<uint64_t> delay;
  return delay;
}

// Moves whose records wait in memory are written together, with one flush
// for the data of all of them, when this many records or bytes of data are
// held, when a release of their old clusters is due, and when the volume's
// handles close or it is flushed or locked.
constexpr size_t kHeldRecords = 256;
constexpr uint64_t kHeldBytes = 64u << 20;

std::atomic<uint64_t>& MovesDone() {
  static std::atomic<uint64_t> moves{0};
  return moves;
}

class NtfsDriver : public FileSystemDriver {
 public:
  explicit NtfsDriver(const DriverContext& context)
      : device_(std::make_shared<NtfsOrderedDevice>(context.device)),
        mount_(std::make_shared<NtfsMount>(device_, context.readOnly)) {}
  // Going away is a dismount: clusters still waiting are freed now.
  ~NtfsDriver() override { Flush(); }
  NtfsDriver(const NtfsDriver&) = delete;
  NtfsDriver& operator=(const NtfsDriver&) = delete;

  // Mounts once at creation, so that a volume libntfs-3g refuses is
  // refused as a whole.
  bool Check(std::string& error) {
    nt::NTSTATUS status = nt::STATUS_SUCCESS;
    if (mount_->Volume(status) != nullptr) return true;
    error = mount_->Error();
    return false;
  }

  nt::NTSTATUS Open(const std::string& path, std::unique_ptr<DriverFile>& file) override {
    nt::NTSTATUS status = nt::STATUS_SUCCESS;
    _ntfs_volume* vol = mount_->Volume(status);
    if (vol == nullptr) return status;
    NtfsNode node;
    status = NtfsLookup(vol, path, node);
    if (status == nt::STATUS_SUCCESS) file = std::make_unique<NtfsFile>(mount_, std::move(node));
    return status;
  }

  nt::NTSTATUS List(const std::string& folder, std::vector<FsEntry>& entries) override {
    nt::NTSTATUS status = nt::STATUS_SUCCESS;
    _ntfs_volume* vol = mount_->Volume(status);
    if (vol == nullptr) return status;
    return NtfsList(vol, folder, entries);
  }

  FsControlResult FsControl(const FsControlRequest& request) override {
    Release(false);
    if (CheckLost()) return {DeviceError(), 0, false};
    switch (request.code) {
      case nt::FSCTL_GET_NTFS_FILE_RECORD:
      case nt::FSCTL_GET_VOLUME_BITMAP:
      case nt::FSCTL_GET_RETRIEVAL_POINTERS:
      case nt::FSCTL_GET_NTFS_VOLUME_DATA: return Query(request);
      case nt::FSCTL_MOVE_FILE: return Move(request);
      default: return {nt::STATUS_INVALID_DEVICE_REQUEST, 0, false};
    }
  }

  nt::NTSTATUS QueryVolume(FsVolumeFacts& facts) override {
    facts = FsVolumeFacts{};
    nt::NTSTATUS status = nt::STATUS_SUCCESS;
    if (mount_->Volume(status) == nullptr) return status;
    const Ntfs3gVolume& mounted = *mount_->Mounted();
    // The cluster count libntfs-3g checked against the device.
    facts.totalClusters = mounted.TotalClusters();
    facts.label = mounted.Label();
    if (!mounted.CountFreeClusters(facts.freeClusters)) return nt::STATUS_DISK_CORRUPT_ERROR;
    return nt::STATUS_SUCCESS;
  }

  // The volume may have changed behind the driver (the program held it
  // locked): clusters it had waiting may be in use now, so they are
  // forgotten, never freed.
  // Records still held back are dropped too: written now, they could undo
  // what the program changed.
  void Invalidate() override {
    device_->DropHeld();
    device_->TakeLost();
    mount_->Drop();
    moves_.Clear();
  }

  void Flush() override {
    Release(true);
    Commit();
  }

  nt::NTSTATUS Commit() override {
    if (device_->Held() != 0) device_->Flush();
    heldBytes_ = 0;
    return CheckLost() ? DeviceError() : nt::STATUS_SUCCESS;
  }

 private:
  FsControlResult Query(const FsControlRequest& request) {
    auto* file = dynamic_cast<NtfsFile*>(request.file);
    // Retrieval pointers are asked on a file; the others on the volume.
    if ((request.code == nt::FSCTL_GET_RETRIEVAL_POINTERS) != (file != nullptr))
      return {nt::STATUS_INVALID_PARAMETER, 0, false};
    nt::NTSTATUS status = nt::STATUS_SUCCESS;
    _ntfs_volume* vol = mount_->Volume(status);
    if (vol == nullptr) return {status, 0, false};
    switch (request.code) {
      case nt::FSCTL_GET_NTFS_FILE_RECORD: return NtfsFileRecord(vol, request);
      case nt::FSCTL_GET_VOLUME_BITMAP: return NtfsVolumeBitmap(vol, request);
      case nt::FSCTL_GET_RETRIEVAL_POINTERS:
        return NtfsRetrievalPointers(vol, file->Reference(), file->Folder(), request);
      default: return NtfsVolumeData(*mount_->Mounted(), request);
    }
  }

  // FSCTL_MOVE_FILE, on the volume handle, naming the file by its handle.
  FsControlResult Move(const FsControlRequest& request) {
    NtfsMoveRequest move;
    nt::NTSTATUS status = ParseMoveRequest(request, move);
    if (status != nt::STATUS_SUCCESS) return {status, 0, false};
    DriverFile* driverFile = request.fileOfHandle ? request.fileOfHandle(move.file) : nullptr;
    auto* file = dynamic_cast<NtfsFile*>(driverFile);
    if (file == nullptr) return {nt::STATUS_INVALID_HANDLE, 0, false};
    // NT 4.0 moves the data of files only; a folder's index stays.
    if (file->Folder()) return {nt::STATUS_INVALID_PARAMETER, 0, false};
    _ntfs_volume* vol = mount_->WritableVolume(status);
    if (vol == nullptr) return {status, 0, false};
    // Enough moves wait in memory: they are written before this one.
    if (device_->Held() == 0) heldBytes_ = 0;  // a release or a flush wrote them
    if (device_->Held() >= kHeldRecords || heldBytes_ >= kHeldBytes) {
      status = Commit();
      if (status != nt::STATUS_SUCCESS) return {status, 0, false};
      vol = mount_->WritableVolume(status);
      if (vol == nullptr) return {status, 0, false};
    }
    // Inodes kept open for reading would not see the new run list.
    mount_->CloseHeld();
    moves_.SetFlushDelay(NtfsFlushDelay());
    NtfsRelocation result;
    status = NtfsRelocate(vol, *device_, file->Reference(), move, moves_, result);
    if (result.recordsTouched) mount_->Drop();
    if (CheckLost()) return {DeviceError(), 0, false};
    if (status != nt::STATUS_SUCCESS) return {status, 0, false};
    heldBytes_ += uint64_t{move.clusters} * mount_->Mounted()->ClusterSize();
    // The records were written (held back) before this mark: the first
    // flush after it makes them durable, and then freeing the old clusters
    // needs no other.
    const uint64_t mark = device_->Flushes();
    for (const NtfsMoveRules::Run& run : result.released) moves_.Release(run.lcn, run.count, mark);
    ++MovesDone();
    return {nt::STATUS_SUCCESS, 0, false};
  }

  // Frees in the cluster bitmap the clusters whose flush delay has passed
  // (`all`: every one still waiting). A failed write leaves them marked in
  // use: lost space, never a cluster in use marked free.
  void Release(bool all) {
    if (!moves_.Pending()) return;
    uint64_t mark = 0;
    const std::vector<NtfsMoveRules::Run> runs =
        all ? moves_.TakeAll(mark) : moves_.TakeExpired(mark);
    if (runs.empty()) return;
    nt::NTSTATUS status = nt::STATUS_SUCCESS;
    _ntfs_volume* vol = mount_->WritableVolume(status);
    if (vol == nullptr) return;
    NtfsFreeClusters(vol, runs, device_->Flushes() > mark);
  }

  // After a flush that lost records held back: moves reported done may not
  // be on the disk, so no waiting cluster may be freed any more (lost
  // space, never a cluster in use marked free), and libntfs-3g's picture of
  // the records is dropped.
  bool CheckLost() {
    if (!device_->TakeLost()) return false;
    moves_.Clear();
    mount_->Drop();
    heldBytes_ = 0;
    return true;
  }

  static nt::NTSTATUS DeviceError() { return NtfsErrnoStatus(EIO); }

  std::shared_ptr<NtfsOrderedDevice> device_;
  uint64_t heldBytes_ = 0;  // data moved by the moves held back
  std::shared_ptr<NtfsMount> mount_;
  NtfsMoveRules moves_;
};

}  // namespace

std::unique_ptr<FileSystemDriver> CreateNtfsDriver(const DriverContext& context,
                                                   std::string& error) {
  auto driver = std::make_unique<NtfsDriver>(context);
  if (!driver->Check(error)) return nullptr;
  return driver;
}

void SetNtfsFlushDelay(uint64_t ms) { FlushDelaySetting() = ms; }

uint64_t NtfsFlushDelay() {
  if (!FlushDelaySetting()) {
    const char* env = std::getenv("VODURU_NTFS_FLUSH_DELAY");
    char* end = nullptr;
    const unsigned long long ms = env != nullptr ? std::strtoull(env, &end, 10) : 0;
    FlushDelaySetting() =
        env != nullptr && *env != '\0' && *end == '\0' ? ms : kNtfsDefaultFlushDelayMs;
  }
  return *FlushDelaySetting();
}

uint64_t NtfsMovesDone() { return MovesDone(); }

void RegisterNtfsDriver() { RegisterFileSystemDriver("NTFS", CreateNtfsDriver); }

}  // namespace platform
