// Timing helpers shared by the benchmarks.
#pragma once

#include <functional>
#include <string>

namespace bench {

// Seconds of the fastest of `rounds` runs of `work`.
double BestOf(int rounds, const std::function<void()>& work);
// Seconds of the fastest of `rounds` runs of a shell command (its output
// discarded); negative when the command fails.
double BestOfCommand(int rounds, const std::string& command);

// The fastest of `rounds` runs of a shell command: wall-clock seconds, and
// the processor seconds (user + system) the command's processes used.
struct CommandTime {
  double wall = -1;
  double cpu = -1;
};
CommandTime TimeCommand(int rounds, const std::string& command);

// A 512 MB NTFS volume of 100,000 small files in the test folder; its path,
// or "" after printing why it could not be built.
std::string BuildLargeNtfsVolume(const char* program);

}  // namespace bench
