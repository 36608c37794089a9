// The hibernation check: finds hiberfil.sys in the root folder's $I30 index
// (the index root, then every index block of the allocation) and reads the
// start of its unnamed $DATA, all through the raw volume.
#include "volume/hibernation_check.h"

#include <algorithm>
#include <cctype>

#include "platform/ntfs_layout.h"
#include "platform/update_sequence.h"
#include "runtime/bytes.h"
#include "runtime/run_error.h"

namespace vr {

namespace {

constexpr int64_t kSector = 512;
constexpr int64_t kRootRecord = 5;
constexpr int64_t kHeaderBytes = 4096;  // libntfs-3g's hibernation header size
constexpr uint64_t kReferenceMask = 0xFFFFFFFFFFFFull;
const char kHiberfile[] = "hiberfil.sys";

// One run of a non-resident attribute: `lcn` -1 for a sparse run.
struct Run {
  int64_t vcn, lcn, clusters;
};

class Reader {
 public:
  Reader(const NtfsGeometry& g, const ReadVolumeBytes& read) : g_(g), read_(read) {}

  // The attribute of `type` in a FILE record (the unnamed one when
  // `unnamed`); -1 when absent.
  static int64_t Find(Bytes record, uint32_t type, bool unnamed) {
    int64_t at = static_cast<int64_t>(GetField(record, kRecordFirstAttribute));
    while (at + 8 <= static_cast<int64_t>(record.size())) {
      const uint32_t t = static_cast<uint32_t>(GetField(record, kAttrType, at));
      const int64_t length = static_cast<int64_t>(GetField(record, kAttrLength, at));
      if (t == 0xFFFFFFFFu || length < 0x18) return -1;
      if (t == type && (!unnamed || GetField(record, kAttrNameLength, at) == 0)) return at;
      at += length;
    }
    return -1;
  }

  // The runs of a non-resident attribute, in VCN order.
  static std::vector<Run> Runs(Bytes record, int64_t attr) {
    std::vector<Run> runs;
    const int64_t end = attr + static_cast<int64_t>(GetField(record, kAttrLength, attr));
    int64_t at = attr + static_cast<int64_t>(GetField(record, kAttrMappingPairsOffset, attr));
    int64_t vcn = static_cast<int64_t>(GetField(record, kAttrLowestVcn, attr));
    int64_t lcn = 0;
    while (at < end) {
      const uint8_t header = U8(record, at);
      if (header == 0) break;
      const int lengthBytes = header & 0x0F, offsetBytes = header >> 4;
      if (lengthBytes == 0 || lengthBytes > 8 || offsetBytes > 8) Raise(9);
      const int64_t clusters = static_cast<int64_t>(GetLE(record, at + 1, lengthBytes));
      if (clusters <= 0) Raise(9);
      int64_t start = -1;
      if (offsetBytes > 0) {
        uint64_t delta = GetLE(record, at + 1 + lengthBytes, offsetBytes);
        if (offsetBytes < 8 && (delta >> (8 * offsetBytes - 1)) != 0)
          delta |= ~uint64_t{0} << (8 * offsetBytes);  // negative: sign-extend
        lcn += static_cast<int64_t>(delta);
        start = lcn;
      }
      runs.push_back({vcn, start, clusters});
      vcn += clusters;
      at += 1 + lengthBytes + offsetBytes;
    }
    return runs;
  }

  // `count` bytes of an attribute's data from byte `offset`, through its
  // runs; sparse clusters read as zeros. False when a cluster lies outside
  // the runs or a read fails.
  bool ReadData(const std::vector<Run>& runs, int64_t offset, int64_t count,
                std::vector<uint8_t>& out) {
    out.assign(static_cast<size_t>(count), 0);
    const int64_t cb = g_.clusterBytes;
    for (int64_t done = 0; done < count;) {
      const int64_t vcn = (offset + done) / cb, within = (offset + done) % cb;
      const auto run = std::find_if(runs.begin(), runs.end(), [vcn](const Run& r) {
        return vcn >= r.vcn && vcn < r.vcn + r.clusters;
      });
      if (run == runs.end()) return false;
      // Whole sectors up to the end of this run.
      const int64_t take = std::min(count - done, (run->vcn + run->clusters - vcn) * cb - within);
      if (run->lcn >= 0) {
        const int64_t at = (run->lcn + (vcn - run->vcn)) * cb + within;
        const int64_t first = at - at % kSector;
        std::vector<uint8_t> piece(
            static_cast<size_t>((at + take - first + kSector - 1) / kSector * kSector));
        if (!read_(first, piece)) return false;
        std::copy_n(piece.begin() + (at - first), take, out.begin() + done);
      }
      done += take;
    }
    return true;
  }

  // FILE record `number`, fixed up; false when it cannot be read.
  bool Record(int64_t number, std::vector<uint8_t>& record) {
    if (mft_.empty()) {
      std::vector<uint8_t> zero(static_cast<size_t>(g_.recordBytes));
      if (!read_(g_.mftLcn * g_.clusterBytes, zero) || !FixUp(zero)) return false;
      const int64_t data = Find(zero, kTypeData, true);
      if (data < 0 || GetField(zero, kAttrNonResident, data) == 0) return false;
      mft_ = Runs(zero, data);
    }
    return ReadData(mft_, number * g_.recordBytes, g_.recordBytes, record) &&
           GetField(record, kMagic) == kFileMagic && FixUp(record);
  }

