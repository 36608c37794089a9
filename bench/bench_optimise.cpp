// Times a Defrag then Pack of a large fragmented NTFS volume in use (the
// whole program, started as a user would, with a busy file in its drive
// map) and prints beside it what it is measured against in the same run:
// the rate of a sequential copy (dd) of as many bytes on the same image,
// the least number of clusters the run had to move, the free space outside
// the MFT zone, and the program's peak memory.
//
//   bench_optimise [IMAGE [VODURU-BINARY]]   (without IMAGE the volume is built)
//
// The file system's flush delay is the default one (VODURU_NTFS_FLUSH_DELAY
// unset) for the main run; a second run with no delay shows the moving apart
// from the waits for the file system.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <map>
#include <regex>
#include <string>

#include "bench_support.h"
#include "support/ntfs_audit.h"
#include "support/ntfs_fixtures.h"
#include "support/ntfs_workload.h"
#include "support/volume_images.h"

namespace {

std::string BuildVolume() {
  const std::string image = testsupport::TempPath("optimise-ntfs.img");
  testsupport::NtfsFixtureOptions options;
  options.sizeMb = 384;
  options.large = true;
  options.largeFiles = 20000;
  options.largeFilesPerFolder = 500;
  testsupport::NtfsFixture fixture;
  std::string error;
  std::printf("Building a volume of %u small files and 900 files written in turns...\n",
              options.largeFiles);
  if (!testsupport::BuildNtfsFixture(image, options, fixture, error)) {
    std::fprintf(stderr, "bench_optimise: %s\n", error.c_str());
    return "";
  }
  testsupport::FragmentedSet set;
  set.files = 900;
  set.chunks = 8;
  set.chunkClusters = 4;
  if (!testsupport::AddFragmentedFiles(image, set, error)) {
    std::fprintf(stderr, "bench_optimise: %s\n", error.c_str());
    return "";
  }
  return image;
}

struct Run {
  double wall = -1;      // seconds of the whole program
  double peakMb = -1;    // resident
  std::string report;    // standard output
  double reportMb = -1;  // "Moved: Files=..,  Mb="
  long long files = -1;
  double time = -1;  // "   Time="
};

// One Defrag then Pack of a fresh copy of `master` at `image`.
Run RunOnce(const std::string& voduru, const std::string& home, const std::string& master,
            const std::string& image, const std::string& env) {
  std::filesystem::copy_file(master, image, std::filesystem::copy_options::overwrite_existing);
  const std::string peak = testsupport::TempPath("peak.txt");
  const std::string command =
      "VODURU_HOME=" + testsupport::ShellQuote(home) + " " + env + " /usr/bin/time -f %M -o " +
      testsupport::ShellQuote(peak) + " " + testsupport::ShellQuote(voduru) + " --drives " +
      testsupport::ShellQuote("c=" + image + ",busy=pagefile.sys") + " --defrag c 2>/dev/null";
  Run r;
  const auto start = std::chrono::steady_clock::now();
  const int status = testsupport::RunCommand(command, r.report);
  r.wall = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  if (status != 0) {
    std::fprintf(stderr, "bench_optimise: the run ended with status %d:\n%s", status,
                 r.report.c_str());
    r.wall = -1;
  }
  if (FILE* f = std::fopen(peak.c_str(), "r")) {
    double kb = -1;
    if (std::fscanf(f, "%lf", &kb) == 1) r.peakMb = kb / 1024.0;
    std::fclose(f);
  }
  std::smatch m;
  if (std::regex_search(r.report, m, std::regex(R"(Moved: Files=(\d+),  Mb=(\d+))"))) {
    r.files = std::stoll(m[1]);
    r.reportMb = std::stod(m[2]);
  }
  if (std::regex_search(r.report, m, std::regex(R"(   Time=([0-9.]+),)"))) r.time = std::stod(m[1]);
  return r;
}

double Ratio(double a, double b) { return a < 0 || b <= 0 ? -1 : a / b; }

}  // namespace

