// Encode-then-decode of run lists: arbitrary bytes become a list of extents
// (located runs anywhere in a 32-bit volume, and holes), which the encoder
// writes into a room of arbitrary size. A list that fits must be read back
// by Decode_Segments as the same located runs and hole clusters without an
// error; one that does not fit must leave the room untouched. Anything else,
// or a crash, is a finding.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "ntfs/run_encoder.h"
#include "ntfs/run_list.h"
#include "runtime/bytes.h"
#include "volume/error_state.h"
#include "volume/session.h"

namespace {

// Five bytes per extent: a 16-bit length (0 means 1), and a 24-bit cluster
// scaled over the volume; a cluster field of 0xFFFFFF is a hole.
std::vector<vr::RunExtent> Extents(const uint8_t* data, size_t size) {
  std::vector<vr::RunExtent> extents;
  int64_t vcn = 0;
  for (size_t at = 0; at + 5 <= size && extents.size() < 2000; at += 5) {
    const int64_t length = 1 + (data[at] | (data[at + 1] << 8));
    const int64_t field = data[at + 2] | (data[at + 3] << 8) | (int64_t{data[at + 4]} << 16);
    const int64_t lcn = field == 0xFFFFFF ? vr::kSparseLcn : field * 127;
    extents.push_back({vcn, lcn, length});
    vcn += length;
  }
  return extents;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  vr::VolumeSession.TotalClusters = 0x7FFFFFFF;
  const std::vector<vr::RunExtent> extents = Extents(data + 1, size - 1);
  const vr::EncodedRuns need = vr::EncodeRunList(extents, {});
  if (!need.Valid) std::abort();  // the extents above always form a list
  // Room: enough, or short by up to 255 bytes.
  const int64_t room = need.Size - (data[0] & 0x80 ? data[0] & 0x7F : 0);
  std::vector<uint8_t> bytes(static_cast<size_t>(room > 0 ? room : 0), 0xA5);
  const vr::EncodedRuns done = vr::EncodeRunList(extents, bytes);
  if (done.Size != need.Size || done.Fits != (need.Size <= room)) std::abort();
  if (!done.Fits) {
    for (uint8_t b : bytes)
      if (b != 0xA5) std::abort();
    return 0;
  }
  vr::ResetErrorState();
  vr::VbArray<vr::Long> lengths(10), lcns(10);
  vr::Integer count = 0;
  vr::Long clusters, sparse;
  vr::Decode_Segments(count, vr::Bytes(bytes), 0, vr::Long(static_cast<int32_t>(bytes.size())),
                      lengths, lcns, clusters, sparse);
  if (vr::AnyErrorCounted()) std::abort();
  int64_t i = 0, located = 0, holes = 0;
  for (const vr::RunExtent& e : extents) {
    if (e.Lcn == vr::kSparseLcn) {
      holes += e.Length;
      continue;
    }
    ++i;
    located += e.Length;
    if (i > count || lengths(i) != e.Length || lcns(i) != e.Lcn) std::abort();
  }
  if (i != count || clusters != located || sparse != holes) std::abort();
  return 0;
}
