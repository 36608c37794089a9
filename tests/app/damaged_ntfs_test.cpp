// Whole commands on NTFS volumes made by mkntfs and filled by libntfs-3g,
// healthy and damaged: a damaged copy stops every view it must stop with
// its recorded error and exit status 1, a Defrag never reaches the
// optimiser, and the image is byte for byte what it was.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/damaged_image_run.h"
#include "app/headless_run.h"
#include "drivers/builtin_drivers.h"
#include "platform/block_device.h"
#include "platform/platform.h"
#include "support/damaged_images.h"
#include "support/fat_fixtures.h"
#include "support/ntfs_fixtures.h"
#include "support/volume_images.h"

namespace vr::test {
namespace {

using testsupport::damage::Mft;
namespace damage = testsupport::damage;

class DamagedNtfs : public testing::Test {
 protected:
  void SetUp() override {
    if (testsupport::FindTool("mkntfs").empty()) GTEST_SKIP() << "mkntfs not installed";
    clean_ = testsupport::ReadFileBytes(testsupport::SharedNtfsFixture().Path());
    ASSERT_GT(clean_.size(), 1u << 20);
  }
  void TearDown() override { platform::ResetPlatform(); }

  HeadlessRun Run(const std::vector<uint8_t>& image, const Mode& mode) {
    return RunOnImage(image, mode);
  }
  // Every mode in `stopping` ends on "Err=" & text, fails and never reaches
  // the optimiser; a Defrag is always among them.
  void ExpectStops(const std::vector<uint8_t>& image, const std::string& text,
                   const std::vector<Mode>& stopping) {
    ExpectStopsWith(image, "Err=" + text, stopping);
  }

