// The FAT scan (the analysis half of the FAT map window): the allocation
// table checked for chains that leave the volume and for cross-links, every
// chain walked once to draw the map and count fragmented chains, the free
// segments, and in a checked scan the walk of the directory tree that fills
// the FAT file table.
#pragma once

#include <string>

#include "alloc/free_segments.h"
#include "runtime/bytes.h"
#include "runtime/checked.h"
#include "runtime/run_error.h"
#include "volume/ui.h"

namespace vr::fat {

// The number a structural fault of the scan is raised with, after its text
// and source have been recorded in the error state (it is never counted
// twice on its way out).
constexpr int kErrFatStructure = 1001;

// Status line positions of the map window.
constexpr int kFatStatusLine1 = 10;
constexpr int kFatStatusLine2 = 22;

// Records `Text` as a fatal structural error from `Where` (ErrorText,
// ErrorWhere, ErrorCount, RecordFault, Failed) and raises it.
[[noreturn]] void Fat_Fault(const std::string& Text, const std::string& Where);

// Upper-case hexadecimal digits without prefix or leading zeros.
std::string Hex(int64_t Value);

// Fills Successor from FatTable: "Bad cluster=" for an entry that names no
// cluster of the volume, "Crosslinked files" for a cluster two entries point
// to; both raised with source "FAT_Marks".
void FAT_Marks();

// Walks every chain once from its head, painting it (one segment: BigFile or
// File, several: Frag; a head marked bad or reserved: grey) and counting
// FragChains. Returns the chain count; stops at a chain fault (recorded by
// FAT_Chain).
Long Chain_Pass();

// Free segments from FatTable: runs of free entries among 2 .. MaxCluster,
// into FreeStarts/FreeLengths (1 .. FreeCount); FreeCursor = 1.
void FAT_FREE_Segs();

// Free space of the listed segments, in sectors: all of it, and the part in
// segments of at least BigFileClusters clusters.
Long Fat_Total_Free();
Long Fat_Large_Free();

// Length (Blks) and fragment count (the result, at most 255) of the chain
// from Start; 0 for Start 0. "Invalid cluster", "Invalid chain" (a chain
// longer than the volume: it loops) and "Too many chains" are raised.
Integer Fragmented(Long Start, Long& Blks);

// Paints the chain from Cluster (a 16-bit value read unsigned) with Color.
// A chain that reaches a free entry or a value past the volume: "Bad
// cluster=", raised with source "MarkChain".
void Mark_Chain(Long Cluster, Integer Color);

// -1 when a directory entry's first cluster Start lies inside another chain
// or is free; 0 for Start 0 and for a proper chain head.
Integer Check_Start(Long Start);

// Walks the directory tree from the root into the file table.
void Mark_Subdirs();
// Walks the directory at Cluster (0: the root) held by entry Entry, whose
// folder is FolderTable(Folder), and its subfolders.
void FAT_Do_Subdir(Long Cluster, Long Entry, Integer Folder);
// The name of a 32-byte directory entry: "NAME.EXT".
std::string Entry_Name(Bytes Entry);
// On a volume that is not locked: marks folders and files other programs
// hold open as not to be moved.
void Check_Busy_Fat(Long Entry, const std::string& Path);

// What the scan asks of its window.
class FatMapPort {
 public:
  virtual ~FatMapPort() = default;
  virtual StatusSurface& Status() = 0;
  // Moves the main window's Raw list into the fragmented-files list.
  virtual void Move_Raw_List() = 0;
  // Hides the histograms, sets the done flag and unloads the window.
  virtual void Closing_Step() = 0;
};

// The window the scan writes its status lines to (none: not written).
void Set_Fat_Window(FatMapPort* Window);
FatMapPort* Fat_Window();

// Status line 1.
void FAT_Active(const std::string& Text);
void FAT_Show_Info();

// Chain pass, free segments and, in a checked scan, the directory walk.
// Returns with ErrorCount non-zero after a fault.
void Fat_ViewMap(double& LoadTime, double& SubdirTime, Long& Chains);

// The whole scan, run from the window's one-shot timer.
void FormLoad(FatMapPort& Window);

// The closing step every FAT scan or run ends with.
void Quit();

// Called by Quit in a checked scan of a shared volume that ended without a
// fault, before the allocation table is released: hands the file table to
// the optimiser that works through the file system. Installed by the shell.
extern void (*Fat_Shared_HandOver)();

}  // namespace vr::fat
