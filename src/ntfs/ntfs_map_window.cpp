// The NTFS map window's scans from its timer to its closing step: the
// Checked View (directory walk and bitmap cross-checks) and the Fast View
// (every record in use), their summaries, and the closing step.
#include <cctype>

#include "alloc/allocation_state.h"
#include "alloc/volume_bitmap.h"
#include "map/legend.h"
#include "map/map_colors.h"
#include "map/mark_segments.h"
#include "map/used_space.h"
#include "ntfs/cluster_map.h"
#include "ntfs/file_record.h"
#include "ntfs/mft.h"
#include "ntfs/ntfs_scan.h"
#include "ntfs/ntfs_scan_internal.h"
#include "ntfs/owned_clusters.h"
#include "ntfs/run_list.h"
#include "platform/nt.h"
#include "runtime/format.h"
#include "volume/clean_check.h"
#include "volume/error_state.h"
#include "volume/file_table.h"
#include "volume/fs_control.h"
#include "volume/report.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr {

using namespace ntfs;

namespace {

NtfsMapPort* g_window = nullptr;

bool HasErrors() { return AnyErrorCounted(); }
bool Stopped() { return ErrorState.Failed != 0 || HasErrors(); }

std::string Upper(std::string s) {
  for (char& c : s) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return s;
}

// Segments of $Bitmap (record 6), kept for the reload after the walk.
VbArray<Long> g_bitmapLengths(0), g_bitmapLcns(0);

// Seconds since Start, across midnight.
double Elapsed(double Start) {
  double t = Timer() - Start;
  if (t < 0) t += 86400;
  return t;
}

// Record 6: on a volume held exclusively the bitmap is read raw from the
// single run of $Bitmap. A $Bitmap in several runs is read through the file
// system instead, which needs the volume unlocked and shared.
bool Locate_Bitmap() {
  g_bitmapLengths.ReDim(0);
  g_bitmapLcns.ReDim(0);
  if (VolumeSession.SharedMode != 0) return true;
  ByteArray buffer(0);
  RecordInfo info{};
  Decode_FILE(VolumeSession.VolumeHandle, 6, g_bitmapLengths, g_bitmapLcns, buffer, info);
  if (HasErrors()) return false;
  if (g_bitmapLengths.UBound() == 1) return true;
  if (VolumeSession.Locked != 0) {
    nt::DWORD returned = 0;
    nt::DeviceIoControl(VolumeSession.VolumeHandle, nt::FSCTL_UNLOCK_VOLUME, nullptr, 0, nullptr, 0,
                        &returned, nullptr);
    VolumeSession.Locked = 0;
  }
  VolumeSession.NotLocked = kTrue;
  VolumeSession.SharedMode = kTrue;
  return true;
}

// Loads the volume bitmap; the first load also sizes the computed bitmap
// (cleared), the reload after the walk keeps what the walk marked.
bool Load_Volume_Bitmap(bool First) {
  Load_Bitmap(g_bitmapLengths, g_bitmapLcns);
  if (HasErrors()) return false;
  Size_Computed_Bitmap(!First);
  return true;
}

void Create_File_Table() {
  const int64_t last = int64_t{RecordCount.Value()} - 1;
  FileNames.ReDim(last);
  FileFlags.ReDim(last);
  FragmentState.ReDim(last);
  ClusterCount.ReDim(last);
  FirstLcn.ReDim(last);
  DoNotMove.ReDim(last);
  MoveDelayed.ReDim(last);
  FolderIndex.ReDim(last);
}

void Free_Space_Lines() {
  const Long large = Large_Free();
  ReportSize("Small free Space=", Total_Free() - large);
  ReportSize("Large free space=", large);
}

// Set when the run ended where the optimiser would start: the command did
// not do its work, but nobody stopped the scan.
bool g_refused = false;

OptimiserRun g_optimiser = nullptr;

// The optimiser for this volume is not part of this build (none installed,
// or the volume is held exclusively): a Defrag ends after its scan and says
// so.
void DefragPack_Not_Available() {
  ReportError(VolumeSession.IsNtfs != 0 ? "NTFS optimisation is not available yet."
                                        : "FAT optimisation is not available yet.");
  ErrorState.Failed = kTrue;
  g_refused = true;
}

void Finish_Map() {
  MainWindowPort& main = MainWindow();
  main.SetVisible(Control::picHistoF, false);
  main.SetVisible(Control::PicHistoE, false);
  const bool stopped = ErrorState.Failed != 0 && !g_refused;
  if (stopped) Report_Stop();
  Free_Bitmaps();
  FileNames.ReDim(0);
  FileFlags.ReDim(0);
  FragmentState.ReDim(0);
  ClusterCount.ReDim(0);
  FirstLcn.ReDim(0);
  DoNotMove.ReDim(0);
  MoveDelayed.ReDim(0);
  FolderIndex.ReDim(0);
  Clear_Extend();
  NtfsMapPort* window = g_window;
  if (!stopped && window != nullptr)
    window->Move_Raw_List();
  else if (stopped)
    MainWindow().ClearList(Control::Raw);
  main.SetBusyCursor(false);
  g_window = nullptr;
  if (window != nullptr) window->Closing_Step();
}

}  // namespace

