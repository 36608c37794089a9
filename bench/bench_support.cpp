#include "bench_support.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>
#include <vector>

#include "support/ntfs_fixtures.h"
#include "support/volume_images.h"

namespace bench {

double BestOf(int rounds, const std::function<void()>& work) {
  double best = std::numeric_limits<double>::max();
  for (int i = 0; i < rounds; ++i) {
    const auto start = std::chrono::steady_clock::now();
    work();
    const std::chrono::duration<double> took = std::chrono::steady_clock::now() - start;
    if (took.count() < best) best = took.count();
  }
  return best;
}

double BestOfCommand(int rounds, const std::string& command) {
  bool failed = false;
  const double best = BestOf(rounds, [&] {
    if (std::system((command + " >/dev/null 2>&1").c_str()) != 0) failed = true;
  });
  return failed ? -1 : best;
}

namespace {
double ChildrenCpuSeconds() {
  rusage usage{};
  getrusage(RUSAGE_CHILDREN, &usage);
  return static_cast<double>(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) +
         static_cast<double>(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}
}  // namespace

CommandTime TimeCommand(int rounds, const std::string& command) {
  CommandTime best;
  for (int i = 0; i < rounds; ++i) {
    const double cpuBefore = ChildrenCpuSeconds();
    const double wall = BestOfCommand(1, command);
    if (wall < 0) return CommandTime{};
    const double cpu = ChildrenCpuSeconds() - cpuBefore;
    if (best.wall < 0 || wall < best.wall) best.wall = wall;
    if (best.cpu < 0 || cpu < best.cpu) best.cpu = cpu;
  }
  return best;
}

std::string BuildLargeNtfsVolume(const char* program, unsigned filesPerFolder) {
  const std::string image = testsupport::TempPath("large-ntfs.img");
  testsupport::NtfsFixtureOptions options;
  options.sizeMb = 512;
  options.large = true;
  options.largeFilesPerFolder = filesPerFolder;
  testsupport::NtfsFixture fixture;
  std::string error;
  std::printf("Building a volume of %u files, %u to a folder...\n", options.largeFiles,
              options.largeFilesPerFolder);
  if (!testsupport::BuildNtfsFixture(image, options, fixture, error)) {
    std::fprintf(stderr, "%s: %s\n", program, error.c_str());
    return "";
  }
  return image;
}

long ReadCalls(const std::string& command) {
  const std::string strace = testsupport::FindTool("strace");
  if (strace.empty()) return -1;
  const std::string out = testsupport::TempPath("strace.txt");
  const std::string traced = testsupport::ShellQuote(strace) +
                             " -f -c -e trace=read,pread64,readv,preadv -o " +
                             testsupport::ShellQuote(out) + " sh -c " +
                             testsupport::ShellQuote(command + " >/dev/null 2>&1");
  testsupport::RunCommand(traced);
  std::ifstream in(out);
  std::string line;
  long calls = 0;
  bool any = false;
  // Rows: % time, seconds, usecs/call, calls, [errors,] syscall.
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::vector<std::string> t;
    for (std::string w; fields >> w;) t.push_back(w);
    if (t.size() < 5) continue;
    const std::string& name = t.back();
    if (name != "read" && name != "pread64" && name != "readv" && name != "preadv") continue;
    calls += std::atol(t[3].c_str());
    any = true;
  }
  return any ? calls : -1;
}

DeviceReads VoduruDeviceReads(const std::string& command, char letter) {
  const std::string out = testsupport::TempPath("io-counts.txt");
  std::remove(out.c_str());
  testsupport::RunCommand("VODURU_IO_COUNTS=" + testsupport::ShellQuote(out) + " " + command +
                          " >/dev/null 2>&1");
  std::ifstream in(out);
  std::string line;
  DeviceReads r;
  while (std::getline(in, line)) {
    long long reads = 0, bytes = 0, writes = 0, written = 0;
    char l = 0;
    if (std::sscanf(line.c_str(), "%c: reads=%lld bytes=%lld writes=%lld written=%lld", &l, &reads,
                    &bytes, &writes, &written) == 5 &&
        l == letter) {
      r.reads = reads;
      r.bytes = bytes;
    }
  }
  return r;
}

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

std::string ProgramUnderTest(int argc, char** argv, int index) {
  if (argc > index) return argv[index];
  return (std::filesystem::canonical("/proc/self/exe").parent_path().parent_path() / "voduru")
      .string();
}

}  // namespace bench
