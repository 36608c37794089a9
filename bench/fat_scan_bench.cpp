// Times the Checked View of a FAT16 volume holding 20,000 files (the whole
// program, started as a user would) beside `fsck.fat -n` on the same image
// and beside `cat` of the bytes the view needs (the reserved sectors, the
// FATs, the root folder and every folder's clusters), all measured in this
// run, with the read calls of each (VoduRU's counted in its device stack,
// the tools' by strace).
//
//   bench_fat_scan [VODURU-BINARY]   (default: the voduru built beside this program)
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_support.h"
#include "fat/fat_scan_harness.h"
#include "support/fat_fixtures.h"
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

// The bytes of the system area and of every folder's clusters, read with
// plain code, in one file.
bool WriteViewBytes(const std::string& image, const std::string& out) {
  const std::vector<uint8_t> bytes = testsupport::ReadFileBytes(image);
  const testsupport::PlainFatLayout l = testsupport::ParseFatLayout(bytes);
  if (l.bytesPerSector != 512 || l.sectorsPerCluster == 0) return false;
  std::vector<uint8_t> view(bytes.begin(), bytes.begin() + l.firstDataSector * 512);
  const size_t clusterBytes = size_t{l.sectorsPerCluster} * 512;
  // Folders from the root down; entries of 32 bytes, 0x10 a folder.
  std::vector<uint32_t> folders;
  const auto scan = [&](const uint8_t* entries, size_t size) {
    for (size_t at = 0; at + 32 <= size; at += 32) {
      const uint8_t* e = entries + at;
      if (e[0] == 0) break;
      if (e[0] == 0xE5 || e[0] == '.' || (e[11] & 0x0F) == 0x0F || !(e[11] & 0x10)) continue;
      const uint32_t start = e[26] | e[27] << 8;
      if (start >= 2) folders.push_back(start);
    }
  };
  scan(bytes.data() + l.rootDirSector * 512, l.rootEntries * 32);
  for (size_t i = 0; i < folders.size(); ++i) {
    std::vector<uint8_t> folder;
    for (uint32_t c : testsupport::PlainChain(bytes, folders[i])) {
      const size_t at = (l.firstDataSector + size_t{c - 2} * l.sectorsPerCluster) * 512;
      if (at + clusterBytes > bytes.size()) return false;
      folder.insert(folder.end(), bytes.begin() + at, bytes.begin() + at + clusterBytes);
    }
    view.insert(view.end(), folder.begin(), folder.end());
    scan(folder.data(), folder.size());
  }
  return testsupport::WriteFileBytes(out, view);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string voduru = bench::ProgramUnderTest(argc, argv, 1);
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

  const std::string viewBytes = testsupport::TempPath("fat-view-bytes.bin");
  if (!WriteViewBytes(image, viewBytes)) {
    std::fprintf(stderr, "bench_fat_scan: could not gather the view's bytes\n");
    return 1;
  }
  const std::string fsckCommand =
      testsupport::ShellQuote(fsck) + " -n " + testsupport::ShellQuote(image);
  const std::string catCommand = "cat " + testsupport::ShellQuote(viewBytes);
  bench::CommandTime voduruTime, fsckTime, catTime;
  // Interleaved rounds, best of five each, so that a busy moment of the
  // machine falls on every command alike.
  const auto keep = [](bench::CommandTime& best, const bench::CommandTime& t) {
    if (t.wall >= 0 && (best.wall < 0 || t.wall < best.wall)) best.wall = t.wall;
    if (t.cpu >= 0 && (best.cpu < 0 || t.cpu < best.cpu)) best.cpu = t.cpu;
  };
  for (int round = 0; round < 5; ++round) {
    keep(voduruTime, bench::TimeCommand(1, view));
    keep(fsckTime, bench::TimeCommand(1, fsckCommand));
    keep(catTime, bench::TimeCommand(1, catCommand));
  }
  const bench::DeviceReads voduruReads = bench::VoduruDeviceReads(view, 'c');
  const long fsckReads = bench::ReadCalls(fsckCommand);
  const long catReads = bench::ReadCalls(catCommand);
  const double viewMb = static_cast<double>(std::filesystem::file_size(viewBytes)) / (1 << 20);
  // The wall time of VoduRU includes the program's start-up; with a display
  // also the map window's 100 ms start timer (the window shows before the
  // scan starts), which a headless run does not wait for.
  std::printf("%-34s %9s %12s %12s %9s\n", "", "wall s", "processor s", "read calls", "MB read");
  std::printf("%-34s %9.3f %12.3f %12lld %9.2f\n", "VoduRU Checked View (whole run)",
              voduruTime.wall, voduruTime.cpu, voduruReads.reads,
              static_cast<double>(voduruReads.bytes) / (1 << 20));
  std::printf("%-34s %9.3f\n", "VoduRU Checked View (the scan)", scanSeconds);
  std::printf("%-34s %9.3f %12.3f %12ld\n", "fsck.fat -n", fsckTime.wall, fsckTime.cpu, fsckReads);
  std::printf("%-34s %9.3f %12.3f %12ld %9.2f\n", "cat of the FAT and folders", catTime.wall,
              catTime.cpu, catReads, viewMb);
  if (fsckTime.wall > 0)
    std::printf("Checked View / fsck.fat -n: %.2f\n", voduruTime.wall / fsckTime.wall);
  std::printf("(read calls: VoduRU's counted in its device stack, the others' by strace)\n");
  if (!countsOk) std::fprintf(stderr, "bench_fat_scan: the scan did not count 20000 files\n");
  return voduruTime.wall < 0 || fsckTime.wall < 0 || !countsOk ? 1 : 0;
}
