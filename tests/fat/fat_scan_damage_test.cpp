// Damaged volumes through the whole FAT scan: every fault ends in its
// recorded text and source, printed in red, the window closes, and nothing
// crashes or runs forever.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "fat/fat_scan_harness.h"

namespace vr::fat::test {
namespace {

using testsupport::FatVolume;

class FatScanDamage : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    volumes_ = new std::vector<FatVolume>;
    volumes_->push_back(testsupport::MakeFat12Fixture("sdamage12"));
    volumes_->push_back(testsupport::MakeFat16Fixture("sdamage16"));
  }
  static void TearDownTestSuite() {
    for (const FatVolume& v : *volumes_) std::remove(v.Path().c_str());
    delete volumes_;
  }
  static uint32_t EndMark(const std::vector<uint8_t>& image) {
    return testsupport::ParseFatLayout(image).bits == 12 ? 0xFFF : 0xFFFF;
  }
  static uint32_t MaxClusterOf(const std::vector<uint8_t>& image) {
    return testsupport::ParseFatLayout(image).clusters + 1;
  }
  // Byte offset of the 32-byte entry `name83` ("LAST    BIN") in the
  // directory whose sectors start at `sector` (searched over `slots`).
  static size_t EntryAt(const std::vector<uint8_t>& image, size_t sector, size_t slots,
                        const std::string& name83) {
    for (size_t k = 0; k < slots; ++k) {
      const size_t at = sector * 512 + k * 32;
      if (std::string(reinterpret_cast<const char*>(&image[at]), 11) == name83) return at;
    }
    ADD_FAILURE() << "no entry " << name83;
    return 0;
  }
  static size_t RootEntry(const std::vector<uint8_t>& image, const std::string& name83) {
    const auto l = testsupport::ParseFatLayout(image);
    return EntryAt(image, l.rootDirSector, l.rootEntries, name83);
  }
  // The entry `name83` in the folder that starts at cluster `folder`.
  static size_t FolderEntry(const std::vector<uint8_t>& image, uint32_t folder,
                            const std::string& name83) {
    const auto l = testsupport::ParseFatLayout(image);
    return EntryAt(image, l.firstDataSector + (folder - 2) * l.sectorsPerCluster,
                   l.sectorsPerCluster * 16u, name83);
  }
  static void SetStart(std::vector<uint8_t>& image, size_t entry, uint32_t cluster) {
    image.at(entry + 26) = static_cast<uint8_t>(cluster);
    image.at(entry + 27) = static_cast<uint8_t>(cluster >> 8);
  }
  static std::string HexOf(uint32_t v) {
    char t[16];
    std::snprintf(t, sizeof t, "%X", v);
    return t;
  }
  // The scan ended on `text` from `source`, in red, and closed its window.
  static void ExpectFault(const ScanResult& r, const std::string& text, const std::string& source) {
    EXPECT_TRUE(r.Has("Err=" + text)) << ::testing::PrintToString(r.lines);
    EXPECT_EQ(r.ColourOf("Err=" + text), kLightRed);
    if (!source.empty()) {
      EXPECT_TRUE(r.Has("Source=" + source)) << ::testing::PrintToString(r.lines);
    }
    EXPECT_NE(ErrorState.RecordFault, 0);
    EXPECT_NE(ErrorState.Failed, 0);
    EXPECT_NE(ErrorState.ErrorCount, 0);
    EXPECT_EQ(r.closings, 1);
    EXPECT_EQ(r.Starting("User files="), "");
  }
  static std::vector<FatVolume>* volumes_;
};
std::vector<FatVolume>* FatScanDamage::volumes_ = nullptr;

TEST_F(FatScanDamage, TwoEntriesPointingToOneClusterAreCrosslinkedFiles) {
  for (const FatVolume& v : *volumes_) {
    SCOPED_TRACE(v.Path());
    std::vector<uint8_t> image = testsupport::ReadImageFile(v.Path());
    const auto report = v.ShowFat("DOCS/REPORT.TXT");
    const auto secret = v.ShowFat("GAMES/LEVELS/BONUS/SECRET.DAT");
    testsupport::PatchFatEntry(image, report.back(), secret[1]);
    ExpectFault(RunScan(image), "Crosslinked files", "FAT_Marks");
  }
}

