// The optimiser run as a Defrag starts it on an NTFS volume in use: the
// closing report's formats, a whole run on a copy of the mkntfs fixture
// (its report against the driver's own count and a fresh view of the
// volume afterwards), and Esc in the middle of a run. Virtual sleeping: the
// waits for the file system take no wall time.
#include <gtest/gtest.h>

#include <algorithm>
#include <regex>
#include <string>
#include <vector>

#include "app/charts/size_chart.h"
#include "app/headless_run.h"
#include "app/map_window.h"
#include "app/scans.h"
#include "app/view_map.h"
#include "drivers/builtin_drivers.h"
#include "drivers/ntfs/ntfs_driver.h"
#include "map/map_colors.h"
#include "optimise/optimiser_display.h"
#include "optimise/optimiser_report.h"
#include "platform/block_device.h"
#include "platform/platform.h"
#include "recording_chart.h"
#include "runtime/format.h"
#include "support/damaged_images.h"
#include "support/ntfs_fixtures.h"
#include "support/volume_images.h"
#include "volume/recording_window.h"
#include "volume/shared_state.h"

namespace vr::test {
namespace {

TEST(OptimiserReport, LinesHaveTheirFormats) {
  // 10,000 clusters of 8 sectors: 39.0625 MB, shown without decimals.
  const float mb = Moved_Megabytes(10000, 8);
  EXPECT_FLOAT_EQ(mb, 39.0625f);
  EXPECT_EQ(Moved_Line(12, mb), "Moved: Files=12,  Mb=39");
  EXPECT_EQ(Time_Line(2.0f, mb), "   Time=2.0,  Mb/Sec=19.53");
  // Half a megabyte is rounded up; a time of 0 measured no rate.
  EXPECT_EQ(Moved_Line(1, Moved_Megabytes(128, 8)), "Moved: Files=1,  Mb=1");
  EXPECT_EQ(Time_Line(0.0f, mb), "   Time=0.0,  Mb/Sec=0.00");
  EXPECT_EQ(Time_Line(0.04f, 1.0f), "   Time=0.0,  Mb/Sec=25.00");
  // Clusters times sectors past a Long still count.
  EXPECT_EQ(Moved_Line(1, Moved_Megabytes(int64_t{1} << 30, 8)), "Moved: Files=1,  Mb=4194304");
}

TEST(OptimiserReport, ElapsedTimeCrossesMidnight) {
  // Timer two seconds before midnight, then five seconds on.
  double skipped = 86400 - 2 - Timer();
  AdvanceTimer(skipped);
  const double start = Timer();
  AdvanceTimer(5);
  skipped += 5;
  const bool crossed = Timer() < start;
  const double seconds = Seconds_Since(start);
  AdvanceTimer(-skipped);
  EXPECT_TRUE(crossed) << "Timer went past midnight";
  EXPECT_NEAR(seconds, 5, 0.5);
}

// Report lines of one run, from the line "Moved: Files=" on.
struct Report {
  bool found = false;
  int64_t files = -1, megabytes = -1, fragmented = -1;
  std::vector<std::string> lines;  // the five lines in order
};

Report FindReport(const std::vector<std::string>& lines) {
  Report r;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (lines[i].rfind("Moved: Files=", 0) != 0) continue;
    r.found = true;
    for (size_t j = i; j < lines.size() && j < i + 5; ++j) r.lines.push_back(lines[j]);
    break;
  }
  if (!r.found || r.lines.size() < 5) return r;
  std::smatch m;
  static const std::regex moved(R"(Moved: Files=(\d+),  Mb=(\d+))");
  static const std::regex time(R"(   Time=\d+\.\d,  Mb/Sec=\d+\.\d\d)");
  static const std::regex fragmented(R"(Fragmented files=(\d+))");
  if (std::regex_match(r.lines[0], m, moved)) {
    r.files = std::stoll(m[1]);
    r.megabytes = std::stoll(m[2]);
  }
  EXPECT_TRUE(std::regex_match(r.lines[1], time)) << r.lines[1];
  if (std::regex_match(r.lines[2], m, fragmented)) r.fragmented = std::stoll(m[1]);
  EXPECT_EQ(r.lines[3].rfind("Small free Space=", 0), 0u) << r.lines[3];
  EXPECT_EQ(r.lines[4].rfind("Large free space=", 0), 0u) << r.lines[4];
  return r;
}

// The scan's "Fragmented files=" line (before the run), -1 when none.
int64_t ScanFragmented(const std::vector<std::string>& lines) {
  for (const std::string& line : lines) {
    if (line.rfind("Moved:", 0) == 0) break;
    if (line.rfind("Fragmented files=", 0) == 0) return std::stoll(line.substr(17));
  }
  return -1;
}

std::string LineStarting(const std::vector<std::string>& lines, const std::string& prefix) {
  for (const std::string& line : lines)
    if (line.rfind(prefix, 0) == 0) return line;
  return "";
}

class OptimiserRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ResetPlatform();
    platform::RegisterBuiltinDrivers();
    platform::SetVirtualSleep(true);
    fx_ = &testsupport::SharedNtfsFixture();
    ASSERT_FALSE(fx_->Entries().empty());
    image_ = testsupport::TempPath("optimiser-run.img");
    ASSERT_TRUE(testsupport::WriteFileBytes(image_, testsupport::ReadFileBytes(fx_->Path())));
  }
  void TearDown() override {
    platform::ResetPlatform();
    platform::SetNtfsFlushDelay(platform::kNtfsDefaultFlushDelayMs);
    std::remove(image_.c_str());
  }
  // Drive c on the copy, in use: another program holds pagefile.sys.
  void MapInUse() { platform::SetDriveMap({platform::DriveEntry{'c', image_, {"pagefile.sys"}}}); }

  const testsupport::NtfsFixture* fx_ = nullptr;
  std::string image_;
};

