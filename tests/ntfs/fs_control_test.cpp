// File-system control requests against a driver that answers what each
// test sets: the completion rule, file records, the volume bitmap, the MFT
// zone and a file's extents.
#include "volume/fs_control.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "alloc/allocation_state.h"
#include "alloc/volume_bitmap.h"
#include "ntfs/mft.h"
#include "ntfs_test_support.h"
#include "platform/nt.h"
#include "platform/platform.h"
#include "record_builder.h"
#include "synthetic_volume.h"
#include "volume/file_table.h"

namespace vr::test {
namespace {

class FsControl : public NtfsTest {
 protected:
  void SetUp() override {
    NtfsTest::SetUp();
    platform::ResetPlatform();
    RegisterFakeDriver(fs_);
    vol_.Apply();
    VolumeSession.IsNtfs = -1;
    Allocation.AllocationFloor = 0;
    Allocation.AllocationReserveEnd = 0;
  }
  void TearDown() override {
    Long h = VolumeSession.VolumeHandle;
    Close_Drive(h);
    VolumeSession.VolumeHandle = -1;
    VolumeSession.SharedMode = 0;
    Allocation.VolumeBitmap.ReDim(-1);
    VolumeSession.MftRunLengths.ReDim(0);
    VolumeSession.MftRunLcns.ReDim(0);
    UnregisterFakeDriver();
    platform::ResetPlatform();
    NtfsTest::TearDown();
  }
  void Mount(bool shared) {
    vol_.Mount('m', shared);
    ASSERT_NE(VolumeSession.VolumeHandle, -1);
  }

