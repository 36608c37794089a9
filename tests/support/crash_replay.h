// Crash at every write: after a command ran on a volume under a write log,
// rebuilds the volume as it would be had the program stopped after each
// write (or after each write of a sample) and hands it to a checker.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "platform/block_device.h"

namespace testsupport {

// Called with the number of writes that reached the volume and the volume
// as they left it.
using CrashChecker = std::function<void(size_t writes, const std::vector<uint8_t>& volume)>;

// `before` is the volume as it was when `log` started. Checks every prefix
// 0 .. all writes when `sample` is empty, else the prefixes it lists (each
// at most the number of writes logged).
void ForEachCrashPoint(const std::vector<uint8_t>& before, const platform::WriteLogDevice& log,
                       const CrashChecker& check, const std::vector<size_t>& sample = {});

}  // namespace testsupport
