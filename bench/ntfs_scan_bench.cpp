// Times the NTFS Checked View and Fast View of a volume of 100,000 files
// (the whole program, started as a user would) beside The Sleuth Kit's
// `fls -r -p` on the same image, all measured in this run, with the peak
// memory of each.
//
//   bench_ntfs_scan [IMAGE [VODURU-BINARY]]   (without IMAGE the volume is built)
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_support.h"
#include "support/ntfs_fixtures.h"
#include "support/volume_images.h"

namespace {

// Peak resident memory (MB) of one run of `command`, through GNU time.
double PeakMb(const std::string& command) {
  const std::string out = testsupport::TempPath("peak.txt");
  const std::string timed = "/usr/bin/time -f %M -o " + testsupport::ShellQuote(out) + " sh -c " +
                            testsupport::ShellQuote(command + " >/dev/null 2>&1");
  if (testsupport::RunCommand(timed) != 0) return -1;
  std::ifstream in(out);
  double kb = -1;
  in >> kb;
  return kb < 0 ? -1 : kb / 1024.0;
}

void Row(const char* name, const bench::CommandTime& t, double peakMb) {
  std::printf("%-30s %10.3f %12.3f %10.1f\n", name, t.wall, t.cpu, peakMb);
}

}  // namespace

int main(int argc, char** argv) {
  std::string image = argc > 1 ? argv[1] : "";
  const std::string voduru =
      argc > 2
          ? argv[2]
          : (std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / "voduru")
                .string();
  if (image.empty()) {
    image = bench::BuildLargeNtfsVolume("bench_ntfs_scan");
    if (image.empty()) return 1;
  }
  const std::string fls = testsupport::FindTool("fls");
  if (fls.empty()) {
    std::fprintf(stderr, "bench_ntfs_scan: fls (Debian package sleuthkit) is not installed\n");
    return 1;
  }
  const std::string home = testsupport::TempPath("home");
  std::filesystem::create_directories(home);
  const std::string run = "VODURU_HOME=" + testsupport::ShellQuote(home) + " " +
                          testsupport::ShellQuote(voduru) +
                          " --drives c=" + testsupport::ShellQuote(image);

  std::string report;
  testsupport::RunCommand(run + " --checked-view c", report);
  std::printf("%s", report.c_str());

  const std::string flsCommand =
      testsupport::ShellQuote(fls) + " -r -p " + testsupport::ShellQuote(image);
  const bench::CommandTime flsTime = bench::TimeCommand(3, flsCommand);
  const bench::CommandTime fastTime = bench::TimeCommand(3, run + " --fast-view c");
  const bench::CommandTime checkedTime = bench::TimeCommand(3, run + " --checked-view c");
  // The program's own start-up (Qt, the map window and its 100 ms start
  // timer) measured on an empty 16 MB volume, to tell it from the scan.
  const std::string tiny = testsupport::TempPath("tiny-ntfs.img");
  std::string tinyError;
  if (!testsupport::MakeNtfsImage(tiny, 16, 4096, "TINY", tinyError)) {
    std::fprintf(stderr, "bench_ntfs_scan: %s\n", tinyError.c_str());
    return 1;
  }
  const std::string tinyRun = "VODURU_HOME=" + testsupport::ShellQuote(home) + " " +
                              testsupport::ShellQuote(voduru) +
                              " --drives c=" + testsupport::ShellQuote(tiny);
  const bench::CommandTime startFast = bench::TimeCommand(3, tinyRun + " --fast-view c");
  const bench::CommandTime startChecked = bench::TimeCommand(3, tinyRun + " --checked-view c");
  const double flsPeak = PeakMb(flsCommand);
  const double fastPeak = PeakMb(run + " --fast-view c");
  const double checkedPeak = PeakMb(run + " --checked-view c");

  std::printf("%-30s %10s %12s %10s\n", "", "wall s", "processor s", "peak MB");
  Row("fls -r -p", flsTime, flsPeak);
  Row("VoduRU Fast View", fastTime, fastPeak);
  Row("VoduRU Checked View", checkedTime, checkedPeak);
  std::printf("%-30s %10.3f %12.3f\n", "  start-up on an empty volume", startChecked.wall,
              startChecked.cpu);
  std::printf("%-30s %10.3f %12.3f\n", "VoduRU Fast View less start-up",
              fastTime.wall - startFast.wall, fastTime.cpu - startFast.cpu);
  std::printf("%-30s %10.3f %12.3f\n", "VoduRU Checked less start-up",
              checkedTime.wall - startChecked.wall, checkedTime.cpu - startChecked.cpu);
  return flsTime.wall < 0 || fastTime.wall < 0 || checkedTime.wall < 0 ? 1 : 0;
}
