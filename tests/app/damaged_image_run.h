// One headless command on a memory copy of a damaged image, as the damage
// tests of both file systems run it: every view, exclusive and shared, and
// a Defrag; the copy must stay byte for byte what it was, and no run may end
// in a run-time error the checks did not name.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "app/headless_run.h"
#include "drivers/builtin_drivers.h"
#include "platform/block_device.h"
#include "platform/platform.h"

namespace vr::test {

struct Mode {
  const char* name;
  Integer checked;
  Integer defrag;
  bool shared;
};
constexpr Mode kCheckedExclusive{"Checked View", -1, -1, false};
constexpr Mode kCheckedShared{"Checked View shared", -1, -1, true};
constexpr Mode kFastExclusive{"Fast View", 0, -1, false};
constexpr Mode kFastShared{"Fast View shared", 0, -1, true};
constexpr Mode kDefrag{"Defrag", -1, 0, false};

// Shared: another program holds pagefile.sys open, so the volume cannot be
// locked.
inline HeadlessRun RunOnImage(const std::vector<uint8_t>& image, const Mode& mode) {
  platform::ResetPlatform();
  platform::RegisterBuiltinDrivers();
  auto device = std::make_shared<platform::MemoryDevice>(image, false);
  platform::MapMemoryDrive(
      'c', device,
      mode.shared ? std::vector<std::string>{"pagefile.sys"} : std::vector<std::string>{});
  HeadlessRun run = Run_Headless_Command('c', mode.checked, mode.defrag);
  EXPECT_TRUE(device->Bytes() == image) << mode.name << ": the image was written";
  EXPECT_FALSE(run.internalFault) << mode.name << ": " << testing::PrintToString(run.lines);
  return run;
}

// Every mode in `stopping` prints `line` (the recorded error), fails (exit
// status 1) and never reaches the optimiser.
inline void ExpectStopsWith(const std::vector<uint8_t>& image, const std::string& line,
                            const std::vector<Mode>& stopping) {
  for (const Mode& mode : stopping) {
    SCOPED_TRACE(mode.name);
    const HeadlessRun run = RunOnImage(image, mode);
    EXPECT_TRUE(run.failed);
    EXPECT_FALSE(run.optimiserReached);
    bool found = false;
    for (const std::string& l : run.lines) found = found || l == line;
    EXPECT_TRUE(found) << "no " << line << " in " << testing::PrintToString(run.lines);
  }
}

}  // namespace vr::test
