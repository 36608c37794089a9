// The cluster map on a real volume made by mkntfs and filled by libntfs-3g,
// held in memory as an exclusively locked drive: the free segments against
// the bitmap libntfs-3g reads, the cross-checks on a healthy copy and on
// copies whose $Bitmap was damaged, and the write-backs of bitmap sectors
// and FILE records read back with libntfs-3g. Every test works on its own
// copy of the image.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <set>
#include <string>
#include <vector>

extern "C" {
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/layout.h>
#include <ntfs-3g/mft.h>
#include <ntfs-3g/runlist.h>
#include <ntfs-3g/types.h>
#include <ntfs-3g/volume.h>
}

#include "alloc/cluster_claims.h"
#include "alloc/reservations.h"
#include "alloc/volume_bitmap.h"
#include "cluster_map_test_support.h"
#include "drivers/builtin_drivers.h"
#include "map/map_canvas.h"
#include "map/map_geometry.h"
#include "map/mark_segments.h"
#include "map/swatches.h"
#include "ntfs/cluster_map.h"
#include "ntfs/file_record.h"
#include "ntfs/mft.h"
#include "ntfs/ntfs_geometry.h"
#include "ntfs/owned_clusters.h"
#include "ntfs_test_support.h"
#include "platform/block_device.h"
#include "platform/fs_driver.h"
#include "platform/platform.h"
#include "record_builder.h"
#include "support/crash_replay.h"
#include "support/ntfs_fixtures.h"
#include "support/run_errors.h"
#include "support/volume_images.h"
#include "volume/clean_check.h"
#include "volume/fs_control.h"
#include "volume/recording_window.h"
#include "volume/report.h"

namespace vr::test {
namespace {

using Bits = std::vector<uint8_t>;  // one byte per cluster: 1 in use

// What libntfs-3g says about an image.
struct LibView {
  int64_t clusters = 0;
  int64_t clusterSize = 0;
  int64_t freeClusters = 0;
  int64_t zoneStart = 0, zoneEnd = 0;
  int64_t bitmapLcn = -1;  // the $Bitmap's data, when in one run
  Bits inUse;              // the volume bitmap
  Bits collected;          // unnamed $DATA, $I30 allocations, security descriptors, $MFT:$BITMAP
  Bits owned;              // every located run of every attribute
  std::set<std::string> kinds;  // the kinds of non-resident attribute met
};

// The kind of a non-resident attribute, as the owned-cluster check names them.
std::string KindOf(const ATTR_RECORD* a, int64_t record);

bool IsI30(const ATTR_RECORD* a) {
  if (a->name_length != 4) return false;
  const auto* name =
      reinterpret_cast<const ntfschar*>(reinterpret_cast<const uint8_t*>(a) + a->name_offset);
  const char expected[] = "$I30";
  for (int i = 0; i < 4; ++i)
    if (le16_to_cpu(name[i]) != static_cast<uint16_t>(expected[i])) return false;
  return true;
}

bool ReadLib(const std::string& image, LibView& v, std::string& error) {
  ntfs_volume* vol = ntfs_mount(image.c_str(), NTFS_MNT_RDONLY);
  if (vol == nullptr) {
    error = "ntfs_mount failed";
    return false;
  }
  v.clusters = vol->nr_clusters;
  v.clusterSize = vol->cluster_size;
  v.zoneStart = vol->mft_zone_start;
  v.zoneEnd = vol->mft_zone_end;
  ntfs_volume_get_free_space(vol);
  v.freeClusters = vol->free_clusters;
  std::vector<uint8_t> bitmap(static_cast<size_t>((v.clusters + 7) / 8));
  ntfs_attr_pread(vol->lcnbmp_na, 0, static_cast<s64>(bitmap.size()), bitmap.data());
  v.inUse.assign(static_cast<size_t>(v.clusters), 0);
  for (int64_t c = 0; c < v.clusters; ++c) v.inUse[c] = (bitmap[c / 8] >> (c % 8)) & 1;
  if (ntfs_attr_map_whole_runlist(vol->lcnbmp_na) == 0 && vol->lcnbmp_na->rl[1].length == 0)
    v.bitmapLcn = vol->lcnbmp_na->rl[0].lcn;
  v.collected.assign(v.inUse.size(), 0);
  v.owned.assign(v.inUse.size(), 0);
  const int64_t records = vol->mft_na->initialized_size / vol->mft_record_size;
  std::vector<uint8_t> mftBitmap(static_cast<size_t>(vol->mftbmp_na->data_size));
  ntfs_attr_pread(vol->mftbmp_na, 0, static_cast<s64>(mftBitmap.size()), mftBitmap.data());
  for (int64_t n = 0; n < records; ++n) {
    if (!((mftBitmap[n / 8] >> (n % 8)) & 1)) continue;
    ntfs_inode* ni = ntfs_inode_open(vol, static_cast<MFT_REF>(n));
    if (ni == nullptr) continue;
    if (ni->mrec->base_mft_record != 0) {
      ntfs_inode_close(ni);
      continue;
    }
    ntfs_attr_search_ctx* ctx = ntfs_attr_get_search_ctx(ni, nullptr);
    while (ntfs_attr_lookup(AT_UNUSED, nullptr, 0, CASE_SENSITIVE, 0, nullptr, 0, ctx) == 0) {
      const ATTR_RECORD* a = ctx->attr;
      if (!a->non_resident) continue;
      const uint32_t type = le32_to_cpu(a->type);
      const bool collected = (type == le32_to_cpu(AT_DATA) && a->name_length == 0) ||
                             (type == le32_to_cpu(AT_INDEX_ALLOCATION) && IsI30(a)) ||
                             type == le32_to_cpu(AT_SECURITY_DESCRIPTOR) ||
                             (n == 0 && type == le32_to_cpu(AT_BITMAP));
      v.kinds.insert(KindOf(a, n));
      runlist_element* rl = ntfs_mapping_pairs_decompress(vol, a, nullptr);
      for (runlist_element* r = rl; r && r->length; ++r) {
        if (r->lcn < 0) continue;
        for (int64_t c = r->lcn; c < r->lcn + r->length && c < v.clusters; ++c) {
          v.owned[c] = 1;
          if (collected) v.collected[c] = 1;
        }
      }
      free(rl);
    }
    ntfs_attr_put_search_ctx(ctx);
    ntfs_inode_close(ni);
  }
  ntfs_umount(vol, FALSE);
  return true;
}

std::string KindOf(const ATTR_RECORD* a, int64_t record) {
  const uint32_t type = le32_to_cpu(a->type);
  if (type == le32_to_cpu(AT_DATA)) return a->name_length == 0 ? "data" : "named data";
  if (type == le32_to_cpu(AT_INDEX_ALLOCATION)) return IsI30(a) ? "$I30 index" : "other index";
  if (type == le32_to_cpu(AT_BITMAP)) return record == 0 ? "$MFT bitmap" : "index bitmap";
  if (type == le32_to_cpu(AT_ATTRIBUTE_LIST)) return "attribute list";
  if (type == le32_to_cpu(AT_SECURITY_DESCRIPTOR)) return "security descriptor";
  return "type " + std::to_string(type);
}

int64_t Count(const Bits& a, const Bits& b, bool aOn, bool bOn) {
  int64_t n = 0;
  for (size_t i = 0; i < a.size(); ++i) n += (a[i] != 0) == aOn && (b[i] != 0) == bOn;
  return n;
}

// Sets or clears cluster c's bit in the $Bitmap data of an image.
void SetImageBit(std::vector<uint8_t>& image, const LibView& v, int64_t c, bool on) {
  uint8_t& byte = image.at(static_cast<size_t>(v.bitmapLcn * v.clusterSize + c / 8));
  if (on) {
    byte |= static_cast<uint8_t>(1u << (c % 8));
  } else {
    byte &= static_cast<uint8_t>(~(1u << (c % 8)));
  }
}

class ClusterMapOnImage : public ClusterMapTest {
 protected:
  void SetUp() override {
    ClusterMapTest::SetUp();
    if (testsupport::FindTool("mkntfs").empty()) GTEST_SKIP() << "mkntfs not installed";
    fixture_ = &testsupport::SharedNtfsFixture();
    image_ = testsupport::ReadFileBytes(fixture_->Path());
    ASSERT_GE(image_.size(), 1u << 20);
    std::string error;
    ASSERT_TRUE(ReadLib(fixture_->Path(), lib_, error)) << error;
    ASSERT_GE(lib_.bitmapLcn, 0);
    platform::ResetPlatform();
    platform::RegisterBuiltinDrivers();
    Install_MFT_Hooks();
    Paint_20h_Hook = nullptr;
    SetMainWindow(&window_);
  }
  void TearDown() override {
    Long h = VolumeSession.VolumeHandle;
    Close_Drive(h);
    platform::ResetPlatform();
    SetMainWindow(nullptr);
    BoxColors.ReDim(0);
    ClustersPerBox = 1;
    Allocation.ComputedBitmap.ReDim(0);
    MftBitmapLengths.ReDim(0);
    MftBitmapLcns.ReDim(0);
    Allocation.BitmapSector = 0;
    ClusterMapTest::TearDown();
  }