void Set_Ntfs_Window(NtfsMapPort* Window) { g_window = Window; }

StatusSurface* Ntfs_Status() { return g_window != nullptr ? &g_window->Status() : nullptr; }

void Set_Optimiser(OptimiserRun Run) { g_optimiser = Run; }

namespace {
// Hands a Defrag over to the optimiser, which moves files through the file
// system: on a volume in use only.
void Hand_Over() {
  if (VolumeSession.SharedMode != 0 && g_optimiser != nullptr)
    g_optimiser();
  else
    DefragPack_Not_Available();
}
}  // namespace

void Active(const std::string& Text) {
  if (g_window != nullptr) Status_Value(kNtfsStatusLine1, g_window->Status(), Text, kBrightWhite);
}

void Show_Counts() {
  if (g_window != nullptr)
    Status_Value(kNtfsStatusLine2, g_window->Status(), Str(FolderTotal) + " / " + Str(FileCount),
                 kBrightWhite);
  MainWindow().DoEvents();
}

void Show_Mft_Free() {
  const Long free = Mft_Zone_Free();  // 0 off NTFS
  if (VolumeSession.IsNtfs == 0) return;
  ReportSize("MFT free space=", free * VolumeSession.SectorsPerCluster);
}

void Trace_Dir_Tree() {
  VolumeSessionData& s = VolumeSession;
  Draw_Legend_NTFS();
  if (!Load_Mft()) return;
  RecordCount = Mft_Record_Count();

  Set_Allocation_Floor(true);
  if (!Get_MFT_Zone() || HasErrors()) return;

  Create_File_Table();
  ReportLine("Checking disk structure . .");

  if (!Locate_Bitmap()) return;
  if (!Load_Volume_Bitmap(true)) return;

  Setup_FREE_Segs();
  Draw_Bitmap(kColorMoving);

  ByteArray root(0);
  VbArray<Long> lengths(0), lcns(0);
  RecordInfo info{};
  Decode_FILE(s.VolumeHandle, 5, lengths, lcns, root, info);
  if (HasErrors()) return;
  const double start = Timer();
  Start_Folders(Upper(s.DriveName.substr(0, 2)));
  Clear_Extend();
  Root_Dir_Tree(root, lengths, lcns, 0);
  if (Stopped()) return;

  ScanSeconds = Elapsed(start);
  // The free list and the cross-checks work on the bitmap as it is now.
  if (!Load_Volume_Bitmap(false)) return;
  // A file in use that no folder reaches would be invisible to the
  // optimiser, whose moves could give its clusters away.
  ActiveBitmap_Vs_ActiveBitmapx();
  if (Stopped()) return;
  // Also in shared mode, where the file system moves clusters by its own
  // bitmap: a cluster in use that it calls free would be a move's target.
  Checking_Bitmaps();
  if (Stopped()) return;

  ReportLine("User files=" + Str(int64_t{FileCount.Value()} - 10) +
             ", Folders=" + Str(FolderTotal));
  if (CompressedCount != 0) ReportLine("Compressed files=" + Str(CompressedCount));
  if (SecuredCount != 0) ReportLine("Secured files=" + Str(SecuredCount));
  FragmentedTotal = FragCompressed + FragPlain + Long(FragAttrList);
  if (s.SharedMode == 0) FragmentedTotal += Long(FragFolders);
  if (FragmentedTotal != 0) ReportLine("Fragmented files=" + Str(FragmentedTotal));
  FragmentedFiles = FragmentedTotal - UnmovableFragmented;

  Show_Mft_Free();
  Setup_FREE_Segs();
  Free_Space_Lines();
  Setup_Empty_Colors();
  MainWindow().DoEvents();

  if (ErrorState.Failed == 0 && DefragMode >= 0) {
    // Held exclusively, the volume is written directly: only when clean.
    // The check's line says why the command did not do its work.
    if (s.SharedMode == 0 && StopIfNotClean())
      g_refused = true;
    else
      Hand_Over();
  }
}