  SyntheticVolume vol_{1, 2, 4096, {{40, 100}}};
  FakeFs fs_;
};

// --- Completion rule ------------------------------------------------------------------------

TEST_F(FsControl, PendingRequestIsWaitedForAndItsStatusTaken) {
  fs_.pending = true;
  fs_.zoneStart = 1003;
  fs_.zoneEnd = 2050;
  Mount(true);
  uint8_t reply[96] = {};
  nt::IO_STATUS_BLOCK io;
  EXPECT_EQ(Fs_Control(VolumeSession.VolumeHandle, nt::FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0,
                       reply, sizeof reply, io),
            nt::STATUS_SUCCESS);
  EXPECT_EQ(io.Information, 96u);
  EXPECT_EQ(reply[0x50], 1003 & 0xFF);

  fs_.volumeDataStatus = nt::STATUS_DEVICE_DATA_ERROR;
  EXPECT_EQ(Fs_Control(VolumeSession.VolumeHandle, nt::FSCTL_GET_NTFS_VOLUME_DATA, nullptr, 0,
                       reply, sizeof reply, io),
            nt::STATUS_DEVICE_DATA_ERROR);
}

TEST_F(FsControl, StatusTextIsUpperCaseHexWithoutLeadingZeros) {
  EXPECT_EQ(Status_Text(static_cast<nt::NTSTATUS>(0xC0000034u)), "Sts=C0000034");
  EXPECT_EQ(Status_Text(0x103), "Sts=103");
  EXPECT_EQ(Status_Text(0), "Sts=0");
}

// --- File records through the file system ------------------------------------------------------

TEST_F(FsControl, SharedReadCopiesTheRecordTheFileSystemGives) {
  RecordBuilder r;
  r.StandardInformation(0x20).FileName(u"shared.txt");
  fs_.records[7] = FixedUp(r.Bytes());
  fs_.pending = true;
  Mount(true);
  ByteArray b;
  ASSERT_TRUE(Read_FILE(b, 7)) << ErrorState.ErrorText;
  ASSERT_EQ(b.size(), 1024u);
  EXPECT_TRUE(std::equal(fs_.records[7].begin(), fs_.records[7].end(), b.data()));
  EXPECT_EQ(VolumeSession.RecordsRead, 1);
}

TEST_F(FsControl, SharedReadFailureIsTheStatus) {
  fs_.recordStatus = static_cast<nt::NTSTATUS>(0xC0000034u);
  Mount(true);
  ByteArray b;
  EXPECT_FALSE(Read_FILE(b, 7));
  EXPECT_EQ(ErrorState.ErrorText, "Sts=C0000034");
  EXPECT_EQ(ErrorState.ErrorWhere, "LFB: 7");
  EXPECT_EQ(Errors(), 1);
}

TEST_F(FsControl, AnotherRecordInTheReplyIsAFailedRead) {
  // NT answers with the nearest record in use below a free one.
  RecordBuilder r;
  r.StandardInformation(0x20).FileName(u"lower.txt");
  fs_.records[9] = FixedUp(r.Bytes());
  fs_.answerRecordAs = 8;
  Mount(true);
  ByteArray b;
  EXPECT_FALSE(Read_FILE(b, 9));
  EXPECT_EQ(ErrorState.ErrorText, "Error reading MFT");
  EXPECT_EQ(ErrorState.ErrorWhere, "LFB: 9");
}

// --- Volume bitmap -----------------------------------------------------------------------------

TEST_F(FsControl, SharedBitmapIsSizedFirstThenRead) {
  fs_.bitmapBits = 39997;  // 5000 bytes
  fs_.bitmap.resize(5000);
  for (size_t i = 0; i < fs_.bitmap.size(); ++i) fs_.bitmap[i] = static_cast<uint8_t>(i * 13 + 5);
  fs_.pending = true;
  Mount(true);
  Load_Bitmap(VbArray<Long>(0), VbArray<Long>(0));
  ASSERT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
  EXPECT_EQ(Allocation.VolumeBitmapBytes, 5000);
  EXPECT_EQ(Allocation.VolumeBitmap.size(), 8192u);
  EXPECT_TRUE(std::equal(fs_.bitmap.begin(), fs_.bitmap.end(), Allocation.VolumeBitmap.data()));
  EXPECT_EQ(Allocation.VolumeBitmap(5000), 0);
  EXPECT_EQ(fs_.requests[nt::FSCTL_GET_VOLUME_BITMAP], 2);
}

TEST_F(FsControl, GetVolumeBitmapCopiesIntoTheDestination) {
  fs_.bitmapBits = 80;
  fs_.bitmap = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  Mount(true);
  ByteArray dest(9);
  EXPECT_EQ(Get_Volume_Bitmap(0, 4, dest, 3), 10);
  EXPECT_EQ(dest(2), 0);
  EXPECT_EQ(dest(3), 1);
  EXPECT_EQ(dest(6), 4);
  EXPECT_EQ(dest(7), 0);
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

TEST_F(FsControl, ShortBitmapReplyIsAReadError) {
  fs_.bitmapBits = 80;
  fs_.bitmap = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10};
  fs_.bitmapShortBy = 3;
  Mount(true);
  ByteArray dest(9);
  EXPECT_EQ(Get_Volume_Bitmap(0, 10, dest, 0), 0);
  EXPECT_EQ(ErrorState.ErrorText, "Error reading drive");
  EXPECT_EQ(ErrorState.ReadFault, -1);
}

TEST_F(FsControl, ExclusiveBitmapIsReadFromItsOneSegment) {
  std::vector<uint8_t> bits(1024);
  for (size_t i = 0; i < bits.size(); ++i) bits[i] = static_cast<uint8_t>(255 - i);
  vol_.PutBytes(3000, bits);
  Mount(false);
  VbArray<Long> lengths(1), lcns(1);
  lengths(1) = 2;
  lcns(1) = 3000;
  Load_Bitmap(lengths, lcns);
  ASSERT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
  ASSERT_EQ(Allocation.VolumeBitmap.size(), 1024u);
  EXPECT_TRUE(std::equal(bits.begin(), bits.end(), Allocation.VolumeBitmap.data()));
  EXPECT_EQ(Allocation.VolumeBitmapBytes, 512);  // 4096 clusters
  EXPECT_EQ(fs_.requests[nt::FSCTL_GET_VOLUME_BITMAP], 0);
}

TEST_F(FsControl, FragmentedBitmapIsRefusedInExclusiveMode) {
  Mount(false);
  VbArray<Long> lengths(2), lcns(2);
  lengths(1) = lengths(2) = 1;
  lcns(1) = 3000;
  lcns(2) = 3100;
  Load_Bitmap(lengths, lcns);
  EXPECT_EQ(ErrorState.ErrorText, "$Bitmap fragmented");
  EXPECT_EQ(ErrorState.Failed, -1);
}

// --- MFT zone ----------------------------------------------------------------------------------

TEST_F(FsControl, MftZoneIsRoundedToWholeBitmapBytes) {
  fs_.zoneStart = 1003;
  fs_.zoneEnd = 2050;
  Allocation.AllocationFloor = 500;
  Allocation.AllocationReserveEnd = 600;
  Mount(true);
  ASSERT_TRUE(Get_MFT_Zone());
  EXPECT_EQ(Allocation.MftZoneStart, 1000);
  EXPECT_EQ(Allocation.MftZoneLength, 2056 - 1000 + 1);
  EXPECT_EQ(Allocation.MftZoneFirstByte, 125);
  EXPECT_EQ(Allocation.MftZoneLastByte, 257);
  // The zone reaches above the floor: no floor.
  EXPECT_EQ(Allocation.AllocationFloor, 0);
  EXPECT_EQ(Allocation.AllocationReserveEnd, 0);
}

TEST_F(FsControl, FloorAboveTheZoneIsKept) {
  fs_.zoneStart = 16;
  fs_.zoneEnd = 100;
  Allocation.AllocationFloor = 104 - 31;
  Allocation.AllocationReserveEnd = 900;
  Mount(true);
  ASSERT_TRUE(Get_MFT_Zone());
  EXPECT_EQ(Allocation.AllocationFloor, 73);
  EXPECT_EQ(Allocation.AllocationReserveEnd, 900);
}

TEST_F(FsControl, FailedVolumeDataQueryIsAReadError) {
  fs_.volumeDataStatus = nt::STATUS_DEVICE_DATA_ERROR;
  Mount(true);
  EXPECT_FALSE(Get_MFT_Zone());
  EXPECT_EQ(ErrorState.ErrorText, "Error reading drive");
}

TEST_F(FsControl, NoMftZoneOffNtfs) {
  VolumeSession.IsNtfs = 0;
  Allocation.MftZoneStart = 5;
  Allocation.MftZoneLength = 5;
  Allocation.MftZoneLastByte = 5;
  Allocation.AllocationFloor = 5;
  EXPECT_TRUE(Get_MFT_Zone());
  EXPECT_EQ(Allocation.MftZoneStart, 0);
  EXPECT_EQ(Allocation.MftZoneLength, 0);
  EXPECT_EQ(Allocation.MftZoneLastByte, 0);
  EXPECT_EQ(Allocation.AllocationFloor, 0);
  EXPECT_EQ(fs_.requests.size(), 0u);
}

// --- Opening files and reading their extents -------------------------------------------------

class Pointers : public FsControl {
 protected:
  void SetUp() override {
    FsControl::SetUp();
    FolderTable.ReDim(1);
    FolderTable(0) = {-1, "M:"};
    FolderTable(1) = {0, "DATA"};
    FileNames.ReDim(50);
    FolderIndex.ReDim(50);
    FileNames(40) = "big.bin";
    FolderIndex(40) = 1;
  }
  void TearDown() override {
    FileNames.ReDim(0);
    FolderIndex.ReDim(0);
    FolderTable.ReDim(0);
    FsControl::TearDown();
  }
  VbArray<Long> lengths_, lcns_;
  RecordInfo info_;
};

TEST_F(Pointers, OpenFileHoldsTheFileExclusively) {
  fs_.files["data\\big.bin"] = {};
  fs_.files["data"] = {};
  Mount(true);
  const Long h = Open_File("M:\\DATA\\big.bin", false);
  ASSERT_NE(h, -1);
  EXPECT_EQ(Open_File("M:\\DATA\\big.bin", false), -1);  // share mode 0
  nt::CloseHandle(h);
  const Long folder = Open_File("M:\\DATA", true);
  EXPECT_NE(folder, -1);
  nt::CloseHandle(folder);
  EXPECT_EQ(Open_File("M:\\DATA\\gone.bin", false), -1);
}

TEST_F(Pointers, SixHundredExtentsTakeTwoRequestsAndTouchingOnesMerge) {
  // 300 segments, each returned as two extents that touch, and no two
  // segments touching each other.
  std::vector<FakeFs::Extent> extents;
  std::vector<int64_t> segLcns, segLengths;
  int64_t vcn = 0;
  for (int i = 0; i < 300; ++i) {
    const int64_t lcn = 10000 + 20 * i;
    const int64_t a = 1 + i % 3, b = 2 + i % 5;
    extents.push_back({vcn + a, lcn});
    extents.push_back({vcn + a + b, lcn + a});
    vcn += a + b;
    segLcns.push_back(lcn);
    segLengths.push_back(a + b);
  }
  fs_.files["data\\big.bin"] = extents;
  fs_.pending = true;
  Mount(true);
  ReadPtrs(40, lengths_, lcns_, info_);
  ASSERT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
  EXPECT_EQ(fs_.pointerRequests, (std::vector<int64_t>{0, extents[511].nextVcn}));
  EXPECT_EQ(Column(lcns_), segLcns);
  EXPECT_EQ(Column(lengths_), segLengths);
  EXPECT_EQ(info_.Clusters, vcn);
  EXPECT_EQ(info_.Name, "big.bin");
  EXPECT_EQ(info_.Compressed, 0);
  EXPECT_NE(info_.FileHandle, -1);
  nt::CloseHandle(info_.FileHandle);
}

TEST_F(Pointers, ExtentsWithoutClustersSetCompressedAndAreLeftOut) {
  fs_.files["data\\big.bin"] = {{16, 5000}, {32, -1}, {40, 5016}, {48, 7000}, {64, -1}};
  Mount(true);
  ReadPtrs(40, lengths_, lcns_, info_);
  ASSERT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
  EXPECT_EQ(info_.Compressed, -1);
  // 5000+16 and 5016 touch on the disk, the hole between them aside.
  EXPECT_EQ(Column(lcns_), (std::vector<int64_t>{5000, 7000}));
  EXPECT_EQ(Column(lengths_), (std::vector<int64_t>{24, 8}));
  EXPECT_EQ(info_.Clusters, 32);
  nt::CloseHandle(info_.FileHandle);
}

TEST_F(Pointers, FailedRequestClosesTheFile) {
  fs_.files["data\\big.bin"] = {{16, 5000}};
  fs_.pointersStatus = nt::STATUS_INVALID_PARAMETER;
  Mount(true);
  ReadPtrs(40, lengths_, lcns_, info_);
  EXPECT_EQ(ErrorState.ErrorText, "ReadPtrs failed");
  EXPECT_EQ(ErrorState.Failed, -1);
  EXPECT_EQ(Errors(), 1);
  EXPECT_EQ(lengths_.UBound(), 0);
  EXPECT_EQ(info_.FileHandle, -1);
  const Long again = Open_File("M:\\DATA\\big.bin", false);  // closed: opens again
  EXPECT_NE(again, -1);
  nt::CloseHandle(again);
}

TEST_F(Pointers, MoreDataWithoutExtentsIsAFailureNotALoop) {
  fs_.files["data\\big.bin"] = {{16, 5000}};
  fs_.overflowWithoutExtents = true;
  Mount(true);
  ReadPtrs(40, lengths_, lcns_, info_);
  EXPECT_EQ(ErrorState.ErrorText, "ReadPtrs failed");
  EXPECT_EQ(fs_.pointerRequests.size(), 1u);
  EXPECT_EQ(lengths_.UBound(), 0);
  EXPECT_EQ(info_.FileHandle, -1);
}

TEST_F(Pointers, FileThatCannotBeOpenedGivesNoSegmentsAndNoError) {
  Mount(true);
  ReadPtrs(40, lengths_, lcns_, info_);
  EXPECT_EQ(info_.FileHandle, -1);
  EXPECT_EQ(lengths_.UBound(), 0);
  EXPECT_EQ(lcns_.UBound(), 0);
  EXPECT_EQ(ErrorState.ErrorCount, 0);
  EXPECT_EQ(fs_.opened, (std::vector<std::string>{"DATA\\big.bin"}));
}

}  // namespace
}  // namespace vr::test
