// The viewer's text lines, name patterns, search names and field marks on
// records built byte by byte, including damaged ones.
#include <gtest/gtest.h>

#include "ntfs/record_builder.h"
#include "ntfs/synthetic_volume.h"
#include "viewer/field_marks.h"
#include "viewer/hex_lines.h"
#include "viewer/name_pattern.h"
#include "viewer/searches.h"

namespace vr::test {
namespace {

bool HasMark(const std::vector<FieldMark>& marks, FieldMark m) {
  return std::find(marks.begin(), marks.end(), m) != marks.end();
}

TEST(ViewerLines, HexCharactersAndOffsets) {
  std::vector<uint8_t> b(40);
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 7 + 25);
  b[0] = 31;
  b[1] = 32;
  b[2] = 126;
  b[3] = 127;
  b[4] = 0xFF;
  const Bytes block(b);
  EXPECT_EQ(Hex_Row(block, 0).substr(0, 15), "1F 20 7E 7F FF ");
  EXPECT_EQ(Hex_Row(block, 0).size(), 48u);
  EXPECT_EQ(Char_Row(block, 0).substr(0, 5), ". ~..");
  // The last row is short; the offsets count in hexadecimal.
  EXPECT_EQ(Hex_Row(block, 32).size(), 24u);
  EXPECT_EQ(Offset_Text(0x1F0), "01F0");
  EXPECT_EQ(Offset_Text(0xFF0), "0FF0");
  const auto listing = Hex_Listing(block);
  ASSERT_EQ(listing.size(), 3u);
  EXPECT_EQ(listing[2].substr(0, 6), "0020  ");
  EXPECT_EQ(listing[0], "0000  " + Hex_Row(block, 0) + " " + Char_Row(block, 0));
}

TEST(ViewerPatterns, StarQuestionMarkAndDigit) {
  struct Case {
    const char* name;
    const char* pattern;
    bool match;
  };
  const Case cases[] = {
      {"readme.txt", "*.txt", true},
      {"readme.txt", "*.tx", false},
      {"readme.txt", "readme.txt", true},
      {"readme.txt", "r?adme.txt", true},
      {"readme.txt", "readme.txt?", false},
      {"q1.txt", "q#.txt", true},
      {"qa.txt", "q#.txt", false},
      {"q12.txt", "q#.txt", false},
      {"a.b.c", "a*b*c", true},
      {"abc", "a*b*c*d", false},
      {"", "*", true},
      {"", "", true},
      {"x", "", false},
      {"$mft", "$*", true},
      {"aaaaaaaaaaaaaaaaaaaaaaaaaaaaab", "*a*a*a*a*a*a*a*a*a*c", false},
  };
  for (const Case& c : cases)
    EXPECT_EQ(Pattern_Match(c.name, c.pattern), c.match) << c.name << " / " << c.pattern;
}

TEST(ViewerSearchNames, MenuCaptionsAndEntryAnswers) {
  ASSERT_EQ(Find_Menu().size(), 16u);
  EXPECT_STREQ(Find_Menu().front().caption, "&FileName");
  EXPECT_STREQ(Find_Menu().back().caption, "&Multi 80h");
  for (const FindMenuItem& item : Find_Menu()) {
    std::string name = item.caption;
    name.erase(std::remove(name.begin(), name.end(), '&'), name.end());
    EXPECT_EQ(Find_By_Name(name), item.kind) << name;
  }
  EXPECT_EQ(Find_By_Name("Size > 1Mb"), FindKind::SizeOver1Mb);
  EXPECT_EQ(Find_By_Name("&Two Names"), FindKind::None);  // without the ampersand
  EXPECT_EQ(Find_By_Name("Nextfile"), FindKind::None);
  EXPECT_EQ(Entry_Type_Answer("80"), 0x80u);
  EXPECT_EQ(Entry_Type_Answer("A0"), 0xA0u);
  EXPECT_EQ(Entry_Type_Answer("f0"), 0xF0u);
  EXPECT_EQ(Entry_Type_Answer("8"), 0u);
  EXPECT_EQ(Entry_Type_Answer("0"), 0u);
  EXPECT_EQ(Entry_Type_Answer("g0"), 0u);
  EXPECT_EQ(Entry_Type_Answer(""), 0u);
}

// A record of NT 4.0 (array at 0x2A) with the fields the marking knows.
TEST(ViewerMarks, FileRecordFieldsOnAnNt4Record) {
  RecordBuilder r(2, 0x2A);
  r.StandardInformation(0x06)
      .FileName(u"name.txt")
      .Resident(0x60, Utf16(u"LABEL"))
      .NonResident(0x80, EncodeRuns({{5, 100}, {3, 300}}), u"", 0, 8 * 4096, 8 * 4096, 8 * 4096, 0,
                   7)
      .Resident(0xB0, {0xFF, 0x01});
  const std::vector<uint8_t> bytes = r.Bytes();
  const auto marks = File_Record_Marks(bytes);
  EXPECT_TRUE(HasMark(marks, {0, 4, 1, kMarkBoth}));
  EXPECT_TRUE(HasMark(marks, {8, 2, 3, kMarkData}));
  EXPECT_TRUE(HasMark(marks, {42, 2, 3, kMarkData}));  // the array at 0x2A
  EXPECT_TRUE(HasMark(marks, {24, 2, 5, kMarkData}));
  const int64_t inUse = bytes[24] | (bytes[25] << 8);
  EXPECT_TRUE(HasMark(marks, {inUse - 8, 8, 5, kMarkData}));
  const int64_t si = r.AttributeOffset(0), fn = r.AttributeOffset(1);
  const int64_t vol = r.AttributeOffset(2), data = r.AttributeOffset(3);
  const int64_t bitmap = r.AttributeOffset(4);
  EXPECT_TRUE(HasMark(marks, {si, 1, 4, kMarkData}));
  EXPECT_TRUE(HasMark(marks, {si + 4, 2, 4, kMarkData}));
  EXPECT_TRUE(HasMark(marks, {si + 56, 1, 7, kMarkData}));
  EXPECT_TRUE(HasMark(marks, {fn + 0x18 + 0x42, 16, 1, kMarkBoth}));
  EXPECT_TRUE(HasMark(marks, {vol + 0x18, 10, 1, kMarkBoth}));
  // Run list: header, length and offset bytes of both runs.
  const int64_t runs = data + 0x40;
  EXPECT_TRUE(HasMark(marks, {runs, 1, kMarkRunHeader, kMarkData}));
  EXPECT_TRUE(HasMark(marks, {runs + 1, 1, kMarkRunLength, kMarkData}));
  EXPECT_TRUE(HasMark(marks, {runs + 2, 1, kMarkRunOffset, kMarkData}));
  EXPECT_TRUE(HasMark(marks, {runs + 3, 1, kMarkRunHeader, kMarkData}));
  EXPECT_TRUE(HasMark(marks, {runs + 4, 1, kMarkRunLength, kMarkData}));
  EXPECT_TRUE(HasMark(marks, {runs + 5, 2, kMarkRunOffset, kMarkData}));
  EXPECT_TRUE(HasMark(marks, {data + 0x30, 8, kMarkValueSize, kMarkData}));
  EXPECT_TRUE(HasMark(marks, {bitmap + 0x18, 2, kMarkBitmap, kMarkData}));

  // A page shows only its own bytes.
  for (const MarkBox& b : Page_Boxes(marks, 512)) EXPECT_LT(b.index, 512);
  const auto first = Page_Boxes({{500, 20, 2, kMarkData}}, 0);
  const auto second = Page_Boxes({{500, 20, 2, kMarkData}}, 512);
  EXPECT_EQ(first.size(), 12u);
  EXPECT_EQ(second.size(), 8u);
  EXPECT_EQ(second.front().index, 0);
}

TEST(ViewerMarks, DamagedStructuresEndTheMarkingQuietly) {
  RecordBuilder r(2, 0x30);
  r.StandardInformation(0).FileName(u"x");
  std::vector<uint8_t> bytes = r.Bytes();
  // An attribute length that runs past the record, a name length past it,
  // a first-attribute offset past it: never a raise, marks inside only.
  const int64_t fn = r.AttributeOffset(1);
  Put(bytes, fn + 0x18 + 0x40, 0xFF, 1);
  Put(bytes, r.AttributeOffset(0) + 4, 0xFFF0, 2);
  for (const FieldMark& m : File_Record_Marks(bytes)) {
    EXPECT_GE(m.start, 0);
    EXPECT_LE(m.start + m.length, 1024);
  }
  Put(bytes, 20, 0xFFFF, 2);
  EXPECT_NO_THROW(File_Record_Marks(bytes));
  EXPECT_NO_THROW(File_Record_Marks(std::vector<uint8_t>(10, 0xFF)));
  std::vector<uint8_t> indx(4096, 0xFF);
  std::copy_n("INDX", 4, indx.begin());
  EXPECT_NO_THROW(Index_Block_Marks(indx));
  EXPECT_NO_THROW(Fat_Dir_Marks(std::vector<uint8_t>(100, 0x41)));
}

TEST(ViewerMarks, FatDirectoryEntries) {
  std::vector<uint8_t> dir(512, 0);
  auto entry = [&](int n, const char* name, uint8_t attributes) {
    std::copy_n(name, 11, dir.begin() + n * 32);
    dir[n * 32 + 11] = attributes;
  };
  entry(0, "VOLUME     ", 0x08);
  entry(1, "FOLDER     ", 0x10);
  entry(2,
        "\xE5"
        "ELETED TXT",
        0x20);
  entry(3, "AB\0\0\0\0\0\0\0\0\0", 0x0F);  // a long-name piece
  entry(4, "FILE    TXT", 0x20);
  entry(6, "AFTER   END", 0x20);  // after the end mark: not an entry
  const auto marks = Fat_Dir_Marks(dir);
  EXPECT_TRUE(HasMark(marks, {0, 11, kMarkDirName, kMarkText}));
  EXPECT_TRUE(HasMark(marks, {32, 11, kMarkDirFolder, kMarkText}));
  EXPECT_TRUE(HasMark(marks, {64, 32, kMarkDirDeleted, kMarkBoth}));
  EXPECT_TRUE(HasMark(marks, {128, 11, kMarkDirName, kMarkText}));
  EXPECT_TRUE(HasMark(marks, {128 + 26, 2, kMarkDirCluster, kMarkData}));
  for (const FieldMark& m : marks) {
    EXPECT_FALSE(m.start >= 96 && m.start < 128) << "long-name piece marked";
    EXPECT_LT(m.start, 160) << "marked after the end of the directory";
  }
}

}  // namespace
}  // namespace vr::test