TEST_F(FatScanDamage, AChainIntoAFreeClusterIsAnInvalidChain) {
  for (const FatVolume& v : *volumes_) {
    SCOPED_TRACE(v.Path());
    std::vector<uint8_t> image = testsupport::ReadImageFile(v.Path());
    const auto secret = v.ShowFat("GAMES/LEVELS/BONUS/SECRET.DAT");
    const uint32_t free = CountPlainChains(image).freeRuns.back().first;
    testsupport::PatchFatEntry(image, secret[1], free);
    ExpectFault(RunScan(image), "Invalid chain", "");
  }
}

TEST_F(FatScanDamage, AnEntryPastTheVolumeIsABadDirClu) {
  for (const FatVolume& v : *volumes_) {
    SCOPED_TRACE(v.Path());
    std::vector<uint8_t> image = testsupport::ReadImageFile(v.Path());
    const uint32_t past = MaxClusterOf(image) + 5;
    SetStart(image, RootEntry(image, "LAST    BIN"), past);
    const ScanResult r = RunScan(image);
    ExpectFault(r, "Bad DirClu=" + HexOf(past), "DoSub");
    // The chain pass had drawn the map before the walk stopped.
    EXPECT_NE(BoxColors(v.ShowFat("LAST.BIN")[0] / ClustersPerBox), 0);
  }
}

TEST_F(FatScanDamage, AFatEntryPastTheVolumeIsABadCluster) {
  for (const FatVolume& v : *volumes_) {
    SCOPED_TRACE(v.Path());
    std::vector<uint8_t> image = testsupport::ReadImageFile(v.Path());
    const uint32_t past = MaxClusterOf(image) + 1;
    testsupport::PatchFatEntry(image, v.ShowFat("DOCS/REPORT.TXT")[0], past);
    ExpectFault(RunScan(image), "Bad cluster=" + HexOf(past), "FAT_Marks");
  }
}

TEST_F(FatScanDamage, AnEntryNamingClusterOneIsABadCluster) {
  std::vector<uint8_t> image = testsupport::ReadImageFile((*volumes_)[1].Path());
  testsupport::PatchFatEntry(image, (*volumes_)[1].ShowFat("DOCS/REPORT.TXT")[0], 1);
  ExpectFault(RunScan(image), "Bad cluster=1", "FAT_Marks");
}

TEST_F(FatScanDamage, ALostChainMakesEntriesAndChainsDiffer) {
  for (const FatVolume& v : *volumes_) {
    SCOPED_TRACE(v.Path());
    std::vector<uint8_t> image = testsupport::ReadImageFile(v.Path());
    const PlainChains before = CountPlainChains(image);
    testsupport::PatchFatEntry(image, before.freeRuns.back().first, EndMark(image));
    const ScanResult r = RunScan(image);
    const std::string line = "Files+Dirs=" + std::to_string(before.heads) +
                             " <> Chains=" + std::to_string(before.heads + 1);
    EXPECT_TRUE(r.Has(line)) << ::testing::PrintToString(r.lines);
    EXPECT_EQ(r.ColourOf(line), kLightRed);
    EXPECT_TRUE(r.Has("Error stop"));
    EXPECT_NE(ErrorState.RecordFault, 0);
    EXPECT_NE(ErrorState.Failed, 0);
    // The counts are still printed.
    EXPECT_NE(r.Starting("User files="), "");
    EXPECT_EQ(r.closings, 1);
  }
}

TEST_F(FatScanDamage, AFolderLeadingBackToItsAncestorIsARecordedError) {
  for (const FatVolume& v : *volumes_) {
    SCOPED_TRACE(v.Path());
    std::vector<uint8_t> image = testsupport::ReadImageFile(v.Path());
    const uint32_t games = v.ShowFat("GAMES")[0];
    const uint32_t levels = v.ShowFat("GAMES/LEVELS")[0];
    SetStart(image, FolderEntry(image, levels, "BONUS      "), games);
    ExpectFault(RunScan(image), "Folder loop: F:\\GAMES\\LEVELS\\BONUS", "DoSub");
  }
}

TEST_F(FatScanDamage, AFolderLeadingBackToItsParentIsARecordedError) {
  const FatVolume& v = (*volumes_)[0];
  std::vector<uint8_t> image = testsupport::ReadImageFile(v.Path());
  const uint32_t games = v.ShowFat("GAMES")[0];
  SetStart(image, FolderEntry(image, games, "LEVELS     "), games);
  ExpectFault(RunScan(image), "Folder loop: F:\\GAMES\\LEVELS", "DoSub");
}