// Defrag then Pack on the fixture in use: the report's five lines, as many
// files moved as the driver carried out, fewer fragmented files than the
// scan found, and a fresh view of the volume afterwards finds it sound with
// the free space the report gave. No flush delay: the end of the run and
// the next view see the same bitmap.
TEST_F(OptimiserRunTest, DefragAndPackReportWhatTheDriverDid) {
  platform::SetNtfsFlushDelay(0);
  MapInUse();
  const uint64_t before = platform::NtfsMovesDone();
  const Integer review = ViewAfterDefrag;
  ViewAfterDefrag = kTrue;
  const HeadlessRun run = Run_Headless_Command('c', -1, 1);
  ViewAfterDefrag = review;
  const uint64_t moves = platform::NtfsMovesDone() - before;
  const VbArray<uint8_t> runMap = BoxColors;
  EXPECT_FALSE(run.failed) << testing::PrintToString(run.lines);
  EXPECT_FALSE(run.internalFault);
  EXPECT_TRUE(run.optimiserReached);
  EXPECT_EQ(std::count(run.lines.begin(), run.lines.end(), "Moved: None"), 0);

  const Report report = FindReport(run.lines);
  ASSERT_TRUE(report.found) << testing::PrintToString(run.lines);
  EXPECT_GT(moves, 0u);
  EXPECT_EQ(report.files, static_cast<int64_t>(moves));
  const int64_t scanned = ScanFragmented(run.lines);
  ASSERT_GT(scanned, 0) << "the fixture has fragmented files";
  EXPECT_GE(report.fragmented, 0);
  EXPECT_LT(report.fragmented, scanned);

  const HeadlessRun view = Run_Headless_Command('c', -1, -1);
  EXPECT_FALSE(view.failed) << testing::PrintToString(view.lines);
  for (const std::string& line : view.lines) {
    EXPECT_NE(line.rfind("Bitmap:", 0), 0u) << line;
    EXPECT_NE(line.rfind("Err=", 0), 0u) << line;
  }
  EXPECT_EQ(LineStarting(view.lines, "Small free Space="), report.lines[3]);
  EXPECT_EQ(LineStarting(view.lines, "Large free space="), report.lines[4]);

  // The map drawn anew after the run shows nothing as being moved any more
  // and nothing in use as free; what it shows in use beyond the fresh view
  // is at most the rounding of each move's reservation to 16 clusters.
  ASSERT_EQ(runMap.UBound(), BoxColors.UBound());
  int empty = 0;
  int64_t slack = 0;
  for (int64_t b = 0; b <= runMap.UBound(); ++b) {
    EXPECT_FALSE(runMap(b) == kColorEmpty && BoxColors(b) != kColorEmpty) << "box " << b;
    EXPECT_NE(runMap(b), kColorMoving) << "box " << b;
    EXPECT_NE(runMap(b), kColorMoved) << "box " << b;
    empty += runMap(b) == kColorEmpty;
    slack += runMap(b) != kColorEmpty && BoxColors(b) == kColorEmpty;
  }
  EXPECT_GT(empty, 0);
  EXPECT_LE(slack, static_cast<int64_t>(moves) * (15 / ClustersPerBox + 2));
}

// Headings of a chart picture that start with `title`.
int Headings(const RecordingChart& chart, const std::string& title) {
  int n = 0;
  for (const RecordingChart::Text& t : chart.texts)
    n += t.text.rfind(title + " by filesize in kilobytes  (", 0) == 0;
  return n;
}

// The charts the program installs draw the optimiser's histograms into the
// main window's pictures, counted in the size classes.
TEST(OptimiserCharts, SizesAreCountedIntoTheHistogramPicture) {
  RecordingMainWindow window;
  MainWindowPort* previous = &MainWindow();
  SetMainWindow(&window);
  RecordingChart picture(400, 250);
  ChartCanvas* old = SetChartPicture(Control::picHistoF, &picture);
  Install_Map_Scans();
  ASSERT_NE(Optimiser_Charts(), nullptr);
  window.SetVisible(Control::picHistoF, false);
  Optimiser_Charts()->ShowSizes(Control::picHistoF, "Candidates", {100, 512, 600, 40 << 20});
  EXPECT_TRUE(window.IsVisible(Control::picHistoF));
  EXPECT_NE(picture.FindText("Candidates by filesize in kilobytes  (4)"), nullptr);
  EXPECT_EQ(SizeBuckets(0), 2);
  EXPECT_EQ(SizeBuckets(1), 1);
  EXPECT_EQ(SizeBuckets(15), 1);
  SetChartPicture(Control::picHistoF, old);
  SetMainWindow(previous);
  Clear_Size_Buckets();
}

