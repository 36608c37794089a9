// A synthetic NTFS layout in memory for the MFT tests: an image whose MFT
// lies in the segments given, FILE records placed sector by sector through
// those segments, attribute-list entries, and a file-system driver that
// answers the control requests from what the test sets (registered for the
// image's "exFAT" boot sector, so no real driver is displaced).
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/fs_driver.h"
#include "platform/platform.h"
#include "record_builder.h"
#include "runtime/bytes.h"
#include "volume/session.h"

namespace vr::test {

class SyntheticVolume {
 public:
  // `clusters` clusters of `spc` sectors; records of `spr` sectors; the
  // $MFT's data in `mft` (length, first cluster) segments.
  SyntheticVolume(int spc, int spr, int64_t clusters, std::vector<RunSpec> mft)
      : spc_(spc),
        spr_(spr),
        clusters_(clusters),
        mft_(std::move(mft)),
        image_(static_cast<size_t>(clusters * spc * 512), 0) {
    // An exFAT boot signature: the platform identifies the image, and the
    // tests' own driver answers for it.
    std::memcpy(image_.data() + 3, "EXFAT   ", 8);
  }

  // Sector of the image holding sector `s` of the MFT's data (-1: none).
  int64_t ImageSector(int64_t s) const {
    for (const RunSpec& r : mft_) {
      if (s < r.length * spc_) return r.lcn * spc_ + s;
      s -= r.length * spc_;
    }
    return -1;
  }

  void PutRecord(int64_t record, const std::vector<uint8_t>& bytes) {
    for (int k = 0; k < spr_; ++k) {
      const int64_t sector = ImageSector(record * spr_ + k);
      if (sector < 0) continue;
      std::copy(bytes.begin() + k * 512, bytes.begin() + (k + 1) * 512,
                image_.begin() + static_cast<std::ptrdiff_t>(sector * 512));
    }
  }

  void PutBytes(int64_t lcn, const std::vector<uint8_t>& bytes) {
    std::copy(bytes.begin(), bytes.end(),
              image_.begin() + static_cast<std::ptrdiff_t>(lcn * spc_ * 512));
  }

  // The geometry and the $MFT's segments in the VolumeSession.
  void Apply() const {
    VolumeSession.SectorsPerCluster = spc_;
    VolumeSession.SectorsPerFileRecord = spr_;
    VolumeSession.TotalClusters = static_cast<int32_t>(clusters_);
    VolumeSession.TotalSectors = static_cast<int32_t>(clusters_ * spc_);
    VolumeSession.MftLcn = static_cast<int32_t>(mft_.front().lcn);
    VolumeSession.MftRunLengths.ReDim(static_cast<int64_t>(mft_.size()));
    VolumeSession.MftRunLcns.ReDim(static_cast<int64_t>(mft_.size()));
    for (size_t i = 0; i < mft_.size(); ++i) {
      VolumeSession.MftRunLengths(static_cast<int64_t>(i) + 1) =
          static_cast<int32_t>(mft_[i].length);
      VolumeSession.MftRunLcns(static_cast<int64_t>(i) + 1) = static_cast<int32_t>(mft_[i].lcn);
    }
  }

  // Maps the image as drive `letter` and opens it, exclusively or shared.
  // The handle goes to VolumeSession.VolumeHandle.
  std::shared_ptr<platform::MemoryDevice> Mount(char letter, bool shared) {
    auto device = std::make_shared<platform::MemoryDevice>(image_, false);
    platform::MapMemoryDrive(letter, device);
    VolumeSession.VolumeHandle =
        Open_Drive(std::string(1, letter) + ":", kAccessRead, shared ? 3 : 0);
    VolumeSession.SharedMode = shared ? -1 : 0;
    return device;
  }

  std::vector<uint8_t>& Image() { return image_; }