void ViewFast() {
  VolumeSessionData& s = VolumeSession;
  Draw_Legend_NTFS();
  Set_Allocation_Floor(true);
  if (!Get_MFT_Zone() || HasErrors()) return;
  if (!Load_Mft()) return;
  RecordCount = Mft_Record_Count();
  if (!Locate_Bitmap()) return;
  if (!Load_Volume_Bitmap(true)) return;
  Setup_FREE_Segs();
  Draw_Bitmap(kColorMoving);
  Active("View");
  const double start = Timer();
  Clear_Extend();

  ByteArray buffer(0);
  VbArray<Long> lengths(0), lcns(0);
  for (Long r = 0; r < RecordCount; r += 1) {
    MainWindow().DoEvents();
    if (ErrorState.Failed != 0) break;
    if (!Is_Active(r)) continue;
    RecordInfo info{};
    Decode_FILE(s.VolumeHandle, r, lengths, lcns, buffer, info);
    if (HasErrors()) return;
    if (info.Name.empty()) continue;
    // $Extend and the files below it: known by their parent folder.
    const int64_t parent = File_Name_Parent(buffer.Span());
    if ((r == 11 && info.Name == "$Extend") || (r != parent && Is_Extend_Object(Long(parent))))
      Note_Extend(r);
    const bool extend = Is_Extend_Object(r);

    if (r >= FirstUserRecord && !extend) {
      if (Check_Record(r, info, buffer)) {
        Scan_Fault("Invalid " + Str(r) + " " + Printable(info.Name), "ViewFast");
        return;
      }
    }
    const Long filesBefore = FileCount;
    // $Extend and its files are system objects: not counted as the user's.
    if (!extend) Tally_Fast(r, info, lengths, lcns);
    if (r == 8) {
      if (!Mark_Attributes(r, buffer, info, true)) return;
    } else {
      if (r >= FirstUserRecord && info.HasAttributeList != 0 && info.Compressed == 0)
        AttrListCount += 1;
      const bool unmovable =
          r < FirstUserRecord || extend ||
          (s.SharedMode != 0 && (info.IsDirectory != 0 || Upper(info.Name) == "PAGEFILE.SYS"));
      if (lengths.UBound() >= 1) {
        if (!Claim_Segments(r, lengths, lcns, info, unmovable)) return;
      } else if (r >= FirstUserRecord) {
        ResidentCount += 1;
      }
      if (info.SecurityNonResident != 0) {
        SecuredCount += 1;
        if (!Claim_Segments(r, SecurityLengths, SecurityLcns, info, true)) return;
      }
      if (!Mark_Attributes(r, buffer, info, unmovable)) return;
    }
    if (FileCount != filesBefore && FileCount % 100 == 0) {
      Active(info.Name);
      Show_Counts();
    }
  }
  if (Stopped()) return;
  ScanSeconds = Elapsed(start);
  // A volume in use may have changed during the pass: compare with the
  // file system's bitmap as it is now.
  if (s.SharedMode != 0 && !Load_Volume_Bitmap(false)) return;
  Checking_Bitmaps();
  if (Stopped()) return;
  Setup_Empty_Colors();

  FragmentedTotal = FragCompressed + FragPlain + Long(FragAttrList);
  if (s.SharedMode == 0) FragmentedTotal += Long(FragFolders);
  FragmentedFiles = FragmentedTotal - UnmovableFragmented;
  ReportLine("Files=" + Str(FileCount) + ", Folders=" + Str(FolderTotal));
  ReportLine("Fragmented Files=" + Str(FragmentedTotal));
  if (SecuredCount != 0) ReportLine("Secured Files=" + Str(SecuredCount));
  Show_Mft_Free();
  Free_Space_Lines();
}

void FormLoad(NtfsMapPort& Window) {
  g_window = &Window;
  g_refused = false;
  Reset_Counters();
  int pending = 0;
  try {
    if (VolumeSession.IsNtfs != 0) {
      FirstUserRecord = 11;
      Status_Label(kNtfsStatusLine2, Window.Status(), "Dir / File:", kBrightWhite);
      Status_Label(kNtfsStatusLine1, Window.Status(), "Checking:", kBrightWhite);
      MainWindow().SetBusyCursor(true);
      if (CheckedScan != 0 || DefragMode >= 0)
        Trace_Dir_Tree();
      else
        ViewFast();
    } else {
      // A FAT volume in use handed over for optimisation through the file
      // system; the FAT scan does not hand over to this window yet.
      FirstUserRecord = 1;
      Set_Allocation_Floor(false);
      if (Get_MFT_Zone()) {
        Load_Bitmap(g_bitmapLengths, g_bitmapLcns);
        if (!HasErrors()) {
          Setup_FREE_Segs();
          DefragPack_Not_Available();
        }
      }
    }
  } catch (const RunError& e) {
    // A run-time error no step trapped (a counter overflow among them).
    pending = e.Number();
    if (ErrorState.ErrorText.empty()) ErrorState.ErrorText = e.Description();
    if (ErrorState.ErrorWhere.empty()) ErrorState.ErrorWhere = "FormLoad";
    ErrorState.ErrorCount = ErrorState.ErrorCount + 1;
    ErrorState.Failed = kTrue;
  }
  if (HasErrors()) {
    if (ErrorState.ErrorText.empty() && pending != 0)
      ErrorState.ErrorText = ErrorDescription(pending);
    if (!ErrorState.ErrorText.empty()) ReportError("Err=" + ErrorState.ErrorText);
    if (!ErrorState.ErrorWhere.empty()) ReportError("Source=" + ErrorState.ErrorWhere);
    if (pending != 0)
      ErrorState.InternalFault = kTrue;
    else
      ErrorState.RecordFault = kTrue;
    ErrorState.Failed = kTrue;
  }
  Finish_Map();
}

}  // namespace vr
