#include "drivers/ntfs/ntfs_driver.h"

#include "drivers/ntfs/ntfs_driver_file.h"
#include "drivers/ntfs/ntfs_driver_fsctl.h"
#include "drivers/ntfs/ntfs_driver_mount.h"
#include "drivers/ntfs/ntfs_driver_move.h"
#include "drivers/ntfs/ntfs_driver_names.h"

namespace platform {

namespace {

class NtfsDriver : public FileSystemDriver {
 public:
  explicit NtfsDriver(const DriverContext& context)
      : mount_(std::make_shared<NtfsMount>(context.device, context.readOnly)) {}

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

  void Invalidate() override {
    mount_->Drop();
    moves_.Clear();
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

  // A move is checked as NT checks it before anything is changed; the
  // moving itself comes with the optimiser.
  FsControlResult Move(const FsControlRequest& request) {
    NtfsMoveRequest move;
    const nt::NTSTATUS status = ParseMoveRequest(request, move);
    if (status != nt::STATUS_SUCCESS) return {status, 0, false};
    DriverFile* file = request.fileOfHandle ? request.fileOfHandle(move.file) : nullptr;
    if (dynamic_cast<NtfsFile*>(file) == nullptr) return {nt::STATUS_INVALID_HANDLE, 0, false};
    return {nt::STATUS_INVALID_DEVICE_REQUEST, 0, false};
  }

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

void RegisterNtfsDriver() { RegisterFileSystemDriver("NTFS", CreateNtfsDriver); }

}  // namespace platform
