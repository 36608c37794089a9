// The viewer on FAT16 volumes made by mkfs.fat and filled by mtools: the
// root directory, its entries marked, folders opened by a click and left
// with "..", Esc or the directory box.
#include <gtest/gtest.h>

#include <cstring>

#include "support/fat_fixtures.h"
#include "viewer/hex_lines.h"
#include "viewer_harness.h"

namespace vr::test {
namespace {

namespace ts = testsupport;

class ViewerFatTest : public ViewerTest {
 protected:
  // The row and column of the first character of the entry named `name`
  // (8.3, blank-padded) in the block on display; -1 when absent.
  int EntryRow(const std::string& name) {
    for (size_t at = 0; at + 32 <= viewer.Block().size(); at += 32)
      if (GetAscii(viewer.Block().Span(), static_cast<int64_t>(at), 11) == name)
        return static_cast<int>(at / 16);
    return -1;
  }
  bool SameAsImage(const std::vector<uint8_t>& image, int64_t sector) {
    return viewer.Block().size() == 512 &&
           std::memcmp(viewer.Block().data(), image.data() + sector * 512, 512) == 0;
  }
};

TEST_F(ViewerFatTest, RootDirectoryFoldersAndTheirMarks) {
  ts::FatVolume volume = ts::MakeFat16Fixture("viewer-fat16");
  ts::RemoveOnExit remove{volume.Path()};
  const std::vector<uint8_t> image = ts::ReadImageFile(volume.Path());
  const ts::PlainFatLayout layout = ts::ParseFatLayout(image);
  Open(volume.Path());

  EXPECT_EQ(window.caption, "Hex c:");
  EXPECT_FALSE(window.ntfsControls);
  EXPECT_EQ(window.dirLabel, "RootDir");
  EXPECT_EQ(window.BoxText(HexBox::Dir), "0");
  EXPECT_FALSE(window.scrollVisible);
  EXPECT_TRUE(SameAsImage(image, layout.rootDirSector));
  EXPECT_EQ(viewer.Kind(), BlockKind::DirSector);

  // Used entries: the name in the character column; deleted ones in both
  // columns. The fixture deleted TEMP1.TMP in the root.
  std::vector<FieldMark> marks = viewer.Marks();
  EXPECT_NE(std::find(marks.begin(), marks.end(), FieldMark{0, 11, kMarkDirName, kMarkText}),
            marks.end());
  bool deleted = false;
  for (const FieldMark& m : marks)
    if (m.columns == kMarkBoth) {
      EXPECT_EQ(viewer.Block()(m.start), 0xE5);
      EXPECT_EQ(m.colour, kMarkDirDeleted);
      deleted = true;
    }
  EXPECT_TRUE(deleted);

  // A click on DOCS opens it: its first sector, "." first.
  const int docs = EntryRow("DOCS       ");
  ASSERT_GE(docs, 0);
  const uint16_t cluster = U16(viewer.Block().Span(), docs * 16 + 26);
  viewer.PicText_Click(docs, 5);
  EXPECT_EQ(viewer.DirDepth(), 2u);
  const int64_t docsSector = layout.firstDataSector + (cluster - 2) * layout.sectorsPerCluster;
  EXPECT_TRUE(SameAsImage(image, docsSector));
  EXPECT_EQ(GetAscii(viewer.Block().Span(), 0, 11), ".          ");
  EXPECT_EQ(window.BoxText(HexBox::Dir), "0");
  // The folder entry's name is marked as a folder.
  marks = viewer.Marks();
  EXPECT_NE(std::find(marks.begin(), marks.end(), FieldMark{0, 11, kMarkDirFolder, kMarkText}),
            marks.end());
  // A click on a file entry or outside the entries does nothing.
  const int report = EntryRow("REPORT  TXT");
  ASSERT_GE(report, 0);
  viewer.PicText_Click(report, 2);
  viewer.PicText_Click(31, 15);
  EXPECT_EQ(viewer.DirDepth(), 2u);
  // ".." goes back up.
  viewer.PicText_Click(EntryRow("..         ") + 1, 3);  // the entry's second row
  EXPECT_EQ(viewer.DirDepth(), 1u);
  EXPECT_TRUE(SameAsImage(image, layout.rootDirSector));

  // Esc in a folder goes back to its parent; at the root it closes.
  viewer.PicText_Click(EntryRow("DOCS       "), 0);
  EXPECT_EQ(viewer.DirDepth(), 2u);
  viewer.Escape();
  EXPECT_EQ(viewer.DirDepth(), 1u);
  EXPECT_EQ(window.unloads, 0);

  // The directory box counts across the directory's sectors; beyond its
  // end it shows the last one.
  Type(HexBox::Dir, "99999");
  viewer.TxtDir_Enter();
  const int64_t rootSectors = layout.rootEntries * 32 / 512;
  EXPECT_EQ(window.BoxText(HexBox::Dir), std::to_string(rootSectors - 1));
  EXPECT_TRUE(SameAsImage(image, layout.rootDirSector + rootSectors - 1));
  Type(HexBox::Dir, "");
  viewer.TxtDir_Enter();
  EXPECT_TRUE(SameAsImage(image, layout.rootDirSector));

  // The searches and the NTFS boxes have no meaning here.
  const int beeps = window.beeps;
  viewer.Find(FindKind::Subdir);
  viewer.Show_Indx();
  EXPECT_EQ(window.beeps, beeps);
  EXPECT_TRUE(SameAsImage(image, layout.rootDirSector));

  viewer.Escape();
  EXPECT_EQ(window.unloads, 1);
  viewer.Form_Unload();
  EXPECT_EQ(ts::ReadImageFile(volume.Path()), image);
}

// mkfs.fat's default layout has more than one reserved sector: the root
// directory lies after them and the FAT copies.
TEST_F(ViewerFatTest, RootDirectoryAfterTheReservedSectors) {
  ts::FatVolume volume = ts::MakeFat16DefaultReservedFixture("viewer-fat16-reserved");
  ts::RemoveOnExit remove{volume.Path()};
  const std::vector<uint8_t> image = ts::ReadImageFile(volume.Path());
  const ts::PlainFatLayout layout = ts::ParseFatLayout(image);
  ASSERT_GT(layout.reservedSectors, 1u);
  Open(volume.Path());
  EXPECT_TRUE(SameAsImage(image, layout.rootDirSector));
  EXPECT_EQ(GetAscii(viewer.Block().Span(), 0, 6), "VODURU");
  // A nested folder two levels down, and back with Esc twice.
  viewer.PicText_Click(EntryRow("DATA       "), 1);
  ASSERT_EQ(viewer.DirDepth(), 2u);
  viewer.PicText_Click(EntryRow("2024       "), 1);
  ASSERT_EQ(viewer.DirDepth(), 3u);
  const uint16_t cluster = U16(viewer.Block().Span(), 26);  // "." names the folder itself
  EXPECT_TRUE(SameAsImage(
      image,
      layout.firstDataSector + (cluster - 2) * static_cast<int64_t>(layout.sectorsPerCluster)));
  viewer.Escape();
  viewer.Escape();
  EXPECT_EQ(viewer.DirDepth(), 1u);
  EXPECT_TRUE(SameAsImage(image, layout.rootDirSector));
}

}  // namespace
}  // namespace vr::test
