// The viewer on a volume that fails to read, on a volume in use, and after
// a run-time error: a clear message, never a crash, never a write.
#include <gtest/gtest.h>

#include "platform/block_device.h"
#include "runtime/run_error.h"
#include "viewer_harness.h"
#include "volume/block_cache.h"
#include "volume/report.h"

namespace vr::test {
namespace {

using testsupport::ReadFileBytes;

// Passes reads on until told to fail them.
class SwitchDevice : public platform::ForwardingDevice {
 public:
  SwitchDevice(std::shared_ptr<platform::BlockDevice> inner, bool& fail)
      : ForwardingDevice(std::move(inner)), fail_(fail) {}
  bool Read(uint64_t offset, void* buffer, size_t size) override {
    return !fail_ && inner_->Read(offset, buffer, size);
  }
  bool Write(uint64_t offset, const void* buffer, size_t size) override {
    ++writes;
    return inner_->Write(offset, buffer, size);
  }
  static inline int writes = 0;

 private:
  bool& fail_;
};

TEST_F(ViewerTest, AFailedReadBeepsKeepsTheDisplayAndEndsInTheDiskErrorBox) {
  const auto& fixture = ViewerNtfsFixture();
  bool fail = false;
  SwitchDevice::writes = 0;
  platform::SetDeviceWrapper('c', [&](std::shared_ptr<platform::BlockDevice> inner) {
    return std::make_shared<SwitchDevice>(inner, fail);
  });
  platform::SetDriveMap({platform::DriveEntry{'c', fixture.Path(), {}}});
  main.drvUserText = "c: [VODURU]";
  bool ran = false;
  SetHexWindowOpener([&] {
    ran = true;
    viewer.Timer1_Timer();
    ASSERT_TRUE(viewer.Loaded());
    const ByteArray shown = viewer.Block();
    fail = true;
    Cache_Clear();  // nothing the scan cached earlier answers for the failing device
    const int beeps = window.beeps;
    Type(HexBox::Block, "100");
    viewer.TxtBlock_Enter();
    Type(HexBox::File, "40");
    viewer.TxtFile_Enter();
    EXPECT_EQ(window.beeps, beeps + 2);
    EXPECT_EQ(viewer.Block().Span().size(), shown.Span().size());
    EXPECT_TRUE(
        std::equal(shown.Span().begin(), shown.Span().end(), viewer.Block().Span().begin()));
    EXPECT_EQ(ErrorState.Failed, 0) << "the viewer stays usable";
    EXPECT_NE(ErrorState.ReadFault, 0);
    // A search over records that cannot be read ends: a beep for the
    // record it cannot show again, one for nothing found.
    viewer.Find(FindKind::Subdir);
    EXPECT_EQ(window.beeps, beeps + 4);
    EXPECT_EQ(window.unloads, 0);
    fail = false;
    viewer.TxtFile_Enter();
    EXPECT_EQ(viewer.CurrentRecord(), 40);
    viewer.Form_Unload();
  });
  Hex_View();
  SetHexWindowOpener(nullptr);
  EXPECT_TRUE(ran);
  ASSERT_EQ(main.boxes.size(), 1u);
  EXPECT_EQ(main.boxes[0].rfind("A serious disk error has occurred on this drive.", 0), 0u);
  EXPECT_EQ(VolumeSession.VolumeHandle, -1);
  EXPECT_EQ(SwitchDevice::writes, 0);
}

TEST_F(ViewerTest, ARunTimeErrorIsReportedAndClosesTheViewer) {
  Open(ViewerNtfsFixture().Path());
  window.onEvents = [] { Raise(kErrOverflow); };
  window.answer = "nothing like this";
  viewer.Find(FindKind::FileName);
  EXPECT_EQ(window.unloads, 1);
  EXPECT_FALSE(viewer.Searching());
  ASSERT_FALSE(main.Lines().empty());
  EXPECT_EQ(main.Lines().back().Text(), "Overflow");
  EXPECT_EQ(main.Lines().back().pieces.back().colour, kLightRed);
}

// Another program holds a file of the volume: it is opened shared, records
// come through the file system, and the viewer shows and finds the same.
TEST_F(ViewerTest, AVolumeInUseIsViewedThroughTheFileSystem) {
  const auto& fixture = ViewerNtfsFixture();
  const std::vector<uint8_t> before = ReadFileBytes(fixture.Path());
  Open(fixture.Path());
  ASSERT_EQ(VolumeSession.SharedMode, 0);
  const std::vector<uint8_t> exclusive(viewer.Block().data(), viewer.Block().data() + 1024);
  const auto twoNames = Matches(FindKind::TwoNames);
  viewer.Form_Unload();

  platform::SetDriveMap({platform::DriveEntry{'c', fixture.Path(), {"pagefile.sys"}}});
  RecordingHexWindow sharedWindow;
  HexViewer shared(sharedWindow);
  ASSERT_TRUE(Open_Hex_Volume("c: [VODURU]"));
  ASSERT_NE(VolumeSession.SharedMode, 0);
  shared.Timer1_Timer();
  ASSERT_TRUE(shared.Loaded()) << ErrorState.ErrorText;
  EXPECT_EQ(std::vector<uint8_t>(shared.Block().data(), shared.Block().data() + 1024), exclusive);
  sharedWindow.answer = "";
  std::vector<int64_t> found;
  const int beeps = sharedWindow.beeps;
  shared.Find(FindKind::TwoNames);
  while (sharedWindow.beeps == beeps) {
    found.push_back(shared.CurrentRecord().Value());
    shared.NextFile();
  }
  EXPECT_EQ(found, twoNames);
  shared.Form_Unload();
  EXPECT_EQ(ReadFileBytes(fixture.Path()), before);
}

}  // namespace
}  // namespace vr::test