TEST_F(FatScanDamage, AFileStartingInsideAnotherChainIsInvalid) {
  for (const FatVolume& v : *volumes_) {
    SCOPED_TRACE(v.Path());
    std::vector<uint8_t> image = testsupport::ReadImageFile(v.Path());
    SetStart(image, RootEntry(image, "LAST    BIN"), v.ShowFat("GAMES/LEVELS/BONUS/SECRET.DAT")[1]);
    ExpectFault(RunScan(image), "Invalid: LAST.BIN", "DoSub");
  }
}

TEST_F(FatScanDamage, AFolderStartingInsideAFileIsInvalid) {
  const FatVolume& v = (*volumes_)[0];
  std::vector<uint8_t> image = testsupport::ReadImageFile(v.Path());
  SetStart(image, RootEntry(image, "DOCS       "), v.ShowFat("LAST.BIN")[2]);
  ExpectFault(RunScan(image), "Invalid: DOCS", "DoSub");
}

TEST_F(FatScanDamage, AFileStartingAtAFreeClusterIsAnInvalidCluster) {
  const FatVolume& v = (*volumes_)[0];
  std::vector<uint8_t> image = testsupport::ReadImageFile(v.Path());
  SetStart(image, RootEntry(image, "LAST    BIN"), CountPlainChains(image).freeRuns.back().first);
  ExpectFault(RunScan(image), "Invalid cluster", "ViewMap");
}

// --- Entries that do not own their chain -----------------------------------------------

void SetSize(std::vector<uint8_t>& image, size_t entry, uint32_t size) {
  for (int i = 0; i < 4; ++i) image.at(entry + 28 + i) = static_cast<uint8_t>(size >> (8 * i));
}
uint32_t SizeOf(const std::vector<uint8_t>& image, size_t entry) {
  return image.at(entry + 28) | image.at(entry + 29) << 8 | image.at(entry + 30) << 16 |
         static_cast<uint32_t>(image.at(entry + 31)) << 24;
}

// Each damage fsck.fat -n reports too; the scan stops on the entry's name
// and the chain comparison never gets to run.
TEST_F(FatScanDamage, EntriesThatDoNotOwnTheirChainStopTheScan) {
  for (const FatVolume& v : *volumes_) {
    SCOPED_TRACE(v.Path());
    const std::vector<uint8_t> clean = testsupport::ReadImageFile(v.Path());
    const uint32_t cluster = v.ClusterBytes();
    struct Case {
      const char* what;
      std::function<void(std::vector<uint8_t>&)> damage;
      std::string text;
    };
    const std::vector<Case> cases = {
        {"two entries start at one cluster",
         [&](std::vector<uint8_t>& im) {
           SetStart(im, RootEntry(im, "IO      SYS"), v.ShowFat("LAST.BIN")[0]);
           SetSize(im, RootEntry(im, "IO      SYS"), SizeOf(im, RootEntry(im, "LAST    BIN")));
         },
         "Crosslinked: F:\\LAST.BIN"},
        {"a file starts at a folder's first cluster",
         [&](std::vector<uint8_t>& im) {
           const size_t e = RootEntry(im, "EMPTY   TXT");
           SetStart(im, e, v.ShowFat("MANY")[0]);
           SetSize(im, e, static_cast<uint32_t>(v.ShowFat("MANY").size()) * cluster);
         },
         "Crosslinked: F:\\MANY"},
        {"a size that needs one cluster more than the chain",
         [&](std::vector<uint8_t>& im) {
           const size_t e = RootEntry(im, "LAST    BIN");
           const uint32_t held = static_cast<uint32_t>(v.ShowFat("LAST.BIN").size()) * cluster;
           SetSize(im, e, held + 1);
         },
         "Chain too short: F:\\LAST.BIN"},
        {"a chain a whole cluster longer than the size",
         [&](std::vector<uint8_t>& im) {
           const size_t e = RootEntry(im, "LAST    BIN");
           const uint32_t held = static_cast<uint32_t>(v.ShowFat("LAST.BIN").size()) * cluster;
           SetSize(im, e, held - cluster);
         },
         "Chain too long: F:\\LAST.BIN"},
        {"a size without a chain",
         [&](std::vector<uint8_t>& im) { SetSize(im, RootEntry(im, "EMPTY   TXT"), 100); },
         "No chain: F:\\EMPTY.TXT"},
        {"a folder whose .. names another folder",
         [&](std::vector<uint8_t>& im) {
           const uint32_t levels = v.ShowFat("GAMES/LEVELS")[0];
           SetStart(im, FolderEntry(im, levels, "..         "), v.ShowFat("DOCS")[0]);
         },
         "Dot entries: F:\\GAMES\\LEVELS"},
        {"a folder whose . names another cluster",
         [&](std::vector<uint8_t>& im) {
           const uint32_t docs = v.ShowFat("DOCS")[0];
           SetStart(im, FolderEntry(im, docs, ".          "), docs + 1);
         },
         "Dot entries: F:\\DOCS"},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.what);
      std::vector<uint8_t> image = clean;
      c.damage(image);
      // The independent reader agrees that the volume is damaged.
      const std::string copy = testsupport::FatImagePath("ownership.img");
      testsupport::WriteImageFile(copy, image);
      EXPECT_NE(testsupport::RunFatTool("fsck.fat -n " + copy + " >/dev/null 2>&1"), 0);
      std::remove(copy.c_str());
      const ScanResult r = RunScan(image);
      ExpectFault(r, c.text, "DoSub");
      EXPECT_FALSE(r.Has("Files+Dirs=")) << ::testing::PrintToString(r.lines);
    }
  }
}

