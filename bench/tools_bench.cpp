// Times Scan Files and Checksum (in this process, through the platform's
// file-system drivers) beside plain reads of the same files by established
// implementations, measured in the same run:
//   FAT16: mcopy -s (mtools) of every file into a memory folder (/dev/shm);
//   NTFS:  ntfscat (libntfs-3g) of every file, one process per file as cat
//          would be run, and libntfs-3g reading every file in this process
//          (ntfs_attr_pread), the stricter reference.
//
//   bench_tools
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "drivers/builtin_drivers.h"
#include "platform/platform.h"
#include "support/ntfs_fixtures.h"
#include "support/volume_images.h"
#include "tools/checksum.h"
#include "tools/checksum_tree.h"
#include "tools/read_timing.h"
#include "tools/tool_window.h"
#include "volume/recording_window.h"

// libntfs-3g expects struct timespec to be declared already.
#include <sys/stat.h>

#include <ctime>

extern "C" {
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/logging.h>
#include <ntfs-3g/volume.h>
}

namespace {

constexpr int kFolders = 20;
constexpr int kFilesPerFolder = 100;

class QuietTools : public vr::ToolWindow {
 public:
  void SetBusy() override {}
  void SetUnBusy() override {}
  void ClearMap() override {}
  void Clear_Size_Buckets() override {}
  void Count_Size(int64_t) override {}
  void Draw_File_Chart() override {}
  void Show_Count(const std::string&) override {}
  void Set_Checksum() override {}
};

// A FAT16 image (4 KB clusters) of kFolders x kFilesPerFolder files of 1 KB
// to about 120 KB, filled through one recursive mcopy; the mtools paths of
// its files in `files`.
bool BuildFat(const std::string& image, std::vector<std::string>& files, uint64_t& bytes,
              std::string& error) {
  if (!testsupport::MakeFatImage(image, 262144, 16, "-s 8", "BENCH", error)) return false;
  const std::string tree = testsupport::TempPath("tree");
  bytes = 0;
  for (int d = 0; d < kFolders; ++d) {
    const std::string folder = "DIR" + std::to_string(d);
    std::filesystem::create_directories(tree + "/" + folder);
    for (int f = 0; f < kFilesPerFolder; ++f) {
      const std::string name = folder + "/F" + std::to_string(f) + ".BIN";
      const size_t size = 1024 + static_cast<size_t>((d * 7919 + f * 104729) % 120000);
      std::ofstream(tree + "/" + name, std::ios::binary)
          << std::string(size, static_cast<char>('a' + f % 26));
      files.push_back("::/" + name);
      bytes += size;
    }
  }
  std::string output;
  if (testsupport::RunCommand("MTOOLS_SKIP_CHECK=1 mcopy -s -i " + testsupport::ShellQuote(image) +
                                  " " + testsupport::ShellQuote(tree) + "/* ::/",
                              output) != 0) {
    error = output;
    return false;
  }
  return true;
}

// Reads every file of `paths` through libntfs-3g in one mount.
uint64_t LibntfsReadAll(const std::string& image, const std::vector<std::string>& paths) {
  ntfs_volume* vol = ntfs_mount(image.c_str(), NTFS_MNT_RDONLY);
  if (vol == nullptr) return 0;
  std::vector<char> buffer(204800);
  uint64_t total = 0;
  for (std::string p : paths) {
    for (char& c : p)
      if (c == '\\') c = '/';
    ntfs_inode* ni = ntfs_pathname_to_inode(vol, nullptr, ("/" + p).c_str());
    if (ni == nullptr) continue;
    if (ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0)) {
      s64 at = 0, got = 0;
      while ((got = ntfs_attr_pread(na, at, static_cast<s64>(buffer.size()), buffer.data())) > 0)
        at += got;
      total += static_cast<uint64_t>(at);
      ntfs_attr_close(na);
    }
    ntfs_inode_close(ni);
  }
  ntfs_umount(vol, FALSE);
  return total;
}

void Row(const char* label, double mb, double seconds) {
  std::printf("%-40s %10.1f %10.3f %10.2f\n", label, mb, seconds, seconds > 0 ? mb / seconds : 0);
}

