// The re-view after a run: every file's category colour again, its segments
// read again where it was fragmented, the files still fragmented listed,
// and with a repaint the whole block map drawn anew.
#include "map/legend.h"
#include "map/map_colors.h"
#include "map/mark_segments.h"
#include "map/runs.h"
#include "map/used_space.h"
#include "ntfs/file_record.h"
#include "ntfs/ntfs_scan.h"
#include "ntfs/run_list.h"
#include "optimise/move_engine.h"
#include "optimise/optimiser_run.h"
#include "platform/nt.h"
#include "volume/error_state.h"
#include "volume/file_table.h"
#include "volume/fs_control.h"
#include "volume/session.h"
#include "volume/shared_state.h"
#include "volume/ui.h"

namespace vr {

namespace {

// Segments of one file as they are now. A record that cannot be read is
// skipped: the error it recorded is taken back, so the re-view goes on and
// the run's own state (a user stop among it) stays as it was.
bool Read_Segments(Long R, VbArray<Long>& Lengths, VbArray<Long>& Lcns, ByteArray& Buffer,
                   RecordInfo& Info) {
  const ErrorStateData before = ErrorState;
  if (VolumeSession.IsNtfs != 0) {
    Decode_FILE(VolumeSession.VolumeHandle, R, Lengths, Lcns, Buffer, Info);
  } else {
    ReadPtrs(R, Lengths, Lcns, Info);
    if (Info.FileHandle != -1) nt::CloseHandle(Info.FileHandle);
    Info.FileHandle = -1;
  }
  if (ErrorState.ErrorCount == before.ErrorCount) return true;
  ErrorState = before;
  return false;
}

// The category colour of record R from its file-table row.
int Review_Color(Long R) {
  const int flags = FileFlags(R);
  if (DoNotMove(R) != 0 || (flags & kFlagUnmovable) != 0) return kColorFixed;
  if ((flags & kFlagFolder) != 0) return kColorFile;
  if ((flags & kFlagSystem) != 0) return kColorSys;
  if ((flags & kFlagCompressed) != 0) return kColorCmprs;
  if (ClusterCount(R) > BigFileClusters) return kColorBigFile;
  return kColorFile;
}

void Review_File(Long R, bool Repaint) {
  if (ClusterCount(R) <= 0 || FragmentState(R) <= 1) return;
  const bool ntfs = VolumeSession.IsNtfs != 0;
  int colour = Review_Color(R);
  const bool contiguous = FragmentState(R) == 2;
  // A descriptor's segments come with its record's decode.
  const bool security = Repaint && ntfs && (FileFlags(R) & kFlagSecurity) != 0;
  VbArray<Long> lengths(0), lcns(0);
  ByteArray buffer(0);
  RecordInfo info{};
  const bool read = !contiguous || security;
  if (read && !Read_Segments(R, lengths, lcns, buffer, info)) return;
  if (!contiguous && R >= FirstUserRecord && lengths.UBound() >= 1 &&
      Count_Fragments(lengths, lcns) > 1) {
    // An unmovable file on a volume in use was listed by the scan.
    if (colour != kColorFixed || VolumeSession.NotLocked == 0) {
      colour = kColorFrag;
      List_Unmovable(R, info);
    }
  }
  if (!Repaint) return;
  if (read && lengths.UBound() >= 1)
    Redraw_XXXX(lengths, lcns, colour);
  else
    Redraw_BBBB(ClusterCount(R), FirstLcn(R), colour);
  if (security) Redraw_XXXX(SecurityLengths, SecurityLcns, kColorFixed);
}

}  // namespace

void ReView(Integer Repaint) {
  const bool repaint = Repaint != 0;
  const bool ntfs = VolumeSession.IsNtfs != 0;
  if (repaint) {
    DefragMode = -1;
    BoxColors.Fill(0);
    Draw_Legend_NTFS();
    // The space in use first, as data that stays where it is: clusters no
    // file-table row holds (named streams, index bitmaps, the streams of
    // $Secure) are in use and never moved, and must not look free. The
    // files are painted over it in their own colours.
    Draw_Bitmap(kColorFixed);
    if (ntfs) {
      Show_MFT_Zone();
      Mark_Segments(MftBitmapLengths, MftBitmapLcns, RecordInfo{}, true);
    }
  }
  // On NTFS from record 0: the $MFT's own clusters outside the zone are
  // painted as the scan painted them, not left to look free. $BadClus
  // (record 8) spans the volume with its sparse stream and is left out.
  for (int64_t r = ntfs ? 0 : 1; r <= FragmentState.UBound(); ++r) {
    if (r % 128 == 0) {
      MainWindow().DoEvents();
      if (ErrorState.Failed != 0) return;
    }
    if (ntfs && r == 8) continue;
    Review_File(Long(r), repaint);
  }
  if (repaint) Setup_Empty_Colors();
}

}  // namespace vr
