// The viewer on an NTFS volume made by mkntfs and filled by libntfs-3g:
// records, index blocks, pages, boxes, Esc and F5.
#include <gtest/gtest.h>

#include <cstring>

#include "runtime/bytes.h"
#include "viewer/hex_lines.h"
#include "viewer_harness.h"

namespace vr::test {
namespace {

using testsupport::ReadFileBytes;

// The bytes of MFT record `record` straight from the image, fixed up by
// plain code: the $MFT's first run is where the boot sector says.
std::vector<uint8_t> PlainRecord(const std::vector<uint8_t>& image, int64_t record) {
  const int64_t cluster = int64_t{image[0x0B] | (image[0x0C] << 8)} * image[0x0D];
  const int64_t mft = static_cast<int64_t>(U64(Bytes(image), 0x30)) * cluster;
  std::vector<uint8_t> r(image.begin() + mft + record * 1024,
                         image.begin() + mft + record * 1024 + 1024);
  const size_t usa = r[4] | (r[5] << 8);
  for (size_t k = 0; k < 2; ++k) {
    r[k * 512 + 510] = r[usa + 2 + 2 * k];
    r[k * 512 + 511] = r[usa + 3 + 2 * k];
  }
  return r;
}

TEST_F(ViewerTest, RecordZeroIsTheMftsOwnRecordFixedUpWithItsFieldsMarked) {
  const auto& fixture = ViewerNtfsFixture();
  Open(fixture.Path());
  const std::vector<uint8_t> image = ReadFileBytes(fixture.Path());

  EXPECT_EQ(window.caption, "Hex c:");
  EXPECT_TRUE(window.ntfsControls);
  EXPECT_EQ(window.BoxText(HexBox::File), "0");
  ASSERT_EQ(viewer.Block().size(), 1024u);
  const std::vector<uint8_t> shown(viewer.Block().data(), viewer.Block().data() + 1024);
  EXPECT_EQ(shown, PlainRecord(image, 0));
  // Fixed up: the sector ends hold the record's bytes, not the sequence number.
  const uint16_t usn = U16(Bytes(shown), U16(Bytes(shown), 4));
  EXPECT_NE(U16(Bytes(shown), 510), usn);
  // The first sector of the record is where the $MFT starts.
  EXPECT_EQ(window.BoxText(HexBox::Block),
            std::to_string(VolumeSession.MftLcn.Value() * VolumeSession.SectorsPerCluster));

  // Two pages: the scroll bar goes from 0 to 512.
  EXPECT_TRUE(window.scrollVisible);
  EXPECT_EQ(window.scrollMax, 512);
  ASSERT_EQ(window.page.hex.size(), 32u);
  EXPECT_EQ(window.page.offsets[0], "0000");
  EXPECT_EQ(window.page.chars[0].substr(0, 4), "FILE");
  EXPECT_EQ(window.page.hex[0].substr(0, 12), "46 49 4C 45 ");
  EXPECT_EQ(viewer.Listing().size(), 64u);

  // Header marks; this mkntfs volume keeps its update sequence array at
  // 0x30, which the header field at offset 4 says, so that is where the
  // sequence number is marked.
  const std::vector<FieldMark> marks = viewer.Marks();
  auto has = [&](FieldMark m) { return std::find(marks.begin(), marks.end(), m) != marks.end(); };
  EXPECT_TRUE(has({0, 4, 1, kMarkBoth}));
  EXPECT_TRUE(has({0x30, 2, 3, kMarkData}));
  EXPECT_FALSE(has({42, 2, 3, kMarkData}));
  EXPECT_TRUE(has({20, 2, 4, kMarkData}));
  const int64_t inUse = U32(Bytes(shown), 24);
  EXPECT_TRUE(has({inUse - 8, 8, 5, kMarkData}));
  // The $FILE_NAME "$MFT": four characters marked in both columns.
  bool nameMarked = false;
  for (const FieldMark& m : marks)
    if (m.colour == 1 && m.columns == kMarkBoth && m.length == 8 &&
        std::string(shown.begin() + m.start, shown.begin() + m.start + 8) ==
            std::string("$\0M\0F\0T\0", 8))
      nameMarked = true;
  EXPECT_TRUE(nameMarked);

  // The second page shows the rest, with only the marks that fall on it.
  viewer.VscBlock_Change(512);
  EXPECT_EQ(viewer.PageOffset(), 512);
  EXPECT_EQ(window.page.offsets[0], "0200");
  for (const MarkBox& b : window.page.boxes) EXPECT_LT(b.index, 512);
  EXPECT_EQ(window.page.boxes, Page_Boxes(marks, 512));
}

TEST_F(ViewerTest, IndexBlocksSectorsAndTheBoxes) {
  const auto& fixture = ViewerNtfsFixture();
  Open(fixture.Path());
  const std::vector<uint8_t> image = ReadFileBytes(fixture.Path());

  // F5 on a file beeps; on the folder "many" it shows index block 0, whose
  // 4 KB are 8 pages.
  Type(HexBox::File, std::to_string(RecordOf(fixture.Path(), "small.txt")));
  viewer.TxtFile_Enter();
  int beeps = window.beeps;
  viewer.Show_Indx();
  EXPECT_EQ(window.beeps, beeps + 1);
  const int64_t many = RecordOf(fixture.Path(), "many");
  Type(HexBox::File, std::to_string(many));
  viewer.TxtFile_Enter();
  viewer.Show_Indx();
  ASSERT_EQ(viewer.Kind(), BlockKind::IndexBlock);
  ASSERT_EQ(viewer.Block().size(), 4096u);
  EXPECT_EQ(window.scrollMax, 4096 - 512);
  EXPECT_EQ((window.scrollMax / 512) + 1, 8);
  EXPECT_EQ(GetAscii(viewer.Block().Span(), 0, 4), "INDX");
  EXPECT_EQ(window.BoxText(HexBox::Indx), "0");
  // Fixed up, and otherwise the bytes at the sector the box shows.
  const int64_t sector = std::stoll(window.BoxText(HexBox::Block));
  for (int k = 0; k < 8; ++k)
    EXPECT_EQ(0,
              std::memcmp(viewer.Block().data() + k * 512, image.data() + (sector + k) * 512, 510))
        << "sector " << k;
  EXPECT_NE(U16(viewer.Block().Span(), 510), U16(viewer.Block().Span(), 0x28));
  // Entries are marked: names in both columns.
  bool names = false;
  for (const FieldMark& m : viewer.Marks()) names = names || m.columns == kMarkBoth;
  EXPECT_TRUE(names);
  // Another index block of the same folder; one beyond its segments beeps.
  Type(HexBox::Indx, "1");
  viewer.TxtIndx_Enter();
  EXPECT_EQ(GetAscii(viewer.Block().Span(), 0, 4), "INDX");
  EXPECT_EQ(std::stoll(window.BoxText(HexBox::Block)), sector + 8);
  beeps = window.beeps;
  Type(HexBox::Indx, "99999");
  viewer.TxtIndx_Enter();
  EXPECT_EQ(window.beeps, beeps + 1);

  // Esc leaves the index block for the folder's FILE record.
  viewer.Escape();
  EXPECT_EQ(viewer.Kind(), BlockKind::FileRecord);
  EXPECT_EQ(viewer.CurrentRecord(), many);
  EXPECT_EQ(window.BoxText(HexBox::Indx), "");
  EXPECT_EQ(window.unloads, 0);

  // One sector: no scroll bar. A sector beyond the volume shows the last.
  Type(HexBox::Block, "0");
  viewer.TxtBlock_Enter();
  EXPECT_EQ(viewer.Block().size(), 512u);
  EXPECT_FALSE(window.scrollVisible);
  EXPECT_EQ(0, std::memcmp(viewer.Block().data(), image.data(), 512));
  Type(HexBox::Block, "99999999999");
  viewer.TxtBlock_Enter();
  EXPECT_EQ(window.BoxText(HexBox::Block), std::to_string(VolumeSession.TotalSectors - 1));

  // FILE Index: empty means 0, beyond the MFT means the last record.
  Type(HexBox::File, "");
  viewer.TxtFile_Enter();
  EXPECT_EQ(viewer.CurrentRecord(), 0);
  Type(HexBox::File, "9999999");
  viewer.TxtFile_Enter();
  EXPECT_EQ(viewer.CurrentRecord(), viewer.LastRecord());
  EXPECT_EQ(window.BoxText(HexBox::File), std::to_string(viewer.LastRecord().Value()));

  // Esc on a record closes the window, which closes the volume.
  viewer.Escape();
  EXPECT_EQ(window.unloads, 1);
  viewer.Form_Unload();
  EXPECT_EQ(VolumeSession.VolumeHandle, -1);
}

// Index blocks as large as FILE records (1 KB) are still read where the
// index lies: the block's kind, not its size, decides how it is read.
TEST_F(ViewerTest, AnIndexBlockOfRecordSizeIsNotTakenForARecord) {
  const auto& fixture = ViewerNtfsFixture();
  Open(fixture.Path());
  VolumeSession.SectorsPerIndexBlock = VolumeSession.SectorsPerFileRecord;
  Type(HexBox::File, std::to_string(RecordOf(fixture.Path(), "many")));
  viewer.TxtFile_Enter();
  viewer.Show_Indx();
  ASSERT_EQ(viewer.Kind(), BlockKind::IndexBlock);
  EXPECT_EQ(viewer.Block().size(), 1024u);
  EXPECT_EQ(GetAscii(viewer.Block().Span(), 0, 4), "INDX");
}

TEST_F(ViewerTest, OnlyDigitsAndBackspaceReachTheBoxes) {
  for (char c = '0'; c <= '9'; ++c) EXPECT_TRUE(HexViewer::Accepts_Key(c));
  EXPECT_TRUE(HexViewer::Accepts_Key('\b'));
  for (char c : std::string("aZ -+.x\t")) EXPECT_FALSE(HexViewer::Accepts_Key(c)) << c;
}

}  // namespace
}  // namespace vr::test
