#include "optimise/e2e_harness.h"

#include <algorithm>
#include <filesystem>
#include <iostream>
#include <regex>

#include "app/headless_run.h"
#include "app/map_window.h"
#include "drivers/builtin_drivers.h"
#include "drivers/ntfs/ntfs_driver.h"
#include "optimise/move_engine.h"
#include "support/ntfs_workload.h"
#include "support/volume_images.h"
#include "volume/error_state.h"
#include "volume/recording_window.h"
#include "volume/shared_state.h"

namespace vr::e2e {

namespace {

// The recording main window with a hook in its message pump.
class PumpingWindow : public RecordingMainWindow {
 public:
  std::function<void()> onPump;
  RunOutcome* out = nullptr;
  void DoEvents() override {
    out->maxDelayed = std::max<int>(out->maxDelayed, DelayedCount);
    out->maxAbandoned = std::max<int>(out->maxAbandoned, AbandonedDelays);
    for (Integer i = 1; i <= DelayedCount; ++i) out->delayedRecords.insert(DelayedMoves(i).Record);
    if (onPump) onPump();
  }
};

MapWindowLogic* g_map = nullptr;

}  // namespace

void PressEsc() {
  if (g_map != nullptr) g_map->Form_KeyDown(27);
}

RunOutcome RunOptimiser(const std::string& image, const RunSetup& setup) {
  platform::ResetPlatform();
  platform::RegisterBuiltinDrivers();
  platform::SetVirtualSleep(setup.virtualSleep);
  if (setup.memory)
    platform::MapMemoryDrive('c', setup.memory, setup.busy);
  else
    platform::SetDriveMap({platform::DriveEntry{'c', image, setup.busy}});
  if (setup.wrapper) platform::SetDeviceWrapper('c', setup.wrapper);
  RunOutcome out;
  PumpingWindow window;
  window.onPump = setup.onPump;
  window.out = &out;
  HeadlessOptions options;
  options.window = &window;
  options.onMap = [](MapWindowLogic* map) { g_map = map; };
  options.statusTexts = &out.statusTexts;
  options.label = "E2E";
  const uint64_t moves = platform::NtfsMovesDone();
  const HeadlessRun run = Run_Headless_Command('c', setup.checked, setup.defrag, options);
  out.lines = run.lines;
  out.boxes = run.boxes;
  out.failed = run.failed;
  out.internalFault = run.internalFault;
  out.listed = window.Items(Control::lstInuse);
  for (const std::string& raw : window.Items(Control::Raw)) out.listed.push_back(raw);
  out.finalDelayed = DelayedCount;
  platform::ResetPlatform();
  out.driverMoves = platform::NtfsMovesDone() - moves;
  return out;
}

std::string After(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const std::string& l : lines)
    if (l.rfind(prefix, 0) == 0) return l.substr(prefix.size());
  return "";
}

std::string Last(const std::vector<std::string>& lines, const std::string& prefix) {
  for (auto l = lines.rbegin(); l != lines.rend(); ++l)
    if (l->rfind(prefix, 0) == 0) return l->substr(prefix.size());
  return "";
}

