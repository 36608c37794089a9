// The optimiser as the program runs it from the command line: `--defrag C`
// on a volume in use, with and without `--no-pack`, each run on a copy of
// the work volume and judged as the in-process runs are. Needs the built
// program in the build folder; skipped when it is not there.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "drivers/ntfs/ntfs_driver.h"
#include "optimise/e2e_harness.h"
#include "platform/platform.h"
#include "support/volume_images.h"

namespace vr::e2e {
namespace {

class OptimiserProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) GTEST_SKIP() << "cannot find the test program's folder";
    program_ = (self.parent_path().parent_path() / "voduru").string();
    if (!std::filesystem::exists(program_)) GTEST_SKIP() << "voduru not built";
    home_ = testsupport::TempPath("home");
    std::filesystem::create_directories(home_);
    platform::SetVirtualSleep(true);
    platform::SetNtfsFlushDelay(0);
  }
  void TearDown() override {
    platform::ResetPlatform();
    platform::SetNtfsFlushDelay(platform::kNtfsDefaultFlushDelayMs);
  }

  // `voduru --defrag c` and `extra` on `image` in use, without a display
  // and without the file system's flush delay (real time passes here).
  int Run(const std::string& image, const std::string& extra, std::vector<std::string>& lines) {
    const std::string command =
        "env -u DISPLAY -u WAYLAND_DISPLAY VODURU_HOME=" + testsupport::ShellQuote(home_) +
        " QT_QPA_PLATFORM=offscreen VODURU_DRIVES= VODURU_NTFS_FLUSH_DELAY=0 timeout 120 " +
        testsupport::ShellQuote(program_) + " --drives " +
        testsupport::ShellQuote("c=" + image + ",busy=pagefile.sys") + " --defrag c " + extra +
        " 2>/dev/null";
    std::string out;
    const int status = testsupport::RunCommand(command, out);
    std::istringstream in(out);
    lines.clear();
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return status;
  }

  std::string program_, home_;
};

// `--no-pack` defragments as Defrag alone does (the same moves as an
// in-process Defrag of the same volume); without it the run packs as well
// and moves more. Both exit 0 and leave a sound volume.
TEST_F(OptimiserProcessTest, DefragWithAndWithoutPacking) {
  ASSERT_FALSE(WorkVolume4k().empty());
  const std::string alone = CopyImage(WorkVolume4k(), "inprocess.img");
  const Before before = TakeBefore(alone);
  RunSetup setup;
  setup.defrag = 0;
  const RunOutcome reference = RunOptimiser(alone, setup);
  ASSERT_FALSE(reference.failed) << testing::PrintToString(reference.lines);
  const std::string moved = After(reference.lines, "Moved: Files=");
  ASSERT_FALSE(moved.empty());

  for (const bool pack : {false, true}) {
    SCOPED_TRACE(pack ? "--defrag c" : "--defrag c --no-pack");
    const std::string image = CopyImage(WorkVolume4k(), "process.img");
    std::vector<std::string> lines;
    EXPECT_EQ(Run(image, pack ? "" : "--no-pack", lines), 0) << testing::PrintToString(lines);
    RunOutcome run;
    run.inProcess = false;
    run.lines = lines;
    const Verdict v = ExpectSoundRun(image, before, run);
    if (pack) {
      EXPECT_GT(v.movedFiles, std::stoll(moved)) << "no packing moves";
    } else {
      EXPECT_EQ(After(lines, "Moved: Files="), moved) << testing::PrintToString(lines);
    }
  }
}

}  // namespace
}  // namespace vr::e2e
