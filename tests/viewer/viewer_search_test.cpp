// The sixteen searches on the fixture volume: each finds the record planted
// for it and leaves records without the property alone; the volume is never
// written.
#include <gtest/gtest.h>

#include "ntfs/file_record.h"
#include "ntfs/mft.h"
#include "ntfs/record_builder.h"
#include "ntfs/synthetic_volume.h"
#include "runtime/bytes.h"
#include "support/fat_fixtures.h"
#include "viewer_harness.h"

namespace vr::test {
namespace {

using testsupport::ReadFileBytes;

int64_t MftOffset(const std::vector<uint8_t>& image) {
  const int64_t cluster = int64_t{image[0x0B] | (image[0x0C] << 8)} * image[0x0D];
  return static_cast<int64_t>(U64(Bytes(image), 0x30)) * cluster;
}

class ViewerSearchTest : public ViewerTest {
 protected:
  int64_t Rec(const std::string& path) { return RecordOf(ViewerNtfsFixture().Path(), path); }
};

TEST_F(ViewerSearchTest, EachSearchFindsItsRecordAndTheVolumeStaysUntouched) {
  const auto& fixture = ViewerNtfsFixture();
  const std::vector<uint8_t> before = ReadFileBytes(fixture.Path());
  Open(fixture.Path());
  const int64_t small = Rec("small.txt"), empty = Rec("empty.dat"), page = Rec("pagefile.sys");
  const int64_t big = Rec("viewer\\big.bin"), original = Rec("links\\original.txt");
  const int64_t crowd = Rec("links\\crowd.txt"), alpha = Rec("frag\\alpha.bin");
  const int64_t stream = Rec("streams\\with stream.txt"), docs = Rec("docs");
  const int64_t q1 = Rec("docs\\2024\\reports\\q1.txt");

  const auto twoNames = Matches(FindKind::TwoNames);
  EXPECT_TRUE(Has(twoNames, original));
  EXPECT_FALSE(Has(twoNames, small));

  const auto subdir = Matches(FindKind::Subdir);
  EXPECT_TRUE(Has(subdir, 5));
  EXPECT_TRUE(Has(subdir, docs));
  EXPECT_FALSE(Has(subdir, small));

  // Resident data by the non-resident flag: the extension records of
  // frag\many.bin hold $DATA extents whose lowest VCN (offset 16) is not 0.
  const auto embedded = Matches(FindKind::EmbedData);
  EXPECT_TRUE(Has(embedded, small));
  EXPECT_FALSE(Has(embedded, big));
  const auto special = Matches(FindKind::Special);
  ASSERT_FALSE(special.empty());
  const std::vector<uint8_t> image = ReadFileBytes(fixture.Path());
  for (int64_t r : special) EXPECT_FALSE(Has(embedded, r)) << "extension record " << r;

  // Over 1 MB means 1048577 bytes or more: pagefile.sys has exactly 1 MiB.
  const auto overOneMb = Matches(FindKind::SizeOver1Mb);
  EXPECT_TRUE(Has(overOneMb, big));
  EXPECT_FALSE(Has(overOneMb, page));
  EXPECT_FALSE(Has(overOneMb, small));

  const auto fragmented = Matches(FindKind::Fragmented);
  EXPECT_TRUE(Has(fragmented, alpha));
  EXPECT_TRUE(Has(fragmented, Rec("compressed\\packed.txt")));
  EXPECT_FALSE(Has(fragmented, big));

  const auto untidy = Matches(FindKind::Untidy);
  EXPECT_TRUE(Has(untidy, crowd));
  EXPECT_TRUE(Has(untidy, Rec("frag\\many.bin")));
  EXPECT_FALSE(Has(untidy, alpha));
  for (int64_t r : untidy) EXPECT_GT(r, 10);

  const auto multi = Matches(FindKind::Multi80h);
  EXPECT_TRUE(Has(multi, stream));
  EXPECT_FALSE(Has(multi, small));

  const auto null = Matches(FindKind::Null);
  EXPECT_TRUE(Has(null, empty));
  EXPECT_FALSE(Has(null, small));
  EXPECT_FALSE(Has(null, docs));

  EXPECT_EQ(Matches(FindKind::B0hInNonIndex).front(), 0);  // the $MFT's own bitmap
  // Nothing lies on clusters marked free; what "&Invalid" lists on this
  // volume are records the decoder refuses.
  for (int64_t r : Matches(FindKind::Invalid)) {
    ByteArray buffer(0);
    VbArray<Long> lengths(0), lcns(0);
    RecordInfo info{};
    ResetErrorState();
    Decode_FILE(VolumeSession.VolumeHandle, Long(r), lengths, lcns, buffer, info);
    EXPECT_NE(ErrorState.ErrorCount, 0) << "record " << r;
    ResetErrorState();
  }
  EXPECT_TRUE(Matches(FindKind::OddszIndex).empty());

  // Names: lower-cased on both sides, with *, ? and #.
  EXPECT_EQ(Matches(FindKind::FileName, "Q#.TXT"), std::vector<int64_t>{q1});
  // The names of crowd.txt also stand in its extension records.
  const auto crowdLinks = Matches(FindKind::FileName, "crowd link ## with*");
  ASSERT_FALSE(crowdLinks.empty());
  EXPECT_EQ(crowdLinks.front(), crowd);
  for (int64_t r : crowdLinks)
    if (r != crowd) {
      const uint8_t* record = image.data() + MftOffset(image) + r * 1024;
      EXPECT_EQ(U64(Bytes(record, 64), 0x20) & 0xFFFFFFFFFFFFull, static_cast<uint64_t>(crowd));
    }
  EXPECT_EQ(Matches(FindKind::FileName, "sm?ll.txt"), std::vector<int64_t>{small});
  EXPECT_EQ(window.prompts.back(), "Filename or pattern (e.g. * ? or #)|Find $MFT entry for");

  // The records the searches went through are in use.
  for (int64_t r : twoNames) EXPECT_TRUE(Is_Active(r));

  viewer.Form_Unload();
  EXPECT_EQ(ReadFileBytes(fixture.Path()), before) << "the viewer wrote to the volume";
}

TEST_F(ViewerSearchTest, EntryTypeAnswersNextFileAndTheYield) {
  const auto& fixture = ViewerNtfsFixture();
  Open(fixture.Path());

  // "80" finds the next record with a $DATA attribute: record 1 ($MFTMirr),
  // the search starting after record 0.
  window.answer = "80";
  viewer.Find(FindKind::EntryX0h);
  EXPECT_EQ(viewer.CurrentRecord(), 1);
  EXPECT_EQ(window.prompts.back(), "Hex entry type x0|Entry x0h");
  viewer.NextFile();
  EXPECT_EQ(viewer.CurrentRecord(), 2);
  // "8" does not end in 0: a beep, no search.
  const int beeps = window.beeps;
  const int events = window.events;
  window.answer = "8";
  viewer.Find(FindKind::EntryX0h);
  EXPECT_EQ(window.beeps, beeps + 1);
  EXPECT_EQ(viewer.CurrentRecord(), 2);
  EXPECT_EQ(window.events, events);
  // Cancelling the name box does nothing.
  window.cancel = true;
  viewer.Find(FindKind::FileName);
  EXPECT_EQ(viewer.CurrentRecord(), 2);
  EXPECT_EQ(window.beeps, beeps + 1);
  window.cancel = false;

  // The last match, then F3: the same record again and a beep.
  const auto multi = Matches(FindKind::Multi80h);
  ASSERT_FALSE(multi.empty());
  EXPECT_EQ(viewer.CurrentRecord(), multi.back());
  const int afterLast = window.beeps;
  viewer.NextFile();
  EXPECT_EQ(viewer.CurrentRecord(), multi.back());
  EXPECT_EQ(window.beeps, afterLast + 1);
  EXPECT_EQ(window.BoxText(HexBox::File), std::to_string(multi.back()));

  // A search that finds nothing yields every 128 records, shows how far it
  // got, shows the record it started from again and beeps.
  Type(HexBox::File, "7");
  viewer.TxtFile_Enter();
  window.fileBoxTexts.clear();
  window.busyCursor.clear();
  const int before = window.events;
  window.answer = "nothing matches this name";
  viewer.Find(FindKind::FileName);
  // Records 0, 128, 256, ...
  EXPECT_EQ(window.events - before, viewer.LastRecord().Value() / 128 + 1);
  ASSERT_GE(window.fileBoxTexts.size(), 2u);
  EXPECT_EQ(window.fileBoxTexts[1], "128");
  EXPECT_EQ(viewer.CurrentRecord(), 7);
  EXPECT_EQ(window.busyCursor, (std::vector<bool>{true, false}));

  // Esc while searching stops the search, not the window.
  window.onEvents = [this] {
    if (window.BoxText(HexBox::File) == "256") viewer.Escape();
  };
  const int beforeStop = window.events;
  const int beepsBeforeStop = window.beeps;
  viewer.Find(FindKind::FileName);
  window.onEvents = nullptr;
  EXPECT_EQ(window.events - beforeStop, 3);
  EXPECT_EQ(viewer.CurrentRecord(), 7);
  EXPECT_EQ(window.beeps, beepsBeforeStop + 1);
  EXPECT_EQ(window.unloads, 0);
  EXPECT_EQ(ErrorState.Failed, 0);
}

// A copy of the volume with three records changed: a resident attribute
// list, an $INDEX_ROOT with another block size, and a file whose clusters
// the volume bitmap shows as free.
TEST_F(ViewerSearchTest, ResidentListsOddIndexSizesAndClustersMarkedFree) {
  const auto& fixture = ViewerNtfsFixture();
  std::vector<uint8_t> image = ReadFileBytes(fixture.Path());
  const std::string copy = testsupport::TempPath("viewer-patched.img");
  const int64_t cluster = int64_t{image[0x0B] | (image[0x0C] << 8)} * image[0x0D];
  const int64_t mft = static_cast<int64_t>(U64(Bytes(image), 0x30)) * cluster;
  auto recordAt = [&](int64_t r) { return image.data() + mft + r * 1024; };

  // A file of the folder "many" becomes a record with a resident list.
  const int64_t listed = Rec("many\\a rather long file name for the index test number 0003.txt");
  RecordBuilder b(2, 0x30);
  b.StandardInformation(0x20)
      .Resident(0x20, AttributeList({{0x10, 0, listed}, {0x30, 0, listed}, {0x80, 0, listed}}))
      .FileName(u"listed.txt")
      .Resident(0x80, std::vector<uint8_t>(40, 'x'));
  std::vector<uint8_t> bytes = b.Bytes();
  Put(bytes, 0x16, 1, 2);
  std::copy(bytes.begin(), bytes.end(), recordAt(listed));

  // The folder "docs" claims index blocks of 2 KB.
  const int64_t docs = Rec("docs");
  uint8_t* d = recordAt(docs);
  int64_t at = d[20] | (d[21] << 8);
  while (U32(Bytes(d, 1024), at) != 0x90) at += U16(Bytes(d, 1024), at + 4);
  ASSERT_LT(at + 41, 510);
  d[at + 40] = 0x00;
  d[at + 41] = 0x08;

  // The first cluster of docs\report.doc is free in $Bitmap.
  std::vector<testsupport::LibntfsRun> fileRuns, bitmapRuns;
  std::string error;
  ASSERT_TRUE(testsupport::LibntfsRunlist(fixture.Path(), "docs\\report.doc", fileRuns, error));
  ASSERT_TRUE(testsupport::LibntfsRunlist(fixture.Path(), "$Bitmap", bitmapRuns, error)) << error;
  ASSERT_FALSE(fileRuns.empty());
  ASSERT_EQ(bitmapRuns.size(), 1u);
  const int64_t lcn = fileRuns[0].lcn;
  image[static_cast<size_t>(bitmapRuns[0].lcn * cluster + lcn / 8)] &=
      static_cast<uint8_t>(~(1 << (lcn % 8)));
  ASSERT_TRUE(testsupport::WriteFileBytes(copy, image));

  Open(copy);
  EXPECT_EQ(Matches(FindKind::EntryX0hIn20h, "80"), std::vector<int64_t>{listed});
  EXPECT_EQ(window.prompts.back(), "Hex entry type x0|Entry x0h_In_20h");
  EXPECT_TRUE(Matches(FindKind::EntryX0hIn20h, "90").empty());
  EXPECT_EQ(Matches(FindKind::OddszIndex), std::vector<int64_t>{docs});
  const auto invalid = Matches(FindKind::Invalid);
  EXPECT_TRUE(Has(invalid, Rec("docs\\report.doc")));
  EXPECT_TRUE(Has(invalid, listed));  // its list names records that do not hold its attributes
  EXPECT_FALSE(Has(invalid, Rec("small.txt")));
  EXPECT_FALSE(Has(invalid, Rec("docs\\2024\\summary.txt")));
  // The resident list is marked entry by entry: type, length, reference.
  Type(HexBox::File, std::to_string(listed));
  viewer.TxtFile_Enter();
  const std::vector<FieldMark> marks = viewer.Marks();
  const int64_t list = 0x38 + 0x60 + 0x18;  // the value of the second attribute
  for (int e = 0; e < 3; ++e) {
    const int64_t entry = list + 32 * e;
    EXPECT_NE(std::find(marks.begin(), marks.end(), FieldMark{entry, 1, 4, kMarkData}),
              marks.end());
    EXPECT_NE(std::find(marks.begin(), marks.end(), FieldMark{entry + 4, 1, 5, kMarkData}),
              marks.end());
    EXPECT_NE(
        std::find(marks.begin(), marks.end(), FieldMark{entry + 16, 3, e == 2 ? 2 : 7, kMarkData}),
        marks.end());
  }
  EXPECT_NE(std::find(marks.begin(), marks.end(), FieldMark{list + 64 + 8, 4, 7, kMarkData}),
            marks.end());
  testsupport::RemoveOnExit remove{copy};
}

}  // namespace
}  // namespace vr::test