  // Opens `image` as drive N: the way a volume command does, exclusive and
  // locked when it can, and starts a scan: $MFT, MFT bitmap, $Bitmap, zone.
  void Open(const std::vector<uint8_t>& image, uint32_t access = kAccessReadWrite,
            platform::DeviceWrapper wrapper = nullptr, bool busy = false) {
    device_ = std::make_shared<platform::MemoryDevice>(image, false);
    platform::MapMemoryDrive(
        'n', device_, busy ? std::vector<std::string>{"pagefile.sys"} : std::vector<std::string>{});
    if (wrapper) platform::SetDeviceWrapper('n', wrapper);
    VolumeSession.DriveName = "n:";
    VolumeSession.VolumeHandle = Open_Lock_Drive("n:", access);
    ASSERT_NE(VolumeSession.VolumeHandle, -1);
    ASSERT_TRUE(Raw_Read(0, VolumeSession.BootSector.Span()));
    const Bytes boot = VolumeSession.BootSector.Span();
    VolumeSession.IsNtfs = -1;
    Set_Ntfs_Geometry(boot);
    Long spc = 0;
    VolumeSession.TotalSectors = Disk_Size("n:\\", spc);
    ASSERT_EQ(VolumeSession.TotalClusters, lib_.clusters);
    BigFileClusters = 1024 / VolumeSession.SectorsPerCluster;
    ASSERT_TRUE(Load_Mft()) << ErrorState.ErrorText;
    Allocation.AllocationFloor = VolumeSession.TotalSectors / VolumeSession.SectorsPerCluster / 8;
    ASSERT_TRUE(Get_MFT_Zone()) << ErrorState.ErrorText;
    VbArray<Long> lengths, lcns;
    ByteArray buffer;
    RecordInfo info;
    Decode_FILE(VolumeSession.VolumeHandle, 6, lengths, lcns, buffer, info);
    ASSERT_EQ(lengths.UBound(), 1);
    Load_Bitmap(lengths, lcns);
    ASSERT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
    // Only a locked volume's $Bitmap run may be written back.
    ASSERT_EQ(Allocation.BitmapSector,
              VolumeSession.NotLocked == 0 ? lcns(1) * VolumeSession.SectorsPerCluster : Long(0));
    Allocation.ComputedBitmap.ReDim(Allocation.VolumeBitmap.UBound());
    // The map the painters draw into (the grid as Reset_Volume_State left it).
    Create_Swatches();
    ClustersPerBox = Integer(VolumeSession.TotalClusters / BoxCount + 1);
    BoxColors.ReDim(VolumeSession.TotalClusters / ClustersPerBox + 1);
  }

  // What the walk marks: the segments of every base record in use, their
  // non-resident security descriptors and every other non-resident
  // attribute, each cluster claimed once.
  void MarkEveryFile() {
    const int64_t records = Mft_Record_Count();
    int files = 0;
    for (int64_t n = 0; n < records; ++n) {
      if (!Is_Active(Long(n))) continue;
      ByteArray raw;
      ASSERT_TRUE(Read_FILE(raw, Long(n)));
      if ((U64(raw.Span(), 0x20) & 0xFFFFFFFFFFFFull) != 0) continue;  // an extension
      if (U32(raw.Span(), 0) != 0x454C4946u) continue;                 // never written
      VbArray<Long> lengths, lcns;
      ByteArray buffer;
      RecordInfo info;
      Decode_FILE(VolumeSession.VolumeHandle, Long(n), lengths, lcns, buffer, info);
      ASSERT_EQ(ErrorState.ErrorCount, 0) << n << ": " << ErrorState.ErrorText;
      EXPECT_EQ(Mark_Segments_Used(lengths, lcns), kClaimFree) << n;  // as the scan claims
      Mark_Segments(lengths, lcns, info, n < 11);                     // and paints each file
      if (info.SecurityNonResident != 0) {
        EXPECT_EQ(Mark_Segments_Used(SecurityLengths, SecurityLcns), kClaimFree) << n;
        Mark_Segments(SecurityLengths, SecurityLcns, info, true);
      }
      EXPECT_TRUE(Mark_Attributes(Long(n), buffer, info, n < 11)) << n << ErrorState.ErrorText;
      ++files;
    }
    EXPECT_GE(files, 150);
  }

