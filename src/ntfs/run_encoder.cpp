#include "ntfs/run_encoder.h"

namespace vr {

int SignedWidth(int64_t Value) {
  int width = 1;
  while (width < 8) {
    const int64_t limit = int64_t{1} << (8 * width - 1);
    if (Value >= -limit && Value < limit) break;
    ++width;
  }
  return width;
}

namespace {

// The size of the encoded list, or -1 when the extents are no run list.
int64_t EncodedSize(std::span<const RunExtent> Extents) {
  int64_t size = 1;  // the terminator
  int64_t previous = 0;
  for (size_t i = 0; i < Extents.size(); ++i) {
    const RunExtent& e = Extents[i];
    if (e.Length < 1 || e.Lcn < kSparseLcn) return -1;
    if (i > 0 && Extents[i - 1].Vcn + Extents[i - 1].Length != e.Vcn) return -1;
    size += 1 + SignedWidth(e.Length);
    if (e.Lcn != kSparseLcn) {
      if (e.Lcn > INT64_MAX - e.Length) return -1;
      size += SignedWidth(e.Lcn - previous);
      previous = e.Lcn;
    }
  }
  return size;
}

}  // namespace

EncodedRuns EncodeRunList(std::span<const RunExtent> Extents, MutableBytes Room) {
  EncodedRuns result;
  const int64_t size = EncodedSize(Extents);
  if (size < 0) return result;
  result.Valid = true;
  result.Size = size;
  result.Fits = size <= static_cast<int64_t>(Room.size());
  if (!result.Fits) return result;
  int64_t pos = 0;
  int64_t previous = 0;
  for (const RunExtent& e : Extents) {
    const int lengthWidth = SignedWidth(e.Length);
    int offsetWidth = 0;
    PutLE(Room, pos + 1, lengthWidth, static_cast<uint64_t>(e.Length));
    if (e.Lcn != kSparseLcn) {
      const int64_t delta = e.Lcn - previous;
      offsetWidth = SignedWidth(delta);
      PutLE(Room, pos + 1 + lengthWidth, offsetWidth, static_cast<uint64_t>(delta));
      previous = e.Lcn;
    }
    PutU8(Room, pos, static_cast<uint8_t>(offsetWidth * 16 + lengthWidth));
    pos += 1 + lengthWidth + offsetWidth;
  }
  PutU8(Room, pos, 0);
  return result;
}

}  // namespace vr
