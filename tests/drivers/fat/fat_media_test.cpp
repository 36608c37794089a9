// The FAT driver's view of a volume's allocation: chains as a plain reader
// follows them, and clusters a move released held in use for the flush
// delay.
#include "drivers/fat/fat_media.h"

#include <gtest/gtest.h>

#include "platform/nt.h"
#include "platform/platform.h"
#include "support/fat_fixtures.h"
#include "support/volume_images.h"

namespace {

namespace ts = testsupport;
using platform::fat::FatMedia;

class FatMediaTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ResetPlatform();
    std::string error;
    const std::string img = ts::TempPath("media.img");
    ASSERT_TRUE(ts::MakeFatImage(img, 1440, 12, "", "", error)) << error;
    image_ = ts::ReadFileBytes(img);
  }
  void TearDown() override { platform::ResetPlatform(); }
  std::unique_ptr<FatMedia> Media() {
    auto mem = std::make_shared<platform::MemoryDevice>(image_);
    platform::VolumeFacts facts;
    std::string reason;
    EXPECT_EQ(platform::IdentifyVolume(*mem, facts, reason), platform::IdentifyResult::kOk);
    return std::make_unique<FatMedia>(mem, facts);
  }
  std::vector<uint8_t> image_;
};

TEST_F(FatMediaTest, ChainsFollowTheFatAndStopAtDamage) {
  // 5 -> 6 -> 9 -> end; 20 -> 21 -> 0 (free); 30 -> 31 -> 30 (loop);
  // 40 -> bad; 50 -> past the volume.
  ts::PatchFatEntry(image_, 5, 6);
  ts::PatchFatEntry(image_, 6, 9);
  ts::PatchFatEntry(image_, 9, 0xFFF);
  ts::PatchFatEntry(image_, 20, 21);
  ts::PatchFatEntry(image_, 30, 31);
  ts::PatchFatEntry(image_, 31, 30);
  ts::PatchFatEntry(image_, 40, 0xFF7);
  const ts::PlainFatLayout layout = ts::ParseFatLayout(image_);
  ts::PatchFatEntry(image_, 50, layout.clusters + 2);
  auto media = Media();
  ASSERT_EQ(media->Clusters(), layout.clusters);
  std::vector<uint32_t> chain;
  EXPECT_EQ(media->Chain(5, chain), nt::STATUS_SUCCESS);
  EXPECT_EQ(chain, ts::PlainChain(image_, 5));
  EXPECT_EQ(chain, (std::vector<uint32_t>{5, 6, 9}));
  EXPECT_EQ(media->Chain(20, chain), nt::STATUS_DISK_CORRUPT_ERROR);
  EXPECT_EQ(media->Chain(30, chain), nt::STATUS_DISK_CORRUPT_ERROR);
  EXPECT_EQ(media->Chain(40, chain), nt::STATUS_DISK_CORRUPT_ERROR);
  EXPECT_EQ(media->Chain(50, chain), nt::STATUS_DISK_CORRUPT_ERROR);
  EXPECT_EQ(media->Chain(1, chain), nt::STATUS_DISK_CORRUPT_ERROR);
  EXPECT_EQ(media->Chain(layout.clusters + 2, chain), nt::STATUS_DISK_CORRUPT_ERROR);
  // The last cluster of the volume is a valid chain of its own.
  ts::PatchFatEntry(image_, layout.clusters + 1, 0xFF8);
  media = Media();
  EXPECT_EQ(media->Chain(layout.clusters + 1, chain), nt::STATUS_SUCCESS);
}

TEST_F(FatMediaTest, ReleasedClustersStayInUseForTheFlushDelay) {
  platform::SetVirtualSleep(true);
  auto media = Media();
  bool inUse = true;
  ASSERT_EQ(media->InUse(10, inUse), nt::STATUS_SUCCESS);
  EXPECT_FALSE(inUse);
  media->HoldReleased(10, 3, platform::ClockMs() + 2000);
  for (uint32_t c = 9; c <= 13; ++c) {
    ASSERT_EQ(media->InUse(c, inUse), nt::STATUS_SUCCESS);
    EXPECT_EQ(inUse, c >= 10 && c <= 12) << c;
  }
  media->Invalidate();
  media->InUse(11, inUse);
  EXPECT_TRUE(inUse) << "a re-read of the volume does not end the delay";
  // The clock also counts the test's own running time, which a loaded
  // machine or a sanitizer build stretches: the checks keep a margin.
  nt::Sleep(1000);
  media->InUse(12, inUse);
  EXPECT_TRUE(inUse);
  nt::Sleep(1000);
  media->InUse(12, inUse);
  EXPECT_FALSE(inUse) << "free once the delay has passed";
  // Allocated clusters stay in use regardless.
  ASSERT_EQ(media->InUse(0, inUse), nt::STATUS_SUCCESS);
  EXPECT_TRUE(inUse) << "entry 0 holds the media byte";
}

}  // namespace
