// File-system control requests of the emulated FAT driver, with NT's
// buffer layouts:
//   STARTING_LCN_INPUT_BUFFER  { StartingLcn 8 }
//   VOLUME_BITMAP_BUFFER       { StartingLcn 8, BitmapSize 8 (clusters), Buffer[] }
//   STARTING_VCN_INPUT_BUFFER  { StartingVcn 8 }
//   RETRIEVAL_POINTERS_BUFFER  { ExtentCount 4, padding 4, StartingVcn 8,
//                                Extents[] { NextVcn 8, Lcn 8 } }
// As on NT, a FAT volume's LCN 0 is its first data cluster (cluster 2).
#include <algorithm>
#include <new>

#include "drivers/fat/fat_driver.h"
#include "runtime/bytes.h"

namespace platform::fat {

namespace {

constexpr uint32_t kBitmapHeader = 16;    // StartingLcn, BitmapSize
constexpr uint32_t kPointersHeader = 16;  // ExtentCount, padding, StartingVcn
constexpr uint32_t kExtentBytes = 16;     // NextVcn, Lcn
constexpr uint32_t kFirstDataCluster = 2;

FsControlResult Answer(nt::NTSTATUS status, uint64_t information = 0) {
  return FsControlResult{status, information, false};
}

}  // namespace

FsControlResult FatDriver::FsControl(const FsControlRequest& request) {
  try {
    switch (request.code) {
      case nt::FSCTL_GET_VOLUME_BITMAP: return VolumeBitmap(request);
      case nt::FSCTL_GET_RETRIEVAL_POINTERS: return RetrievalPointers(request);
      // FSCTL_MOVE_FILE comes with the FAT optimiser. It will follow NT's
      // rules: every target cluster must be free (FatMedia::InUse false),
      // the clusters it releases are held for the flush delay
      // (FatMedia::HoldReleased), and a read-only volume (context_.readOnly)
      // refuses every move.
      default: return Answer(nt::STATUS_INVALID_DEVICE_REQUEST);
    }
  } catch (const vr::RunError&) {
    return Answer(nt::STATUS_DISK_CORRUPT_ERROR);
  } catch (const std::bad_alloc&) {
    return Answer(nt::STATUS_DISK_CORRUPT_ERROR);
  }
}

FsControlResult FatDriver::VolumeBitmap(const FsControlRequest& request) {
  if (request.in == nullptr || request.inSize < 8) return Answer(nt::STATUS_INVALID_PARAMETER);
  if (request.out == nullptr || request.outSize < kBitmapHeader)
    return Answer(nt::STATUS_BUFFER_TOO_SMALL);
  const vr::Bytes in(static_cast<const uint8_t*>(request.in), request.inSize);
  const vr::MutableBytes out(static_cast<uint8_t*>(request.out), request.outSize);
  FatMedia& media = tree_->Media();
  const int64_t total = media.Clusters();
  int64_t start = vr::I64(in, 0);
  if (start < 0 || start >= total) return Answer(nt::STATUS_INVALID_PARAMETER);
  start &= ~int64_t{7};  // whole bitmap bytes, as NT rounds the starting LCN
  const uint64_t bits = static_cast<uint64_t>(total - start);
  const uint64_t needed = (bits + 7) / 8;
  const uint64_t bytes = std::min<uint64_t>(needed, request.outSize - kBitmapHeader);
  vr::PutU64(out, 0, static_cast<uint64_t>(start));
  vr::PutU64(out, 8, bits);
  for (uint64_t i = 0; i < bytes; ++i) {
    uint8_t byte = 0;
    for (uint32_t k = 0; k < 8 && i * 8 + k < bits; ++k) {
      bool inUse = false;
      const auto cluster =
          static_cast<uint32_t>(static_cast<uint64_t>(start) + i * 8 + k + kFirstDataCluster);
      const nt::NTSTATUS status = media.InUse(cluster, inUse);
      if (status != nt::STATUS_SUCCESS) return Answer(status);
      if (inUse) byte |= static_cast<uint8_t>(1u << k);
    }
    vr::PutU8(out, static_cast<int64_t>(kBitmapHeader + i), byte);
  }
  return Answer(bytes < needed ? nt::STATUS_BUFFER_OVERFLOW : nt::STATUS_SUCCESS,
                kBitmapHeader + bytes);
}

FsControlResult FatDriver::RetrievalPointers(const FsControlRequest& request) {
  auto* file = dynamic_cast<FatFile*>(request.file);
  if (file == nullptr || file->IsRoot()) return Answer(nt::STATUS_INVALID_PARAMETER);
  if (request.in == nullptr || request.inSize < 8) return Answer(nt::STATUS_INVALID_PARAMETER);
  if (request.out == nullptr || request.outSize < kPointersHeader + kExtentBytes)
    return Answer(nt::STATUS_BUFFER_TOO_SMALL);
  const vr::Bytes in(static_cast<const uint8_t*>(request.in), request.inSize);
  const vr::MutableBytes out(static_cast<uint8_t*>(request.out), request.outSize);
  const int64_t vcn = vr::I64(in, 0);
  if (vcn < 0) return Answer(nt::STATUS_INVALID_PARAMETER);
  const std::vector<uint32_t>* chain = nullptr;
  const nt::NTSTATUS status = file->Clusters(chain);
  if (status != nt::STATUS_SUCCESS) return Answer(status);
  if (static_cast<uint64_t>(vcn) >= chain->size()) return Answer(nt::STATUS_END_OF_FILE);

  // The reply starts at the VCN asked for; its first extent runs from there.
  const uint64_t room = (request.outSize - kPointersHeader) / kExtentBytes;
  uint64_t count = 0;
  size_t i = static_cast<size_t>(vcn);
  while (i < chain->size() && count < room) {
    size_t end = i + 1;
    while (end < chain->size() && (*chain)[end] == (*chain)[end - 1] + 1) ++end;
    const int64_t at = static_cast<int64_t>(kPointersHeader + count * kExtentBytes);
    vr::PutU64(out, at, end);
    vr::PutU64(out, at + 8, (*chain)[i] - kFirstDataCluster);
    ++count;
    i = end;
  }
  vr::PutU32(out, 0, static_cast<uint32_t>(count));
  vr::PutU32(out, 4, 0);
  vr::PutU64(out, 8, static_cast<uint64_t>(vcn));
  return Answer(i < chain->size() ? nt::STATUS_BUFFER_OVERFLOW : nt::STATUS_SUCCESS,
                kPointersHeader + count * kExtentBytes);
}

}  // namespace platform::fat
