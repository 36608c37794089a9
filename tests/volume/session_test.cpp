#include "volume/session.h"

#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "platform/platform.h"
#include "volume/error_state.h"
#include "volume/recording_window.h"

namespace vr {
namespace {

// Passes transfers on and remembers where each read started.
class OffsetRecorder : public platform::ForwardingDevice {
 public:
  explicit OffsetRecorder(std::shared_ptr<platform::BlockDevice> inner)
      : ForwardingDevice(std::move(inner)) {}
  bool Read(uint64_t offset, void* b, size_t n) override {
    offsets.push_back(offset);
    return inner_->Read(offset, b, n);
  }
  // Claims a large device so that every position reaches Read.
  uint64_t Size() const override { return uint64_t{1} << 42; }
  static inline std::vector<uint64_t> offsets;
};

class SessionTest : public testing::Test {
 protected:
  void SetUp() override {
    platform::ResetPlatform();
    ResetErrorState();
    SetMainWindow(&window);
    std::vector<uint8_t> bytes(64 * 1024);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i / 512);
    platform::MapMemoryDrive('c', std::make_shared<platform::MemoryDevice>(bytes));
    OffsetRecorder::offsets.clear();
  }
  void TearDown() override {
    Close_Drive(VolumeSession.VolumeHandle);
    SetMainWindow(nullptr);
    platform::ResetPlatform();
  }
  RecordingMainWindow window;
};

TEST_F(SessionTest, ExclusiveOpenLocksTheVolume) {
  VolumeSession.VolumeHandle = Open_Lock_Drive("c:", kAccessReadWrite);
  ASSERT_NE(VolumeSession.VolumeHandle, -1);
  EXPECT_EQ(VolumeSession.SharedMode, 0);
  EXPECT_EQ(VolumeSession.NotLocked, 0);
  EXPECT_NE(VolumeSession.Locked, 0);
  EXPECT_EQ(Open_Drive("c:", kAccessRead, 3), -1) << "nobody else opens an exclusive volume";
  Close_Drive(VolumeSession.VolumeHandle);
  EXPECT_EQ(VolumeSession.VolumeHandle, -1);
  EXPECT_EQ(Close_Drive(VolumeSession.VolumeHandle), 0) << "closing twice is harmless";
  Long again = Open_Drive("c:", kAccessRead, 0);
  EXPECT_NE(again, -1) << "the close released the volume";
  Close_Drive(again);
}

TEST_F(SessionTest, VolumeOpenElsewhereFallsBackToShared) {
  Long other = Open_Drive("c:", kAccessRead, 3);  // another program's shared handle
  ASSERT_NE(other, -1);
  VolumeSession.VolumeHandle = Open_Lock_Drive("c:", kAccessRead);
  ASSERT_NE(VolumeSession.VolumeHandle, -1);
  EXPECT_EQ(VolumeSession.SharedMode, -1);
  EXPECT_EQ(VolumeSession.NotLocked, -1);
  EXPECT_EQ(VolumeSession.Locked, 0);
  nt::CloseHandle(other);
}

TEST_F(SessionTest, BusyFileInTheDriveMapForcesSharedMode) {
  std::vector<uint8_t> bytes(4096);
  platform::MapMemoryDrive('d', std::make_shared<platform::MemoryDevice>(bytes), {"pagefile.sys"});
  VolumeSession.VolumeHandle = Open_Lock_Drive("d:", kAccessRead);
  ASSERT_NE(VolumeSession.VolumeHandle, -1);
  EXPECT_EQ(VolumeSession.SharedMode, -1);
  EXPECT_EQ(VolumeSession.NotLocked, -1);
}

TEST_F(SessionTest, NoVolumeAtAllIsDriveBusy) {
  VolumeSession.VolumeHandle = Open_Lock_Drive("x:", kAccessRead);
  EXPECT_EQ(VolumeSession.VolumeHandle, -1);
  EXPECT_EQ(ErrorState.ErrorText, "Drive Busy");
  EXPECT_EQ(ErrorState.ErrorCount, 1);
  EXPECT_EQ(ErrorState.Failed, -1);
}

TEST_F(SessionTest, RawReadsAreSectorAddressed) {
  VolumeSession.VolumeHandle = Open_Lock_Drive("c:", kAccessRead);
  std::vector<uint8_t> buf(1024);
  ASSERT_TRUE(Raw_Read(7, buf));
  EXPECT_EQ(buf[0], 7);
  EXPECT_EQ(buf[1023], 8);
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

TEST_F(SessionTest, ReadPastTheEndIsAReadErrorNotAShortRead) {
  VolumeSession.VolumeHandle = Open_Lock_Drive("c:", kAccessRead);
  std::vector<uint8_t> buf(1024);
  EXPECT_FALSE(Raw_Read(127, buf));  // the last sector exists, the one after does not
  EXPECT_EQ(ErrorState.ErrorText, "Error reading drive");
  EXPECT_EQ(ErrorState.ReadFault, -1);
}

TEST_F(SessionTest, SeekSectorReachesPastTwoAndFourGigabytes) {
  platform::SetDeviceWrapper('c', [](std::shared_ptr<platform::BlockDevice> inner) {
    return std::make_shared<OffsetRecorder>(inner);
  });
  VolumeSession.VolumeHandle = Open_Lock_Drive("c:", kAccessRead);
  std::vector<uint8_t> buf(512);
  Raw_Read(4194304, buf);
  Raw_Read(8388608, buf);
  Raw_Read(0x7FFFFFFF, buf);
  ASSERT_EQ(OffsetRecorder::offsets.size(), 3u);
  EXPECT_EQ(OffsetRecorder::offsets[0], 2147483648ull);
  EXPECT_EQ(OffsetRecorder::offsets[1], 4294967296ull);
  EXPECT_EQ(OffsetRecorder::offsets[2], 0x7FFFFFFFull * 512);
}

TEST(WinVersion, ReportsTheEmulatedVersionAndServicePack) {
  platform::ResetPlatform();
  EXPECT_EQ(Win_Version(), "4.0.1381 Service Pack 6");
  platform::SetVersion(5, 1, 2600, "");
  EXPECT_EQ(Win_Version(), "5.1.2600");
  platform::ResetPlatform();
}

}  // namespace
}  // namespace vr