  std::vector<std::string> Lines() const { return window_.LineTexts(); }
  // Clusters in use that no attribute owns.
  int64_t Excess() const { return Count(lib_.inUse, lib_.owned, true, false); }
  std::vector<std::string> ExcessLine(int64_t more = 0) const {
    if (Excess() + more == 0) return {};
    return {"Bitmap: excess=" + std::to_string(Excess() + more)};
  }

  const testsupport::NtfsFixture* fixture_ = nullptr;
  std::vector<uint8_t> image_;
  LibView lib_;
  std::shared_ptr<platform::MemoryDevice> device_;
  RecordingMainWindow window_;
};

// --- Free segments -------------------------------------------------------------------------

TEST_F(ClusterMapOnImage, FreeSegmentsAreTheGapsOfTheVolumeBitmap) {
  ASSERT_NO_FATAL_FAILURE(Open(image_));
  ASSERT_EQ(VolumeSession.SharedMode, 0);
  Setup_FREE_Segs();
  ASSERT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
  // The bitmap as libntfs-3g reads it, in the layout the reading expects.
  ByteArray bitmap((lib_.clusters + 7) / 8 - 1);
  for (int64_t c = 0; c < lib_.clusters; ++c)
    if (lib_.inUse[c]) bitmap(c / 8) |= static_cast<uint8_t>(1u << (c % 8));
  int64_t small = 0;
  const auto expected = ExpectedGaps(bitmap, lib_.clusters, Allocation.MftZoneFirstByte,
                                     Allocation.MftZoneLastByte, Allocation.AllocationFloor, small);
  EXPECT_EQ(Listed(), expected);
  EXPECT_EQ(Allocation.SmallGapClusters, small);
  EXPECT_GE(Allocation.FreeCount, 3);
  // The zone is the one libntfs-3g keeps, to the byte.
  EXPECT_EQ(Allocation.MftZoneFirstByte, lib_.zoneStart / 8);
  // Every free cluster is listed, a short gap, or in the zone's bytes.
  int64_t zoneFree = 0;
  for (int64_t c = 8 * Allocation.MftZoneFirstByte;
       c < std::min<int64_t>(8 * (Allocation.MftZoneLastByte + 1), lib_.clusters); ++c)
    zoneFree += !lib_.inUse[c];
  EXPECT_EQ(Total_Free() / VolumeSession.SectorsPerCluster + zoneFree, lib_.freeClusters);
}

TEST_F(ClusterMapOnImage, SharedVolumeGivesTheSameSegmentsAndKeepsTheZoneFromMoves) {
  ASSERT_NO_FATAL_FAILURE(Open(image_));
  Setup_FREE_Segs();
  const std::vector<Gap> exclusive = Listed();
  const Long small = Allocation.SmallGapClusters;
  Long h = VolumeSession.VolumeHandle;
  Close_Drive(h);
  // The same volume held by another program: bitmap through the file system.
  ASSERT_NO_FATAL_FAILURE(Open(image_, kAccessReadWrite, nullptr, true));
  ASSERT_EQ(VolumeSession.SharedMode, -1);
  Setup_FREE_Segs();
  EXPECT_EQ(Listed(), exclusive);
  EXPECT_EQ(Allocation.SmallGapClusters, small);
  int64_t zoneFreeBits = 0;
  for (int64_t k = Allocation.MftZoneFirstByte; k <= Allocation.MftZoneLastByte; ++k)
    zoneFreeBits += 8 - std::popcount(Allocation.VolumeBitmap(k));
  ASSERT_GT(zoneFreeBits, 0);
  // An optimisation follows: the file system must not be sent into the zone,
  // which stays reserved while the bitmap image stays as the volume says.
  DefragMode = 0;
  const ByteArray before = Allocation.VolumeBitmap;
  Setup_FREE_Segs();
  EXPECT_EQ(Listed(), exclusive);
  for (int64_t k = 0; k <= before.UBound(); ++k)
    ASSERT_EQ(Allocation.VolumeBitmap(k), before(k)) << k;
  for (const Gap& g : Listed())
    for (int64_t c = g.start; c < g.start + g.length; ++c) ASSERT_FALSE(In_Mft_Zone(Long(c))) << c;
}

TEST_F(ClusterMapOnImage, FloorInsideAGapSplitsItThere) {
  ASSERT_NO_FATAL_FAILURE(Open(image_));
  Setup_FREE_Segs();
  const std::vector<Gap> whole = Listed();
  // A floor in the middle of the largest gap, as on a volume whose zone
  // lies below its first eighth.
  size_t best = 0;
  for (size_t i = 1; i < whole.size(); ++i)
    if (whole[i].length > whole[best].length) best = i;
  ASSERT_GE(whole[best].length, 2);
  const int64_t floor = whole[best].start + whole[best].length / 2;
  Allocation.AllocationFloor = Long(floor);
  Setup_FREE_Segs();
  std::vector<Gap> expected = whole;
  expected[best].length = floor - whole[best].start;
  expected.insert(expected.begin() + static_cast<std::ptrdiff_t>(best) + 1,
                  {floor, whole[best].start + whole[best].length - floor});
  EXPECT_EQ(Listed(), expected);
}

TEST_F(ClusterMapOnImage, FreeFiguresAgreeWithTheBitmap) {
  ASSERT_NO_FATAL_FAILURE(Open(image_));
  Setup_FREE_Segs();
  int64_t large = 0;
  for (int64_t i = 1; i <= Allocation.FreeCount; ++i)
    if (Allocation.FreeLengths(i) >= BigFileClusters) large += Allocation.FreeLengths(i);
  // The zone lies in no listed segment, so nothing is cut.
  EXPECT_EQ(Large_Free(), large * VolumeSession.SectorsPerCluster);
  EXPECT_GT(Large_Free(), 0);
  EXPECT_LE(Large_Free(), Total_Free());
  int64_t zoneUsed = 0;
  for (int64_t c = Allocation.MftZoneStart;
       c < Allocation.MftZoneStart + Allocation.MftZoneLength && c < lib_.clusters; ++c)
    zoneUsed += lib_.inUse[c];
  EXPECT_EQ(Mft_Zone_Free(), Allocation.MftZoneLength - zoneUsed);
}

// --- Cross-checks --------------------------------------------------------------------------

TEST_F(ClusterMapOnImage, HealthyVolumeHasEveryClusterOwnedOnce) {
  ASSERT_NO_FATAL_FAILURE(Open(image_));
  ASSERT_NO_FATAL_FAILURE(MarkEveryFile());
  Checking_Bitmaps();
  EXPECT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
  EXPECT_EQ(ErrorState.Failed, 0);
  // Named streams ($Secure:$SDS, user streams), the other indexes, folder
  // bitmaps: libntfs-3g's run lists of every attribute of every record are
  // exactly the clusters the scan owns, and the volume bitmap agrees.
  std::string kinds;
  for (const std::string& k : lib_.kinds) kinds += k + "; ";
  RecordProperty("non-resident attribute kinds", kinds);
  for (const char* kind :
       {"data", "named data", "$I30 index", "$MFT bitmap", "attribute list", "security descriptor"})
    EXPECT_EQ(lib_.kinds.count(kind), 1u) << kind << " not among " << kinds;
  EXPECT_EQ(Excess(), 0);
  EXPECT_EQ(Lines(), std::vector<std::string>{});
  for (int64_t c = 0; c < lib_.clusters; ++c)
    ASSERT_EQ((Allocation.ComputedBitmap(c / 8) >> (c % 8)) & 1, lib_.owned[c]) << "cluster " << c;
  // With both bitmaps equal, no box gets the disagreement mark.
  for (int64_t k = 0; k < lib_.clusters / 8; ++k)
    ASSERT_EQ(Allocation.VolumeBitmap(k), Allocation.ComputedBitmap(k)) << "byte " << k;
}

TEST_F(ClusterMapOnImage, FileClearedInTheBitmapIsUnmarkedAndStopsTheRun) {
  const testsupport::NtfsFixtureEntry* victim = nullptr;
  std::vector<testsupport::LibntfsRun> runs;
  for (const auto& e : fixture_->Entries()) {
    if (!(e.flags & testsupport::kNtfsFragmented)) continue;
    std::string error;
    ASSERT_TRUE(testsupport::LibntfsRunlist(fixture_->Path(), e.path, runs, error)) << error;
    if (runs.size() >= 2) {
      victim = &e;
      break;
    }
  }
  ASSERT_NE(victim, nullptr);
  std::vector<uint8_t> copy = image_;
  int64_t cleared = 0;
  for (const auto& r : runs) {
    if (r.lcn < 0) continue;
    for (int64_t c = r.lcn; c < r.lcn + r.length; ++c) SetImageBit(copy, lib_, c, false);
    cleared += r.length;
  }
  ASSERT_NO_FATAL_FAILURE(Open(copy));
  ASSERT_NO_FATAL_FAILURE(MarkEveryFile());
  Checking_Bitmaps();
  std::vector<std::string> expected = ExcessLine();
  expected.push_back("Bitmap: unmarked=" + std::to_string(cleared));
  EXPECT_EQ(Lines(), expected);
  EXPECT_EQ(window_.Lines().back().pieces.at(0).colour, kLightRed);
  EXPECT_EQ(ErrorState.ErrorCount, 1);
  EXPECT_EQ(ErrorState.Failed, -1);
  EXPECT_EQ(ErrorState.RecordFault, -1);
}

TEST_F(ClusterMapOnImage, ClustersAllocatedToNothingAreExcessOnly) {
  std::vector<uint8_t> copy = image_;
  int64_t set = 0;
  for (int64_t c = lib_.clusters - 1; c > 0 && set < 37; --c) {
    if (lib_.inUse[c]) continue;
    SetImageBit(copy, lib_, c, true);
    ++set;
  }
  ASSERT_EQ(set, 37);
  ASSERT_NO_FATAL_FAILURE(Open(copy));
  ASSERT_NO_FATAL_FAILURE(MarkEveryFile());
  Checking_Bitmaps();
  EXPECT_EQ(Lines(), ExcessLine(37));
  EXPECT_EQ(ErrorState.ErrorCount, 0);
  EXPECT_EQ(ErrorState.Failed, 0);
}

// --- Writing the bitmap back ---------------------------------------------------------------

class WriteBack : public ClusterMapOnImage {
 protected:
  void OpenLogged(const std::vector<uint8_t>& image, uint32_t access = kAccessReadWrite) {
    auto wrap = [this](std::shared_ptr<platform::BlockDevice> inner) {
      log_ = std::make_shared<platform::WriteLogDevice>(inner);
      return log_;
    };
    ASSERT_NO_FATAL_FAILURE(Open(image, access, wrap));
    ASSERT_NE(log_, nullptr);
    ASSERT_TRUE(log_->Log().empty());
  }
  // The drive's bytes now, as an image file libntfs-3g can mount.
  std::string Saved() {
    const std::string path = testsupport::TempPath("cluster-map-written.img");
    EXPECT_TRUE(testsupport::WriteFileBytes(path, device_->Bytes()));
    return path;
  }
  // Offsets where the drive now differs from `before`.
  std::vector<size_t> Changed(const std::vector<uint8_t>& before) const {
    std::vector<size_t> at;
    for (size_t i = 0; i < before.size(); ++i)
      if (before[i] != device_->Bytes()[i]) at.push_back(i);
    return at;
  }
  std::shared_ptr<platform::WriteLogDevice> log_;
};

TEST_F(WriteBack, SaveBitMapWritesTheSectorsOfTheChangedClustersOnly) {
  ASSERT_NO_FATAL_FAILURE(OpenLogged(image_));
  ASSERT_NE(VolumeSession.Locked, 0);
  Setup_FREE_Segs();
  // The largest free segment, taken as a move would take it: across at
  // least one 4096-cluster sector boundary.
  int64_t best = 1;
  for (int64_t i = 2; i <= Allocation.FreeCount; ++i)
    if (Allocation.FreeLengths(i) > Allocation.FreeLengths(best)) best = i;
  const int64_t block = Allocation.FreeStarts(best) + 100;
  const int64_t top = block + 5000;
  ASSERT_LE(top, Allocation.FreeStarts(best) + Allocation.FreeLengths(best));
  Mark_Used(Allocation.VolumeBitmap, Long(block), Long(top - block));
  ASSERT_TRUE(Save_BitMap(Long(block), Long(top)));
  EXPECT_EQ(ErrorState.ErrorCount, 0);
  ASSERT_EQ(log_->Log().size(), 1u);
  const auto& w = log_->Log()[0];
  const int64_t first = block / 4096, sectors = (top - 1) / 4096 - first + 1;
  EXPECT_EQ(w.offset, static_cast<uint64_t>((lib_.bitmapLcn * lib_.clusterSize) + first * 512));
  ASSERT_EQ(w.bytes.size(), static_cast<size_t>(sectors * 512));
  EXPECT_TRUE(
      std::equal(w.bytes.begin(), w.bytes.end(), Allocation.VolumeBitmap.data() + first * 512));
  // Only the bytes of the changed clusters differ on the volume.
  for (size_t at : Changed(image_)) {
    const int64_t bitmapByte = static_cast<int64_t>(at) - lib_.bitmapLcn * lib_.clusterSize;
    ASSERT_GE(bitmapByte, block / 8) << at;
    ASSERT_LE(bitmapByte, (top - 1) / 8) << at;
  }
  // libntfs-3g reads the new allocation.
  LibView after;
  std::string error;
  ASSERT_TRUE(ReadLib(Saved(), after, error)) << error;
  EXPECT_EQ(after.freeClusters, lib_.freeClusters - 5000);
  for (int64_t c = 0; c < lib_.clusters; ++c)
    ASSERT_EQ(after.inUse[c], lib_.inUse[c] || (c >= block && c < top) ? 1 : 0) << c;
}

TEST_F(WriteBack, BitmapChangesOfAMoveAreWrittenBackAsTheirChangedRange) {
  ASSERT_NO_FATAL_FAILURE(OpenLogged(image_));
  ASSERT_NE(VolumeSession.Locked, 0);
  Setup_FREE_Segs();
  ASSERT_GE(Allocation.FreeCount, 2);
  // A target in the first free segment and one in the last, as the two ends
  // of moves would take them.
  const int64_t low = Allocation.FreeStarts(1);
  ASSERT_GE(Allocation.FreeLengths(1), 3);
  int64_t last = Allocation.FreeCount;
  while (last > 1 && Allocation.FreeLengths(last) < 2) --last;
  ASSERT_GT(last, 1);
  const int64_t high = Allocation.FreeStarts(last);
  EXPECT_LE(Allocation.ChangedEnd, Allocation.ChangedFirst);  // nothing changed yet
  Set_Volume_Bits(Long(high), 2, true);
  Set_Volume_Bits(Long(low), 3, true);
  EXPECT_EQ(Allocation.ChangedFirst, low);
  EXPECT_EQ(Allocation.ChangedEnd, high + 2);
  // Writing part of the range keeps it; writing all of it empties it.
  ASSERT_TRUE(Save_BitMap(Long(low), Long(low + 3)));
  EXPECT_EQ(Allocation.ChangedEnd, high + 2);
  ASSERT_TRUE(Save_BitMap(Allocation.ChangedFirst, Allocation.ChangedEnd));
  EXPECT_LE(Allocation.ChangedEnd, Allocation.ChangedFirst);
  EXPECT_EQ(ErrorState.ErrorCount, 0);
  ASSERT_EQ(log_->Log().size(), 2u);
  const auto& w = log_->Log()[1];
  EXPECT_EQ(w.offset, static_cast<uint64_t>(lib_.bitmapLcn * lib_.clusterSize + low / 4096 * 512));
  EXPECT_EQ(w.bytes.size(), static_cast<size_t>(((high + 1) / 4096 - low / 4096 + 1) * 512));
  LibView after;
  std::string error;
  ASSERT_TRUE(ReadLib(Saved(), after, error)) << error;
  EXPECT_EQ(after.freeClusters, lib_.freeClusters - 5);
  // Released again (the old place of a moved file): free on the volume.
  Set_Volume_Bits(Long(low), 3, false);
  EXPECT_EQ(Allocation.ChangedFirst, low);
  EXPECT_EQ(Allocation.ChangedEnd, low + 3);
  ASSERT_TRUE(Save_BitMap(Allocation.ChangedFirst, Allocation.ChangedEnd));
  ASSERT_TRUE(ReadLib(Saved(), after, error)) << error;
  EXPECT_EQ(after.freeClusters, lib_.freeClusters - 2);
  EXPECT_EQ(after.inUse[low], 0);
  EXPECT_EQ(after.inUse[high + 1], 1);
  // A run beyond the bitmap changes nothing.
  EXPECT_EQ(testsupport::ErrorOf([] {
              Set_Volume_Bits(Long(static_cast<int64_t>(Allocation.VolumeBitmap.size()) * 8), 1,
                              true);
            }),
            kErrSubscript);
  EXPECT_LE(Allocation.ChangedEnd, Allocation.ChangedFirst);
}

TEST_F(WriteBack, SaveBitMapOfAFewClustersWritesOneSector) {
  ASSERT_NO_FATAL_FAILURE(OpenLogged(image_));
  Setup_FREE_Segs();
  int64_t block = -1;
  for (int64_t i = 1; i <= Allocation.FreeCount && block < 0; ++i)
    if (Allocation.FreeLengths(i) >= 3 && Allocation.FreeStarts(i) % 4096 <= 4093)
      block = Allocation.FreeStarts(i);
  ASSERT_GE(block, 0);
  Mark_Used(Allocation.VolumeBitmap, Long(block), 3);
  ASSERT_TRUE(Save_BitMap(Long(block), Long(block + 3)));
  ASSERT_EQ(log_->Log().size(), 1u);
  EXPECT_EQ(log_->Log()[0].bytes.size(), 512u);
  LibView after;
  std::string error;
  ASSERT_TRUE(ReadLib(Saved(), after, error)) << error;
  EXPECT_EQ(after.freeClusters, lib_.freeClusters - 3);
}

TEST_F(WriteBack, SaveBitMapOnASharedVolumeWritesNothing) {
  platform::MapMemoryDrive('n', std::make_shared<platform::MemoryDevice>(image_, false),
                           {"pagefile.sys"});  // held by another program: shared open
  auto wrap = [this](std::shared_ptr<platform::BlockDevice> inner) {
    log_ = std::make_shared<platform::WriteLogDevice>(inner);
    return log_;
  };
  platform::SetDeviceWrapper('n', wrap);
  VolumeSession.VolumeHandle = Open_Lock_Drive("n:", kAccessReadWrite);
  ASSERT_NE(VolumeSession.VolumeHandle, -1);
  ASSERT_EQ(VolumeSession.SharedMode, -1);
  VolumeSession.IsNtfs = -1;
  Allocation.VolumeBitmap.ReDim(4095);
  Allocation.BitmapSector = 100;
  EXPECT_FALSE(Save_BitMap(0, 4096));
  EXPECT_EQ(ErrorState.ErrorText, "Error writing drive");
  EXPECT_EQ(ErrorState.Failed, -1);
  EXPECT_EQ(ErrorState.InternalFault, -1);  // the program's fault, not the drive's
  EXPECT_EQ(ErrorState.ReadFault, 0);
  ASSERT_NE(log_, nullptr);
  EXPECT_TRUE(log_->Log().empty());
}

TEST_F(WriteBack, SaveBitMapNeverWritesPastTheBitmapRun) {
  ASSERT_NO_FATAL_FAILURE(OpenLogged(image_));
  const int64_t clusters = static_cast<int64_t>(Allocation.VolumeBitmap.size()) * 8;
  EXPECT_FALSE(Save_BitMap(Long(clusters - 10), Long(clusters + 4096)));
  EXPECT_EQ(ErrorState.ErrorText, "Error writing drive");
  Allocation.BitmapSector = 0;  // $Bitmap's place unknown (it was not one run)
  EXPECT_FALSE(Save_BitMap(0, 10));
  EXPECT_TRUE(log_->Log().empty());
}

TEST_F(WriteBack, FailedBitmapWriteStopsTheRun) {
  std::shared_ptr<platform::FaultDevice> fault;
  auto wrap = [&](std::shared_ptr<platform::BlockDevice> inner) {
    fault = std::make_shared<platform::FaultDevice>(inner, 0, 1);
    return fault;
  };
  ASSERT_NO_FATAL_FAILURE(Open(image_, kAccessReadWrite, wrap));
  EXPECT_FALSE(Save_BitMap(0, 10));
  EXPECT_EQ(ErrorState.ErrorText, "Error writing drive");
  EXPECT_EQ(ErrorState.ErrorWhere, "Save_BitMap");
  EXPECT_EQ(ErrorState.ReadFault, -1);
  EXPECT_EQ(ErrorState.Failed, -1);
  EXPECT_EQ(ErrorState.ErrorCount, 1);
}

// --- Writing a FILE record back ------------------------------------------------------------

class RecordWriteBack : public WriteBack {
 protected:
  // The record number of a fixture file, through libntfs-3g.
  int64_t RecordOf(const std::string& path) {
    ntfs_volume* vol = ntfs_mount(fixture_->Path().c_str(), NTFS_MNT_RDONLY);
    EXPECT_NE(vol, nullptr);
    if (vol == nullptr) return -1;
    std::string posix = "/" + path;
    std::replace(posix.begin(), posix.end(), '\\', '/');
    ntfs_inode* ni = ntfs_pathname_to_inode(vol, nullptr, posix.c_str());
    const int64_t n = ni ? static_cast<int64_t>(MREF(ni->mft_no)) : -1;
    if (ni) ntfs_inode_close(ni);
    ntfs_umount(vol, FALSE);
    return n;
  }
  // A plain file of the fixture, its record read raw with the DOS hidden
  // attribute set in $STANDARD_INFORMATION.
  void Prepare() {
    for (const auto& e : fixture_->Entries()) {
      if (e.flags != 0 || e.size == 0) continue;
      path_ = e.path;
      break;
    }
    ASSERT_FALSE(path_.empty());
    record_ = RecordOf(path_);
    ASSERT_GT(record_, 11);
    ASSERT_TRUE(Read_FILE(buffer_, Long(record_)));
    const int64_t si = AttributeAt(buffer_.Span(), 0x10);
    ASSERT_GT(si, 0);
    flagsAt_ = si + U16(buffer_.Span(), si + 0x14) + 0x20;
    ASSERT_EQ(buffer_(flagsAt_) & 0x02, 0);
    buffer_(flagsAt_) |= 0x02;
  }
  bool HiddenNow() {
    ntfs_volume* vol = ntfs_mount(Saved().c_str(), NTFS_MNT_RDONLY);
    EXPECT_NE(vol, nullptr);
    if (vol == nullptr) return false;
    ntfs_inode* ni = ntfs_inode_open(vol, static_cast<MFT_REF>(record_));
    EXPECT_NE(ni, nullptr);
    const bool hidden = ni && (le32_to_cpu(ni->flags) & 0x02) != 0;
    if (ni) ntfs_inode_close(ni);
    ntfs_umount(vol, FALSE);
    return hidden;
  }
  std::string path_;
  int64_t record_ = -1;
  int64_t flagsAt_ = 0;
  ByteArray buffer_;
};

// The write-backs leave the clean-volume check to Raw_Write: on a volume
// marked dirty both stop with the check's one line, as no failed write, and
// write nothing.
TEST_F(RecordWriteBack, OnADirtyVolumeTheWriteBacksStopWithTheCheckLine) {
  const std::string path = testsupport::TempPath("cluster-map-dirty.img");
  ASSERT_TRUE(testsupport::WriteFileBytes(path, image_));
  ntfs_volume* vol = ntfs_mount(path.c_str(), NTFS_MNT_NONE);
  ASSERT_NE(vol, nullptr);
  ASSERT_EQ(ntfs_volume_write_flags(vol, vol->flags | VOLUME_IS_DIRTY), 0);
  ASSERT_EQ(ntfs_umount(vol, FALSE), 0);
  const std::vector<uint8_t> dirty = testsupport::ReadFileBytes(path);
  std::remove(path.c_str());
  ASSERT_NO_FATAL_FAILURE(OpenLogged(dirty));
  ASSERT_NO_FATAL_FAILURE(Prepare());
  const std::string line = "The volume is not clean: it is marked dirty ($Volume).";
  EXPECT_FALSE(Save_Buf(buffer_, Long(record_)));
  EXPECT_EQ(ErrorState.ErrorText, line);
  EXPECT_EQ(ErrorState.ErrorWhere, "Save_Buf");
  EXPECT_EQ(ErrorState.ReadFault, 0) << "a refusal, not a failed write";
  ResetErrorState();
  EXPECT_FALSE(Save_BitMap(0, 10));
  EXPECT_EQ(ErrorState.ErrorText, line);
  EXPECT_EQ(ErrorState.ErrorWhere, "Save_BitMap");
  EXPECT_EQ(ErrorState.ErrorCount, 1);
  EXPECT_EQ(ErrorState.Failed, -1);
  EXPECT_TRUE(log_->Log().empty());
  EXPECT_TRUE(Changed(dirty).empty());
}

TEST_F(RecordWriteBack, SaveBufWritesTheRecordAtItsPlace) {
  ASSERT_NO_FATAL_FAILURE(OpenLogged(image_));
  ASSERT_NO_FATAL_FAILURE(Prepare());
  ASSERT_TRUE(Save_Buf(buffer_, Long(record_)));
  EXPECT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
  ASSERT_EQ(log_->Log().size(), 1u);
  Long left, next;
  const Long sector = FileBlock(Long(record_), left, next);
  EXPECT_EQ(log_->Log()[0].offset, static_cast<uint64_t>(sector) * 512);
  EXPECT_EQ(log_->Log()[0].bytes.size(), buffer_.size());
  // What changed on the volume: the attribute flag, and the update sequence
  // number (in the array and at every sector end), one higher.
  const size_t at = static_cast<size_t>(sector) * 512;
  const int64_t usa = U16(buffer_.Span(), 4);
  const uint16_t usn = U16(buffer_.Span(), usa);
  std::vector<size_t> expected{at + static_cast<size_t>(flagsAt_)};
  for (int64_t k = -1; k < VolumeSession.SectorsPerFileRecord; ++k) {
    const int64_t pos = k < 0 ? usa : 512 * k + 510;
    for (int i = 0; i < 2; ++i)
      if (((usn >> (8 * i)) & 0xFF) != (((usn + 1) >> (8 * i)) & 0xFF))
        expected.push_back(at + static_cast<size_t>(pos + i));
  }
  std::sort(expected.begin(), expected.end());
  EXPECT_EQ(Changed(image_), expected);
  const std::vector<uint8_t>& now = device_->Bytes();
  EXPECT_EQ(U16(Bytes(now).subspan(at), usa), static_cast<uint16_t>(usn + 1));
  EXPECT_TRUE(HiddenNow());
  // The caller's buffer is left as it was.
  EXPECT_EQ(U16(buffer_.Span(), usa), usn);
}

// The record and then the bitmap written, as a move writes them: stopped
// after any of the writes, libntfs-3g still mounts the volume and sees
// exactly the writes that reached it.
TEST_F(RecordWriteBack, EveryCrashPointOfARecordAndBitmapWriteLeavesAReadableVolume) {
  ASSERT_NO_FATAL_FAILURE(OpenLogged(image_));
  ASSERT_NO_FATAL_FAILURE(Prepare());
  Setup_FREE_Segs();
  const int64_t block = Allocation.FreeStarts(1);
  ASSERT_GE(Allocation.FreeLengths(1), 8);
  ASSERT_TRUE(Save_Buf(buffer_, Long(record_))) << ErrorState.ErrorText;
  Mark_Used(Allocation.VolumeBitmap, Long(block), 8);
  ASSERT_TRUE(Save_BitMap(Long(block), Long(block + 8))) << ErrorState.ErrorText;
  ASSERT_EQ(log_->Log().size(), 2u);
  int checked = 0;
  testsupport::ForEachCrashPoint(image_, *log_, [&](size_t writes, const std::vector<uint8_t>& v) {
    const std::string path = testsupport::TempPath("crash-point.img");
    ASSERT_TRUE(testsupport::WriteFileBytes(path, v));
    LibView view;
    std::string error;
    ASSERT_TRUE(ReadLib(path, view, error)) << error;
    EXPECT_EQ(view.freeClusters, lib_.freeClusters - (writes >= 2 ? 8 : 0));
    ntfs_volume* vol = ntfs_mount(path.c_str(), NTFS_MNT_RDONLY);
    ASSERT_NE(vol, nullptr);
    ntfs_inode* ni = ntfs_inode_open(vol, static_cast<MFT_REF>(record_));
    ASSERT_NE(ni, nullptr);
    EXPECT_EQ((le32_to_cpu(ni->flags) & 0x02) != 0, writes >= 1);
    ntfs_inode_close(ni);
    ntfs_umount(vol, FALSE);
    std::remove(path.c_str());
    ++checked;
  });
  EXPECT_EQ(checked, 3);
}

TEST_F(RecordWriteBack, FixedUpRecordIsNeverWritten) {
  ASSERT_NO_FATAL_FAILURE(OpenLogged(image_));
  ASSERT_NO_FATAL_FAILURE(Prepare());
  ASSERT_TRUE(Fixup_FILE(buffer_.Span()));  // sector ends hold data again
  EXPECT_FALSE(Save_Buf(buffer_, Long(record_)));
  EXPECT_EQ(ErrorState.ErrorText, "Error writing drive");
  EXPECT_EQ(ErrorState.ErrorWhere, "Save_Buf");
  EXPECT_TRUE(log_->Log().empty());
}

TEST_F(RecordWriteBack, RecordIsWrittenOnlyAtItsOwnNumber) {
  ASSERT_NO_FATAL_FAILURE(OpenLogged(image_));
  ASSERT_NO_FATAL_FAILURE(Prepare());
  EXPECT_FALSE(Save_Buf(buffer_, Long(record_ + 1)));
  EXPECT_FALSE(Save_Buf(buffer_, Mft_Record_Count()));
  EXPECT_EQ(ErrorState.Failed, -1);
  EXPECT_TRUE(log_->Log().empty());
}

TEST_F(RecordWriteBack, ReadOnlyViewWritesNothing) {
  ASSERT_NO_FATAL_FAILURE(OpenLogged(image_, kAccessRead));
  ASSERT_NO_FATAL_FAILURE(Prepare());
  EXPECT_FALSE(Save_Buf(buffer_, Long(record_)));
  EXPECT_EQ(ErrorState.ErrorText, "Error writing drive");
  EXPECT_TRUE(Changed(image_).empty());
}

// $MFTMirr keeps records 0 .. 3: after Save_Buf of each of them (each
// written back unchanged but for its sequence number) the copies still equal
// the $MFT, as ntfsfix checks and libntfs-3g's mount requires; a record
// read back is what was written.
TEST_F(RecordWriteBack, MirroredRecordsKeepTheirCopiesEqual) {
  if (testsupport::FindTool("ntfsfix").empty()) GTEST_SKIP() << "ntfsfix not installed";
  ASSERT_NO_FATAL_FAILURE(OpenLogged(image_));
  const int64_t spr = VolumeSession.SectorsPerFileRecord;
  const int64_t mirrorAt =
      static_cast<int64_t>(U64(VolumeSession.BootSector.Span(), 0x38)) * lib_.clusterSize;
  for (int64_t r = 0; r < 4; ++r) {
    ByteArray before;
    ASSERT_TRUE(Read_FILE(before, Long(r)));
    ASSERT_TRUE(Save_Buf(before, Long(r))) << r << " " << ErrorState.ErrorText;
    ByteArray after;
    ASSERT_TRUE(Read_FILE(after, Long(r)));
    const int64_t usa = U16(before.Span(), 4);
    EXPECT_EQ(U16(after.Span(), usa), static_cast<uint16_t>(U16(before.Span(), usa) + 1)) << r;
    ASSERT_TRUE(Fixup_FILE(before.Span()));
    ASSERT_TRUE(Fixup_FILE(after.Span()));
    PutU16(after.Span(), usa, U16(before.Span(), usa));
    EXPECT_TRUE(std::equal(before.data(), before.data() + before.size(), after.data())) << r;
  }
  // Two writes per record: the $MFT, then its copy.
  ASSERT_EQ(log_->Log().size(), 8u);
  const std::vector<uint8_t>& now = device_->Bytes();
  for (int64_t r = 0; r < 4; ++r) {
    Long left, next;
    const int64_t mft = int64_t{FileBlock(Long(r), left, next).Value()} * 512;
    EXPECT_EQ(log_->Log()[2 * r + 1].offset, static_cast<uint64_t>(mirrorAt + r * spr * 512));
    EXPECT_TRUE(std::equal(now.begin() + mft, now.begin() + mft + spr * 512,
                           now.begin() + mirrorAt + r * spr * 512))
        << r;
  }
  const std::string compared = "Comparing $MFTMirr to $MFT... ";
  std::string output;
  EXPECT_EQ(testsupport::RunCommand("ntfsfix -n '" + Saved() + "' 2>&1", output), 0) << output;
  // The mount itself compares the copies; it fails on any difference.
  EXPECT_NE(output.find("Mounting volume... OK"), std::string::npos) << output;
  EXPECT_EQ(output.find("FAILED"), std::string::npos) << output;
  ntfs_volume* vol = ntfs_mount(Saved().c_str(), NTFS_MNT_RDONLY);
  EXPECT_NE(vol, nullptr);
  if (vol != nullptr) ntfs_umount(vol, FALSE);
  // The check can fail: a copy whose creation time differs from its
  // record's is found.
  std::vector<uint8_t> damaged = device_->Bytes();
  const Bytes copy = Bytes(damaged).subspan(static_cast<size_t>(mirrorAt + 2 * spr * 512));
  const int64_t si = U16(copy, 0x14);
  damaged[static_cast<size_t>(mirrorAt + 2 * spr * 512 + si + U16(copy, si + 0x14))] ^= 0x01;
  const std::string path = testsupport::TempPath("mirror-differs.img");
  ASSERT_TRUE(testsupport::WriteFileBytes(path, damaged));
  testsupport::RunCommand("ntfsfix -n '" + path + "' 2>&1", output);
  EXPECT_NE(output.find(compared + "FAILED"), std::string::npos) << output;
}

// Each write carries a new sequence number, so a write torn between the
// record's sectors is seen: the old second sector under the new first one
// fails the fixup, which leaves the record as it was read.
TEST_F(RecordWriteBack, TornRecordWriteIsSeenOnTheNextRead) {
  ASSERT_NO_FATAL_FAILURE(OpenLogged(image_));
  ASSERT_NO_FATAL_FAILURE(Prepare());
  ASSERT_TRUE(Save_Buf(buffer_, Long(record_)));
  Long left, next;
  const size_t at = static_cast<size_t>(FileBlock(Long(record_), left, next).Value()) * 512;
  std::vector<uint8_t> torn = device_->Bytes();
  std::copy(image_.begin() + at + 512, image_.begin() + at + 1024, torn.begin() + at + 512);
  Long h = VolumeSession.VolumeHandle;
  Close_Drive(h);
  ASSERT_NO_FATAL_FAILURE(Open(torn));
  ByteArray read;
  ASSERT_TRUE(Read_FILE(read, Long(record_)));
  const ByteArray asRead = read;
  EXPECT_FALSE(Fixup_FILE(read.Span()));
  EXPECT_EQ(ErrorState.ErrorText, "Fixup");
  EXPECT_TRUE(std::equal(read.data(), read.data() + read.size(), asRead.data()));
}

}  // namespace
}  // namespace vr::test

