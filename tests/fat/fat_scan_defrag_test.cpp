// A Defrag's scan ends where the optimiser would take over: it says plainly
// that FAT optimisation is not available, and a volume whose highest cluster
// numbers collide with the reserved FAT values is never optimised.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fat/fat_scan_harness.h"

namespace vr::fat::test {
namespace {

using testsupport::FatFormat;
using testsupport::FatVolume;

constexpr const char* kNotAvailable = "FAT optimisation is not available yet.";

class FatScanDefrag : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    fat12_ = new FatVolume(testsupport::MakeFat12Fixture("defrag12"));
  }
  static void TearDownTestSuite() {
    std::remove(fat12_->Path().c_str());
    delete fat12_;
  }
  static FatVolume* fat12_;
};
FatVolume* FatScanDefrag::fat12_ = nullptr;

TEST_F(FatScanDefrag, AFragmentedVolumeEndsWhereTheOptimiserWouldRun) {
  ScanOptions defrag;
  defrag.defrag = 0;
  const ScanResult r = RunScan(testsupport::ReadImageFile(fat12_->Path()), defrag);
  EXPECT_TRUE(r.Has(kNotAvailable)) << ::testing::PrintToString(r.lines);
  EXPECT_EQ(r.ColourOf(kNotAvailable), kLightRed);
  EXPECT_EQ(r.lines.back(), kNotAvailable);
  EXPECT_EQ(FragmentedFiles, FragChains);
  EXPECT_GT(FragmentedFiles, 0);
  EXPECT_NE(ErrorState.Failed, 0);  // the command did not do its work
  EXPECT_TRUE(r.raw.empty());       // a Defrag does not list fragmented files
  EXPECT_EQ(r.closings, 1);
  EXPECT_EQ(r.legend, (std::vector<std::string>{"Sys", "File", "BigFile", "Frag", "Moving", "Moved",
                                                "Empty", "Partial"}));
}

TEST_F(FatScanDefrag, NothingToMendIsNoRefusalUnlessPackingWasAsked) {
  FatVolume v(testsupport::FatImagePath("tidy16"), FatFormat{});
  testsupport::RemoveOnExit cleanup{v.Path()};
  v.Write("ONE.BIN", 4000, 1);
  const std::vector<uint8_t> image = testsupport::ReadImageFile(v.Path());
  ScanOptions defrag;
  defrag.defrag = 0;
  ScanResult r = RunScan(image, defrag);
  EXPECT_FALSE(r.Has(kNotAvailable));
  EXPECT_EQ(ErrorState.Failed, 0);
  EXPECT_EQ(r.closings, 1);
  defrag.defrag = 1;
  r = RunScan(image, defrag);
  EXPECT_TRUE(r.Has(kNotAvailable));
}

TEST_F(FatScanDefrag, AStoppedScanIsNotHandedOver) {
  ScanOptions defrag;
  defrag.defrag = 1;
  defrag.stopAfter = 1;
  const ScanResult r = RunScan(testsupport::ReadImageFile(fat12_->Path()), defrag);
  EXPECT_FALSE(r.Has(kNotAvailable));
  EXPECT_TRUE(r.Has("User stop"));
  EXPECT_EQ(DefragMode, -1);
}

TEST_F(FatScanDefrag, AVolumeOf4082ClustersIsReadButNotOptimised) {
  FatFormat f;
  f.fatBits = 12;
  f.sectors = 4139;  // 4082 one-sector clusters after 1 + 2 x 12 + 32 system sectors
  f.rootEntries = 512;
  FatVolume v(testsupport::FatImagePath("w4082"), f);
  testsupport::RemoveOnExit cleanup{v.Path()};
  const std::vector<uint8_t> formatted = testsupport::ReadImageFile(v.Path());
  ASSERT_EQ(testsupport::ParseFatLayout(formatted).clusters, 4082u);
  // A file over the clusters whose numbers equal the old reserved values.
  v.Write("HEAD.BIN", 4070 * 512, 5);
  v.Write("TAIL.BIN", 10 * 512, 6);
  const std::vector<uint8_t> image = testsupport::ReadImageFile(v.Path());
  const std::vector<uint32_t> tail = v.ShowFat("TAIL.BIN");
  ASSERT_GE(tail.back(), 0xFF0u);

  const ScanResult view = RunScan(image);
  EXPECT_TRUE(view.Has("User files=2,  Folders=0")) << ::testing::PrintToString(view.lines);
  EXPECT_TRUE(view.Has("Fragmented files=0"));
  EXPECT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;

  ScanOptions defrag;
  defrag.defrag = 1;
  const ScanResult r = RunScan(image, defrag);
  const std::string refusal =
      "FAT12 volume of 4082 clusters: its highest cluster numbers collide with reserved FAT"
      " values, so it is read but not optimised.";
  EXPECT_TRUE(r.Has(refusal)) << ::testing::PrintToString(r.lines);
  EXPECT_FALSE(r.Has(kNotAvailable));
  EXPECT_NE(ErrorState.Failed, 0);
  EXPECT_EQ(r.closings, 1);
}

TEST_F(FatScanDefrag, AVolumeInUseIsLeftToTheFileSystemsMoves) {
  ScanOptions defrag;
  defrag.defrag = 0;
  defrag.busy = {"FRAG.BIN"};
  const ScanResult r = RunScan(testsupport::ReadImageFile(fat12_->Path()), defrag);
  ASSERT_NE(VolumeSession.SharedMode, 0);
  EXPECT_EQ(r.raw, std::vector<std::string>{"F:\\FRAG.BIN (busy)"});
  EXPECT_FALSE(r.Has(kNotAvailable));
  EXPECT_EQ(ErrorState.Failed, 0);
  // The list is left for the optimiser that follows.
  EXPECT_EQ(r.listFills, 0);
  EXPECT_EQ(r.closings, 1);
}

}  // namespace
}  // namespace vr::fat::test
