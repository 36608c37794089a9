// The defragment and pack passes on a copy of the mkntfs fixture in use
// (pagefile.sys held open), moving files through the platform's NTFS driver:
// after the defragment pass every movable fragmented file is one run, after
// the pack rounds the free space is gathered; every file reads as written
// (libntfs-3g), every move the passes count is one the driver carried out,
// and system records, $Extend and unmovable files stay where they were.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "alloc/allocation_state.h"
#include "drivers/ntfs/ntfs_driver.h"
#include "ntfs/ntfs_scan_harness.h"
#include "optimise/move_engine.h"
#include "optimise/optimiser_display.h"
#include "optimise/passes.h"
#include "platform/nt.h"
#include "platform/platform.h"
#include "support/ntfs_fixtures.h"
#include "support/volume_images.h"
#include "volume/file_table.h"

namespace vr::test {
namespace {

using testsupport::NtfsFixtureEntry;

// The charts the passes ask for.
class ChartLog : public OptimiserCharts {
 public:
  void ShowGaps() override { ++gaps; }
  void ShowSizes(Control Picture, const std::string& Title,
                 const std::vector<int64_t>& Bytes) override {
    if (Picture == Control::picHistoF) shown[Title].push_back(Bytes.size());
  }
  int gaps = 0;
  std::map<std::string, std::vector<size_t>> shown;
};

// The main window, where Esc is pressed once Moves files have moved.
class EscAfter : public RecordingMainWindow {
 public:
  void DoEvents() override {
    if (FilesMoved >= moves) ErrorState.Failed = kTrue;
  }
  int64_t moves = 1;
};

// One file of the fixture: its record and its runs before the passes.
struct Tracked {
  const NtfsFixtureEntry* entry;
  int64_t record;
  std::vector<testsupport::LibntfsRun> runs;
};

class PassImage : public NtfsScanTest {
 protected:
  void SetUp() override {
    NtfsScanTest::SetUp();
    platform::SetVirtualSleep(true);
    platform::SetNtfsFlushDelay(3000);
    fx_ = &testsupport::SharedNtfsFixture();
    device_ = std::make_shared<platform::MemoryDevice>(testsupport::ReadFileBytes(fx_->Path()));
  }
  void TearDown() override {
    SetOptimiserCharts(nullptr);
    Set_Ntfs_Window(nullptr);
    platform::SetNtfsFlushDelay(platform::kNtfsDefaultFlushDelayMs);
    NtfsScanTest::TearDown();
  }

  // The copy as drive N:, held by another program (shared), scanned as a
  // Defrag scans it.
  void OpenAndScan() {
    ASSERT_TRUE(Open(device_, {"pagefile.sys"}));
    ASSERT_NE(VolumeSession.SharedMode, 0);
    Set_Ntfs_Window(&window_);
    ntfs::Reset_Counters();
    DefragMode = 1;
    // The scan hands over to an optimiser that does nothing: the passes run
    // one by one below.
    Set_Optimiser([] {});
    Trace_Dir_Tree();
    Set_Optimiser(nullptr);
    ASSERT_EQ(ErrorState.Failed, 0);
    ASSERT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
    Reset_Move_State();
    OptimiserRunning = kTrue;
    SetOptimiserCharts(&charts_);
  }

  // The image as it is now, in a file libntfs-3g can read.
  std::string Saved() const {
    const std::string path = testsupport::TempPath("pass_image.img");
    EXPECT_TRUE(testsupport::WriteFileBytes(path, device_->Bytes()));
    return path;
  }

  std::vector<Tracked> Track(const std::string& image) const {
    std::vector<Tracked> files;
    for (const NtfsFixtureEntry& e : fx_->Entries()) {
      if (e.flags &
          (testsupport::kNtfsFolder | testsupport::kNtfsNamedStream | testsupport::kNtfsHardLink))
        continue;
      Tracked t{&e, -1, {}};
      std::string error;
      EXPECT_TRUE(testsupport::LibntfsRecordNumber(image, e.path, t.record, error)) << error;
      EXPECT_TRUE(testsupport::LibntfsRunlist(image, e.path, t.runs, error)) << error;
      files.push_back(std::move(t));
    }
    return files;
  }

  // Every file reads as written; returns the files whose runs changed.
  std::vector<Tracked> ExpectIntact(const std::vector<Tracked>& before) const {
    const std::string image = Saved();
    std::vector<Tracked> changed;
    for (const Tracked& t : before) {
      std::vector<uint8_t> data;
      std::string error;
      EXPECT_TRUE(testsupport::LibntfsRead(image, t.entry->path, data, error)) << error;
      EXPECT_TRUE(data == testsupport::ExpectedContent(*t.entry)) << t.entry->path << " changed";
      std::vector<testsupport::LibntfsRun> runs;
      EXPECT_TRUE(testsupport::LibntfsRunlist(image, t.entry->path, runs, error)) << error;
      bool same = runs.size() == t.runs.size();
      for (size_t i = 0; same && i < runs.size(); ++i)
        same = runs[i].lcn == t.runs[i].lcn && runs[i].length == t.runs[i].length;
      if (!same) changed.push_back({t.entry, t.record, runs});
    }
    return changed;
  }