 private:
  int spc_, spr_;
  int64_t clusters_;
  std::vector<RunSpec> mft_;
  std::vector<uint8_t> image_;
};

// One attribute-list entry.
struct ListEntrySpec {
  uint32_t type;
  int64_t lowestVcn;
  int64_t record;
  std::u16string name = u"";
  uint16_t instance = 0;
};

inline std::vector<uint8_t> AttributeList(const std::vector<ListEntrySpec>& entries) {
  std::vector<uint8_t> out;
  for (const ListEntrySpec& e : entries) {
    const size_t len = Align8(0x1A + 2 * e.name.size());
    std::vector<uint8_t> a(len, 0);
    Put(a, 0, e.type, 4);
    Put(a, 4, len, 2);
    a[6] = static_cast<uint8_t>(e.name.size());
    a[7] = 0x1A;
    Put(a, 8, static_cast<uint64_t>(e.lowestVcn), 8);
    Put(a, 0x10, static_cast<uint64_t>(e.record) | (uint64_t{1} << 48), 8);
    Put(a, 0x18, e.instance, 2);
    const auto n = Utf16(e.name);
    std::copy(n.begin(), n.end(), a.begin() + 0x1A);
    out.insert(out.end(), a.begin(), a.end());
  }
  return out;
}

// An extension record of `base`: no standard information, its base
// reference set.
inline std::vector<uint8_t> Extension(const RecordBuilder& r, int64_t base) {
  std::vector<uint8_t> b = r.Bytes();
  Put(b, 0x20, static_cast<uint64_t>(base) | (uint64_t{1} << 48), 8);
  return b;
}

// The record as the file system hands it out: fixed up, so the sector ends
// hold the record's own bytes.
inline std::vector<uint8_t> FixedUp(std::vector<uint8_t> b) {
  const size_t usa = b[4] | (b[5] << 8);
  const size_t count = b[6] | (b[7] << 8);
  for (size_t k = 0; k + 1 < count; ++k) {
    b[k * 512 + 510] = b[usa + 2 + 2 * k];
    b[k * 512 + 511] = b[usa + 3 + 2 * k];
  }
  return b;
}

// What the fake driver answers; the test sets it and reads the counters.
struct FakeFs {
  struct Extent {
    int64_t nextVcn;
    int64_t lcn;  // -1: no clusters
  };
  bool pending = false;  // every answer comes as STATUS_PENDING
  std::map<int64_t, std::vector<uint8_t>> records;
  nt::NTSTATUS recordStatus = nt::STATUS_SUCCESS;
  int64_t answerRecordAs = -1;  // answer with this record number instead
  std::vector<uint8_t> bitmap;
  int64_t bitmapBits = 0;
  uint64_t bitmapShortBy = 0;  // claims that many bytes fewer than written
  nt::NTSTATUS volumeDataStatus = nt::STATUS_SUCCESS;
  int64_t zoneStart = 0, zoneEnd = 0;
  std::map<std::string, std::vector<Extent>> files;  // lower-case path -> extents
  nt::NTSTATUS pointersStatus = nt::STATUS_SUCCESS;
  bool overflowWithoutExtents = false;   // "more data" that never comes
  std::vector<int64_t> pointerRequests;  // the starting VCN of each request
  std::vector<std::string> opened;
  std::map<nt::DWORD, int> requests;
};

class FakeFile : public platform::DriverFile {
 public:
  explicit FakeFile(std::string path) : path_(std::move(path)) {}
  platform::FsEntry Entry() const override { return platform::FsEntry{path_, "", 0, 0}; }
  nt::NTSTATUS Read(uint64_t, void*, uint32_t, uint32_t& transferred) override {
    transferred = 0;
    return nt::STATUS_END_OF_FILE;
  }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

class FakeDriver : public platform::FileSystemDriver {
 public:
  explicit FakeDriver(FakeFs& fs) : fs_(fs) {}
  static std::string Lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
  }
  nt::NTSTATUS Open(const std::string& path, std::unique_ptr<platform::DriverFile>& file) override {
    fs_.opened.push_back(path);
    if (!fs_.files.count(Lower(path))) return platform::STATUS_OBJECT_NAME_NOT_FOUND;
    file = std::make_unique<FakeFile>(Lower(path));
    return nt::STATUS_SUCCESS;
  }
  nt::NTSTATUS List(const std::string&, std::vector<platform::FsEntry>&) override {
    return platform::STATUS_OBJECT_NAME_NOT_FOUND;
  }
  void Invalidate() override {}
  platform::FsControlResult FsControl(const platform::FsControlRequest& r) override {
    fs_.requests[r.code]++;
    platform::FsControlResult result = Answer(r);
    result.pending = fs_.pending;
    return result;
  }

