#include "ntfs/index_block.h"

#include <algorithm>
#include <string>

#include "ntfs/record_bytes.h"
#include "platform/ntfs_layout.h"
#include "platform/update_sequence.h"
#include "runtime/run_error.h"
#include "volume/block_cache.h"
#include "volume/error_state.h"
#include "volume/session.h"

namespace vr {

namespace {

// Sectors per VCN unit of index entries.
int64_t SectorsPerVcn() {
  return VolumeSession.SectorsPerIndexBlock < VolumeSession.SectorsPerCluster
             ? 1
             : static_cast<int64_t>(VolumeSession.SectorsPerCluster);
}

}  // namespace

Integer Vcn_To_Run(Long Vcn, const VbArray<Long>& Lengths, Long& Offset) {
  // Segment lengths in VCN units: clusters, or sectors for small blocks.
  const int64_t perCluster = VolumeSession.SectorsPerCluster / SectorsPerVcn();
  int64_t before = 0;
  for (int64_t i = 1; i <= Lengths.UBound(); ++i) {
    const int64_t length = int64_t{Lengths(i).Value()} * perCluster;
    if (Vcn >= before && Vcn < before + length) {
      Offset = Long(Vcn - before);
      return Integer(i);
    }
    before += std::max<int64_t>(length, 0);
  }
  return -1;
}

int Fixup_INDX(MutableBytes Buffer) {
  // The block's sectors by its allocated size, never more than the buffer.
  const int64_t allocated = static_cast<int64_t>(GetField(Buffer, kIndexAllocated, kIndxHeader));
  const int64_t sectors = std::min<int64_t>((allocated + kIndxHeader) / kSectorSize,
                                            static_cast<int64_t>(Buffer.size()) / kSectorSize);
  return PostReadFixupMatching(Buffer, sectors);
}

bool Read_INDX(Long Vcn, const VbArray<Long>& Lengths, const VbArray<Long>& Lcns,
               ByteArray& Buffer) {
  try {
    const int64_t blockSectors = VolumeSession.SectorsPerIndexBlock;
    const int64_t spc = VolumeSession.SectorsPerCluster;
    if (blockSectors < 1 || spc < 1) {
      Rec_Error("INDX", Buffer.Span());
      return false;
    }
    Buffer.ReDim(blockSectors * kSectorSize - 1);
    Long offset = 0;
    int64_t i = Vcn_To_Run(Vcn, Lengths, offset);
    if (i < 0) {
      Rec_Error("II<0", Buffer.Span());
      return false;
    }
    int64_t sectorInRun = int64_t{offset.Value()} * SectorsPerVcn();
    int64_t done = 0;
    while (done < blockSectors) {
      // The block goes on past the folder's last run, or into a run without
      // clusters: it is not where the index says.
      if (i > Lengths.UBound() || i > Lcns.UBound() || Lcns(i) < 0) {
        Rec_Error("II<0", Buffer.Span());
        return false;
      }
      const int64_t runSectors = int64_t{Lengths(i).Value()} * spc;
      const int64_t count = std::min(runSectors - sectorInRun, blockSectors - done);
      if (count > 0) {
        const Long sector = Long(int64_t{Lcns(i).Value()} * spc + sectorInRun);
        VolumeSession.IndexBlocksRead += 1;
        MutableBytes part = Buffer.Span().subspan(static_cast<size_t>(done * kSectorSize),
                                                  static_cast<size_t>(count * kSectorSize));
        if (!Cached_Read(Long(int64_t{Lcns(i).Value()} * spc), Long(runSectors), sector, part)) {
          Read_Error();
          return false;
        }
        done += count;
      }
      ++i;
      sectorInRun = 0;
    }
    const std::string magic = Get_Text(Buffer.Span(), 0, 4);
    if (magic == "INDX") {
      // A torn sector is left for the entries' own checks, as NT did; an
      // update-sequence array outside the block cannot be applied at all.
      if (Fixup_INDX(Buffer.Span()) == kUsaBadArray) Raise(kErrSubscript);
      return true;
    }
    if (magic == std::string("AFP\0", 4)) return false;  // a free block
    Rec_Error("INDX", Buffer.Span());
    return false;
  } catch (const RunError& e) {
    Trap_Error("Read_INDX", e.Number(), e.Description());
    return false;
  }
}

}  // namespace vr