  std::vector<uint8_t> clean_;
};

TEST_F(DamagedNtfs, HealthyVolumeHasEveryClusterOwnedInEveryView) {
  for (const Mode& mode : {kCheckedExclusive, kCheckedShared, kFastExclusive, kFastShared}) {
    SCOPED_TRACE(mode.name);
    const HeadlessRun run = Run(clean_, mode);
    EXPECT_FALSE(run.failed) << testing::PrintToString(run.lines);
    for (const std::string& line : run.lines) {
      EXPECT_EQ(line.rfind("Bitmap:", 0), std::string::npos) << line;
      EXPECT_EQ(line.rfind("Err=", 0), std::string::npos) << line;
    }
  }
  // A Defrag gets as far as the optimiser.
  EXPECT_TRUE(Run(clean_, kDefrag).optimiserReached);
}

TEST_F(DamagedNtfs, ClustersClaimedByTwoFilesAreCrosslinked) {
  std::vector<uint8_t> image = clean_;
  Mft mft(image);
  const damage::CrossLink link = damage::LinkTwoFiles(mft);
  ASSERT_GT(link.victim, 0) << "no two files of one run of the same length";
  mft.Store();
  // The walk meets either file first; the second one is the cross-link.
  const std::string a = "Crosslinked " + std::to_string(link.victim) + " " + link.victimName;
  const std::string b = "Crosslinked " + std::to_string(link.owner) + " " + link.ownerName;
  for (const Mode& mode :
       {kCheckedExclusive, kCheckedShared, kFastExclusive, kFastShared, kDefrag}) {
    SCOPED_TRACE(mode.name);
    const HeadlessRun run = Run(image, mode);
    EXPECT_TRUE(run.failed);
    EXPECT_FALSE(run.optimiserReached);
    bool found = false;
    for (const std::string& line : run.lines)
      found = found || line == "Err=" + a || line == "Err=" + b;
    EXPECT_TRUE(found) << testing::PrintToString(run.lines);
  }
}

TEST_F(DamagedNtfs, AFileNoFolderReachesIsUnreferencedInEveryCheckedView) {
  std::vector<uint8_t> image = clean_;
  Mft mft(image);
  std::string name;
  const int64_t orphan = damage::OrphanCopy(mft, name);
  ASSERT_GT(orphan, 0);
  mft.Store();
  ExpectStops(image, "Unref. file " + std::to_string(orphan) + " " + name,
              {kCheckedExclusive, kCheckedShared, kDefrag});
}

TEST_F(DamagedNtfs, RecordHeadersOutOfRangeAreRecordedWithTheirNumber) {
  const std::vector<std::pair<int, uint32_t>> fields = {
      {0x18, 0x500},  // bytes in use beyond the record
      {0x1C, 0x800},  // allocated size of another record size
      {0x14, 0x3F0},  // first attribute past the bytes in use
      {0x06, 9},      // update sequence of another record size
      {0x16, 0},      // a file the folder names, in a record marked free
  };
  for (const auto& [offset, value] : fields) {
    SCOPED_TRACE(offset);
    std::vector<uint8_t> image = clean_;
    Mft mft(image);
    const int64_t r = mft.FindUserFile();
    ASSERT_GT(r, 0);
    mft.PokeHeader(r, offset, value);
    ExpectStops(image, "Record " + std::to_string(r) + " header",
                {kCheckedExclusive, kFastExclusive, kDefrag});
    // Shared, the file system reads the record: a broken update sequence is
    // its corrupt-record status, any other field the decoder's own check.
    ExpectStops(image, offset == 0x06 ? "Sts=C0000032" : "Record " + std::to_string(r) + " header",
                {kCheckedShared});
  }
}

TEST_F(DamagedNtfs, AnAttributeNameLeavingItsAttributeIsSkip) {
  std::vector<uint8_t> image = clean_;
  Mft mft(image);
  const int64_t r = mft.BreakAttributeName();
  ASSERT_GT(r, 0);
  mft.Store();
  ExpectStops(image, "Skip", {kCheckedExclusive, kFastExclusive, kDefrag});
}

// The file system moves clusters into what its own bitmap calls free: a
// cluster a file uses but the bitmap calls free stops every view, shared
// ones included, and no Defrag ever hands such a volume over.
TEST_F(DamagedNtfs, ClustersInUseThatTheBitmapCallsFreeStopEveryView) {
  std::vector<uint8_t> image = clean_;
  Mft mft(image);
  // A user file with a run of at least two clusters.
  int64_t lcn = -1;
  for (int64_t r = 24; r < mft.Records() && lcn < 0; ++r) {
    if (!mft.IsBase(r) || mft.IsFolder(r)) continue;
    const int64_t a = mft.Attribute(r, 0x80);
    const std::vector<uint8_t>& b = mft.Record(r);
    if (a < 0 || b[a + 8] == 0) continue;
    const auto runs =
        damage::DecodeRuns(b, a + (b[a + 0x20] | b[a + 0x21] << 8), a + (b[a + 4] | b[a + 5] << 8));
    if (!runs.empty() && runs[0].second >= 2) lcn = runs[0].first;
  }
  ASSERT_GT(lcn, 0);
  const int64_t bitmap = mft.Attribute(6, 0x80);
  const std::vector<uint8_t>& b6 = mft.Record(6);
  const auto bitmapRuns =
      damage::DecodeRuns(b6, bitmap + (b6[bitmap + 0x20] | b6[bitmap + 0x21] << 8),
                         bitmap + (b6[bitmap + 4] | b6[bitmap + 5] << 8));
  ASSERT_EQ(bitmapRuns.size(), 1u);
  const int64_t clusterBytes = int64_t{image[0x0D]} * 512;
  for (const int64_t c : {lcn, lcn + 1}) {
    uint8_t& byte = image.at(static_cast<size_t>(bitmapRuns[0].first * clusterBytes + c / 8));
    ASSERT_NE(byte & (1u << (c % 8)), 0u);
    byte = static_cast<uint8_t>(byte & ~(1u << (c % 8)));
  }
  ExpectStopsWith(image, "Bitmap: unmarked=2",
                  {kCheckedExclusive, kCheckedShared, kFastExclusive, kFastShared, kDefrag});
  // Shared, the clusters the bitmap holds and the scan does not are other
  // programs' business: no "excess" line there.
  for (const std::string& line : Run(image, kCheckedShared).lines)
    EXPECT_EQ(line.rfind("Bitmap: excess=", 0), std::string::npos) << line;
}

// An attribute that cannot be read as what its header says (libntfs-3g
// refuses to open such a record): the decode records the record's number in
// every view. The $FILE_NAME offset past the record ended the Fast View in a
// bare "Subscript out of range".
TEST_F(DamagedNtfs, AnAttributeThatCannotBeReadAsItsHeaderSaysIsRecordedWithTheRecord) {
  struct Case {
    const char* what;
    int type;
    int field;  // in the attribute: 0 type, 0x10 value length, 0x14 value offset
    int width;
    uint32_t value;
  };
  const std::vector<Case> cases = {
      {"$STANDARD_INFORMATION value offset one byte on", 0x10, 0x14, 2, 0x19},
      {"$STANDARD_INFORMATION value length with a high bit", 0x10, 0x10, 4, 0x10000030},
      {"$FILE_NAME value offset past the record", 0x30, 0x14, 2, 0x1018},
      {"$FILE_NAME value offset off the 8-byte grid", 0x30, 0x14, 2, 0x1A},
      {"$FILE_NAME value too short for its name", 0x30, 0x10, 4, 0x44},
      {"$FILE_NAME type with a high bit", 0x30, 0, 4, 0x80000030},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<uint8_t> image = clean_;
    Mft mft(image);
    const int64_t r = mft.FindUserFile();
    ASSERT_GT(r, 0);
    const std::string name = mft.Name(r);
    std::vector<uint8_t>& b = mft.Record(r);
    const int64_t a = mft.Attribute(r, c.type);
    ASSERT_GT(a, 0);
    ASSERT_EQ(b[a + 8], 0) << "resident";
    for (int i = 0; i < c.width; ++i) b[a + c.field + i] = static_cast<uint8_t>(c.value >> (8 * i));
    mft.Store();
    // The independent reader agrees that the file is damaged.
    const std::string copy = testsupport::TempPath("attribute.img");
    testsupport::WriteFileBytes(copy, image);
    std::vector<uint8_t> data;
    std::string error;
    EXPECT_FALSE(testsupport::LibntfsRead(copy, "\\" + name, data, error));
    std::remove(copy.c_str());
    ExpectStops(image, "Record " + std::to_string(r) + " attribute",
                {kCheckedExclusive, kCheckedShared, kFastExclusive, kFastShared, kDefrag});
  }
}

TEST_F(DamagedNtfs, DamagedNamesAreShownPrintable) {
  std::vector<uint8_t> image = clean_;
  Mft mft(image);
  const int64_t r = mft.FindUserFile();
  ASSERT_GT(r, 0);
  mft.SetNameUnit(r, 0, 0x0007);  // a bell character
  mft.SetNameUnit(r, 1, 0x00E9);  // an e acute, kept as its low byte
  mft.PokeHeader(r, 0x18, 0x500);
  const HeadlessRun run = Run(image, kFastExclusive);
  ASSERT_TRUE(run.failed);
  for (const std::string& line : run.lines)
    for (const char c : line) EXPECT_GE(static_cast<unsigned char>(c), 0x20) << line;
}

TEST_F(DamagedNtfs, ViewsOfAReadOnlyImageWorkAndADefragSaysItIsReadOnly) {
  for (const Mode& mode : {kCheckedExclusive, kFastExclusive, kDefrag}) {
    SCOPED_TRACE(mode.name);
    platform::ResetPlatform();
    platform::RegisterBuiltinDrivers();
    auto device = std::make_shared<platform::MemoryDevice>(clean_, true);
    platform::MapMemoryDrive('c', device, {});
    const HeadlessRun run = Run_Headless_Command('c', mode.checked, mode.defrag);
    if (mode.defrag < 0) {
      EXPECT_FALSE(run.failed) << testing::PrintToString(run.lines);
    } else {
      EXPECT_TRUE(run.failed);
      EXPECT_EQ(run.lines, std::vector<std::string>{"read-only: view only"});
    }
  }
}

TEST_F(DamagedNtfs, ABootSectorWithADamagedNameIsNeverFat32) {
  std::vector<uint8_t> image = clean_;
  image[3 + 3] = 'X';  // "NTFX    "
  for (const Mode& mode : {kCheckedExclusive, kFastExclusive, kDefrag}) {
    SCOPED_TRACE(mode.name);
    const HeadlessRun run = Run(image, mode);
    EXPECT_TRUE(run.failed);
    EXPECT_EQ(run.lines,
              std::vector<std::string>{"Unsupported File System: No file system recognised"});
  }
}

// FAT boot sectors whose counts cannot describe a volume are refused when
// the drive is identified, with the field named.
TEST(DamagedFatBoot, CountsThatDescribeNoVolumeAreRefusedByName) {
  const testsupport::FatVolume v = testsupport::MakeFat16Fixture("bootdamage16");
  const std::vector<uint8_t> clean = testsupport::ReadImageFile(v.Path());
  struct Case {
    std::vector<std::pair<size_t, uint16_t>> fields;
    std::string line;
  };
  const std::vector<Case> cases = {
      {{{0x11, 0x8000}}, "FAT boot sector with an invalid root-entry count: 32768"},
      {{{0x13, 0}, {0x20, 0}, {0x22, 0}}, "FAT boot sector without a total sector count"},
      {{{0x16, 0x7FFF}}, "FAT boot sector with an invalid FAT size: 32767 sectors per FAT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    std::vector<uint8_t> image = clean;
    for (const auto& [at, value] : c.fields) {
      image[at] = static_cast<uint8_t>(value);
      image[at + 1] = static_cast<uint8_t>(value >> 8);
    }
    for (const Integer defrag : {Integer(-1), Integer(0)}) {
      platform::ResetPlatform();
      platform::RegisterBuiltinDrivers();
      auto device = std::make_shared<platform::MemoryDevice>(image, false);
      platform::MapMemoryDrive('c', device, {});
      const HeadlessRun run = Run_Headless_Command('c', -1, defrag);
      EXPECT_TRUE(run.failed);
      EXPECT_FALSE(run.internalFault);
      EXPECT_EQ(run.lines, std::vector<std::string>{"Unsupported File System: " + c.line});
      EXPECT_TRUE(device->Bytes() == image);
    }
  }
  platform::ResetPlatform();
  std::remove(v.Path().c_str());
}

}  // namespace
}  // namespace vr::test