// Scan Files and Checksum of drive c; the MB each read.
void TimeTools(const char* fs, double& scanSeconds, double& sumSeconds, double& mb) {
  QuietTools tools;
  scanSeconds = bench::BestOf(3, [&] { vr::TimingD(tools); });
  mb = vr::TreeBytes / 1e6;
  sumSeconds = bench::BestOf(3, [&] { vr::Timing_Checksum(tools); });
  const std::string scan = std::string(fs) + ": Scan Files";
  const std::string sum = std::string(fs) + ": Checksum";
  Row(scan.c_str(), mb, scanSeconds);
  Row(sum.c_str(), mb, sumSeconds);
}

}  // namespace

int main() {
  ntfs_log_set_handler(ntfs_log_handler_null);
  const std::string home = testsupport::TempPath("home");
  std::filesystem::create_directories(home);
  setenv("VODURU_HOME", home.c_str(), 1);
  vr::RecordingMainWindow window;
  vr::SetMainWindow(&window);
  platform::RegisterBuiltinDrivers();
  window.drvUserText = "c: [BENCH]";

  std::printf("Building a FAT16 volume of %d files...\n", kFolders * kFilesPerFolder);
  const std::string fat = testsupport::TempPath("tools-bench-fat16.img");
  std::vector<std::string> fatFiles;
  uint64_t fatBytes = 0;
  std::string error;
  if (!BuildFat(fat, fatFiles, fatBytes, error)) {
    std::fprintf(stderr, "bench_tools: %s\n", error.c_str());
    return 1;
  }
  std::printf("Building the NTFS fixture...\n");
  testsupport::NtfsFixture ntfs;
  const std::string ntfsImage = testsupport::TempPath("tools-bench-ntfs.img");
  testsupport::NtfsFixtureOptions options;
  options.sizeMb = 256;
  if (!testsupport::BuildNtfsFixture(ntfsImage, options, ntfs, error)) {
    std::fprintf(stderr, "bench_tools: %s\n", error.c_str());
    return 1;
  }

  std::printf("\n%-40s %10s %10s %10s\n", "", "MB", "seconds", "MB/Sec");
  double scan = 0, sum = 0, mb = 0;
  platform::SetDriveMap({{'c', fat, {}}});
  TimeTools("FAT16", scan, sum, mb);
  const std::string shm = std::filesystem::exists("/dev/shm") ? "/dev/shm" : testsupport::TempDir();
  const std::string copy = shm + "/voduru-bench-" + std::to_string(getpid());
  const double mcopy = bench::BestOfCommand(
      3, "rm -rf " + testsupport::ShellQuote(copy) + " && mkdir " + testsupport::ShellQuote(copy) +
             " && MTOOLS_SKIP_CHECK=1 mcopy -s -n -i " + testsupport::ShellQuote(fat) + " '::/*' " +
             testsupport::ShellQuote(copy));
  std::filesystem::remove_all(copy);
  Row("FAT16: mcopy -s of every file (mtools)", fatBytes / 1e6, mcopy);
  const double fatRatio = scan / mcopy;

  std::vector<std::string> ntfsFiles;
  for (const auto& e : ntfs.Entries())
    if (!(e.flags & (testsupport::kNtfsFolder | testsupport::kNtfsNamedStream)))
      ntfsFiles.push_back(e.path);
  platform::SetDriveMap({{'c', ntfsImage, {}}});
  TimeTools("NTFS", scan, sum, mb);
  uint64_t ntfsBytes = 0;
  const double reference =
      bench::BestOf(3, [&] { ntfsBytes = LibntfsReadAll(ntfsImage, ntfsFiles); });
  Row("NTFS: libntfs-3g read of every file", ntfsBytes / 1e6, reference);
  const std::string list = testsupport::TempPath("files.txt");
  {
    std::ofstream out(list);
    for (std::string f : ntfsFiles) {
      std::replace(f.begin(), f.end(), '\\', '/');
      out << "/" << f << "\n";
    }
  }
  const double ntfscat = bench::BestOfCommand(
      1, "while IFS= read -r f; do ntfscat -f " + testsupport::ShellQuote(ntfsImage) +
             " \"$f\" || exit 1; done < " + testsupport::ShellQuote(list) + " > /dev/null 2>&1");
  Row("NTFS: ntfscat of every file", ntfsBytes / 1e6, ntfscat);

  std::printf(
      "\nScan Files time / reference time (target: 1.5 or less):\n"
      "  FAT16 vs mcopy -s %.2f; NTFS vs ntfscat %.2f, vs the in-process libntfs-3g read %.2f\n",
      fatRatio, scan / ntfscat, scan / reference);
  std::filesystem::remove(fat);
  std::filesystem::remove(ntfsImage);
  return mcopy < 0 || ntfscat < 0 ? 1 : 0;
}
