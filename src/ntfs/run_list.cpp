#include "ntfs/run_list.h"

#include <cstdint>

#include "ntfs/record_bytes.h"
#include "volume/error_state.h"
#include "volume/session.h"

namespace vr {

Long RunVcn;
Integer RunKinds;

namespace {

// The run's offset field: F bytes, signed.
int64_t SignedField(Bytes Buffer, int64_t pos, int F) {
  const int64_t v = Get_Num(Buffer, pos, F);
  if (F < 4 && v >= (int64_t{1} << (8 * F - 1))) return v - (int64_t{1} << (8 * F));
  return v;
}

void MakeRoom(VbArray<Long>& Lengths, VbArray<Long>& Lcns, Integer Count) {
  const int64_t upper = int64_t{Count.Value()} + 50;
  if (Count > Lengths.UBound()) Lengths.ReDimPreserve(upper);
  if (Count > Lcns.UBound()) Lcns.ReDimPreserve(upper);
}

}  // namespace

Integer Decode_Segments(Integer& Count, Bytes Buffer, Long Start, Long End, VbArray<Long>& Lengths,
                        VbArray<Long>& Lcns, Long& Clusters, Long& Sparse) {
  try {
    if (Count == 0) {
      RunVcn = 0;
      RunKinds = 0;
    }
    Clusters = 0;
    Sparse = 0;
    Long lcn = 0;  // every extent's list starts from an absolute offset
    // No header read yet: a range without any byte holds no terminator either.
    int lastHeader = -1;
    Long pos = Start;
    while (pos < End) {
      const int h = U8(Buffer, pos);
      lastHeader = h;
      if (h == 0) break;
      const int L = h & 15;
      const int F = h >> 4;
      if (pos + L + F >= End || L >= 5 || F >= 5) {
        Rec_Error("SegErr", Buffer);
        break;
      }
      const Long len = Get_Num(Buffer, pos + 1, L);
      // A run without a length (no length bytes, 0, or a negative 4-byte
      // value) describes no clusters; counting it would corrupt the totals.
      if (len < 1) {
        Rec_Error("SegErr", Buffer);
        break;
      }
      if (F == 0) {  // sparse: counted, not stored
        RunKinds = RunKinds | 2;
        RunVcn += len;
        Sparse += len;
        pos = pos + 1 + L;
        continue;
      }
      if (RunKinds == 3) {
        if ((RunVcn & 15) != 0) ErrorState.AlignmentMark = kTrue;
        RunKinds = 0;
      }
      RunKinds = RunKinds | 1;
      const int64_t next = int64_t{lcn.Value()} + SignedField(Buffer, pos + 1 + L, F);
      // The run must lie inside the volume: it may end exactly at the last
      // cluster, and it may not start before cluster 0 (-1 is the old marker
      // of a run without clusters).
      if (next < -1 || next + len.Value() > VolumeSession.TotalClusters.Value()) {
        Rec_Error("BlkErr", Buffer);
        break;
      }
      lcn = next;
      Count += 1;
      MakeRoom(Lengths, Lcns, Count);
      Lengths(Count) = len;
      Lcns(Count) = lcn;
      if (lcn != -1) {
        Clusters += len;
        RunVcn += len;
      }
      pos = pos + 1 + L + F;
    }
    if (lastHeader != 0 && !AnyErrorCounted() && ErrorState.Failed == 0)
      Rec_Error("SegNoEnd", Buffer);
  } catch (const RunError& e) {
    ErrorState.ErrorText = e.Description();
    if (ErrorState.ErrorWhere.empty()) ErrorState.ErrorWhere = "Segments";
    Rec_Error(e.Description(), Buffer);
  }
  return Count;
}

Integer Count_Fragments(const VbArray<Long>& Lengths, const VbArray<Long>& Lcns) {
  Integer fragments = 1;
  for (int64_t i = 2; i <= Lcns.UBound(); ++i) {
    const int64_t end = int64_t{Lcns(i - 1).Value()} + Lengths(i - 1).Value();
    if (Lcns(i).Value() != end) fragments += 1;
  }
  return fragments;
}

Integer Put_Num_Width(MutableBytes Buffer, Long Value, Long Position, Integer& Width) {
  const int32_t v = Value;
  if (v >= -128 && v <= 127)
    Width = 1;
  else if (v >= -32768 && v <= 32767)
    Width = 2;
  else if (v >= -8388608 && v <= 8388607)
    Width = 3;
  else
    Width = 4;
  Put_Num(Buffer, Value, Position, Width);
  return Width;
}

void Put_Num(MutableBytes Buffer, Long Value, Long Position, Integer Width) {
  if (Width < 0 || Width > 8) Raise(kErrIllegalCall);
  // Sign-extended, so that a width above 4 still writes the same number.
  PutLE(Buffer, Position, Width, static_cast<uint64_t>(static_cast<int64_t>(Value.Value())));
}

Long Put_Run(MutableBytes Buffer, Long Position, Long Length, Long Offset) {
  Integer lengthWidth, offsetWidth;
  Put_Num_Width(Buffer, Length, Position + 1, lengthWidth);
  Put_Num_Width(Buffer, Offset, Position + 1 + lengthWidth, offsetWidth);
  PutU8(Buffer, Position, static_cast<uint8_t>(offsetWidth * 16 + lengthWidth));
  return Position + 1 + lengthWidth + offsetWidth;
}

}  // namespace vr