TEST_F(FatScanDamage, AFailedReadOfTheFatIsAReadError) {
  std::vector<uint8_t> image = testsupport::ReadImageFile((*volumes_)[0].Path());
  image.resize(512 * 2);  // the boot sector and no more: the FAT cannot be read whole
  const ScanResult r = RunScan(image);
  EXPECT_TRUE(r.Has("Err=Error reading drive")) << ::testing::PrintToString(r.lines);
  EXPECT_NE(ErrorState.ReadFault, 0);
  EXPECT_EQ(r.closings, 1);
}

TEST_F(FatScanDamage, DamageAnywhereInTheTablesEndsTheScanCleanly) {
  // Random bytes over the FAT copies, the root directory and the first
  // folders: each run ends, with or without an error, and closes its window.
  for (const FatVolume& v : *volumes_) {
    const std::vector<uint8_t> original = testsupport::ReadImageFile(v.Path());
    const auto l = testsupport::ParseFatLayout(original);
    const size_t from = l.reservedSectors * 512u;
    const size_t to = (l.firstDataSector + 64u) * 512u;
    for (uint32_t seed = 1; seed <= 60; ++seed) {
      SCOPED_TRACE(v.Path() + " seed " + std::to_string(seed));
      std::vector<uint8_t> image = original;
      std::mt19937 random(seed);
      const int changes = 1 + static_cast<int>(random() % 40);
      for (int k = 0; k < changes; ++k)
        image[from + random() % (to - from)] = static_cast<uint8_t>(random());
      ScanOptions o;
      o.checked = seed % 2 == 0 ? kTrue : kFalse;
      const ScanResult r = RunScan(image, o);
      EXPECT_EQ(r.closings, 1);
    }
  }
}

TEST_F(FatScanDamage, AFat32VolumeIsRefusedByName) {
  FatVolume v = testsupport::MakeFat32Fixture("refuse32");
  testsupport::RemoveOnExit cleanup{v.Path()};
  const ScanResult r = RunScan(testsupport::ReadImageFile(v.Path()));
  EXPECT_TRUE(r.Has("Err=Unsupported File System: FAT32")) << ::testing::PrintToString(r.lines);
  EXPECT_EQ(r.closings, 1);
}

TEST_F(FatScanDamage, SectorsOtherThan512BytesAreRefused) {
  testsupport::FatFormat f;
  f.fatBits = 16;
  f.sectors = 40960;
  f.sectorSize = 4096;
  f.sectorsPerCluster = 1;
  FatVolume v(testsupport::FatImagePath("s4096"), f);
  testsupport::RemoveOnExit cleanup{v.Path()};
  const ScanResult r = RunScan(testsupport::ReadImageFile(v.Path()));
  EXPECT_TRUE(
      r.Has("Err=FAT16 volume with 4096 bytes per sector: only 512-byte sectors are"
            " supported"))
      << ::testing::PrintToString(r.lines);
  EXPECT_EQ(r.Starting("User files="), "");
  EXPECT_EQ(r.closings, 1);
}

}  // namespace
}  // namespace vr::fat::test
