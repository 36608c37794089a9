// Times a Defrag then Pack of a large fragmented NTFS volume in use (the
// whole program, started as a user would, with a busy file in its drive
// map) and prints beside it what it is measured against in the same run:
// the rate of a sequential copy (dd) of as many bytes on the same image,
// the least number of clusters the run had to move, the free space outside
// the MFT zone and the best any packing could make of it, and the program's
// peak memory.
//
//   bench_optimise [IMAGE [VODURU-BINARY]]   (without IMAGE two volumes are built)
//
// The two volumes (see BuildVolume) differ in where the clusters nothing
// moves lie, which decides what each figure can reach: one filled from the
// start of the data zone, as in ordinary use, and one with libntfs-3g's own
// placement, whose folder index blocks split the free space.
//
// The file system's flush delay is the default one (VODURU_NTFS_FLUSH_DELAY
// unset) for the main run; a second run with no delay shows the moving apart
// from the waits for the file system.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "bench_support.h"
#include "free_space_ideal.h"
#include "support/ntfs_audit.h"
#include "support/ntfs_fixtures.h"
#include "support/ntfs_workload.h"
#include "support/volume_images.h"

namespace {

// The volume is built as one filled in ordinary use looks (with
// `libntfsPlacement`: with libntfs-3g's own placement and files of up to 160
// bytes, 28% in use, as earlier benchmarks built it): every
// allocation looks for room from the start of the data zone, so the
// folders' index blocks (which no move request shifts) lie among the data
// written when the folders grew rather than 4,096 clusters apart across the
// upper half, where libntfs-3g's own placement puts them. The small files
// hold up to 10 KB, most of them in clusters, so that about 60% of the
// volume is in use, as on a volume that needs packing: the packed data then
// reaches past the file system's reserved area in the middle of the volume
// ($MFTMirr and $LogFile, where mkntfs puts them), which otherwise splits
// the free space above the data whatever the packing does.
std::string BuildVolume(bool libntfsPlacement) {
  const std::string image = testsupport::TempPath("optimise-ntfs.img");
  testsupport::NtfsFixtureOptions options;
  options.sizeMb = 384;
  options.large = true;
  options.largeFiles = 20000;
  options.largeFilesPerFolder = 500;
  options.largeFileStep = libntfsPlacement ? 40 : 2500;
  options.fillFromStart = !libntfsPlacement;
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
  set.fillFromStart = !libntfsPlacement;
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
  double time = -1;  // "   Time=": the moving, without the scan before it
  double rate = -1;  // its "Mb/Sec="
};

// Copies `from` to `to` and makes the copy durable, so that the run's first
// flush of the image does not also write the whole fresh copy.
bool DurableCopy(const std::string& from, const std::string& to) {
  std::error_code ec;
  std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, ec);
  const int fd = ec ? -1 : ::open(to.c_str(), O_RDONLY);
  const bool ok = fd >= 0 && ::fsync(fd) == 0;
  if (fd >= 0) ::close(fd);
  return ok;
}

// One Defrag then Pack of a fresh copy of `master` at `image`.
Run RunOnce(const std::string& voduru, const std::string& home, const std::string& master,
            const std::string& image, const std::string& env) {
  Run r;
  if (!DurableCopy(master, image)) {
    std::fprintf(stderr, "bench_optimise: cannot copy %s to %s\n", master.c_str(), image.c_str());
    return r;
  }
  const std::string peak = testsupport::TempPath("peak.txt");
  const std::string command =
      "VODURU_HOME=" + testsupport::ShellQuote(home) + " " + env + " /usr/bin/time -f %M -o " +
      testsupport::ShellQuote(peak) + " " + testsupport::ShellQuote(voduru) + " --drives " +
      testsupport::ShellQuote("c=" + image + ",busy=pagefile.sys") + " --defrag c 2>/dev/null";
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
  if (std::regex_search(r.report, m, std::regex(R"(   Time=([0-9.]+),  Mb/Sec=([0-9.]+))"))) {
    r.time = std::stod(m[1]);
    r.rate = std::stod(m[2]);
  }
  return r;
}

double Ratio(double a, double b) { return a < 0 || b <= 0 ? -1 : a / b; }