namespace vr::test {
namespace {

// A record split over two runs of the MFT goes back in two pieces, each
// where it was read from.
TEST_F(ClusterMapTest, RecordSplitOverTwoMftRunsIsWrittenInTwoPieces) {
  platform::ResetPlatform();
  auto device = std::make_shared<platform::MemoryDevice>(std::vector<uint8_t>(64 * 512, 0xEE));
  std::shared_ptr<platform::WriteLogDevice> log;
  platform::MapMemoryDrive('m', device);
  platform::SetDeviceWrapper('m', [&](std::shared_ptr<platform::BlockDevice> inner) {
    log = std::make_shared<platform::WriteLogDevice>(inner);
    return log;
  });
  VolumeSession.VolumeHandle = Open_Lock_Drive("m:", kAccessReadWrite);
  ASSERT_NE(VolumeSession.VolumeHandle, -1);
  ASSERT_NE(VolumeSession.Locked, 0);
  AssumeVolumeClean();  // a synthetic MFT without a file system around it
  VolumeSession.SectorsPerCluster = 1;
  VolumeSession.SectorsPerFileRecord = 2;
  VolumeSession.MftRunLengths.ReDim(2);
  VolumeSession.MftRunLcns.ReDim(2);
  VolumeSession.MftRunLengths(1) = 3;  // records 0 and the first half of 1
  VolumeSession.MftRunLcns(1) = 10;
  VolumeSession.MftRunLengths(2) = 5;
  VolumeSession.MftRunLcns(2) = 40;
  VolumeSession.TotalSectors = 64;
  PutU64(VolumeSession.BootSector.Span(), 0x38, 50);  // $MFTMirr at cluster 50
  MftBitmap.ReDim(1);
  MftBitmap(0) = 0x07;  // records 0 .. 2 in use
  SeenRecords.ReDim(1);
  RecordBuilder r(2, 0x30);
  r.StandardInformation(0).FileName(u"split.txt");
  ByteArray record = r.Array(0x0207);
  PutU32(record.Span(), 0x2C, 1);
  ASSERT_TRUE(Save_Buf(record, 1)) << ErrorState.ErrorText;
  // On the disk under the next sequence number.
  ByteArray written = r.Array(0x0208);
  PutU32(written.Span(), 0x2C, 1);
  ASSERT_NE(log, nullptr);
  ASSERT_EQ(log->Log().size(), 3u);
  EXPECT_EQ(log->Log()[0].offset, 12u * 512);
  EXPECT_EQ(log->Log()[1].offset, 40u * 512);
  ASSERT_EQ(log->Log()[0].bytes.size(), 512u);
  ASSERT_EQ(log->Log()[1].bytes.size(), 512u);
  EXPECT_TRUE(std::equal(written.data(), written.data() + 512, log->Log()[0].bytes.begin()));
  EXPECT_TRUE(std::equal(written.data() + 512, written.data() + 1024, log->Log()[1].bytes.begin()));
  // Record 1 has a copy in $MFTMirr, written whole after the $MFT.
  EXPECT_EQ(log->Log()[2].offset, (50u + 2u) * 512);
  ASSERT_EQ(log->Log()[2].bytes.size(), 1024u);
  EXPECT_TRUE(std::equal(written.data(), written.data() + 1024, log->Log()[2].bytes.begin()));
  // Without a place for the copy inside the volume, nothing is written.
  PutU64(VolumeSession.BootSector.Span(), 0x38, 63);
  EXPECT_FALSE(Save_Buf(record, 1));
  EXPECT_EQ(ErrorState.ErrorText, "Error writing drive");
  EXPECT_EQ(log->Log().size(), 3u);
  PutU64(VolumeSession.BootSector.Span(), 0x38, 0);
  ResetErrorState();
  // A record the MFT bitmap calls free is not written.
  ByteArray other = r.Array(0x0207);
  PutU32(other.Span(), 0x2C, 3);
  EXPECT_FALSE(Save_Buf(other, 3));
  EXPECT_EQ(ErrorState.ErrorText, "ChkActive");
  EXPECT_EQ(log->Log().size(), 3u);
  Close_Drive(VolumeSession.VolumeHandle);
  VolumeSession.MftRunLengths.ReDim(0);
  VolumeSession.MftRunLcns.ReDim(0);
  MftBitmap.ReDim(0);
  SeenRecords.ReDim(0);
  platform::ResetPlatform();
}

}  // namespace
}  // namespace vr::test
