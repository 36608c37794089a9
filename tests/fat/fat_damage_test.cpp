// Damaged allocation tables on real volumes: each fault ends in its recorded
// text, never in a crash or an endless walk. Volumes that are not FAT12 or
// FAT16 with 512-byte sectors, FATs too short for the volume and failed
// reads are refused with the error recorded.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "fat/fat_test_session.h"
#include "support/fat_fixtures.h"

namespace vr {
namespace {

using testsupport::FatVolume;

class FatDamage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    fat16_ = new FatVolume(testsupport::MakeFat16Fixture("damage16"));
    fat12_ = new FatVolume(testsupport::MakeFat12Fixture("damage12"));
  }
  static void TearDownTestSuite() {
    std::remove(fat16_->Path().c_str());
    std::remove(fat12_->Path().c_str());
    delete fat16_;
    delete fat12_;
  }
  static std::vector<uint8_t> Image(const FatVolume& v) {
    return testsupport::ReadImageFile(v.Path());
  }
  // A free cluster well inside the volume.
  static uint32_t FreeCluster(const std::vector<uint8_t>& image) {
    const auto layout = testsupport::ParseFatLayout(image);
    for (uint32_t c = layout.clusters + 1; c >= 2; --c)
      if (testsupport::PlainFatEntry(image, c) == 0) return c;
    ADD_FAILURE() << "no free cluster";
    return 0;
  }
  static FatVolume* fat16_;
  static FatVolume* fat12_;
};
FatVolume* FatDamage::fat16_ = nullptr;
FatVolume* FatDamage::fat12_ = nullptr;

TEST_F(FatDamage, AChainLoopingBackIntoItselfIsAnInvalidChain) {
  for (const FatVolume* v : {fat16_, fat12_}) {
    std::vector<uint8_t> image = Image(*v);
    const std::vector<uint32_t> frag = v->ShowFat("FRAG.BIN");
    testsupport::PatchFatEntry(image, frag.back(), frag[1]);
    FatImageSession session(image);
    ASSERT_TRUE(Load_FAT());
    EXPECT_EQ(ChainClusters(frag.front()), std::vector<uint32_t>{}) << v->Path();
    EXPECT_EQ(ErrorState.ErrorText, "Invalid chain");
    EXPECT_EQ(ErrorState.ErrorCount, 1);
    EXPECT_EQ(ErrorState.Failed, -1);
  }
}

TEST_F(FatDamage, AContiguousFileWhoseEndPointsToItsStartIsCaught) {
  std::vector<uint8_t> image = Image(*fat16_);
  const std::vector<uint32_t> page = fat16_->ShowFat("pagefile.sys");
  ASSERT_EQ(testsupport::Runs(page).size(), 1u);
  testsupport::PatchFatEntry(image, page.back(), page.front());
  FatImageSession session(image);
  ASSERT_TRUE(Load_FAT());
  Long total = -1;
  ChainClusters(page.front(), &total);
  EXPECT_EQ(total, 0);
  EXPECT_EQ(ErrorState.ErrorText, "Invalid chain");
  EXPECT_EQ(ErrorState.ErrorCount, 1);
}

TEST_F(FatDamage, AChainIntoAFreeClusterIsAnInvalidChain) {
  for (const FatVolume* v : {fat16_, fat12_}) {
    std::vector<uint8_t> image = Image(*v);
    const std::vector<uint32_t> file = v->ShowFat("GAMES/LEVELS/BONUS/SECRET.DAT");
    ASSERT_GE(file.size(), 3u);
    const uint32_t free = FreeCluster(image);
    testsupport::PatchFatEntry(image, file[1], free);
    FatImageSession session(image);
    ASSERT_TRUE(Load_FAT());
    VbArray<Long> lengths, starts;
    // The two clusters before the jump are the completed segment.
    EXPECT_EQ(FAT_Chain(file[0], lengths, starts), 2) << v->Path();
    EXPECT_EQ(ErrorState.ErrorText, "Invalid chain");
    EXPECT_EQ(ErrorState.ErrorCount, 1);
    ASSERT_EQ(lengths.UBound(), 2);
    EXPECT_EQ(starts(2), static_cast<int32_t>(free));
    EXPECT_EQ(lengths(2), 0);
  }
}

TEST_F(FatDamage, AClusterPastTheVolumeIsAnInvalidCluster) {
  for (const FatVolume* v : {fat16_, fat12_}) {
    std::vector<uint8_t> image = Image(*v);
    const auto layout = testsupport::ParseFatLayout(image);
    const std::vector<uint32_t> file = v->ShowFat("DOCS/REPORT.TXT");
    testsupport::PatchFatEntry(image, file[0], layout.clusters + 2);  // MaxCluster + 1
    FatImageSession session(image);
    ASSERT_TRUE(Load_FAT());
    Long total = -1;
    ChainClusters(file[0], &total);
    EXPECT_EQ(total, 0) << v->Path();
    EXPECT_EQ(ErrorState.ErrorText, "Invalid cluster");
    EXPECT_EQ(ErrorState.ErrorCount, 1);
    EXPECT_EQ(ErrorState.Failed, -1);
  }
}

