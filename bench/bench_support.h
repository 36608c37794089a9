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

// The program to measure: argv[index] when given, else `voduru` in the build
// folder above the benchmark's own.
std::string ProgramUnderTest(int argc, char** argv, int index);

// A 512 MB NTFS volume of 100,000 small files in the test folder; its path,
// or "" after printing why it could not be built. `filesPerFolder` spreads
// them over that many to a folder.
std::string BuildLargeNtfsVolume(const char* program, unsigned filesPerFolder = 1000);

// Read system calls (read, pread64, readv, preadv) of one run of a shell
// command and its children, counted by strace; -1 without strace.
long ReadCalls(const std::string& command);

// Transfers that reached drive `letter`'s device in one run of VoduRU,
// counted in its device stack (VODURU_IO_COUNTS); `command` is the run
// without that variable. Negative counts when the run gave none.
struct DeviceReads {
  long long reads = -1;
  long long bytes = -1;
};
DeviceReads VoduruDeviceReads(const std::string& command, char letter);

// Peak resident memory (MB) of one run of `command`, through GNU time; -1
// when it cannot be measured.
double PeakMb(const std::string& command);

}  // namespace bench