  // The record numbers the root folder's index names hiberfil.sys under.
  bool RootEntries(std::vector<uint64_t>& references) {
    std::vector<uint8_t> root;
    if (!Record(kRootRecord, root)) return false;
    const int64_t indexRoot = Find(root, kIndexRoot, false);
    if (indexRoot < 0 || GetField(root, kAttrNonResident, indexRoot) != 0) return false;
    const int64_t value =
        indexRoot + static_cast<int64_t>(GetField(root, kAttrValueOffset, indexRoot));
    Entries(root, value + kIndexRootHeader, references);
    const int64_t allocation = Find(root, kIndexAllocation, false);
    if (allocation < 0) return true;
    if (GetField(root, kAttrNonResident, allocation) == 0) return false;
    const int64_t blockBytes = static_cast<int64_t>(GetField(root, kRootBlockSize, value));
    if (blockBytes < kSector || blockBytes % kSector != 0) return false;
    const std::vector<Run> runs = Runs(root, allocation);
    const int64_t size = static_cast<int64_t>(GetField(root, kAttrDataSize, allocation));
    std::vector<uint8_t> block;
    for (int64_t at = 0; at + blockBytes <= size; at += blockBytes) {
      if (!ReadData(runs, at, blockBytes, block)) return false;
      // Blocks not in use hold no valid index: they are skipped.
      if (GetField(block, kMagic) != kIndxMagic || !FixUp(block)) continue;
      Entries(block, kIndxHeader, references);
    }
    return true;
  }

 private:
  static bool FixUp(std::vector<uint8_t>& block) {
    return PostReadFixup(MutableBytes(block), static_cast<int64_t>(block.size()) / kSector) ==
           kUsaIntact;
  }

  static bool IsHiberfile(Bytes b, int64_t key) {
    const int64_t length = U8(b, key + 0x40);
    if (length != static_cast<int64_t>(sizeof kHiberfile - 1)) return false;
    for (int64_t i = 0; i < length; ++i) {
      const uint16_t c = U16(b, key + 0x42 + 2 * i);
      if (c > 0x7F || std::tolower(c) != kHiberfile[i]) return false;
    }
    return true;
  }

  // The entries of the index whose header starts at `header`.
  static void Entries(Bytes b, int64_t header, std::vector<uint64_t>& references) {
    const int64_t end = header + static_cast<int64_t>(GetField(b, kIndexLength, header));
    int64_t at = header + static_cast<int64_t>(GetField(b, kIndexEntriesOffset, header));
    while (at + 0x10 <= end) {
      const int64_t length = static_cast<int64_t>(GetField(b, kEntryLength, at));
      const uint16_t flags = static_cast<uint16_t>(GetField(b, kEntryFlags, at));
      if ((flags & kEntryLast) != 0 || length < 0x10) return;
      if (GetField(b, kEntryKeyLength, at) >= 0x42 && IsHiberfile(b, at + kEntryKey))
        references.push_back(GetField(b, kEntryReference, at));
      at += length;
    }
  }

  NtfsGeometry g_;
  const ReadVolumeBytes& read_;
  std::vector<Run> mft_;
};

}  // namespace

std::string HibernationReason(const NtfsGeometry& geometry, const ReadVolumeBytes& read) {
  Reader reader(geometry, read);
  std::vector<uint64_t> references;
  if (!reader.RootEntries(references)) return "its root folder cannot be read";
  for (const uint64_t reference : references) {
    std::vector<uint8_t> record;
    if (!reader.Record(static_cast<int64_t>(reference & kReferenceMask), record))
      return "its hiberfil.sys cannot be read";
    // An entry left over from a deleted file names a record reused since.
    const uint16_t sequence = static_cast<uint16_t>(reference >> 48);
    if ((GetField(record, kRecordFlags) & kRecordInUse) == 0 ||
        (sequence != 0 && GetField(record, kRecordSequence) != sequence))
      continue;
    const int64_t data = Reader::Find(record, kTypeData, true);
    if (data < 0) return "its hiberfil.sys cannot be read";
    std::vector<uint8_t> head;
    if (GetField(record, kAttrNonResident, data) == 0) {
      // A resident value is always shorter than the header.
      if (static_cast<int64_t>(GetField(record, kAttrValueLength, data)) < kHeaderBytes)
        return "it is hibernated (hiberfil.sys)";
      return "its hiberfil.sys cannot be read";
    } else {
      if ((GetField(record, kAttrFlags, data) & (kAttrCompressed | kAttrEncrypted)) != 0)
        return "its hiberfil.sys cannot be read";
      if (static_cast<int64_t>(GetField(record, kAttrDataSize, data)) < kHeaderBytes)
        return "it is hibernated (hiberfil.sys)";
      if (!reader.ReadData(Reader::Runs(record, data), 0, 4, head))
        return "its hiberfil.sys cannot be read";
    }
    const std::string magic(head.begin(), head.end());
    if (magic == "hibr" || magic == "HIBR") return "it is hibernated (hiberfil.sys)";
  }
  return "";
}

}  // namespace vr
