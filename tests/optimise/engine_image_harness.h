// The move engine on a copy of the shared mkntfs fixture mapped in memory as
// drive N: with a busy file, so that it opens in use and the file system
// moves the clusters. The Checked View of a Defrag fills the file table and
// hands over to the test's body in place of the optimiser run; afterwards
// the volume is read back through a fresh libntfs-3g mount.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "drivers/ntfs/ntfs_driver.h"
#include "ntfs/ntfs_scan_harness.h"
#include "optimise/move_engine.h"
#include "platform/block_device.h"
#include "platform/fs_driver.h"
#include "platform/platform.h"
#include "support/ntfs_fixtures.h"
#include "support/volume_images.h"
#include "volume/file_table.h"

namespace vr::test {

// Bytes [first, end) of a device that cannot be read.
struct BadBytes {
  uint64_t first = 0, end = 0;
};

// A device whose writes fail while `failing` is set, and whose reads fail
// where they touch `bad`, as a failing disk's.
class FailingWrites : public platform::ForwardingDevice {
 public:
  FailingWrites(std::shared_ptr<platform::BlockDevice> inner, std::shared_ptr<bool> failing,
                std::shared_ptr<BadBytes> bad)
      : ForwardingDevice(std::move(inner)), failing_(std::move(failing)), bad_(std::move(bad)) {}
  bool Read(uint64_t offset, void* buffer, size_t size) override {
    if (offset < bad_->end && offset + size > bad_->first) return false;
    return inner_->Read(offset, buffer, size);
  }
  bool Write(uint64_t offset, const void* buffer, size_t size) override {
    if (*failing_) {
      ++refused;
      return false;
    }
    return inner_->Write(offset, buffer, size);
  }
  int refused = 0;

 private:
  std::shared_ptr<bool> failing_;
  std::shared_ptr<BadBytes> bad_;
};

inline std::function<void()>& EngineBody() {
  static std::function<void()> body;
  return body;
}
inline void RunEngineBody() {
  if (EngineBody()) EngineBody()();
}

class EngineImageTest : public NtfsScanTest {
 protected:
  void SetUp() override {
    NtfsScanTest::SetUp();
    platform::SetVirtualSleep(true);
    platform::SetNtfsFlushDelay(kFlushMs);
    fx_ = &testsupport::SharedNtfsFixture();
    original_ = testsupport::ReadFileBytes(fx_->Path());
    ASSERT_FALSE(original_.empty());
    failing_ = std::make_shared<bool>(false);
    bad_ = std::make_shared<BadBytes>();
    platform::SetDeviceWrapper('n', [this](std::shared_ptr<platform::BlockDevice> d) {
      device_ = std::dynamic_pointer_cast<platform::MemoryDevice>(d);
      return std::make_shared<FailingWrites>(std::move(d), failing_, bad_);
    });
    Reset_Move_State();
    Set_Optimiser(&RunEngineBody);
  }
  void TearDown() override {
    EngineBody() = nullptr;
    Set_Optimiser(nullptr);
    Reset_Move_State();
    NtfsScanTest::TearDown();
    platform::SetNtfsFlushDelay(platform::kNtfsDefaultFlushDelayMs);
  }

  // The Defrag's scan on the fixture in use, `body` where the optimiser
  // would run; the report lines.
  std::vector<std::string> Defrag(std::function<void()> body) {
    EXPECT_TRUE(Open(original_, {"pagefile.sys"}));
    EXPECT_NE(VolumeSession.SharedMode, 0) << "the busy file keeps the volume in use";
    EngineBody() = std::move(body);
    DefragMode = 0;
    Reset_Move_State();
    return Run(true);
  }

  Long Record(const std::string& path) const {
    int64_t record = 0;
    std::string error;
    EXPECT_TRUE(testsupport::LibntfsRecordNumber(fx_->Path(), path, record, error)) << error;
    return Long(record);
  }

  // The volume as it is now, written to an image file for the other readers.
  // The moves the file system still holds in memory reach the device first,
  // as they do at the end of a run.
  std::string Saved() const {
    if (VolumeSession.VolumeHandle != -1)
      nt::NtFlushBuffersFile(VolumeSession.VolumeHandle, nullptr);
    const std::string path = testsupport::TempPath("engine.img");
    EXPECT_TRUE(device_ != nullptr);
    EXPECT_TRUE(testsupport::WriteFileBytes(path, device_->Bytes()));
    return path;
  }

  // Every file of the fixture, read through one fresh libntfs-3g mount of
  // the volume, holds what was written; ntfsfix finds nothing to mend.
  void ExpectEveryFileIntact() const {
    if (VolumeSession.VolumeHandle != -1)
      nt::NtFlushBuffersFile(VolumeSession.VolumeHandle, nullptr);
    platform::DriverContext context;
    context.letter = 'z';
    context.fileSystem = "NTFS";
    context.device = std::make_shared<platform::MemoryDevice>(device_->Bytes());
    std::string error;
    auto driver = platform::CreateNtfsDriver(context, error);
    ASSERT_TRUE(driver) << "libntfs-3g no longer mounts the volume: " << error;
    int files = 0;
    for (const testsupport::NtfsFixtureEntry& e : fx_->Entries()) {
      if (e.flags & (testsupport::kNtfsFolder | testsupport::kNtfsNamedStream)) continue;
      std::unique_ptr<platform::DriverFile> file;
      ASSERT_EQ(driver->Open(e.path, file), nt::STATUS_SUCCESS) << e.path;
      std::vector<uint8_t> data(e.size);
      for (uint64_t at = 0; at < e.size;) {
        uint32_t got = 0;
        const auto want = static_cast<uint32_t>(std::min<uint64_t>(1 << 20, e.size - at));
        ASSERT_EQ(file->Read(at, data.data() + at, want, got), nt::STATUS_SUCCESS) << e.path;
        ASSERT_GT(got, 0u) << e.path;
        at += got;
      }
      ASSERT_TRUE(data == testsupport::ExpectedContent(e)) << e.path << " changed";
      ++files;
    }
    EXPECT_GT(files, 600);
    std::string out;
    EXPECT_EQ(testsupport::RunCommand("ntfsfix -n " + testsupport::ShellQuote(Saved()), out), 0)
        << out;
  }

  std::vector<testsupport::LibntfsRun> Runs(const std::string& path) const {
    std::vector<testsupport::LibntfsRun> runs;
    std::string error;
    EXPECT_TRUE(testsupport::LibntfsRunlist(Saved(), path, runs, error)) << error;
    return runs;
  }

  // The free segment that holds cluster C; 0 when none.
  static Long SegmentOf(int64_t C) {
    for (int64_t i = 1; i <= Allocation.FreeCount; ++i)
      if (C >= Allocation.FreeStarts(i) &&
          C < int64_t{Allocation.FreeStarts(i).Value()} + Allocation.FreeLengths(i).Value())
        return Long(i);
    return 0;
  }

  static constexpr uint64_t kFlushMs = 3000;
  const testsupport::NtfsFixture* fx_ = nullptr;
  std::vector<uint8_t> original_;
  std::shared_ptr<bool> failing_;
  std::shared_ptr<BadBytes> bad_;
  std::shared_ptr<platform::MemoryDevice> device_;
};

}  // namespace vr::test