 private:
  platform::FsControlResult Answer(const platform::FsControlRequest& r) {
    auto* out = static_cast<uint8_t*>(r.out);
    const MutableBytes o(out, r.outSize);
    const auto* in = static_cast<const uint8_t*>(r.in);
    switch (r.code) {
      case nt::FSCTL_GET_NTFS_FILE_RECORD: {
        if (fs_.recordStatus != nt::STATUS_SUCCESS) return {fs_.recordStatus, 0, false};
        int64_t n = 0;
        std::memcpy(&n, in, 8);
        auto it = fs_.records.find(n);
        if (it == fs_.records.end()) return {nt::STATUS_INVALID_PARAMETER, 0, false};
        if (r.outSize < 12 + it->second.size()) return {nt::STATUS_BUFFER_TOO_SMALL, 0, false};
        PutU64(o, 0, static_cast<uint64_t>(fs_.answerRecordAs >= 0 ? fs_.answerRecordAs : n));
        PutU32(o, 8, static_cast<uint32_t>(it->second.size()));
        std::copy(it->second.begin(), it->second.end(), out + 12);
        return {nt::STATUS_SUCCESS, 12 + it->second.size(), false};
      }
      case nt::FSCTL_GET_VOLUME_BITMAP: {
        const uint64_t room = r.outSize - 16;
        const uint64_t n = std::min<uint64_t>(room, fs_.bitmap.size());
        PutU64(o, 0, 0);
        PutU64(o, 8, static_cast<uint64_t>(fs_.bitmapBits));
        std::copy(fs_.bitmap.begin(), fs_.bitmap.begin() + static_cast<std::ptrdiff_t>(n),
                  out + 16);
        const nt::NTSTATUS st =
            n < fs_.bitmap.size() ? nt::STATUS_BUFFER_OVERFLOW : nt::STATUS_SUCCESS;
        return {st, 16 + n - fs_.bitmapShortBy, false};
      }
      case nt::FSCTL_GET_NTFS_VOLUME_DATA: {
        if (fs_.volumeDataStatus != nt::STATUS_SUCCESS) return {fs_.volumeDataStatus, 0, false};
        std::fill(out, out + r.outSize, 0);
        PutU64(o, 0x50, static_cast<uint64_t>(fs_.zoneStart));
        PutU64(o, 0x58, static_cast<uint64_t>(fs_.zoneEnd));
        return {nt::STATUS_SUCCESS, 96, false};
      }
      case nt::FSCTL_GET_RETRIEVAL_POINTERS: {
        auto* file = dynamic_cast<FakeFile*>(r.file);
        if (file == nullptr) return {nt::STATUS_INVALID_PARAMETER, 0, false};
        int64_t vcn = 0;
        std::memcpy(&vcn, in, 8);
        fs_.pointerRequests.push_back(vcn);
        if (fs_.pointersStatus != nt::STATUS_SUCCESS) return {fs_.pointersStatus, 0, false};
        if (fs_.overflowWithoutExtents) {
          PutU32(o, 0, 0);
          PutU64(o, 8, static_cast<uint64_t>(vcn));
          return {nt::STATUS_BUFFER_OVERFLOW, 16, false};
        }
        const auto& extents = fs_.files[file->Path()];
        size_t first = 0;
        int64_t start = 0;
        while (first < extents.size() && extents[first].nextVcn <= vcn) {
          start = extents[first].nextVcn;
          ++first;
        }
        const size_t room = (r.outSize - 16) / 16;
        const size_t n = std::min(room, extents.size() - first);
        PutU32(o, 0, static_cast<uint32_t>(n));
        PutU64(o, 8, static_cast<uint64_t>(start));
        for (size_t j = 0; j < n; ++j) {
          PutU64(o, 16 + 16 * j, static_cast<uint64_t>(extents[first + j].nextVcn));
          PutU64(o, 24 + 16 * j, static_cast<uint64_t>(extents[first + j].lcn));
        }
        const nt::NTSTATUS st =
            first + n < extents.size() ? nt::STATUS_BUFFER_OVERFLOW : nt::STATUS_SUCCESS;
        return {st, 16 + 16 * n, false};
      }
      default: return {nt::STATUS_INVALID_DEVICE_REQUEST, 0, false};
    }
  }
  FakeFs& fs_;
};

inline void RegisterFakeDriver(FakeFs& fs) {
  platform::RegisterFileSystemDriver("exFAT", [&fs](const platform::DriverContext&, std::string&) {
    return std::make_unique<FakeDriver>(fs);
  });
}

inline void UnregisterFakeDriver() { platform::UnregisterFileSystemDriver("exFAT"); }

}  // namespace vr::test