bool HasLine(const std::vector<std::string>& lines, const std::string& line) {
  return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool HasLineStarting(const std::vector<std::string>& lines, const std::string& prefix) {
  return std::any_of(lines.begin(), lines.end(),
                     [&](const std::string& l) { return l.rfind(prefix, 0) == 0; });
}

Before TakeBefore(const std::string& image) {
  Before b;
  std::string error;
  EXPECT_TRUE(testsupport::AuditNtfsVolume(image, b.audit, error)) << error;
  EXPECT_EQ(testsupport::OtherToolsVerdict(image, b.names), "") << "before the run";
  b.free = testsupport::FreeOutsideMftZone(b.audit);
  return b;
}

namespace {

// Whether the file of `path` appears in the fragmented-files list.
bool Listed(const RunOutcome& run, const std::string& path) {
  const std::string name = path.substr(path.rfind('\\') + 1);
  return std::any_of(run.listed.begin(), run.listed.end(),
                     [&](const std::string& item) { return item.find(name) != std::string::npos; });
}

bool Busy(const std::string& path) {
  std::string lower = path;
  std::transform(lower.begin(), lower.end(), lower.begin(), ::tolower);
  return lower == "pagefile.sys";
}

void ExpectReportFormats(const RunOutcome& run, Verdict& v) {
  const std::regex size(R"(^(\d+)?(\.\d+)?(Kb|Mb|Gb)$)");
  if (HasLine(run.lines, "Moved: None")) {
    EXPECT_FALSE(HasLineStarting(run.lines, "Moved: Files="));
    v.movedFiles = -1;
    return;
  }
  // The closing report: the lines from "Moved: Files=" on, in their order.
  const auto from = std::find_if(run.lines.begin(), run.lines.end(), [](const std::string& l) {
    return l.rfind("Moved: Files=", 0) == 0;
  });
  ASSERT_NE(from, run.lines.end()) << testing::PrintToString(run.lines);
  const std::vector<std::string> report(from, run.lines.end());
  ASSERT_GE(report.size(), 5u) << testing::PrintToString(report);
  std::smatch m;
  ASSERT_TRUE(std::regex_match(report[0], m, std::regex(R"(^Moved: Files=(\d+),  Mb=(\d+)$)")))
      << report[0];
  v.movedFiles = std::stoll(m[1]);
  EXPECT_TRUE(std::regex_match(report[1], std::regex(R"(^   Time=\d+\.\d,  Mb/Sec=\S+$)")))
      << report[1];
  EXPECT_TRUE(std::regex_match(report[2], std::regex(R"(^Fragmented files=\d+$)"))) << report[2];
  const std::string small = After({report[3]}, "Small free Space=");
  const std::string large = After({report[4]}, "Large free space=");
  EXPECT_TRUE(std::regex_match(small, size)) << report[3];
  EXPECT_TRUE(std::regex_match(large, size)) << report[4];
}

}  // namespace

Verdict ExpectSoundRun(const std::string& image, const Before& before, const RunOutcome& run) {
  Verdict v;
  EXPECT_FALSE(run.internalFault) << testing::PrintToString(run.lines);
  std::string error;
  if (!testsupport::AuditNtfsVolume(image, v.audit, error)) {
    ADD_FAILURE() << "after the run: " << error;
    return v;
  }
  EXPECT_EQ(testsupport::ContentChanges(before.audit, v.audit), std::vector<std::string>{});
  std::vector<std::string> names;
  EXPECT_EQ(testsupport::OtherToolsVerdict(image, names), "") << "after the run";
  EXPECT_EQ(names, before.names) << "fls -r lists other names";
  v.free = testsupport::FreeOutsideMftZone(v.audit);
  v.runsChanged = testsupport::RecordsWithChangedRuns(before.audit, v.audit);

  // The program's own Checked View of the result.
  RunSetup view;
  view.defrag = -1;
  const RunOutcome check = RunOptimiser(image, view);
  EXPECT_FALSE(HasLineStarting(check.lines, "Bitmap: unmarked="))
      << testing::PrintToString(check.lines);
  EXPECT_FALSE(check.failed) << testing::PrintToString(check.lines);
  EXPECT_EQ(check.driverMoves, 0u);

  // A stopped run reports only when it got that far.
  if (!run.failed || HasLineStarting(run.lines, "Moved: ")) {
    ExpectReportFormats(run, v);
    const int64_t moved = std::max<int64_t>(v.movedFiles, 0);
    if (run.inProcess) {
      EXPECT_EQ(static_cast<uint64_t>(moved), run.driverMoves)
          << "the report and the driver disagree on the moves";
    }
    EXPECT_GE(moved, v.runsChanged) << "files changed place without a move counted";
  }
  if (run.inProcess) {
    EXPECT_GE(run.driverMoves, static_cast<uint64_t>(v.runsChanged));
  }

  // What stayed fragmented is listed. Where the largest free extent could
  // hold every fragmented file at once before the run, what stayed must be
  // a file that cannot be moved (with less room, space the moves released
  // may still be held by the file system when a file is tried).
  int64_t allNeeded = 0;
  for (const auto& [record, s] : testsupport::FilesByRecord(before.audit))
    if (!testsupport::Contiguous(s->runs))
      allNeeded += (testsupport::AllocatedClusters(s->runs) + 15) / 16 * 16;
  const bool roomForAll = before.free.largest >= allNeeded;
  const auto after = testsupport::FilesByRecord(v.audit);
  for (const auto& [path, s] : before.audit.streams) {
    if (s.folder || path.find(':') != std::string::npos || testsupport::Contiguous(s.runs))
      continue;
    const auto it = after.find(s.record);
    if (it == after.end() || testsupport::Contiguous(it->second->runs)) continue;
    const bool unmovable = s.compressed || s.sparse || s.encrypted || Busy(path);
    if (!run.failed) {
      if (run.inProcess) {
        EXPECT_TRUE(Listed(run, path)) << path << " is still fragmented and not listed";
      }
      EXPECT_TRUE(unmovable || !roomForAll)
          << path << " is still fragmented though a free extent of " << before.free.largest
          << " clusters held every fragmented file (" << allNeeded << " clusters)";
    }
  }
  return v;
}

std::string CopyImage(const std::string& from, const std::string& name) {
  const std::string to = testsupport::TempPath(name);
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing);
  return to;
}

}  // namespace vr::e2e