// The runs on `master` and the figures; false when a run or a reader failed.
bool Bench(const std::string& master, const std::string& voduru, const std::string& home) {
  testsupport::VolumeAudit before, after;
  std::string error;
  if (!testsupport::AuditNtfsVolume(master, before, error)) {
    std::fprintf(stderr, "bench_optimise: %s\n", error.c_str());
    return false;
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
  int64_t inUse = 0;
  for (int64_t c = 0; c < before.totalClusters; ++c) inUse += testsupport::ClusterUsed(before, c);
  std::printf("In use: %lld of %lld clusters (%.0f%%), MFT zone %lld-%lld\n",
              static_cast<long long>(inUse), static_cast<long long>(before.totalClusters),
              100.0 * Ratio(static_cast<double>(inUse), static_cast<double>(before.totalClusters)),
              static_cast<long long>(before.mftZoneStart),
              static_cast<long long>(before.mftZoneEnd));

  const std::string image = testsupport::TempPath("optimise-run.img");
  const Run main = RunOnce(voduru, home, master, image, "");
  std::printf("%s", main.report.c_str());
  if (main.wall < 0 || !testsupport::AuditNtfsVolume(image, after, error)) {
    std::fprintf(stderr, "bench_optimise: %s\n", error.c_str());
    return false;
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

  // The free space. mkntfs puts $MFTMirr and $LogFile in the middle of the
  // volume and no move request shifts them, nor the folders' index blocks
  // or the busy file: they split the free space whatever the packing does
  // when the data does not reach past them. Beside the largest free extent
  // against all free space outside the MFT zone, the largest extent is set
  // against the largest any packing could leave: the movable clusters laid
  // from the lowest free cluster outside the MFT zone into the gaps around
  // the unmovable ones (IdealPacking). The middle area is also shown against
  // where the movable data ends after the run and in that ideal.
  std::set<int64_t> busy;
  if (const auto it = after.streams.find("pagefile.sys"); it != after.streams.end())
    busy.insert(it->second.record);
  const std::vector<bool> movable = bench::MovableClusters(after, busy);
  const bench::PackingIdeal ideal = bench::IdealPacking(after, movable);
  const int64_t dataEnd = bench::MovableDataEnd(after, movable);
  std::vector<testsupport::LibntfsRun> mirrRuns, logRuns;
  if (!testsupport::LibntfsRunlist(image, "$MFTMirr", mirrRuns, error) ||
      !testsupport::LibntfsRunlist(image, "$LogFile", logRuns, error)) {
    std::fprintf(stderr, "bench_optimise: %s\n", error.c_str());
    return false;
  }
  const bench::ClusterRange mirr = bench::Span(mirrRuns), log = bench::Span(logRuns);
  const bench::ClusterRange middle{std::min(mirr.start, log.start), std::max(mirr.end, log.end)};

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

  const auto line = [](const char* what, double measured, double reference, const char* target) {
    std::printf("%-50s %11.2f %11.2f %7.2f  %s\n", what, measured, reference,
                Ratio(measured, reference), target);
  };
  const auto count = [](const char* what, double measured, double reference, const char* target) {
    std::printf("%-50s %11.0f %11.0f %7.2f  %s\n", what, measured, reference,
                Ratio(measured, reference), target);
  };
  std::printf("\n%-50s %11s %11s %7s  %s\n", "", "VoduRU", "reference", "ratio", "target");
  // The headline rate is the report's own: the moving (its "   Time="
  // line), not the scan of the volume before it nor the start of the
  // program, against dd writing as many bytes to the disk.
  line("MB/s, report's Mb/Sec= (default delay) / dd", main.rate, ddRate, ">= 0.50");
  line("  report's Mb/Sec= (no flush delay) / dd", quick.rate, ddRate, "");
  line("  whole run, scan included (default delay) / dd", Ratio(movedMb, main.wall), ddRate, "");
  line("  whole run, scan included (no flush delay) / dd", Ratio(movedMb, quick.wall), ddRate, "");
  line("  whole run (no flush delay) / dd into the cache", Ratio(movedMb, quick.wall), ddCached,
       "");
  count("clusters moved / least that had to move", movedClusters, static_cast<double>(least),
        "<= 1.50");
  count("  clusters of files whose runs changed / least", static_cast<double>(changedClusters),
        static_cast<double>(least), "");
  count("largest free extent / free outside MFT zone", static_cast<double>(freeAfter.largest),
        static_cast<double>(freeAfter.free), ">= 0.90");
  count("largest free extent / largest any packing leaves", static_cast<double>(freeAfter.largest),
        static_cast<double>(ideal.largest), ">= 0.90");
  count("  ideal: largest free extent / free outside zone", static_cast<double>(ideal.largest),
        static_cast<double>(ideal.free), "");
  count("  before the run: largest / free outside zone", static_cast<double>(freeBefore.largest),
        static_cast<double>(freeBefore.free), "");
  std::printf("%-50s %11lld %11lld\n", "  movable / unmovable clusters (after the run)",
              static_cast<long long>(ideal.movable), static_cast<long long>(ideal.unmovable));
  std::printf("%-50s %11lld %11lld  %s\n", "  movable data ends / $MFTMirr+$LogFile end",
              static_cast<long long>(dataEnd), static_cast<long long>(middle.end),
              dataEnd > middle.end ? "past the middle area" : "below the middle area");
  std::printf("%-50s %11lld %11lld  %s\n", "  ideal data end / $MFTMirr+$LogFile start",
              static_cast<long long>(ideal.dataEnd), static_cast<long long>(middle.start),
              ideal.dataEnd > middle.start ? "past the middle area" : "below the middle area");
  std::printf("%-50s %11.1f %11.1f %7.2f  %s\n", "peak memory MB (default delay run) / limit",
              main.peakMb, 200.0, Ratio(main.peakMb, 200.0), "< 1.00");
  std::printf("%-50s %11.1f %11.1f\n", "seconds: whole run, default / no flush delay", main.wall,
              quick.wall);
  std::printf("%-50s %11.1f %11.1f\n", "seconds: report's Time=, default / no flush delay",
              main.time, quick.time);
  std::printf("%-50s %11lld %11.0f\n", "files moved (report) / MB moved", main.files, movedMb);
  std::filesystem::remove(copy);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const std::string voduru = bench::ProgramUnderTest(argc, argv, 2);
  const std::string home = testsupport::TempPath("home");
  std::filesystem::create_directories(home);
  if (argc > 1) return Bench(argv[1], voduru, home) ? 0 : 1;
  for (const bool libntfsPlacement : {false, true}) {
    std::printf("\n== %s ==\n",
                libntfsPlacement ? "Volume B: libntfs-3g's own placement, 28% in use"
                                 : "Volume A: filled from the start of the data zone, 61% in use");
    const std::string master = BuildVolume(libntfsPlacement);
    if (master.empty() || !Bench(master, voduru, home)) return 1;
    std::filesystem::remove(master);
  }
  return 0;
}