TEST_F(FatDamage, AChainIntoTheReservedClusterOneIsAnInvalidCluster) {
  std::vector<uint8_t> image = Image(*fat16_);
  const std::vector<uint32_t> file = fat16_->ShowFat("DOCS/REPORT.TXT");
  testsupport::PatchFatEntry(image, file[0], 1);
  FatImageSession session(image);
  ASSERT_TRUE(Load_FAT());
  Long total = -1;
  ChainClusters(file[0], &total);
  EXPECT_EQ(total, 0);
  EXPECT_EQ(ErrorState.ErrorText, "Invalid cluster");
}

TEST_F(FatDamage, ABadClusterMarkEndsTheChainWithoutAnError) {
  for (const FatVolume* v : {fat16_, fat12_}) {
    std::vector<uint8_t> image = Image(*v);
    const std::vector<uint32_t> file = v->ShowFat("GAMES/LEVELS/BONUS/SECRET.DAT");
    testsupport::PatchFatEntry(image, file[2], v == fat16_ ? 0xFFF7 : 0xFF7);
    FatImageSession session(image);
    ASSERT_TRUE(Load_FAT());
    EXPECT_EQ(ChainClusters(file[0]), (std::vector<uint32_t>{file[0], file[1], file[2]}));
    EXPECT_EQ(ErrorState.ErrorCount, 0);
    EXPECT_TRUE(ErrorState.ErrorText.empty());
  }
}

// Passes reads on until armed, then fails them.
class FailingDevice : public platform::ForwardingDevice {
 public:
  explicit FailingDevice(std::shared_ptr<platform::BlockDevice> inner)
      : ForwardingDevice(std::move(inner)) {}
  bool Read(uint64_t offset, void* buffer, size_t size) override {
    return !armed && inner_->Read(offset, buffer, size);
  }
  static inline bool armed = false;
};

TEST_F(FatDamage, AFailedFatReadIsAReadError) {
  FailingDevice::armed = false;
  FatImageSession session(Image(*fat16_), [](std::shared_ptr<platform::BlockDevice> inner) {
    return std::make_shared<FailingDevice>(std::move(inner));
  });
  FailingDevice::armed = true;
  EXPECT_FALSE(Load_FAT());
  FailingDevice::armed = false;
  EXPECT_EQ(ErrorState.ErrorText, "Error reading drive");
  EXPECT_EQ(ErrorState.ReadFault, -1);
  EXPECT_EQ(ErrorState.Failed, -1);
  EXPECT_EQ(ErrorState.ErrorCount, 1);
}

// Load_FAT on a boot sector that is refused before anything is read: with
// no volume open, any read would record "Error reading drive" instead.
void LoadBootSectorOnly(const std::vector<uint8_t>& image, Long totalClusters) {
  ResetErrorState();
  VolumeSession.VolumeHandle = -1;
  for (int k = 0; k < 512; ++k) VolumeSession.BootSector(k) = image.at(static_cast<size_t>(k));
  VolumeSession.TotalClusters = totalClusters;
  EXPECT_FALSE(Load_FAT());
  EXPECT_EQ(ErrorState.ErrorCount, 1);
  EXPECT_EQ(ErrorState.Failed, -1);
  EXPECT_EQ(ErrorState.ReadFault, 0);
}

TEST(FatRefusal, Fat32IsRefusedByName) {
  const FatVolume v = testsupport::MakeFat32Fixture("refuse32");
  const testsupport::RemoveOnExit cleanup{v.Path()};
  LoadBootSectorOnly(testsupport::ReadImageFile(v.Path()), 100000);
  EXPECT_EQ(ErrorState.ErrorText, "Unsupported File System: FAT32");
}

TEST(FatRefusal, ExFatIsRefusedByName) {
  std::vector<uint8_t> boot(512, 0);
  const std::string oem = "EXFAT   ";
  std::copy(oem.begin(), oem.end(), boot.begin() + 3);
  boot[510] = 0x55;
  boot[511] = 0xAA;
  LoadBootSectorOnly(boot, 1000);
  EXPECT_EQ(ErrorState.ErrorText, "Unsupported File System: exFAT");
}

TEST(FatRefusal, SectorsOtherThan512BytesAreRefused) {
  testsupport::FatFormat f;
  f.fatBits = 16;
  f.sectors = 80000;
  f.sectorsPerCluster = 1;
  f.sectorSize = 4096;
  const FatVolume v(testsupport::FatImagePath("refuse4k"), f);
  const testsupport::RemoveOnExit cleanup{v.Path()};
  LoadBootSectorOnly(testsupport::ReadImageFile(v.Path()), 5000);
  EXPECT_EQ(ErrorState.ErrorText,
            "FAT16 volume with 4096 bytes per sector: only 512-byte sectors are supported");
}

TEST_F(FatDamage, AFatTooShortForTheClustersIsRefused) {
  std::vector<uint8_t> image = Image(*fat16_);
  image[0x16] = 8;  // 8 sectors hold 4096 entries; the volume has about 20000 clusters
  image[0x17] = 0;
  LoadBootSectorOnly(image, 20000);
  EXPECT_EQ(ErrorState.ErrorText, "FAT too small for the clusters of the volume");
}

TEST_F(FatDamage, MoreClustersReportedThanTheBootSectorHoldsAreCut) {
  const std::vector<uint8_t> image = Image(*fat16_);
  FatImageSession session(image);
  VolumeSession.TotalClusters = 60000;
  ASSERT_TRUE(Load_FAT());
  EXPECT_EQ(MaxCluster, static_cast<int32_t>(testsupport::ParseFatLayout(image).clusters + 1));
}

}  // namespace
}  // namespace vr
