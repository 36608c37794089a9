// Whole optimiser runs for the acceptance tests: a Defrag (with or without
// packing) of an NTFS image file in use, run headless as the program runs
// it, with the evidence the tests judge: the report, the fragmented-files
// list, the driver's move count, and independent audits of the volume
// before and after.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "runtime/checked.h"
#include "support/ntfs_audit.h"

namespace vr::e2e {

struct RunOutcome {
  // False for a run of the program as a process: only its report is known.
  bool inProcess = true;
  std::vector<std::string> lines;   // the report, in order
  std::vector<std::string> boxes;   // message boxes
  std::vector<std::string> listed;  // the fragmented-files list
  bool failed = false;              // the run would exit 1
  bool internalFault = false;
  uint64_t driverMoves = 0;           // move requests the driver carried out in the run
  std::set<std::string> statusTexts;  // every text drawn in the map window's status lines
  // The move engine's state as seen at the run's pumps of messages: the most
  // postponed moves waiting at once, and the most delays given up between
  // two bitmap re-reads.
  int maxDelayed = 0;
  int maxAbandoned = 0;
  std::set<int64_t> delayedRecords;  // records seen in the postponed-move list
  int finalDelayed = 0;              // postponed moves still listed when the run ended
};

struct RunSetup {
  Integer checked = -1;
  Integer defrag = 1;  // -1 view, 0 Defrag, 1 Defrag then Pack
  std::vector<std::string> busy = {"pagefile.sys"};
  bool virtualSleep = true;         // the platform's sleeping advances its clock at once
  platform::DeviceWrapper wrapper;  // stacked on the drive's device
  // When set, drive C is this memory image instead of the image file.
  std::shared_ptr<platform::MemoryDevice> memory;
  // Called at each pump of messages of the run (the map window's logic at
  // hand), e.g. to press Esc.
  std::function<void()> onPump;
};

// Runs the command on drive C mapped to `image` (a file) with the busy
// files of `setup`. The platform is reset before and after; the caller
// sets the flush delay.
RunOutcome RunOptimiser(const std::string& image, const RunSetup& setup);
// Presses Esc on the map window of the run in progress.
void PressEsc();

// The value after `prefix` on the first report line starting with it; ""
// when there is none.
std::string After(const std::vector<std::string>& lines, const std::string& prefix);
// The same for the last such line.
std::string Last(const std::vector<std::string>& lines, const std::string& prefix);
bool HasLine(const std::vector<std::string>& lines, const std::string& line);
bool HasLineStarting(const std::vector<std::string>& lines, const std::string& prefix);

// The image's state before a run, for ExpectSoundRun.
struct Before {
  testsupport::VolumeAudit audit;
  std::vector<std::string> names;  // fls -r
  testsupport::FreeSpace free;
};
Before TakeBefore(const std::string& image);

struct Verdict {
  testsupport::VolumeAudit audit;
  testsupport::FreeSpace free;
  int64_t movedFiles = -1;  // "Moved: Files=", -1 for "Moved: None"
  int runsChanged = 0;      // files whose run lists changed
};

// The checks every completed run must pass: every file and stream the same
// bytes, libntfs-3g, ntfsfix, fsstat and fls accept the image with the same
// names, the program's own Checked View finds no unmarked cluster, the
// report lines have their formats, "Moved: Files=" equals the driver's count
// and is never fewer than the files whose runs changed, every file still
// fragmented is listed, and none that could move is left fragmented where
// the largest free extent held all of them.
Verdict ExpectSoundRun(const std::string& image, const Before& before, const RunOutcome& run);

// A copy of `from` at a new temporary path.
std::string CopyImage(const std::string& from, const std::string& name);

}  // namespace vr::e2e

namespace vr::e2e {

// The volumes of the acceptance tests, each built once per test program
// (the mkntfs fixture, then the work of testsupport::AddFragmentedFiles);
// tests run on copies. 4 KB clusters; clusters of one sector; and 4 KB
// clusters with the free space outside the MFT zone taken down to under
// a thousand clusters.
const std::string& WorkVolume4k();
const std::string& WorkVolume512();
const std::string& NearlyFullVolume();
// A 32 MB volume whose files lie one after the other behind a gap the size
// of one of them: packing slides each into the place the one before left,
// which the file system has not released yet.
const std::string& SlidingVolume();
// A 32 MB volume where a fragmented file's only target is the region
// another fragmented file left in the same defragment pass.
const std::string& FollowingVolume();

}  // namespace vr::e2e
