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

}  // namespace bench