  // Located runs that do not start where the one before ended.
  static int Breaks(const std::vector<testsupport::LibntfsRun>& runs) {
    int breaks = 0;
    int64_t next = -1;
    for (const auto& r : runs) {
      if (r.lcn < 0) continue;
      if (next >= 0 && r.lcn != next) ++breaks;
      next = r.lcn + r.length;
    }
    return breaks;
  }

  // The free segments above the allocation floor as the last bitmap read
  // gives them: the first one longer than 16 clusters, the longest, all.
  struct FreeSpace {
    int64_t first_gap = -1, largest = 0, total = 0;
  };
  static FreeSpace Free() {
    FreeSpace f;
    for (Long i = 1; i <= Allocation.FreeCount; ++i) {
      const int64_t start = Allocation.FreeStarts(i), length = Allocation.FreeLengths(i);
      if (start < Allocation.AllocationFloor) continue;
      if (f.first_gap < 0 && length > 16) f.first_gap = start;
      f.largest = std::max(f.largest, length);
      f.total += length;
    }
    return f;
  }

  bool Drawn(const std::string& Text) const {
    return std::find(window_.texts.begin(), window_.texts.end(), Text) != window_.texts.end();
  }

  const testsupport::NtfsFixture* fx_ = nullptr;
  std::shared_ptr<platform::MemoryDevice> device_;
  ChartLog charts_;
};

TEST_F(PassImage, DefragmentThenPackOnAVolumeInUse) {
  OpenAndScan();
  if (HasFatalFailure()) return;
  const std::vector<Tracked> files = Track(Saved());
  std::vector<int64_t> pinned;  // system records, $Extend, unmovable files
  for (Long r = 0; r <= FragmentState.UBound(); ++r)
    if (FragmentState(r) > 1 && (r < FirstUserRecord || DoNotMove(r) != 0)) pinned.push_back(r);
  std::map<int64_t, int64_t> pinned_at;
  for (int64_t r : pinned) pinned_at[r] = FirstLcn(r);
  const Long fragmented = ntfs::FragmentedFiles;
  const Long unmovable = ntfs::UnmovableFragmented;
  ASSERT_GT(fragmented, 2);
  const uint64_t moves = platform::NtfsMovesDone();

  DeFragment();
  WaitForFlush();
  Refresh_Bitmap();
  ASSERT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorWhere << ": " << ErrorState.ErrorText;
  EXPECT_TRUE(Drawn("10:Defrag:"));
  EXPECT_TRUE(Drawn("22:Frag.Files:"));
  EXPECT_TRUE(Drawn("10:Sort " + std::to_string(fragmented - 1)));
  EXPECT_EQ(uint64_t(FilesMoved.Value()), platform::NtfsMovesDone() - moves);
  // Each fragmented file moved, or found unmovable (a compressed file the
  // driver refuses) and listed.
  EXPECT_EQ(ntfs::FragmentedFiles, 0);
  EXPECT_EQ(FilesMoved + ntfs::UnmovableFragmented - unmovable, fragmented);
  EXPECT_FALSE(charts_.shown["Fragments"].empty());
  EXPECT_GT(charts_.gaps, 0);
  std::vector<Tracked> changed = ExpectIntact(files);
  EXPECT_LE(changed.size(), size_t(FilesMoved.Value()));
  for (const Tracked& t : files) {
    if (t.record < FirstUserRecord || DoNotMove(t.record) != 0) continue;
    if (!(t.entry->flags & testsupport::kNtfsFragmented)) continue;
    SCOPED_TRACE(t.entry->path);
    EXPECT_EQ(FragmentState(t.record), 2);
  }
  for (const Tracked& t : changed) {
    SCOPED_TRACE(t.entry->path);
    EXPECT_EQ(Breaks(t.runs), 0);  // a moved file is one run
    EXPECT_EQ(pinned_at.count(t.record), 0u);
  }

  // Defragmenting again finds nothing: no sort, no move.
  window_.texts.clear();
  const Long moved = FilesMoved;
  DeFragment();
  EXPECT_EQ(FilesMoved, moved);
  EXPECT_TRUE(Drawn("10:Defrag:"));
  for (const std::string& t : window_.texts) EXPECT_EQ(t.find(":Sort "), std::string::npos) << t;

  // Pack rounds, each followed by the wait for the file system and a
  // re-read of the bitmap, as the run does.
  const FreeSpace before = Free();
  for (int round = 0; round < 6 && ErrorState.Failed == 0; ++round) {
    const Long moved_before = FilesMoved;
    Long clusters = 0, count = 0;
    RemoveHoles(clusters, count);
    WaitForFlush();
    Refresh_Bitmap();
    if (FilesMoved == moved_before && DelayedCount == 0) break;
  }
  ASSERT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorWhere << ": " << ErrorState.ErrorText;
  EXPECT_TRUE(Drawn("10:Pack:"));
  EXPECT_TRUE(Drawn("22:Gaps:"));
  EXPECT_FALSE(charts_.shown["Candidates"].empty());
  EXPECT_GT(FilesMoved, moved);
  EXPECT_EQ(uint64_t(FilesMoved.Value()), platform::NtfsMovesDone() - moves);
  changed = ExpectIntact(files);
  for (const Tracked& t : changed) EXPECT_EQ(pinned_at.count(t.record), 0u) << t.entry->path;
  for (int64_t r : pinned) EXPECT_EQ(FirstLcn(r), pinned_at[r]) << r;
  // Once the file system has released what the moves freed, every movable
  // file lies below the first gap above the floor: the free space is one
  // region up to the first file that cannot move.
  nt::Sleep(5000);
  Refresh_Bitmap();
  const FreeSpace after = Free();
  EXPECT_GT(after.first_gap, before.first_gap);
  for (Long r = FirstUserRecord; r <= FragmentState.UBound(); ++r) {
    if (FragmentState(r) > 1 && DoNotMove(r) == 0) {
      EXPECT_LT(FirstLcn(r), after.first_gap) << FileNames(r);
    }
  }
  std::cout << "Free above the floor: largest " << before.largest << " of " << before.total
            << " clusters before packing, " << after.largest << " of " << after.total << " after; "
            << FilesMoved << " moves\n";
}

TEST_F(PassImage, EscOrGivenUpDelaysEndAPassEarly) {
  OpenAndScan();
  if (HasFatalFailure()) return;
  const std::vector<Tracked> files = Track(Saved());
  const uint64_t moves = platform::NtfsMovesDone();
  EscAfter esc;
  SetMainWindow(&esc);
  DeFragment();
  EXPECT_EQ(FilesMoved, 1);
  EXPECT_GT(ntfs::FragmentedFiles, 0);  // more were waiting
  EXPECT_EQ(ErrorState.ErrorCount, 0);
  // The pack pass, after one more file.
  ErrorState.Failed = 0;
  esc.moves = 2;
  Long clusters = 0, count = 0;
  RemoveHoles(clusters, count);
  EXPECT_EQ(FilesMoved, 2);
  EXPECT_EQ(ErrorState.ErrorCount, 0);
  EXPECT_NE(ErrorState.Failed, 0);
  SetMainWindow(&main_);
  EXPECT_EQ(platform::NtfsMovesDone() - moves, 2u);
  EXPECT_LE(ExpectIntact(files).size(), 2u);

  // Ten postponed moves given up: the round ends after its first step that
  // moves something, without its closing charts.
  ErrorState.Failed = 0;
  AbandonedDelays = 10;
  charts_.shown.clear();
  const Long cursor = Allocation.FreeCursor;
  RemoveHoles(clusters, count);
  EXPECT_EQ(ErrorState.ErrorCount, 0);
  EXPECT_GT(FilesMoved, 2);
  EXPECT_TRUE(charts_.shown["Candidates"].empty());
  EXPECT_EQ(Allocation.FreeCursor, cursor);
  EXPECT_EQ(uint64_t(FilesMoved.Value()), platform::NtfsMovesDone() - moves);
  ExpectIntact(files);
}

TEST_F(PassImage, AFileWithoutRoomStaysFragmentedAndSmallerOnesStillMove) {
  OpenAndScan();
  if (HasFatalFailure()) return;
  const std::vector<Tracked> files = Track(Saved());
  // No free segment holds more than 60 clusters: room for the 40-cluster
  // files (48 reserved), none for the one of 800.
  for (Long i = 1; i <= Allocation.FreeCount; ++i)
    if (Allocation.FreeLengths(i) > 60) Allocation.FreeLengths(i) = 60;
  const Long fragmented = ntfs::FragmentedFiles;
  const Long unmovable = ntfs::UnmovableFragmented;
  DeFragment();
  EXPECT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorWhere << ": " << ErrorState.ErrorText;
  EXPECT_EQ(ErrorState.Failed, 0);
  int left = 0;
  for (const Tracked& t : files) {
    if (!(t.entry->flags & testsupport::kNtfsFragmented) || DoNotMove(t.record) != 0) continue;
    SCOPED_TRACE(t.entry->path);
    if (ClusterCount(t.record) > 48) {
      EXPECT_GT(FragmentState(t.record), 2);
      ++left;
    } else {
      EXPECT_EQ(FragmentState(t.record), 2);
    }
  }
  EXPECT_EQ(left, 1);
  EXPECT_EQ(ntfs::FragmentedFiles, 1);
  EXPECT_EQ(FilesMoved + ntfs::UnmovableFragmented - unmovable + 1, fragmented);
  ExpectIntact(files);
}

}  // namespace
}  // namespace vr::test
