// Feeds arbitrary bytes to the NTFS decoders: a FILE record, a run list and
// an index block read from a volume held in memory. Every outcome must be a
// decode or a recorded error; a run-time error escaping a decoder, a crash
// or an out-of-bounds access is a finding.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <vector>

#include "ntfs/file_record.h"
#include "ntfs/index_block.h"
#include "ntfs/run_list.h"
#include "platform/platform.h"
#include "volume/error_state.h"
#include "volume/session.h"

namespace {

void Geometry(uint8_t choice) {
  static const int kCluster[] = {1, 2, 8, 16};
  vr::VolumeSession.SectorsPerCluster = kCluster[choice & 3];
  vr::VolumeSession.SectorsPerFileRecord = (choice & 4) ? 8 : 2;
  vr::VolumeSession.SectorsPerIndexBlock = (choice & 8) ? 2 : 8;
  vr::VolumeSession.SharedMode = (choice & 16) ? -1 : 0;
  vr::VolumeSession.TotalClusters = (choice & 32) ? 0x7FFFFFFF : 4096;
  vr::VolumeSession.MftLcn = 4;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  Geometry(data[0]);
  const uint8_t mode = data[1];
  const std::vector<uint8_t> input(data + 2, data + size);
  try {
    vr::ResetErrorState();
    if ((mode & 3) == 0) {
      // A whole FILE record.
      vr::ByteArray buffer(vr::VolumeSession.SectorsPerFileRecord * 512 - 1);
      std::copy_n(input.begin(), std::min(input.size(), buffer.size()), buffer.data());
      vr::VbArray<vr::Long> lengths, lcns;
      vr::RecordInfo info;
      vr::Decode_FILE_Record(mode >> 2, lengths, lcns, buffer, info);
    } else if ((mode & 3) == 1) {
      // A run list, appended after existing segments half of the time.
      vr::VbArray<vr::Long> lengths(10), lcns(10);
      vr::Integer count = (mode & 4) ? 3 : 0;
      vr::Long clusters, sparse;
      vr::Decode_Segments(count, vr::Bytes(input), 0, vr::Long(static_cast<int32_t>(input.size())),
                          lengths, lcns, clusters, sparse);
    } else {
      // An index block on a small in-memory volume; the first bytes give the
      // segments and the VCN.
      if (input.size() < 8) return 0;
      platform::ResetPlatform();
      platform::MapMemoryDrive('f', std::make_shared<platform::MemoryDevice>(input, true));
      vr::VolumeSession.VolumeHandle = vr::Open_Drive("f:", vr::kAccessRead, 3);
      vr::VbArray<vr::Long> lengths(2), lcns(2);
      lengths(1) = input[0] % 16;
      lcns(1) = input[1] % 32;
      lengths(2) = input[2] % 16;
      lcns(2) = input[3] % 32;
      vr::ByteArray block;
      vr::Read_INDX(input[4] % 40, lengths, lcns, block);
      vr::Long handle = vr::VolumeSession.VolumeHandle;
      vr::Close_Drive(handle);
      vr::VolumeSession.VolumeHandle = -1;
    }
  } catch (const vr::RunError&) {
    // Only a counter overflow of the error state itself may reach here,
    // which cannot happen with a fresh state per input.
    std::abort();
  }
  return 0;
}
