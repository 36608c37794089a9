// Times a whole headless program run of a Fast View of a small volume (a
// 4 MB FAT12 image) beside `voduru --version`, the cost of merely starting
// the program, both measured in this run. A headless run should not wait
// for anything only a visible window needs, so the two stay close.
//
//   bench_startup [VODURU-BINARY]   (default: the voduru built beside this program)
#include <cstdio>
#include <filesystem>
#include <string>

#include "bench_support.h"
#include "support/volume_images.h"

int main(int argc, char** argv) {
  const std::string voduru = bench::ProgramUnderTest(argc, argv, 1);
  const std::string image = testsupport::TempPath("fat12-start.img");
  std::string error;
  if (!testsupport::MakeFatImage(image, 4096, 12, "", "START", error)) {
    std::fprintf(stderr, "bench_startup: %s\n", error.c_str());
    return 1;
  }
  const std::string home = testsupport::TempPath("home");
  std::filesystem::create_directories(home);
  // No display: the run is headless whatever the bench's own session has.
  const std::string env =
      "env -u DISPLAY -u WAYLAND_DISPLAY QT_QPA_PLATFORM=offscreen "
      "VODURU_HOME=" +
      testsupport::ShellQuote(home) + " ";
  const std::string program = testsupport::ShellQuote(voduru);
  const std::string view =
      env + program + " --drives c=" + testsupport::ShellQuote(image) + " --fast-view c";

  std::string report;
  if (testsupport::RunCommand(view, report) != 0 ||
      report.find("File/Folder chains=") == std::string::npos) {
    std::fprintf(stderr, "bench_startup: the Fast View did not run:\n%s", report.c_str());
    return 1;
  }
  constexpr int kRounds = 7;
  const bench::CommandTime versionTime = bench::TimeCommand(kRounds, env + program + " --version");
  const bench::CommandTime viewTime = bench::TimeCommand(kRounds, view);
  std::printf("%-40s %10s %12s\n", "best of 7", "wall s", "processor s");
  std::printf("%-40s %10.3f %12.3f\n", "voduru --version", versionTime.wall, versionTime.cpu);
  std::printf("%-40s %10.3f %12.3f\n", "voduru Fast View, 4 MB FAT12, headless", viewTime.wall,
              viewTime.cpu);
  if (versionTime.wall > 0)
    std::printf("%-40s %10.2f\n", "ratio (Fast View / --version)",
                viewTime.wall / versionTime.wall);
  return versionTime.wall < 0 || viewTime.wall < 0 ? 1 : 0;
}
