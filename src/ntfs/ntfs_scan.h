// The NTFS scans of the NTFS map window: the Checked View (a walk of the
// directory tree from the root folder, then the bitmap cross-checks) and the
// Fast View (every record the MFT marks in use, in number order), the file
// table they fill, their counters and their report.
#pragma once

#include <set>
#include <string>

#include "runtime/bytes.h"
#include "runtime/checked.h"
#include "runtime/vb_array.h"
#include "volume/record_info.h"
#include "volume/ui.h"

namespace vr {

// Status line positions of the NTFS map window.
constexpr int kNtfsStatusLine1 = 10;
constexpr int kNtfsStatusLine2 = 22;

// The first record that counts as a user file (11 on NTFS, 1 for a FAT
// volume handed to the window for optimisation).
extern Long FirstUserRecord;
// Records the MFT holds; the FileTable columns run 0 .. RecordCount - 1.
extern Long RecordCount;

// Counters of the NTFS scans, reset when the window opens.
namespace ntfs {
extern Long FileCount;            // files, system files included
extern Integer FolderTotal;       // folders
extern Long FragPlain;            // fragmented user files, plain
extern Long FragCompressed;       // fragmented compressed user files
extern Integer FragAttrList;      // fragmented user files with an attribute list
extern Integer FragFolders;       // fragmented folders
extern Long ResidentCount;        // user records without data clusters
extern Long CompressedCount;      // compressed files (Checked View)
extern Long SecuredCount;         // records with a non-resident security descriptor
extern Long AttrListCount;        // uncompressed user records with an attribute list
extern Long FragmentedTotal;      // the fragmented counters together
extern Long UnmovableFragmented;  // fragmented files that cannot be moved
extern Long FragmentedFiles;      // FragmentedTotal - UnmovableFragmented
extern double ScanSeconds;        // time the walk or the record pass took

void Reset_Counters();
}  // namespace ntfs

// What the scan asks of its window.
class NtfsMapPort {
 public:
  virtual ~NtfsMapPort() = default;
  virtual StatusSurface& Status() = 0;
  // Moves the main window's Raw list into the fragmented-files list.
  virtual void Move_Raw_List() = 0;
  // Hides the histograms, sets the done flag and unloads the window.
  virtual void Closing_Step() = 0;
};

// The window the scan writes its status lines to (none: not written).
void Set_Ntfs_Window(NtfsMapPort* Window);
// Its status-line surface; null when no window is set.
StatusSurface* Ntfs_Status();

// The optimiser run a Defrag hands over to at the end of its scan, on a
// volume the file system moves files for (in use). Installed by the
// program; without it a Defrag says the optimiser is not available.
using OptimiserRun = void (*)();
void Set_Optimiser(OptimiserRun Run);

// The entry run by the window's one-shot timer: picks the scan, then the
// closing step.
void FormLoad(NtfsMapPort& Window);
// The Checked View and the Fast View.
void Trace_Dir_Tree();
void ViewFast();

// Walks one folder's index root (the folder's FILE record, fixed up, in
// Buffer; its index-allocation segments in Lengths/Lcns) and recurses.
void Root_Dir_Tree(ByteArray& Buffer, const VbArray<Long>& Lengths, const VbArray<Long>& Lcns,
                   Integer Folder);
// Walks the index block at sub-node Vcn of the folder whose index
// allocation is Lengths/Lcns. Visited holds the VCNs this folder's walk has
// read; a VCN met again is a recorded error.
void Dir_Tree(Long Vcn, const VbArray<Long>& Lengths, const VbArray<Long>& Lcns, Integer Folder,
              std::set<int64_t>& Visited);
// Follows the attribute list at AttributeOffset of the folder record
// RecordNumber to the record that holds the $I30 index root: Buffer then
// holds that record, AttributeOffset the index root, FoundType 0x90.
void Scan_20h_for_90h(ByteArray& Buffer, Long RecordNumber, Long& AttributeOffset,
                      Integer& FoundType);

// Status line 1.
void Active(const std::string& Text);

// Bookkeeping of one decoded record.
void Tally_Record(Long Record, const RecordInfo& Info, const VbArray<Long>& Lengths,
                  const VbArray<Long>& Lcns);
void Tally_Fast(Long Record, const RecordInfo& Info, const VbArray<Long>& Lengths,
                const VbArray<Long>& Lcns);
// The busy test of a user record (Checked View).
void Check_Busy(Long Record, const RecordInfo& Info);
// The unnamed data attribute against the decoded runs; true when invalid.
bool Check_Record(Long Record, const RecordInfo& Info, const ByteArray& Buffer);
// "MFT free space=".
void Show_Mft_Free();

// Lists a fragmented file in the main window's Raw list: its path, then
// " (folder)", " (busy)" or its size. A busy file moves from FragmentedFiles
// to UnmovableFragmented.
void List_Unmovable(Long Record, const RecordInfo& Info);

// Whether a record belongs to $Extend (record 11) or lies below it: such a
// system object is unmovable and never listed.
bool Is_Extend_Object(Long Record);

}  // namespace vr
