// Times the Checked View of a FAT16 volume holding 20,000 files (the whole
// program, started as a user would) beside `fsck.fat -n` on the same image,
// both measured in this run.
//
//   bench_fat_scan [VODURU-BINARY]   (default: the voduru built beside this program)
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_support.h"
#include "fat/fat_scan_harness.h"
#include "support/volume_images.h"

namespace {

constexpr int kFolders = 100;
constexpr int kFilesPerFolder = 200;

// A FAT16 image (2 KB clusters, one reserved sector) filled with
// kFolders x kFilesPerFolder small files through one recursive mcopy.
bool BuildVolume(const std::string& image, std::string& error) {
  if (!testsupport::MakeFatImage(image, 131072, 16, "-s 4", "BENCH", error)) return false;
  const std::string tree = testsupport::TempPath("tree");
  for (int d = 0; d < kFolders; ++d) {
    const std::string folder = tree + "/DIR" + std::to_string(d);
    std::filesystem::create_directories(folder);
    for (int f = 0; f < kFilesPerFolder; ++f) {
      std::ofstream out(folder + "/F" + std::to_string(f) + ".TXT");
      out << std::string(static_cast<size_t>(100 + (d * 37 + f * 11) % 3000), 'a' + f % 26);
    }
  }
  std::string output;
  const std::string command = "MTOOLS_SKIP_CHECK=1 mcopy -s -i " + testsupport::ShellQuote(image) +
                              " " + testsupport::ShellQuote(tree) + "/* ::/";
  if (testsupport::RunCommand(command, output) != 0) {
    error = output;
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string voduru =
      argc > 1
          ? argv[1]
          : (std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / "voduru")
                .string();
  const std::string image = testsupport::TempPath("fat16-bench.img");
  std::string error;
  std::printf("Building a FAT16 volume of %d files...\n", kFolders * kFilesPerFolder);
  if (!BuildVolume(image, error)) {
    std::fprintf(stderr, "bench_fat_scan: %s\n", error.c_str());
    return 1;
  }
  const std::string fsck = testsupport::FindTool("fsck.fat");
  const std::string home = testsupport::TempPath("home");
  std::filesystem::create_directories(home);
  const std::string view = "VODURU_HOME=" + testsupport::ShellQuote(home) + " " +
                           testsupport::ShellQuote(voduru) +
                           " --drives c=" + testsupport::ShellQuote(image) + " --checked-view c";

  std::string report;
  testsupport::RunCommand(view, report);
  std::printf("%s", report.c_str());

  // The scan itself, in this process, on the image held in memory (the
  // copies are made before the clock starts).
  const auto bytes = testsupport::ReadFileBytes(image);
  std::vector<std::vector<uint8_t>> copies(5, bytes);
  size_t next = 0;
  bool countsOk = true;
  const double scanSeconds = bench::BestOf(5, [&] {
    const auto result = vr::fat::test::RunScan(std::move(copies[next++]));
    countsOk = countsOk && result.Starting("User files=").rfind("User files=20000,", 0) == 0;
  });

  const bench::CommandTime voduruTime = bench::TimeCommand(5, view);
  const bench::CommandTime fsckTime = bench::TimeCommand(
      5, testsupport::ShellQuote(fsck) + " -n " + testsupport::ShellQuote(image));
  // With a display the wall time of VoduRU includes the map window's 100 ms
  // start timer (the window shows before the scan starts); without one, or
  // in the processor time, it does not.
  std::printf("%-34s %12s %12s\n", "", "wall s", "processor s");
  std::printf("%-34s %12.3f %12.3f\n", "VoduRU Checked View (whole run)", voduruTime.wall,
              voduruTime.cpu);
  std::printf("%-34s %12.3f %12s\n", "VoduRU Checked View (the scan)", scanSeconds, "");
  std::printf("%-34s %12.3f %12.3f\n", "fsck.fat -n", fsckTime.wall, fsckTime.cpu);
  if (!countsOk) std::fprintf(stderr, "bench_fat_scan: the scan did not count 20000 files\n");
  return voduruTime.wall < 0 || fsckTime.wall < 0 || !countsOk ? 1 : 0;
}
