// Whole commands on FAT12 and FAT16 volumes made by mkfs.fat and filled by
// mtools, damaged the ways the damage campaign found clean ends on: each
// damage fsck.fat -n reports stops the Checked View (exclusive and shared)
// and the Defrag with its recorded line and exit status 1, the optimiser is
// never reached, and the image is byte for byte what it was.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "app/damaged_image_run.h"
#include "support/fat_fixtures.h"
#include "support/volume_images.h"

namespace vr::test {
namespace {

using testsupport::FatVolume;

class DamagedFat : public testing::Test {
 protected:
  static void SetUpTestSuite() {
    volumes_ = new std::vector<FatVolume>;
    volumes_->push_back(testsupport::MakeFat12Fixture("finding12"));
    volumes_->push_back(testsupport::MakeFat16Fixture("finding16"));
  }
  static void TearDownTestSuite() {
    for (const FatVolume& v : *volumes_) std::remove(v.Path().c_str());
    delete volumes_;
    platform::ResetPlatform();
  }
  // Byte offset of the root entry named `name83` ("LAST    BIN").
  static size_t RootEntry(const std::vector<uint8_t>& image, const std::string& name83) {
    const auto l = testsupport::ParseFatLayout(image);
    for (size_t k = 0; k < l.rootEntries; ++k) {
      const size_t at = l.rootDirSector * 512 + k * 32;
      if (std::string(reinterpret_cast<const char*>(&image[at]), 11) == name83) return at;
    }
    ADD_FAILURE() << "no entry " << name83;
    return 0;
  }
  static void Put(std::vector<uint8_t>& image, size_t at, uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) image.at(at + i) = static_cast<uint8_t>(value >> (8 * i));
  }
  // Free clusters from the end of the volume.
  static std::vector<uint32_t> FreeClusters(const std::vector<uint8_t>& image, size_t n) {
    std::vector<uint32_t> free;
    const auto l = testsupport::ParseFatLayout(image);
    for (uint32_t c = l.clusters + 1; c >= 2 && free.size() < n; --c)
      if (testsupport::PlainFatEntry(image, c) == 0) free.push_back(c);
    EXPECT_EQ(free.size(), n);
    return free;
  }
  static bool FsckAccepts(const std::vector<uint8_t>& image) {
    const std::string copy = testsupport::FatImagePath("finding-check.img");
    testsupport::WriteImageFile(copy, image);
    const int status = testsupport::RunFatTool("fsck.fat -n " + copy + " >/dev/null 2>&1");
    std::remove(copy.c_str());
    return status == 0;
  }
  // "File/Folder chains=" of the Fast View of the healthy volume.
  static std::string Chains(const std::vector<uint8_t>& image) {
    for (const std::string& line : RunOnImage(image, kFastExclusive).lines)
      if (line.rfind("File/Folder chains=", 0) == 0) return line.substr(19);
    ADD_FAILURE() << "no chain count";
    return "";
  }
  static std::vector<FatVolume>* volumes_;
};
std::vector<FatVolume>* DamagedFat::volumes_ = nullptr;

TEST_F(DamagedFat, EntriesThatClaimWhatTheyCannotOwnStopTheCheckedViewsAndTheDefrag) {
  for (const FatVolume& v : *volumes_) {
    SCOPED_TRACE(v.Path());
    const std::vector<uint8_t> clean = testsupport::ReadImageFile(v.Path());
    ASSERT_TRUE(FsckAccepts(clean));
    struct Case {
      const char* what;
      std::function<void(std::vector<uint8_t>&)> damage;
      std::string line;
    };
    const std::vector<Case> cases = {
        {"a volume label with a start cluster (a file's first)",
         [&](std::vector<uint8_t>& im) {
           Put(im, RootEntry(im, "VODURU     ") + 26, v.ShowFat("LAST.BIN")[0], 2);
         },
         "Err=Label entry: C:\\VODURU"},
        {"a volume label with a size",
         [&](std::vector<uint8_t>& im) { Put(im, RootEntry(im, "VODURU     ") + 28, 32768, 4); },
         "Err=Label entry: C:\\VODURU"},
        {"a folder with a size",
         [&](std::vector<uint8_t>& im) { Put(im, RootEntry(im, "GAMES      ") + 28, 4096, 4); },
         "Err=Folder size: C:\\GAMES"},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      std::vector<uint8_t> image = clean;
      c.damage(image);
      EXPECT_FALSE(FsckAccepts(image));
      ExpectStopsWith(image, c.line, {kCheckedExclusive, kCheckedShared, kDefrag});
    }
  }
}

// Clusters allocated in the FAT that lead round in a circle have no chain
// head: the chain pass met no chain there, so entries and chains agreed and
// a lost cluster pointing to itself ended clean. Each circle now counts as
// a chain no entry owns.
TEST_F(DamagedFat, ClustersInACircleNoEntryReachesAreALostChain) {
  for (const FatVolume& v : *volumes_) {
    SCOPED_TRACE(v.Path());
    const std::vector<uint8_t> clean = testsupport::ReadImageFile(v.Path());
    const int chains = std::stoi(Chains(clean));
    const std::string line =
        "Files+Dirs=" + std::to_string(chains) + " <> Chains=" + std::to_string(chains + 1);
    const std::vector<uint32_t> free = FreeClusters(clean, 2);
    std::vector<uint8_t> one = clean;  // a cluster that is its own successor
    testsupport::PatchFatEntry(one, free[0], free[0]);
    std::vector<uint8_t> two = clean;  // two clusters pointing at each other
    testsupport::PatchFatEntry(two, free[0], free[1]);
    testsupport::PatchFatEntry(two, free[1], free[0]);
    for (const std::vector<uint8_t>* image : {&one, &two}) {
      EXPECT_FALSE(FsckAccepts(*image));
      ExpectStopsWith(*image, line, {kCheckedExclusive, kCheckedShared, kDefrag});
    }
  }
}

// The optimiser writes its table to every FAT copy; copies that disagree
// mean one is damaged and the scan cannot tell which, so it stops. The
// copies are found after the reserved sectors, also on mkfs.fat's default
// layout with more than one.
TEST_F(DamagedFat, FatCopiesThatDisagreeStopTheCheckedViewsAndTheDefrag) {
  const FatVolume aligned = testsupport::MakeFat16DefaultReservedFixture("finding16r");
  const testsupport::RemoveOnExit cleanup{aligned.Path()};
  const std::vector<std::pair<const FatVolume*, std::string>> files = {
      {&(*volumes_)[0], "LAST.BIN"}, {&(*volumes_)[1], "LAST.BIN"}, {&aligned, "TAIL.BIN"}};
  for (const auto& [v, file] : files) {
    SCOPED_TRACE(v->Path());
    std::vector<uint8_t> image = testsupport::ReadImageFile(v->Path());
    const auto l = testsupport::ParseFatLayout(image);
    uint32_t c = 0;  // an even cluster in use: its entry starts at a byte boundary
    for (const uint32_t k : v->ShowFat(file))
      if (k % 2 == 0 && c == 0) c = k;
    ASSERT_NE(c, 0u);
    const size_t second = (l.reservedSectors + l.sectorsPerFat) * 512u;
    image.at(second + (l.bits == 12 ? c * 3 / 2 : c * 2)) ^= 1;  // the second copy only
    ASSERT_NE(testsupport::PlainFatEntry(image, c, 0), testsupport::PlainFatEntry(image, c, 1));
    EXPECT_FALSE(FsckAccepts(image));
    ExpectStopsWith(image, "Err=FAT copies differ: cluster " + std::to_string(c),
                    {kCheckedExclusive, kCheckedShared, kDefrag});
  }
}

TEST_F(DamagedFat, HealthyVolumesEndCleanInEveryView) {
  for (const FatVolume& v : *volumes_) {
    SCOPED_TRACE(v.Path());
    const std::vector<uint8_t> clean = testsupport::ReadImageFile(v.Path());
    for (const Mode& mode : {kCheckedExclusive, kCheckedShared, kFastExclusive, kFastShared}) {
      SCOPED_TRACE(mode.name);
      const HeadlessRun run = RunOnImage(clean, mode);
      EXPECT_FALSE(run.failed) << testing::PrintToString(run.lines);
    }
    EXPECT_TRUE(RunOnImage(clean, kDefrag).optimiserReached);
  }
}

}  // namespace
}  // namespace vr::test
