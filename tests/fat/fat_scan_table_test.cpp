// The file table, folder table, directory records, fragmented-files list and
// map colours a checked scan leaves behind, checked row by row against a
// plain reader of the same volume.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "fat/fat_scan_harness.h"

namespace vr::fat::test {
namespace {

using testsupport::FatVolume;

class FatScanTable : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { fat12_ = new FatVolume(testsupport::MakeFat12Fixture("table12")); }
  static void TearDownTestSuite() {
    std::remove(fat12_->Path().c_str());
    delete fat12_;
  }
  static std::vector<uint8_t> Image() { return testsupport::ReadImageFile(fat12_->Path()); }
  // The row of the entry called `name` in the folder `path` ("F:\DOCS").
  static Long Row(const std::string& path, const std::string& name) {
    for (Long r = 1; r <= EntryCount; ++r)
      if (FileNames(r) == name && Folder_Path(FolderIndex(r)) == path) return r;
    ADD_FAILURE() << "no row for " << path << "\\" << name;
    return 0;
  }
  static int BoxOf(uint32_t cluster) {
    return BoxColors(static_cast<int32_t>(cluster) / ClustersPerBox);
  }
  static FatVolume* fat12_;
};
FatVolume* FatScanTable::fat12_ = nullptr;

TEST_F(FatScanTable, EveryRowMatchesItsDirectoryEntry) {
  const std::vector<uint8_t> image = Image();
  const PlainTree tree = ReadPlainTree(image);
  const auto layout = testsupport::ParseFatLayout(image);
  const ScanResult r = RunScan(image);
  ASSERT_EQ(r.closings, 1);
  ASSERT_EQ(EntryCount, static_cast<int32_t>(tree.entries.size()));
  ASSERT_EQ(FatEntries.UBound(), EntryCount);
  ASSERT_EQ(FileNames.UBound(), EntryCount);
  // The walk and the plain reader both take a directory's entries before
  // its subfolders, so the rows come in the same order.
  for (Long row = 1; row <= EntryCount; ++row) {
    const PlainDirEntry& e = tree.entries[static_cast<size_t>(row - 1)];
    SCOPED_TRACE(e.path + "\\" + e.name);
    const FatEntry& fe = FatEntries(row);
    EXPECT_EQ(FileNames(row), e.name);
    EXPECT_EQ(fe.Start(), static_cast<int32_t>(e.start));
    EXPECT_EQ(static_cast<uint32_t>(fe.Size.Value()), e.size);
    EXPECT_EQ(fe.Attributes, e.attributes);
    EXPECT_EQ(Folder_Path(FolderIndex(row)), e.path.empty() ? "F:" : "F:\\" + e.path);
    const size_t runs =
        e.start == 0 ? 0 : testsupport::Runs(testsupport::PlainChain(image, e.start)).size();
    EXPECT_EQ(fe.FragCount, runs);
    EXPECT_EQ((FileFlags(row) & kFlagFolder) != 0, (e.attributes & 0x10) != 0);
    EXPECT_EQ(DoNotMove(row), 0);
    // The parent row is the folder that holds the entry; its slot is where
    // the entry lies in that folder.
    size_t at = 0;
    if (fe.ParentEntry == 0) {
      EXPECT_TRUE(e.path.empty());
      at = layout.rootDirSector * 512u + static_cast<size_t>(fe.Slot.Value()) * 32u;
    } else {
      const std::string parentName = FileNames(fe.ParentEntry);
      EXPECT_TRUE(e.path == parentName || e.path.ends_with("\\" + parentName));
      const auto chain = testsupport::PlainChain(image, FatEntries(fe.ParentEntry).Start());
      const uint32_t perCluster = layout.sectorsPerCluster * 16u;
      const uint32_t slot = static_cast<uint32_t>(fe.Slot.Value());
      ASSERT_LT(slot / perCluster, chain.size());
      at = (layout.firstDataSector + (chain[slot / perCluster] - 2) * layout.sectorsPerCluster) *
               512u +
           (slot % perCluster) * 32u;
    }
    EXPECT_EQ(PlainName(image, at), e.name);
  }
  // Neither the volume label nor long-name entries became rows.
  for (Long row = 1; row <= EntryCount; ++row) EXPECT_NE(FileNames(row), "VODURU");
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

TEST_F(FatScanTable, FolderTableAndDirectoryRecordsFollowTheWalk) {
  const std::vector<uint8_t> image = Image();
  const PlainTree tree = ReadPlainTree(image);
  RunScan(image);
  ASSERT_EQ(DirCount, static_cast<int32_t>(tree.directories));
  ASSERT_EQ(DirRecords.UBound(), DirCount);
  EXPECT_EQ(DirRecords(1).DirEntry, 0);  // the root comes first
  EXPECT_EQ(DirRecords(1).ErasedSlots, static_cast<int16_t>(tree.erasedIn.at("")));
  int64_t erased = 0;
  for (Long k = 1; k <= DirCount; ++k) {
    const Long entry = DirRecords(k).DirEntry;
    erased += DirRecords(k).ErasedSlots;
    if (k > 1) {
      EXPECT_NE(FileFlags(entry) & kFlagFolder, 0);
    }
  }
  EXPECT_EQ(erased, tree.erased);
  EXPECT_EQ(erased, ErasedCount);
  EXPECT_EQ(FolderCount, static_cast<int16_t>(tree.directories - 1));
  EXPECT_EQ(FolderTable.UBound(), FolderCount);
  EXPECT_EQ(FolderTable(0).Name, "F:");
  EXPECT_EQ(FolderTable(0).Parent, -1);
  EXPECT_EQ(Folder_Path(FolderIndex(Row("F:\\GAMES\\LEVELS\\BONUS", "SECRET.DAT"))),
            "F:\\GAMES\\LEVELS\\BONUS");
}

TEST_F(FatScanTable, SystemFilesPagingFileAndFoldersAreFlaggedAndPainted) {
  const std::vector<uint8_t> image = Image();
  RunScan(image);
  ASSERT_EQ(ClustersPerBox, 1);
  const Long io = Row("F:", "IO.SYS");
  EXPECT_EQ(FileFlags(io), kFlagSystem);
  for (uint32_t c : fat12_->ShowFat("IO.SYS")) EXPECT_EQ(BoxOf(c), 10) << c;
  const Long page = Row("F:", "PAGEFILE.SYS");
  EXPECT_EQ(FileFlags(page), kFlagUnmovable);
  for (uint32_t c : fat12_->ShowFat("pagefile.sys")) EXPECT_EQ(BoxOf(c), 2) << c;
  const Long docs = Row("F:", "DOCS");
  EXPECT_EQ(FileFlags(docs), kFlagFolder);
  EXPECT_EQ(BoxOf(FatEntries(docs).Start()), 13);
  for (uint32_t c : fat12_->ShowFat("FRAG.BIN")) EXPECT_EQ(BoxOf(c), 12) << c;
  for (uint32_t c : fat12_->ShowFat("LAST.BIN")) EXPECT_EQ(BoxOf(c), 13) << c;
  const PlainChains chains = CountPlainChains(image);
  ASSERT_FALSE(chains.freeRuns.empty());
  for (const auto& run : chains.freeRuns)
    for (uint32_t c = run.first; c < run.first + run.second; ++c) EXPECT_EQ(BoxOf(c), 7) << c;
  // Every cluster of the volume was painted.
  for (int64_t b = 2 / ClustersPerBox; b <= (VolumeSession.TotalClusters + 1) / ClustersPerBox; ++b)
    EXPECT_NE(BoxColors(b), 0) << b;
}

TEST_F(FatScanTable, AChainOverHalfAMegabyteIsABigFile) {
  FatVolume v(testsupport::FatImagePath("big16"), testsupport::FatFormat{});
  testsupport::RemoveOnExit cleanup{v.Path()};
  v.Write("BIG.BIN", 600 * 1024, 3);
  v.Write("SMALL.BIN", 4096, 4);
  RunScan(testsupport::ReadImageFile(v.Path()));
  EXPECT_EQ(BoxOf(v.ShowFat("BIG.BIN")[300]), 5);
  EXPECT_EQ(BoxOf(v.ShowFat("SMALL.BIN")[0]), 13);
}

TEST_F(FatScanTable, ABadClusterIsGreyAndNoChain) {
  std::vector<uint8_t> image = Image();
  const PlainChains before = CountPlainChains(image);
  const uint32_t bad = before.freeRuns.back().first;
  testsupport::PatchFatEntry(image, bad, 0xFF7);
  const ScanResult r = RunScan(image);
  EXPECT_EQ(BoxOf(bad), 8);
  EXPECT_EQ(r.Starting("Files+Dirs="), "");
  EXPECT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
}

TEST_F(FatScanTable, FragmentedFilesAndFoldersAreListedForTheMainWindow) {
  const std::vector<uint8_t> image = Image();
  const ScanResult r = RunScan(image);
  const auto* frag = fat12_->Find("FRAG.BIN");
  ASSERT_NE(frag, nullptr);
  std::vector<std::string> expected = {
      "F:\\FRAG.BIN (" + SizeText(static_cast<int32_t>(frag->size / 512)) + ")",
      "F:\\MANY (folder)"};
  std::vector<std::string> listed = r.raw;
  std::sort(listed.begin(), listed.end());
  EXPECT_EQ(listed, expected);
  EXPECT_EQ(r.listFills, 1);
}

TEST_F(FatScanTable, ADirectoryOfErasedEntriesOnlyCountsThemAll) {
  testsupport::FatFormat f;
  f.fatBits = 12;
  f.sectors = 2880;
  f.rootEntries = 224;
  FatVolume v(testsupport::FatImagePath("erased12"), f);
  testsupport::RemoveOnExit cleanup{v.Path()};
  v.Mkdir("GONE");
  for (const char* name : {"GONE/A.TXT", "GONE/B.TXT", "GONE/C.TXT"}) v.Write(name, 700, 9);
  for (const char* name : {"GONE/A.TXT", "GONE/B.TXT", "GONE/C.TXT"}) v.Delete(name);
  const ScanResult r = RunScan(testsupport::ReadImageFile(v.Path()));
  ASSERT_EQ(DirCount, 2);
  EXPECT_EQ(DirRecords(2).DirEntry, Row("F:", "GONE"));
  EXPECT_EQ(DirRecords(2).ErasedSlots, 3);
  EXPECT_EQ(DirRecords(1).ErasedSlots, 0);
  EXPECT_TRUE(r.Has("Erased files=3"));
  EXPECT_TRUE(r.Has("User files=0,  Folders=1"));
}

TEST_F(FatScanTable, OnAVolumeInUseFoldersAndBusyFilesStayPut) {
  const std::vector<uint8_t> image = Image();
  const PlainChains chains = CountPlainChains(image);
  ScanOptions busy;
  busy.busy = {"FRAG.BIN"};
  const ScanResult r = RunScan(image, busy);
  ASSERT_NE(VolumeSession.NotLocked, 0);
  ASSERT_NE(VolumeSession.SharedMode, 0);
  EXPECT_EQ(BusyCount, 1);
  EXPECT_EQ(UnmovableFragmented, 1);
  EXPECT_EQ(r.raw, std::vector<std::string>{"F:\\FRAG.BIN (busy)"});
  // The fragmented folder MANY cannot be mended on a volume in use.
  EXPECT_TRUE(r.Has("Fragmented files=" + std::to_string(chains.fragmented - 1)));
  const Long docs = Row("F:", "DOCS");
  EXPECT_EQ(FileFlags(docs), kFlagFolder | kFlagUnmovable);
  EXPECT_EQ(DoNotMove(docs), 1);
  EXPECT_EQ(BoxOf(FatEntries(docs).Start()), 2);
  EXPECT_EQ(DoNotMove(Row("F:", "FRAG.BIN")), 1);
  EXPECT_EQ(DoNotMove(Row("F:", "LAST.BIN")), 0);
  EXPECT_EQ(r.legend,
            (std::vector<std::string>{"Sys", "Fixed", "File", "BigFile", "Frag", "Empty"}));
}

TEST_F(FatScanTable, AStopDuringTheWalkIsReportedAsAUserStop) {
  ScanOptions stop;
  stop.stopAfter = 2;
  const ScanResult r = RunScan(Image(), stop);
  EXPECT_TRUE(r.Has("User stop"));
  EXPECT_EQ(r.Starting("Files+Dirs="), "");
  EXPECT_EQ(ErrorState.ErrorCount, 0);
  EXPECT_EQ(r.closings, 1);
}

TEST_F(FatScanTable, ReportLinesComeInTheirOrder) {
  const ScanResult r = RunScan(Image());
  std::vector<std::string> heads;
  for (const std::string& l : r.lines) heads.push_back(l.substr(0, l.find('=')));
  const std::vector<std::string> expected = {"Checking disk structure . .",
                                             "User files",
                                             "Fragmented files",
                                             "Empty files",
                                             "Erased files",
                                             "Small free Space",
                                             "Large free space"};
  EXPECT_EQ(heads, expected);
}

}  // namespace
}  // namespace vr::fat::test