int main(int argc, char** argv) {
  std::string master = argc > 1 ? argv[1] : "";
  const std::string voduru = bench::ProgramUnderTest(argc, argv, 2);
  if (master.empty()) master = BuildVolume();
  if (master.empty()) return 1;
  const std::string home = testsupport::TempPath("home");
  std::filesystem::create_directories(home);

  testsupport::VolumeAudit before, after;
  std::string error;
  if (!testsupport::AuditNtfsVolume(master, before, error)) {
    std::fprintf(stderr, "bench_optimise: %s\n", error.c_str());
    return 1;
  }
  const auto beforeFiles = testsupport::FilesByRecord(before);
  int64_t fragmented = 0, fragmentedClusters = 0;
  for (const auto& [record, s] : beforeFiles)
    if (!testsupport::Contiguous(s->runs) && !s->compressed && !s->sparse) {
      ++fragmented;
      fragmentedClusters += testsupport::AllocatedClusters(s->runs);
    }
  std::printf(
      "Volume: %zu files and streams, %lld fragmented files of %lld clusters, "
      "clusters of %lld bytes\n",
      before.streams.size(), static_cast<long long>(fragmented),
      static_cast<long long>(fragmentedClusters), static_cast<long long>(before.clusterSize));

  const std::string image = testsupport::TempPath("optimise-run.img");
  const Run main = RunOnce(voduru, home, master, image, "");
  std::printf("%s", main.report.c_str());
  if (main.wall < 0 || !testsupport::AuditNtfsVolume(image, after, error)) {
    std::fprintf(stderr, "bench_optimise: %s\n", error.c_str());
    return 1;
  }
  const Run quick = RunOnce(voduru, home, master, testsupport::TempPath("optimise-quick.img"),
                            "VODURU_NTFS_FLUSH_DELAY=0");

  // Moved: the report's megabytes; the least: the fragmented files and
  // every other file that lay at or above where the packed data ends now
  // (the start of the largest free extent).
  const testsupport::FreeSpace freeBefore = testsupport::FreeOutsideMftZone(before);
  const testsupport::FreeSpace freeAfter = testsupport::FreeOutsideMftZone(after);
  const int64_t boundary = freeAfter.largestStart;
  int64_t least = 0, changedClusters = 0;
  const auto afterFiles = testsupport::FilesByRecord(after);
  for (const auto& [record, s] : beforeFiles) {
    if (s->compressed || s->sparse) continue;
    const int64_t clusters = testsupport::AllocatedClusters(s->runs);
    bool above = false;
    for (const testsupport::LibntfsRun& r : s->runs) above = above || r.lcn + r.length > boundary;
    if (!testsupport::Contiguous(s->runs) || (above && clusters > 0)) least += clusters;
    const auto it = afterFiles.find(record);
    if (it != afterFiles.end() && it->second->runs.size() == s->runs.size()) {
      bool same = true;
      for (size_t i = 0; i < s->runs.size(); ++i)
        same = same && s->runs[i].lcn == it->second->runs[i].lcn &&
               s->runs[i].length == it->second->runs[i].length;
      if (same) continue;
    }
    changedClusters += clusters;
  }
  const double movedClusters = main.reportMb * (1 << 20) / static_cast<double>(before.clusterSize);
  const double movedMb = main.reportMb;

  // The reference: dd copies as many bytes of the image into a second file,
  // once to the disk (fdatasync at the end, as the program's device flushes)
  // and once into the page cache only.
  const long long mb = static_cast<long long>(movedMb + 0.5);
  const std::string copy = testsupport::TempPath("copy.bin");
  const std::string dd = "dd if=" + testsupport::ShellQuote(image) +
                         " of=" + testsupport::ShellQuote(copy) +
                         " bs=1M count=" + std::to_string(mb);
  const double ddRate =
      Ratio(static_cast<double>(mb), bench::BestOfCommand(3, dd + " conv=fdatasync"));
  const double ddCached = Ratio(static_cast<double>(mb), bench::BestOfCommand(3, dd));

  std::printf("\n%-46s %12s %12s %8s\n", "", "VoduRU", "reference", "ratio");
  std::printf("%-46s %12.2f %12.2f %8.2f\n", "MB/s, whole run (default flush delay) / dd",
              Ratio(movedMb, main.wall), ddRate, Ratio(Ratio(movedMb, main.wall), ddRate));
  std::printf("%-46s %12.2f %12.2f %8.2f\n", "MB/s, whole run (no flush delay) / dd",
              Ratio(movedMb, quick.wall), ddRate, Ratio(Ratio(movedMb, quick.wall), ddRate));
  std::printf("%-46s %12.2f %12.2f %8.2f\n", "MB/s, report's Time= (default delay) / dd",
              Ratio(movedMb, main.time), ddRate, Ratio(Ratio(movedMb, main.time), ddRate));
  std::printf("%-46s %12.2f %12.2f %8.2f\n", "MB/s, whole run (no flush delay) / dd cached",
              Ratio(movedMb, quick.wall), ddCached, Ratio(Ratio(movedMb, quick.wall), ddCached));
  std::printf("%-46s %12.0f %12lld %8.2f\n", "clusters moved / least that had to move",
              movedClusters, static_cast<long long>(least),
              Ratio(movedClusters, static_cast<double>(least)));
  std::printf("%-46s %12lld\n", "  clusters of files whose runs changed",
              static_cast<long long>(changedClusters));
  std::printf("%-46s %12lld %12lld %8.2f\n", "largest free extent / free outside MFT zone",
              static_cast<long long>(freeAfter.largest), static_cast<long long>(freeAfter.free),
              Ratio(static_cast<double>(freeAfter.largest), static_cast<double>(freeAfter.free)));
  std::printf("%-46s %12lld %12lld %8.2f\n", "  before the run",
              static_cast<long long>(freeBefore.largest), static_cast<long long>(freeBefore.free),
              Ratio(static_cast<double>(freeBefore.largest), static_cast<double>(freeBefore.free)));
  std::printf("%-46s %12.1f %12s\n", "peak memory MB (default delay run)", main.peakMb, "< 200");
  std::printf("%-46s %12.1f %12.1f\n", "seconds: whole run, default / no flush delay", main.wall,
              quick.wall);
  std::printf("%-46s %12lld %12.0f\n", "files moved (report) / MB moved", main.files, movedMb);
  std::printf(
      "(targets: MB/s at least 0.50 of dd; clusters moved at most 1.5x the least;\n"
      " largest free extent at least 0.90 of the free space; peak below 200 MB)\n");
  std::filesystem::remove(copy);
  return 0;
}