// With the driver's flush delay (moves into space not yet released are put
// off and retried) Defrag alone reports what the driver carried out, and
// shows the fragments left and the gaps in the main window's pictures.
TEST_F(OptimiserRunTest, DefragWithAFlushDelayReportsWhatTheDriverDid) {
  platform::SetNtfsFlushDelay(2000);
  MapInUse();
  RecordingChart fragments(400, 250), gaps(400, 250);
  ChartCanvas* oldF = SetChartPicture(Control::picHistoF, &fragments);
  ChartCanvas* oldE = SetChartPicture(Control::PicHistoE, &gaps);
  const uint64_t before = platform::NtfsMovesDone();
  const HeadlessRun run = Run_Headless_Command('c', -1, 0);
  SetChartPicture(Control::picHistoF, oldF);
  SetChartPicture(Control::PicHistoE, oldE);
  EXPECT_GT(fragments.clears, 0);
  EXPECT_EQ(Headings(fragments, "Fragments"), 1) << "one heading after the last drawing";
  EXPECT_EQ(Headings(gaps, "Gaps"), 1);
  EXPECT_FALSE(run.failed) << testing::PrintToString(run.lines);
  const Report report = FindReport(run.lines);
  ASSERT_TRUE(report.found) << testing::PrintToString(run.lines);
  EXPECT_EQ(report.files, static_cast<int64_t>(platform::NtfsMovesDone() - before));
  EXPECT_LT(report.fragmented, ScanFragmented(run.lines));
  const HeadlessRun view = Run_Headless_Command('c', -1, -1);
  EXPECT_FALSE(view.failed) << testing::PrintToString(view.lines);
}

// A damaged volume in use (two files claiming the same clusters) stops in
// the scan: the optimiser is never started and nothing is moved or written.
TEST_F(OptimiserRunTest, ADamagedVolumeInUseNeverReachesTheOptimiser) {
  std::vector<uint8_t> image = testsupport::ReadFileBytes(fx_->Path());
  testsupport::damage::Mft mft(image);
  ASSERT_GT(testsupport::damage::LinkTwoFiles(mft).victim, 0);
  mft.Store();
  auto device = std::make_shared<platform::MemoryDevice>(image, false);
  platform::MapMemoryDrive('c', device, {"pagefile.sys"});
  const uint64_t before = platform::NtfsMovesDone();
  const int runs = OptimiserRuns;
  const HeadlessRun run = Run_Headless_Command('c', -1, 1);
  EXPECT_TRUE(run.failed);
  EXPECT_FALSE(run.optimiserReached) << testing::PrintToString(run.lines);
  EXPECT_EQ(OptimiserRuns, runs);
  EXPECT_EQ(platform::NtfsMovesDone(), before);
  EXPECT_TRUE(device->Bytes() == image);
}

// A main window whose message pump delivers Esc to the map window as soon
// as the driver has carried out the first move.
class EscAfterFirstMove : public RecordingMainWindow {
 public:
  MapWindowLogic* map = nullptr;
  uint64_t start = 0;
  uint64_t movesAtEsc = 0;
  void DoEvents() override {
    if (map == nullptr || movesAtEsc != 0 || platform::NtfsMovesDone() == start) return;
    movesAtEsc = platform::NtfsMovesDone();
    map->Form_KeyDown(27);
  }
};

TEST_F(OptimiserRunTest, EscStopsTheRunAfterTheFileBeingMoved) {
  platform::SetNtfsFlushDelay(0);
  MapInUse();
  EscAfterFirstMove window;
  window.start = platform::NtfsMovesDone();
  HeadlessOptions options;
  options.window = &window;
  options.onMap = [&window](MapWindowLogic* map) { window.map = map; };
  options.label = "ESC";
  Run_Headless_Command('c', -1, 1, options);
  const std::vector<std::string> lines = window.LineTexts();

  ASSERT_EQ(window.movesAtEsc, window.start + 1) << testing::PrintToString(lines);
  EXPECT_EQ(platform::NtfsMovesDone(), window.movesAtEsc) << "a move after Esc";
  const Report report = FindReport(lines);
  ASSERT_TRUE(report.found) << testing::PrintToString(lines);
  EXPECT_EQ(report.files, 1);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), "User stop"), 1)
      << testing::PrintToString(lines);

  const HeadlessRun view = Run_Headless_Command('c', -1, -1);
  EXPECT_FALSE(view.failed) << testing::PrintToString(view.lines);
  for (const std::string& line : view.lines) EXPECT_NE(line.rfind("Bitmap:", 0), 0u) << line;
}

}  // namespace
}  // namespace vr::test
