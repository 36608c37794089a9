// A device that fails, a program stopped between two writes, and the user
// pressing Esc, each in the middle of an optimiser run on a volume in use:
// the run stops with a message (exit status 1 headless) and every file
// reads as it did, from its old clusters or its new ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <iostream>

#include "drivers/ntfs/ntfs_driver.h"
#include "optimise/e2e_harness.h"
#include "platform/block_device.h"
#include "platform/platform.h"
#include "support/crash_replay.h"
#include "support/ntfs_workload.h"
#include "support/volume_images.h"

namespace vr::e2e {
namespace {

// Counts the transfers of every opening of the drive together and fails
// the chosen ones: the `failWrite`-th write, and the first read that
// touches [failReadFrom, failReadTo) bytes.
struct Faults {
  uint64_t writes = 0;
  uint64_t failWrite = 0;
  uint64_t failReadFrom = 0, failReadTo = 0;
  int failedReads = 0, failedWrites = 0;
};

class SharedFaultDevice : public platform::ForwardingDevice {
 public:
  SharedFaultDevice(std::shared_ptr<platform::BlockDevice> inner, std::shared_ptr<Faults> faults)
      : ForwardingDevice(std::move(inner)), f_(std::move(faults)) {}
  bool Read(uint64_t offset, void* buffer, size_t size) override {
    if (f_->failedReads == 0 && offset < f_->failReadTo && offset + size > f_->failReadFrom) {
      ++f_->failedReads;
      return false;
    }
    return inner_->Read(offset, buffer, size);
  }
  bool Write(uint64_t offset, const void* buffer, size_t size) override {
    if (++f_->writes == f_->failWrite) {
      ++f_->failedWrites;
      return false;
    }
    return inner_->Write(offset, buffer, size);
  }

 private:
  std::shared_ptr<Faults> f_;
};

class OptimiserFaultTest : public ::testing::Test {
 protected:
  void SetUp() override { platform::SetVirtualSleep(true); }
  void TearDown() override {
    platform::ResetPlatform();
    platform::SetNtfsFlushDelay(platform::kNtfsDefaultFlushDelayMs);
  }

  // Defrag then Pack of a copy of the work volume through the faults.
  RunOutcome RunWithFaults(const std::shared_ptr<Faults>& faults, const std::string& image) {
    RunSetup setup;
    setup.wrapper = [faults](std::shared_ptr<platform::BlockDevice> d) {
      return std::make_shared<SharedFaultDevice>(std::move(d), faults);
    };
    return RunOptimiser(image, setup);
  }

