// A checked scan of a FAT volume in use hands its file table to the
// optimiser that moves files through the file system: the NTFS file-table
// columns then describe the same entries.
#include <gtest/gtest.h>

#include <cstdio>

#include "app/map_window.h"
#include "app/scans.h"
#include "fat/fat_scan_harness.h"
#include "volume/file_table.h"

namespace vr {
namespace {

TEST(FatHandOver, ASharedVolumesScanFillsTheNtfsFileTable) {
  testsupport::FatVolume v = testsupport::MakeFat12Fixture("handover12");
  testsupport::RemoveOnExit cleanup{v.Path()};
  const std::vector<uint8_t> image = testsupport::ReadImageFile(v.Path());
  Install_Map_Scans();
  fat::test::ScanOptions defrag;
  defrag.defrag = 0;
  defrag.busy = {"HIDDEN.DAT"};
  const fat::test::ScanResult r = fat::test::RunScan(image, defrag);
  fat::Fat_Shared_HandOver = nullptr;
  SetMapScan(MapKind::Fat, nullptr);
  ASSERT_EQ(r.closings, 1);
  ASSERT_EQ(ErrorState.Failed, 0) << ErrorState.ErrorText;
  ASSERT_GT(fat::EntryCount, 0);
  ASSERT_EQ(FileNames.UBound(), fat::EntryCount);
  ASSERT_EQ(FragmentState.UBound(), fat::EntryCount);
  for (Long row = 1; row <= fat::EntryCount; ++row) {
    const fat::FatEntry& e = fat::FatEntries(row);
    SCOPED_TRACE(fat::FileNames(row));
    EXPECT_EQ(FileNames(row), fat::FileNames(row));
    EXPECT_EQ(FileFlags(row), fat::FileFlags(row));
    EXPECT_EQ(DoNotMove(row), fat::DoNotMove(row));
    EXPECT_EQ(FolderIndex(row), fat::FolderIndex(row));
    EXPECT_EQ(FragmentState(row), e.FragCount + 1);
    EXPECT_EQ(FirstLcn(row), e.Start() - 2);
    const size_t clusters =
        e.Start() == 0 ? 0
                       : testsupport::PlainChain(image, static_cast<uint32_t>(e.Start())).size();
    EXPECT_EQ(ClusterCount(row), static_cast<int32_t>(clusters));
  }
  ASSERT_EQ(FolderCount, fat::FolderCount);
  for (Integer k = 0; k <= FolderCount; ++k) EXPECT_EQ(Folder_Path(k), fat::Folder_Path(k));
}

TEST(FatHandOver, AVolumeHeldExclusivelyIsNotHandedOver) {
  testsupport::FatVolume v = testsupport::MakeFat12Fixture("handover12x");
  testsupport::RemoveOnExit cleanup{v.Path()};
  FileNames.ReDim(0);
  Install_Map_Scans();
  fat::test::ScanOptions view;
  fat::test::RunScan(testsupport::ReadImageFile(v.Path()), view);
  fat::Fat_Shared_HandOver = nullptr;
  SetMapScan(MapKind::Fat, nullptr);
  EXPECT_EQ(FileNames.UBound(), 0);
}

}  // namespace
}  // namespace vr
