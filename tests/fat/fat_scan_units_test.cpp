// The scan's procedures on allocation tables built in memory: chain
// lengths and fragments, painting chains, successor marks, free segments
// and entry names, including the damaged tables no tool would write.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "alloc/allocation_state.h"
#include "alloc/free_segments.h"
#include "fat/fat_file_table.h"
#include "fat/fat_scan.h"
#include "fat/fat_table.h"
#include "map/map_colors.h"
#include "volume/error_state.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr::fat {
namespace {

class FatScanUnits : public ::testing::Test {
 protected:
  // A table of `clusters` data clusters, all free; one cluster per box.
  void Table(Long clusters) {
    Reset_Volume_State();
    VolumeSession.TotalClusters = clusters;
    VolumeSession.SectorsPerCluster = 1;
    MaxCluster = clusters + 1;
    FatTable.ReDim(MaxCluster);
    FatTable(0) = 0xFFF8;
    FatTable(1) = 0xFFFF;
    ClustersPerBox = clusters / BoxCount + 1;
    BoxColors.ReDim(clusters / ClustersPerBox + 1);
    BigFileClusters = 1024;
    OptimiserRunning = 0;
    FragChains = 0;
  }
  // Links the clusters in order and ends the chain.
  static void Chain(const std::vector<int32_t>& clusters) {
    for (size_t i = 0; i + 1 < clusters.size(); ++i)
      FatTable(clusters[i]) = static_cast<uint16_t>(clusters[i + 1]);
    FatTable(clusters.back()) = 0xFFFF;
  }
  // Runs `f`, which must raise the scan's structural fault.
  template <typename F>
  static void ExpectFault(F&& f, const std::string& text, const std::string& where) {
    try {
      f();
      ADD_FAILURE() << "no fault raised";
    } catch (const RunError& e) {
      EXPECT_EQ(e.Number(), kErrFatStructure);
    }
    EXPECT_EQ(ErrorState.ErrorText, text);
    EXPECT_EQ(ErrorState.ErrorWhere, where);
    EXPECT_EQ(ErrorState.ErrorCount, 1);
    EXPECT_EQ(ErrorState.Failed, -1);
  }
};

TEST_F(FatScanUnits, FragmentedCountsSegmentsAndClusters) {
  Table(100);
  Chain({10, 11, 12, 20, 21});
  Long blocks = 0;
  EXPECT_EQ(Fragmented(10, blocks), 2);
  EXPECT_EQ(blocks, 5);
  EXPECT_EQ(Fragmented(0, blocks), 0);
  EXPECT_EQ(blocks, 0);
  Chain({40});
  EXPECT_EQ(Fragmented(40, blocks), 1);
  EXPECT_EQ(blocks, 1);
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

TEST_F(FatScanUnits, FragmentedStopsAt255Fragments) {
  Table(1000);
  std::vector<int32_t> everyOther;
  for (int32_t c = 2; c <= 800; c += 2) everyOther.push_back(c);
  Chain(everyOther);
  Long blocks = 0;
  EXPECT_EQ(Fragmented(2, blocks), 255);
  EXPECT_EQ(blocks, static_cast<int32_t>(everyOther.size()));
}

TEST_F(FatScanUnits, FragmentedGivesUpPastTheFragmentLimit) {
  Table(65522);
  std::vector<int32_t> everyOther;
  for (int32_t c = 2; c <= 65522; c += 2) everyOther.push_back(c);
  Chain(everyOther);
  Long blocks = 0;
  ExpectFault([&] { Fragmented(2, blocks); }, "Too many chains", "ViewMap");
  EXPECT_EQ(blocks, -32760);  // the clusters walked when the limit was passed
  EXPECT_EQ(ErrorState.RecordFault, -1);
}

TEST_F(FatScanUnits, FragmentedEndsAChainThatRunsInACircle) {
  Table(3000);
  Chain({100, 101, 102, 103});
  FatTable(103) = 100;  // no head, no cross-link: a plain circle
  Long blocks = 0;
  ExpectFault([&] { Fragmented(100, blocks); }, "Invalid chain", "ViewMap");
}

TEST_F(FatScanUnits, FragmentedFaultsNameWhoWasWalking) {
  Table(100);
  FatTable(30) = 31;  // 31 is free
  Long blocks = 0;
  ExpectFault([&] { Fragmented(30, blocks); }, "Invalid cluster", "ViewMap");
  EXPECT_EQ(ErrorState.RecordFault, -1);

  Table(100);
  FatTable(30) = 0x0200;  // past the volume
  OptimiserRunning = kTrue;
  ExpectFault([&] { Fragmented(30, blocks); }, "Invalid cluster", "Defrag/Pack");
  EXPECT_EQ(ErrorState.RecordFault, 0);
  OptimiserRunning = 0;

  Table(100);
  ExpectFault([&] { Fragmented(102, blocks); }, "Invalid cluster", "ViewMap");
}

TEST_F(FatScanUnits, MarkChainPaintsEveryClusterOfTheChain) {
  Table(100);
  Chain({5, 6, 50, 51});
  Mark_Chain(5, kColorSys);
  for (int32_t c : {5, 6, 50, 51}) EXPECT_EQ(BoxColors(c), kColorSys) << c;
  EXPECT_EQ(BoxColors(7), 0);
  Mark_Chain(0, kColorSys);  // an empty file: nothing
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

TEST_F(FatScanUnits, MarkChainReadsANegativeStartUnsigned) {
  Table(40000);
  Chain({0x8005, 0x8006});
  Mark_Chain(Long(static_cast<int16_t>(0x8005)), kColorFixed);
  EXPECT_EQ(BoxColors(0x8005 / ClustersPerBox), kColorFixed);
}

TEST_F(FatScanUnits, MarkChainIntoAFreeClusterIsABadCluster) {
  Table(100);
  FatTable(8) = 9;
  ExpectFault([] { Mark_Chain(8, kColorFile); }, "Bad cluster=0", "MarkChain");
  Table(100);
  FatTable(8) = 0xABC;
  ExpectFault([] { Mark_Chain(8, kColorFile); }, "Bad cluster=ABC", "MarkChain");
}

TEST_F(FatScanUnits, MarkChainEndsACircle) {
  Table(100);
  FatTable(8) = 9;
  FatTable(9) = 8;
  ExpectFault([] { Mark_Chain(8, kColorFile); }, "Invalid chain", "MarkChain");
}

TEST_F(FatScanUnits, FatMarksFindsCrossLinksButNotSharedFreeEntries) {
  Table(100);
  Chain({10, 11});
  Chain({20, 21});
  FAT_Marks();  // many free entries (0) are no cross-link
  EXPECT_EQ(Successor(11), 1);
  EXPECT_EQ(Successor(21), 1);
  EXPECT_EQ(Successor(10), 0);
  EXPECT_EQ(ErrorState.ErrorCount, 0);
  FatTable(21) = 11;
  ExpectFault([] { FAT_Marks(); }, "Crosslinked files", "FAT_Marks");
  EXPECT_EQ(ErrorState.RecordFault, -1);
}

TEST_F(FatScanUnits, FatMarksNamesABadEntryInHexadecimal) {
  Table(100);
  FatTable(10) = 0x0FEE;
  ExpectFault([] { FAT_Marks(); }, "Bad cluster=FEE", "FAT_Marks");
}

TEST_F(FatScanUnits, ChainPassCountsHeadsAndPaintsByKind) {
  Table(2000);
  Chain({2, 3, 4});               // a small file
  Chain({10, 11, 12, 300, 301});  // fragmented
  FatTable(500) = 0xFFF7;         // a bad cluster: no chain
  std::vector<int32_t> big;
  for (int32_t c = 600; c < 600 + 1100; ++c) big.push_back(c);
  Chain(big);  // above BigFileClusters
  FAT_Marks();
  EXPECT_EQ(Chain_Pass(), 3);
  EXPECT_EQ(FragChains, 1);
  EXPECT_EQ(BoxColors(3), kColorFile);
  EXPECT_EQ(BoxColors(300), kColorFrag);
  EXPECT_EQ(BoxColors(11), kColorFrag);
  EXPECT_EQ(BoxColors(500), kColorBad);
  EXPECT_EQ(BoxColors(1000), kColorBigFile);
  EXPECT_EQ(BoxColors(1800), 0);
}

TEST_F(FatScanUnits, ChainPassStopsAtAChainIntoAFreeCluster) {
  Table(100);
  Chain({2, 3});
  FatTable(20) = 30;  // 30 is free
  FAT_Marks();
  Chain_Pass();
  EXPECT_EQ(ErrorState.ErrorText, "Invalid chain");
  EXPECT_EQ(ErrorState.Failed, -1);
}

TEST_F(FatScanUnits, FreeSegmentsRunToTheLastCluster) {
  Table(100);
  Chain({2, 3});
  Chain({50});
  FAT_FREE_Segs();
  ASSERT_EQ(Allocation.FreeCount, 2);
  EXPECT_EQ(Allocation.FreeCursor, 1);
  EXPECT_EQ(Allocation.FreeStarts.UBound(), 2);
  EXPECT_EQ(Allocation.FreeStarts(1), 4);
  EXPECT_EQ(Allocation.FreeLengths(1), 46);
  EXPECT_EQ(Allocation.FreeStarts(2), 51);
  EXPECT_EQ(Allocation.FreeLengths(2), 51);  // 51 .. MaxCluster (101)
  EXPECT_EQ(Fat_Total_Free(), 97);
  BigFileClusters = 50;
  EXPECT_EQ(Fat_Large_Free(), 51);
}

TEST_F(FatScanUnits, FreeSegmentsGrowPastTheirFirstRoom) {
  Table(24000);
  for (int32_t c = 2; c <= MaxCluster; c += 2) FatTable(c) = 0xFFFF;
  FAT_FREE_Segs();
  EXPECT_EQ(Allocation.FreeCount, 12000);
  EXPECT_EQ(Allocation.FreeStarts(12000), 24001);
  EXPECT_EQ(Allocation.FreeLengths(12000), 1);
}

TEST_F(FatScanUnits, AFullVolumeHasNoFreeSegment) {
  Table(50);
  std::vector<int32_t> all;
  for (int32_t c = 2; c <= 51; ++c) all.push_back(c);
  Chain(all);
  FAT_FREE_Segs();
  EXPECT_EQ(Allocation.FreeCount, 0);
  EXPECT_EQ(Fat_Total_Free(), 0);
}

TEST_F(FatScanUnits, CheckStartRefusesAFirstClusterInsideAChainOrFree) {
  Table(100);
  Chain({10, 11, 12});
  FAT_Marks();
  EXPECT_EQ(Check_Start(0), 0);
  EXPECT_EQ(Check_Start(10), 0);
  EXPECT_EQ(Check_Start(11), -1);
  EXPECT_EQ(Check_Start(40), -1);
}

TEST_F(FatScanUnits, EntryNamesJoinNameAndExtension) {
  auto name = [](const char* raw11) {
    uint8_t e[32] = {};
    std::memcpy(e, raw11, 11);
    return Entry_Name(Bytes(e, 32));
  };
  EXPECT_EQ(name("README  TXT"), "README.TXT");
  EXPECT_EQ(name("NOEXT      "), "NOEXT");
  EXPECT_EQ(name("A       B  "), "A.B");
  EXPECT_EQ(name("PAGEFILESYS"), "PAGEFILE.SYS");
  EXPECT_EQ(Hex(0), "0");
  EXPECT_EQ(Hex(0xFFF5), "FFF5");
}

}  // namespace
}  // namespace vr::fat