namespace vr::e2e {

namespace {

// Takes the free space outside the MFT zone down to `leaveFree` clusters
// with ballast at `ballast`.
bool Ballast(const std::string& path, const std::string& ballast, int64_t leaveFree,
             std::string& error) {
  // libntfs-3g counts the MFT zone as free and fills it last.
  testsupport::VolumeAudit audit;
  if (!testsupport::AuditNtfsVolume(path, audit, error)) return false;
  int64_t allFree = 0;
  for (int64_t c = 0; c < audit.totalClusters; ++c)
    allFree += testsupport::ClusterUsed(audit, c) ? 0 : 1;
  const int64_t outside = testsupport::FreeOutsideMftZone(audit).free;
  return testsupport::FillFreeSpace(path, ballast, allFree - outside + leaveFree, error);
}

std::string BuildWorkVolume(const std::string& name, int clusterSize, int64_t leaveFree) {
  testsupport::NtfsFixtureOptions options;
  options.clusterSize = clusterSize;
  testsupport::NtfsFixture fx;
  std::string error;
  const std::string path = testsupport::TempPath(name);
  if (!testsupport::BuildNtfsFixture(path, options, fx, error)) {
    ADD_FAILURE() << "fixture " << name << ": " << error;
    return "";
  }
  // The ballast leaves `leaveFree` clusters outside the MFT zone, and the
  // work files take their part of that.
  if (leaveFree >= 0 && !Ballast(path, "ballast.bin", leaveFree, error)) {
    ADD_FAILURE() << "ballast on " << name << ": " << error;
    return "";
  }
  testsupport::FragmentedSet set;
  set.files = 60;
  set.chunks = 5;
  set.chunkClusters = clusterSize == 512 ? 8 : 2;
  if (!testsupport::AddFragmentedFiles(path, set, error)) {
    ADD_FAILURE() << "fragmented files on " << name << ": " << error;
    return "";
  }
  return path;
}

// The busy ballast takes all but 1200 clusters; then a lead file of 48
// clusters and four of 32 follow each other, and the lead is deleted.
std::string BuildSlidingVolume() {
  const std::string path = testsupport::TempPath("slide.img");
  std::string error;
  testsupport::FragmentedSet set;
  set.folder = "slide";
  set.files = 4;
  set.chunks = 1;
  set.chunkClusters = 32;
  set.removeEvery = 0;
  if (!testsupport::MakeNtfsImage(path, 32, 4096, "SLIDE", error) ||
      !Ballast(path, "pagefile.sys", 1200, error) ||
      !testsupport::WriteWholeFile(path, "lead.bin", 48 * 4096, 78, error) ||
      !testsupport::AddFragmentedFiles(path, set, error) ||
      !testsupport::DeleteOneFile(path, "lead.bin", error)) {
    ADD_FAILURE() << "sliding volume: " << error;
    return "";
  }
  return path;
}

// Two fragmented files, each written in turns with a file deleted again: B
// (104 clusters, holes of 13 between its pieces) and then A (64 clusters,
// holes of 16), with room for A alone. A finds room first; the only free
// region large enough for B is then the one A just left, with its holes.
std::string BuildFollowingVolume() {
  const std::string path = testsupport::TempPath("follow.img");
  std::string error;
  testsupport::FragmentedSet b;
  b.folder = "b";
  b.files = 2;
  b.chunks = 8;
  b.chunkClusters = 13;
  b.removeEvery = 2;
  testsupport::FragmentedSet a = b;
  a.folder = "a";
  a.chunks = 4;
  a.chunkClusters = 16;
  if (!testsupport::MakeNtfsImage(path, 32, 4096, "FOLLOW", error) ||
      !testsupport::WriteWholeFile(path, "pagefile.sys", 65536, 79, error) ||
      !Ballast(path, "ballast.bin", 416, error) ||
      !testsupport::AddFragmentedFiles(path, b, error) ||
      !testsupport::AddFragmentedFiles(path, a, error)) {
    ADD_FAILURE() << "following volume: " << error;
    return "";
  }
  return path;
}

}  // namespace

const std::string& FollowingVolume() {
  static const std::string path = BuildFollowingVolume();
  return path;
}

const std::string& SlidingVolume() {
  static const std::string path = BuildSlidingVolume();
  return path;
}

const std::string& WorkVolume4k() {
  static const std::string path = BuildWorkVolume("work4k.img", 4096, -1);
  return path;
}

const std::string& WorkVolume512() {
  static const std::string path = BuildWorkVolume("work512.img", 512, -1);
  return path;
}

const std::string& NearlyFullVolume() {
  static const std::string path = BuildWorkVolume("full4k.img", 4096, 1200);
  return path;
}

}  // namespace vr::e2e
