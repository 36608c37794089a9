#include "bench_support.h"

#include <sys/resource.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <limits>

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

std::string BuildLargeNtfsVolume(const char* program) {
  const std::string image = testsupport::TempPath("large-ntfs.img");
  testsupport::NtfsFixtureOptions options;
  options.sizeMb = 512;
  options.large = true;
  testsupport::NtfsFixture fixture;
  std::string error;
  std::printf("Building a volume of %u files...\n", options.largeFiles);
  if (!testsupport::BuildNtfsFixture(image, options, fixture, error)) {
    std::fprintf(stderr, "%s: %s\n", program, error.c_str());
    return "";
  }
  return image;
}

}  // namespace bench
