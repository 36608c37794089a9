#include "optimise/optimiser_report.h"

#include "alloc/free_segments.h"
#include "alloc/volume_bitmap.h"
#include "ntfs/file_record.h"
#include "ntfs/ntfs_scan.h"
#include "optimise/move_engine.h"
#include "runtime/format.h"
#include "volume/error_state.h"
#include "volume/report.h"
#include "volume/session.h"

namespace vr {

double Seconds_Since(double Start) {
  double t = Timer() - Start;
  if (t < -0.1) t += 86400;
  return t;
}

float Moved_Megabytes(int64_t Clusters, int64_t SectorsPerCluster) {
  // Worked out in 64 bits: clusters times sectors may pass a Long.
  return static_cast<float>(Clusters * SectorsPerCluster) / 2048.0f;
}

std::string Moved_Line(int64_t Files, float Megabytes) {
  return "Moved: Files=" + Str(Files) + ",  Mb=" + Format(Megabytes, "0");
}

std::string Time_Line(float Seconds, float Megabytes) {
  const float rate = Seconds > 0 ? Megabytes / Seconds : 0.0f;
  return "   Time=" + Format(Seconds, "0.0") + ",  Mb/Sec=" + Format(rate, "0.00");
}

void Report_Moves(float Seconds) {
  const float mb = Moved_Megabytes(ClustersMoved, VolumeSession.SectorsPerCluster);
  ReportLine(Moved_Line(FilesMoved, mb));
  ReportLine(Time_Line(Seconds, mb));
  ReportLine("Fragmented files=" +
             Str(int64_t{ntfs::FragmentedFiles} + int64_t{ntfs::UnmovableFragmented}));
}

namespace {

// The volume bitmap of a volume in use as it is after the run. On NTFS a
// $Bitmap of one run is read raw from the volume (the driver writes what
// it changes through to the device); the session stays a shared one.
bool Reload_Shared_Bitmap() {
  VolumeSessionData& s = VolumeSession;
  VbArray<Long> lengths(0), lcns(0);
  if (s.IsNtfs != 0) {
    ByteArray buffer(0);
    RecordInfo info{};
    Decode_FILE(s.VolumeHandle, 6, lengths, lcns, buffer, info);
    if (AnyErrorCounted()) return false;
  }
  if (!Reopen_Drive()) return false;
  if (s.IsNtfs != 0 && lengths.UBound() == 1) {
    s.SharedMode = 0;
    try {
      Load_Bitmap(lengths, lcns);
    } catch (...) {
      s.SharedMode = kTrue;
      throw;
    }
    s.SharedMode = kTrue;
  } else {
    Load_Bitmap(lengths, lcns);
  }
  return !AnyErrorCounted();
}

}  // namespace

void Report_Free_Space() {
  if (VolumeSession.SharedMode != 0 && !Reload_Shared_Bitmap()) return;
  Setup_FREE_Segs();
  const Long large = Large_Free();
  ReportSize("Small free Space=", Total_Free() - large);
  ReportSize("Large free space=", large);
}

}  // namespace vr
