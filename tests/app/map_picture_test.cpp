// What the map picture shows on a repaint: the file distribution while the
// histogram flag is set, else the block map.
#include "app/map_picture.h"

#include <gtest/gtest.h>

#include "app/charts/size_chart.h"
#include "app/shell.h"
#include "fake_shell.h"
#include "map/recording_canvas.h"

namespace vr::test {
namespace {

class MapPictureTest : public ShellTest {
 protected:
  void SetUp() override {
    ShellTest::SetUp();
    canvas.Reset(400, 300);
    previous = SetPicMap(&canvas);
    Clear_Size_Buckets();
    SizeBuckets(3) = 4;
    SizeBuckets(12) = 2;
  }
  void TearDown() override {
    SetPicMap(previous);
    Clear_Size_Buckets();
    ShellTest::TearDown();
  }
  bool Shows(const std::string& text) const {
    for (const auto& t : canvas.texts)
      if (t.text == text) return true;
    return false;
  }
  RecordingCanvas canvas;
  MapCanvas* previous = nullptr;
};

TEST_F(MapPictureTest, RepaintKeepsTheFileDistributionWhileItIsShown) {
  Show_File_Distribution();
  EXPECT_EQ(HistoShown, kTrue);
  EXPECT_TRUE(Shows("File distribution by filesize in kilobytes  (6)"));
  canvas.Forget();
  SizeBuckets(0) = 1;  // a count added since
  picMap_Paint();
  EXPECT_EQ(canvas.clears, 1);
  EXPECT_TRUE(Shows("File distribution by filesize in kilobytes  (7)"));
}

TEST_F(MapPictureTest, AfterTheDisplayResetTheRepaintIsTheMapAgain) {
  Show_File_Distribution();
  Drive__Click();
  EXPECT_EQ(HistoShown, 0);
  canvas.Forget();
  picMap_Paint();
  for (const auto& t : canvas.texts)
    EXPECT_EQ(t.text.find("by filesize"), std::string::npos) << t.text;
}

}  // namespace
}  // namespace vr::test