  // The run stopped on the fault with a message and left a sound volume.
  void ExpectStoppedSoundly(const std::string& image, const Before& before, const RunOutcome& run) {
    EXPECT_TRUE(run.failed) << testing::PrintToString(run.lines);
    EXPECT_FALSE(run.internalFault);
    const bool said = std::any_of(run.lines.begin(), run.lines.end(), [](const std::string& l) {
      return l.find("Drive status") != std::string::npos || l.find("rror") != std::string::npos;
    });
    EXPECT_TRUE(said || !run.boxes.empty()) << "no message: " << testing::PrintToString(run.lines);
    ExpectSoundRun(image, before, run);
  }
};

// The device refuses a write at several points of the run's first moves.
TEST_F(OptimiserFaultTest, AFailedWriteStopsTheRunAndLosesNothing) {
  ASSERT_FALSE(WorkVolume4k().empty());
  for (const uint64_t k : {1u, 2u, 4u, 9u, 30u}) {
    SCOPED_TRACE("write " + std::to_string(k) + " fails");
    const std::string image = CopyImage(WorkVolume4k(), "fault-write.img");
    const Before before = TakeBefore(image);
    auto faults = std::make_shared<Faults>();
    faults->failWrite = k;
    const RunOutcome run = RunWithFaults(faults, image);
    ASSERT_EQ(faults->failedWrites, 1) << "the run wrote fewer than " << k << " times";
    ExpectStoppedSoundly(image, before, run);
  }
}

// The device cannot read the clusters of a fragmented file the run moves:
// the move request fails, the run stops, the file stays where it was.
TEST_F(OptimiserFaultTest, AFailedReadOfAFileBeingMovedStopsTheRun) {
  ASSERT_FALSE(WorkVolume4k().empty());
  const std::string image = CopyImage(WorkVolume4k(), "fault-read.img");
  const Before before = TakeBefore(image);
  const auto it = before.audit.streams.find("frag\\alpha.bin");
  ASSERT_NE(it, before.audit.streams.end());
  ASSERT_FALSE(testsupport::Contiguous(it->second.runs));
  const testsupport::LibntfsRun& first = it->second.runs.front();
  auto faults = std::make_shared<Faults>();
  faults->failReadFrom = static_cast<uint64_t>(first.lcn * before.audit.clusterSize);
  faults->failReadTo = faults->failReadFrom + static_cast<uint64_t>(before.audit.clusterSize);
  const RunOutcome run = RunWithFaults(faults, image);
  ASSERT_EQ(faults->failedReads, 1) << "the run never read alpha.bin's first cluster";
  ExpectStoppedSoundly(image, before, run);
}

// A small volume defragmented and packed once under a write log; the
// volume as it would be had the program stopped after each of a sample of
// its writes mounts with every file intact.
TEST_F(OptimiserFaultTest, AStopAfterAnyWriteLeavesEveryFileIntact) {
  std::string error;
  const std::string path = testsupport::TempPath("crash.img");
  ASSERT_TRUE(testsupport::MakeNtfsImage(path, 16, 4096, "CRASH", error)) << error;
  testsupport::FragmentedSet set;
  set.files = 12;
  set.chunks = 4;
  ASSERT_TRUE(testsupport::AddFragmentedFiles(path, set, error)) << error;
  ASSERT_TRUE(testsupport::FillFreeSpace(path, "pagefile.sys", 1500, error)) << error;
  const Before before = TakeBefore(path);
  const std::vector<uint8_t> original = testsupport::ReadFileBytes(path);

  RunSetup setup;
  setup.memory = std::make_shared<platform::MemoryDevice>(original);
  std::shared_ptr<platform::WriteLogDevice> log;
  setup.wrapper = [&log](std::shared_ptr<platform::BlockDevice> d) {
    if (!log) log = std::make_shared<platform::WriteLogDevice>(std::move(d));
    return log;
  };
  const RunOutcome run = RunOptimiser("", setup);
  ASSERT_TRUE(log);
  ASSERT_FALSE(run.failed) << testing::PrintToString(run.lines);
  ASSERT_TRUE(testsupport::WriteFileBytes(path, setup.memory->Bytes()));
  const Verdict v = ExpectSoundRun(path, before, run);
  EXPECT_GT(v.movedFiles, 5);

  // Every write of the first moves, then every seventh, and the last.
  const size_t writes = log->Log().size();
  std::vector<size_t> sample;
  for (size_t k = 0; k <= writes; ++k)
    if (k < 24 || k % 7 == 0 || k == writes) sample.push_back(k);
  std::cout << "crash points: " << sample.size() << " of " << writes + 1 << " after "
            << v.movedFiles << " moves\n";
  const std::string replayed = testsupport::TempPath("replayed.img");
  testsupport::ForEachCrashPoint(
      original, *log,
      [&](size_t, const std::vector<uint8_t>& volume) {
        ASSERT_TRUE(testsupport::WriteFileBytes(replayed, volume));
        testsupport::VolumeAudit audit;
        ASSERT_TRUE(testsupport::AuditNtfsVolume(replayed, audit, error)) << error;
        EXPECT_EQ(testsupport::ContentChanges(before.audit, audit), std::vector<std::string>{});
      },
      sample);
}

// Esc once the first file has moved: the run stops after the file it is
// moving, says "User stop", and nothing is lost.
TEST_F(OptimiserFaultTest, EscStopsTheRunAfterTheCurrentFile) {
  ASSERT_FALSE(WorkVolume4k().empty());
  const std::string image = CopyImage(WorkVolume4k(), "esc.img");
  const Before before = TakeBefore(image);
  const uint64_t start = platform::NtfsMovesDone();
  uint64_t atEsc = 0;
  RunSetup setup;
  setup.onPump = [&] {
    if (atEsc == 0 && platform::NtfsMovesDone() > start) {
      atEsc = platform::NtfsMovesDone() - start;
      PressEsc();
    }
  };
  const RunOutcome run = RunOptimiser(image, setup);
  ASSERT_GT(atEsc, 0u) << "no move before the run ended";
  EXPECT_TRUE(run.failed);
  EXPECT_TRUE(HasLine(run.lines, "User stop")) << testing::PrintToString(run.lines);
  EXPECT_LE(run.driverMoves, atEsc + 1) << "the run went on after Esc";
  const Verdict v = ExpectSoundRun(image, before, run);
  EXPECT_LE(v.runsChanged, static_cast<int>(run.driverMoves));
}

}  // namespace
}  // namespace vr::e2e
