#include "ntfs/file_record.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdint>
#include <string>
#include <vector>

#include "ntfs/record_bytes.h"
#include "ntfs/run_list.h"
#include "ntfs_test_support.h"
#include "record_builder.h"

namespace vr::test {
namespace {

constexpr uint32_t kStd = 0x10, kList = 0x20, kSecurity = 0x50, kData = 0x80,
                   kIndexAllocation = 0xA0, kBitmap = 0xB0;

class FileRecord : public NtfsTest {
 protected:
  void TearDown() override {
    Read_FILE_Hook = nullptr;
    Do_20h_Hook = nullptr;
    NtfsTest::TearDown();
  }
  void Decode(const RecordBuilder& r, Long number = 42) {
    buffer_ = r.Array();
    Decode_FILE_Record(number, lengths_, lcns_, buffer_, info_);
  }
  static RecordBuilder File(const std::u16string& name = u"a.txt", int usa = 0x30) {
    RecordBuilder r(2, usa);
    r.StandardInformation(0x20).FileName(name);
    return r;
  }

  VbArray<Long> lengths_, lcns_;
  ByteArray buffer_;
  RecordInfo info_;
};

// --- Update sequence ---------------------------------------------------------

class FixupOffsets : public FileRecord, public testing::WithParamInterface<int> {};

TEST_P(FixupOffsets, ArrayIsFoundThroughTheHeaderAndSectorEndsRestored) {
  const int usa = GetParam();
  VolumeSession.SectorsPerFileRecord = 8;  // 4 KB records
  RecordBuilder r(8, usa);
  r.StandardInformation(0x06).FileName(u"big.dat");
  // An attribute whose value straddles the first sector end.
  r.Resident(0x40, std::vector<uint8_t>(0x1C0, 0x5A));
  const auto plain = r.Bytes(0x0102, false);
  buffer_ = r.Array(0x0102, true);
  ASSERT_NE(buffer_(510), plain[510]);
  ASSERT_TRUE(Fixup_FILE(buffer_.Span()));
  for (int k = 0; k < 8; ++k) {
    EXPECT_EQ(buffer_(512 * k + 510), plain[512 * k + 510]) << k;
    EXPECT_EQ(buffer_(512 * k + 511), plain[512 * k + 511]) << k;
  }
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}
INSTANTIATE_TEST_SUITE_P(NtVersions, FixupOffsets, testing::Values(0x2A, 0x30),
                         [](const testing::TestParamInfo<int>& p) {
                           return p.param == 0x2A ? std::string("Nt4ArrayAt0x2A")
                                                  : std::string("Ntfs3ArrayAt0x30");
                         });

TEST_P(FixupOffsets, RecordOfEitherLayoutDecodes) {
  Decode(File(u"readme.txt", GetParam()).Resident(kData, std::vector<uint8_t>(300, 1)));
  EXPECT_EQ(info_.Name, "readme.txt");
  EXPECT_EQ(info_.DosAttributes, 0x20);
  EXPECT_EQ(info_.Size, 300);
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

TEST_F(FileRecord, SectorEndWithoutTheSequenceNumberIsFixup) {
  buffer_ = File().Array();
  buffer_(1022) ^= 0xFF;  // torn second sector
  EXPECT_FALSE(Fixup_FILE(buffer_.Span()));
  EXPECT_EQ(ErrorState.ErrorText, "Fixup");
  EXPECT_EQ(ErrorState.RecordFault, -1);
  EXPECT_EQ(Errors(), 1);
}

TEST_F(FileRecord, FixupFailureEndsTheDecodeAtOnce) {
  buffer_ = File().Resident(kData, std::vector<uint8_t>(10, 1)).Array();
  buffer_(510) ^= 0xFF;
  Decode_FILE_Record(42, lengths_, lcns_, buffer_, info_);
  EXPECT_EQ(ErrorState.ErrorText, "Fixup");
  EXPECT_EQ(ErrorState.ErrorWhere, "");  // no closing step
  EXPECT_EQ(Errors(), 1);
  EXPECT_EQ(info_.Name, "");
}

TEST_F(FileRecord, SharedModeRecordsAreAlreadyFixedUp) {
  VolumeSession.SharedMode = -1;
  const auto plain = File(u"shared.txt").Bytes(0x0102, false);
  buffer_.ReDim(static_cast<int64_t>(plain.size()) - 1);
  std::copy(plain.begin(), plain.end(), buffer_.data());
  Decode_FILE_Record(42, lengths_, lcns_, buffer_, info_);
  EXPECT_EQ(info_.Name, "shared.txt");
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

TEST_F(FileRecord, ArrayCountNotMatchingTheRecordIsFixup) {
  buffer_ = File().Array();
  PutU16(buffer_.Span(), 6, 5);  // claims four sectors in a two-sector record
  EXPECT_FALSE(Fixup_FILE(buffer_.Span()));
  EXPECT_EQ(ErrorState.ErrorText, "Fixup");
}

TEST_F(FileRecord, ArrayOutsideTheFirstSectorIsFixupNotARead) {
  buffer_ = File().Array();
  PutU16(buffer_.Span(), 4, 0xFFF0);
  EXPECT_FALSE(Fixup_FILE(buffer_.Span()));
  EXPECT_EQ(ErrorState.ErrorText, "Fixup");
}

TEST_F(FileRecord, BufferShorterThanARecordIsFixup) {
  const auto bytes = File().Bytes();
  std::vector<uint8_t> half(bytes.begin(), bytes.begin() + 512);
  EXPECT_FALSE(Fixup_FILE(MutableBytes(half)));
  EXPECT_EQ(ErrorState.ErrorText, "Fixup");
}

// --- Record shape -------------------------------------------------------------

TEST_F(FileRecord, BadMagicIsFILE) {
  buffer_ = File().Array();
  buffer_(0) = 'B';
  buffer_(1) = 'A';
  Decode_FILE_Record(42, lengths_, lcns_, buffer_, info_);
  EXPECT_EQ(ErrorState.ErrorText, "FILE");
  EXPECT_EQ(ErrorState.RecordFault, -1);
  EXPECT_EQ(ErrorState.Failed, -1);
}

TEST_F(FileRecord, ExtensionRecordGivesOneElementArraysAndNoError) {
  RecordBuilder r;
  r.NonResident(kData, EncodeRuns({{4, 100}}), u"", 0, 4096, 4096, 4096, 8, 11);
  auto bytes = r.Bytes();
  Put(bytes, 0x20, 40, 8);  // the base record it extends
  buffer_.ReDim(static_cast<int64_t>(bytes.size()) - 1);
  std::copy(bytes.begin(), bytes.end(), buffer_.data());
  Decode_FILE_Record(42, lengths_, lcns_, buffer_, info_);
  EXPECT_EQ(lengths_.UBound(), 1);
  EXPECT_EQ(lcns_.UBound(), 1);
  EXPECT_EQ(lengths_(1), 0);
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

// A record that names no base record is a base record: without its
// $STANDARD_INFORMATION first it is damaged, not an extension.
TEST_F(FileRecord, BaseRecordWithoutStandardInformationIsAHeaderError) {
  RecordBuilder r;
  r.NonResident(kData, EncodeRuns({{4, 100}}), u"", 0, 4096, 4096, 4096, 8, 11);
  Decode(r);
  EXPECT_EQ(ErrorState.ErrorText, "Record 42 header");
  EXPECT_EQ(ErrorState.RecordFault, -1);
  EXPECT_EQ(ErrorState.Failed, -1);
  EXPECT_EQ(ErrorState.InternalFault, 0);
}

// Header fields out of range for the record size are named with the
// record's number instead of being trusted by the walk or the fixup.
TEST_F(FileRecord, HeaderFieldsOutOfRangeAreRecordHeader) {
  const std::vector<std::pair<int, uint32_t>> fields = {
      {0x18, 0x401},  // bytes in use past the record
      {0x18, 0x30},   // bytes in use before the first attribute
      {0x1C, 0x800},  // allocated size of another record size
      {0x14, 0x31},   // first attribute not 8-aligned
      {0x14, 0x30},   // first attribute over the update sequence array
      {0x04, 0x1F0},  // update sequence array past the sector's end
      {0x06, 5},      // update sequence of another record size
  };
  for (const auto& [offset, value] : fields) {
    SCOPED_TRACE(offset);
    ResetErrorState();
    buffer_ = File(u"f").Array();
    if (offset < 0x18)
      PutU16(buffer_.Span(), offset, static_cast<uint16_t>(value));
    else
      PutU32(buffer_.Span(), offset, value);
    Decode_FILE_Record(42, lengths_, lcns_, buffer_, info_);
    EXPECT_EQ(ErrorState.ErrorText, "Record 42 header");
    EXPECT_EQ(ErrorState.InternalFault, 0);
    EXPECT_EQ(info_.Name, "");
  }
}

// An attribute whose name would lie outside it is "Skip", not an
// out-of-range read.
TEST_F(FileRecord, AttributeNameLeavingTheAttributeIsSkip) {
  for (const uint16_t nameOffset : {uint16_t{0xFFF0}, uint16_t{0x40}}) {
    SCOPED_TRACE(nameOffset);
    ResetErrorState();
    RecordBuilder r;
    r.StandardInformation(0).FileName(u"f").Resident(kData, {1, 2, 3}, u"stream");
    auto bytes = r.Bytes(0x0102, false);
    const size_t at = r.AttributeOffset(2);
    Put(bytes, at + 0x0A, nameOffset, 2);
    buffer_.ReDim(static_cast<int64_t>(bytes.size()) - 1);
    std::copy(bytes.begin(), bytes.end(), buffer_.data());
    VolumeSession.SharedMode = -1;
    Decode_FILE_Record(42, lengths_, lcns_, buffer_, info_);
    EXPECT_EQ(ErrorState.ErrorText, "Skip");
    EXPECT_EQ(ErrorState.InternalFault, 0);
  }
}

TEST_F(FileRecord, FirstFileNameWinsWhateverItsNamespace) {
  Decode(File(u"PROGRA~1").FileName(u"Program Files"));
  EXPECT_EQ(info_.Name, "PROGRA~1");
}

TEST_F(FileRecord, EmptyNameIsInvName) {
  RecordBuilder r;
  r.StandardInformation(0).FileName(u"").Resident(kData, {1, 2, 3});
  Decode(r);
  EXPECT_EQ(ErrorState.ErrorText, "InvName");
  EXPECT_EQ(ErrorState.ErrorWhere, "");
  EXPECT_EQ(info_.Size, 0);  // nothing after the name was read
}

TEST_F(FileRecord, NameCharactersAboveFFKeepTheirLowByte) {
  Decode(File(u"\u0416a\u00E9"));
  EXPECT_EQ(info_.Name, std::string("\x16"
                                    "a\xE9"));
}

TEST_F(FileRecord, DecodeClearsThePreviousRecordsFacts) {
  Decode(File(u"old").Resident(kData, std::vector<uint8_t>(50, 1)));
  ASSERT_EQ(info_.ResidentData, -1);
  info_.Compressed = -1;
  info_.IsDirectory = -1;
  Decode(File(u"new"));
  EXPECT_EQ(info_.Name, "new");
  EXPECT_EQ(info_.Size, 0);
  EXPECT_EQ(info_.ResidentData, 0);
  EXPECT_EQ(info_.Compressed, 0);
  EXPECT_EQ(info_.IsDirectory, 0);
}

// --- File data --------------------------------------------------------------------

TEST_F(FileRecord, ResidentDataGivesSizeAndFlag) {
  Decode(File().Resident(kData, std::vector<uint8_t>(123, 7)));
  EXPECT_EQ(info_.Size, 123);
  EXPECT_EQ(info_.ResidentData, -1);
  EXPECT_EQ(lengths_.UBound(), 0);
}

TEST_F(FileRecord, EmptyResidentDataLeavesSizeAndFlagClear) {
  Decode(File().Resident(kData, {}));
  EXPECT_EQ(info_.Size, 0);
  EXPECT_EQ(info_.ResidentData, 0);
}

TEST_F(FileRecord, NonResidentDataGivesSegmentsAndTheDataSize) {
  // Data size 9000, initialized only to 4096: the size is the data size.
  Decode(
      File().NonResident(kData, EncodeRuns({{2, 100}, {1, 50}}), u"", 0, 9000, 4096, 12288, 0, 2));
  EXPECT_EQ(info_.Size, 9000);
  EXPECT_EQ(info_.ResidentData, 0);
  EXPECT_EQ(info_.Compressed, 0);
  EXPECT_EQ(Column(lengths_), (std::vector<int64_t>{2, 1}));
  EXPECT_EQ(Column(lcns_), (std::vector<int64_t>{100, 50}));
  EXPECT_EQ(info_.Clusters, 3);
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

TEST_F(FileRecord, ResidencyComesFromTheNonResidentFlag) {
  // A non-resident $DATA whose lowest VCN (offset 16) is not 0 is not
  // resident data.
  Decode(File().NonResident(kData, EncodeRuns({{3, 70}}), u"", 0, 5000, 5000, 12288, 5, 7));
  EXPECT_EQ(info_.ResidentData, 0);
  EXPECT_EQ(info_.Size, 5000);
  EXPECT_EQ(Column(lcns_), (std::vector<int64_t>{70}));
}

TEST_F(FileRecord, NamedStreamsNeverSetSizeFlagOrSegments) {
  Decode(File()
             .NonResident(kData, EncodeRuns({{4, 300}}), u"", 0, 16000, 16000, 16384, 0, 3)
             .Resident(kData, std::vector<uint8_t>(77, 1), u"Zone.Identifier")
             .NonResident(kData, EncodeRuns({{9, 900}}), u"backup", 1, 99999, 99999, 36864, 0, 8));
  EXPECT_EQ(info_.Size, 16000);
  EXPECT_EQ(info_.ResidentData, 0);
  EXPECT_EQ(info_.Compressed, 0);
  EXPECT_EQ(Column(lcns_), (std::vector<int64_t>{300}));
  EXPECT_EQ(info_.Clusters, 4);
}

TEST_F(FileRecord, NamedStreamAloneLeavesTheFileWithoutData) {
  Decode(File().Resident(kData, std::vector<uint8_t>(40, 1), u"meta"));
  EXPECT_EQ(info_.Size, 0);
  EXPECT_EQ(info_.ResidentData, 0);
  EXPECT_EQ(lengths_.UBound(), 0);
}

TEST_F(FileRecord, CompressedDataIsFlagged) {
  Decode(
      File().NonResident(kData, EncodeRuns({{16, 100}}), u"", 0x0001, 65536, 65536, 65536, 0, 15));
  EXPECT_EQ(info_.Compressed, -1);
  EXPECT_EQ(info_.Clusters, 16);
}

TEST_F(FileRecord, SparseFlagAloneIsNotCompression) {
  Decode(File().NonResident(kData, EncodeRuns({{3, 100}, {5, -1}, {2, 400}}), u"", 0x8000, 40960,
                            40960, 40960, 0, 9));
  EXPECT_EQ(info_.Compressed, 0);
  EXPECT_EQ(info_.Clusters, 5);
  EXPECT_EQ(info_.SparseClusters, 5);
  // Holes of a sparse file need not end on 16-cluster units.
  EXPECT_EQ(ErrorState.ErrorCount, 0);
  EXPECT_EQ(ErrorState.RecordFault, 0);
}

TEST_F(FileRecord, MisalignedCompressionUnitIsSegWithTheRecordAndName) {
  Decode(File(u"c.dat").NonResident(kData, EncodeRuns({{10, 100}, {4, -1}, {16, 200}}), u"", 0x0001,
                                    122880, 122880, 122880, 0, 29));
  EXPECT_EQ(ErrorState.ErrorText, "Seg 42c.dat");
  EXPECT_EQ(ErrorState.RecordFault, -1);
  EXPECT_FALSE(MarkPending());
}

TEST_F(FileRecord, AlignedCompressionUnitsAreFine) {
  Decode(File(u"c.dat").NonResident(kData, EncodeRuns({{12, 100}, {4, -1}, {16, 200}}), u"", 0x0001,
                                    131072, 131072, 131072, 0, 31));
  EXPECT_EQ(ErrorState.ErrorText, "");
  EXPECT_EQ(ErrorState.RecordFault, 0);
}

TEST_F(FileRecord, BadClusterFileIsExemptFromTheAlignmentRule) {
  Decode(File(u"$BadClus")
             .NonResident(kData, EncodeRuns({{10, 100}, {4, -1}, {16, 200}}), u"", 0x0001, 122880,
                          122880, 122880, 0, 29),
         8);
  EXPECT_EQ(ErrorState.ErrorText, "");
  EXPECT_EQ(ErrorState.RecordFault, 0);
  EXPECT_FALSE(MarkPending());
}

// --- Folders ----------------------------------------------------------------------

TEST_F(FileRecord, I30IndexMakesAFolderWithTheIndexRuns) {
  Decode(File(u"docs")
             .IndexRoot(u"$I30", 4096)
             .NonResident(kIndexAllocation, EncodeRuns({{1, 500}, {1, 700}}), u"$I30", 0, 8192,
                          8192, 8192, 0, 1)
             .NonResident(kBitmap, EncodeRuns({{1, 20}}), u"$I30", 0, 8, 8, 4096, 0, 0));
  EXPECT_EQ(info_.IsDirectory, -1);
  EXPECT_EQ(info_.IndexBlockSize, 4096);
  EXPECT_EQ(info_.Size, 8192);
  EXPECT_EQ(Column(lcns_), (std::vector<int64_t>{500, 700}));
  EXPECT_EQ(info_.Clusters, 2);
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

TEST_F(FileRecord, SmallFolderHasOnlyItsIndexRoot) {
  Decode(File(u"empty").IndexRoot(u"$I30", 4096));
  EXPECT_EQ(info_.IsDirectory, -1);
  EXPECT_EQ(lengths_.UBound(), 0);
}

TEST_F(FileRecord, OtherIndexesDoNotMakeAFolder) {
  // $Secure's views: an index root $SII and an index allocation $SDH.
  Decode(
      File(u"$Secure")
          .NonResident(kData, EncodeRuns({{64, 3000}}), u"$SDS", 0, 262144, 262144, 262144, 0, 63)
          .IndexRoot(u"$SII", 4096)
          .NonResident(kIndexAllocation, EncodeRuns({{1, 800}}), u"$SDH", 0, 4096, 4096, 4096, 0,
                       0));
  EXPECT_EQ(info_.IsDirectory, 0);
  EXPECT_EQ(info_.Size, 0);
  EXPECT_EQ(lengths_.UBound(), 0);
  EXPECT_EQ(ErrorState.ErrorCount, 0);
}

TEST_F(FileRecord, IndexNamedLikeI30ButLongerIsNotAFolder) {
  Decode(File(u"x").IndexRoot(u"$I300", 4096));
  EXPECT_EQ(info_.IsDirectory, 0);
}

// --- Record 0, security, attribute lists ------------------------------------------

TEST_F(FileRecord, MftRecordGivesItsDataAndBitmapSegmentsAndDefaultName) {
  RecordBuilder r;
  r.StandardInformation(0x06)
      .NonResident(kData, EncodeRuns({{64, 4}, {32, 9000}}), u"", 0, 98304, 98304, 98304, 0, 95)
      .NonResident(kBitmap, EncodeRuns({{1, 3}}), u"", 0, 12, 12, 4096, 0, 0);
  Decode(r, 0);
  EXPECT_EQ(info_.Name, "$MFT");
  EXPECT_EQ(Column(lcns_), (std::vector<int64_t>{4, 9000}));
  EXPECT_EQ(Column(MftBitmapLcns), (std::vector<int64_t>{3}));
  EXPECT_EQ(Column(MftBitmapLengths), (std::vector<int64_t>{1}));
}

TEST_F(FileRecord, BitmapOfOtherRecordsIsIgnored) {
  MftBitmapLengths.ReDim(1);
  MftBitmapLengths(1) = 77;
  Decode(File().NonResident(kBitmap, EncodeRuns({{1, 3}}), u"", 0, 12, 12, 4096, 0, 0));
  EXPECT_EQ(MftBitmapLengths(1), 77);
}

TEST_F(FileRecord, NonResidentSecurityDescriptorGetsItsOwnSegments) {
  Decode(File().NonResident(kSecurity, EncodeRuns({{1, 321}}), u"", 0, 300, 300, 4096, 0, 0));
  EXPECT_EQ(info_.SecurityNonResident, -1);
  EXPECT_EQ(Column(SecurityLcns), (std::vector<int64_t>{321}));
  EXPECT_EQ(lengths_.UBound(), 0);  // not the file's data
}

TEST_F(FileRecord, AttributeListHandlerIsCalledAndItsExtentsKept) {
  // A folder whose index allocation has two extents gathered by the list;
  // the base record's own $INDEX_ALLOCATION must not discard them.
  std::vector<uint8_t> list(0x40, 0);
  RecordBuilder r;
  r.StandardInformation(0x10)
      .Resident(kList, list)
      .FileName(u"big folder")
      .IndexRoot(u"$I30", 4096)
      .NonResident(kIndexAllocation, EncodeRuns({{2, 500}}), u"$I30", 0, 65536, 65536, 65536, 0, 1);
  Long seenOffset = -1;
  Do_20h_Hook = [&](Long number, ByteArray&, Long offset, VbArray<Long>& lengths,
                    VbArray<Long>& lcns, RecordInfo& info, Integer& count) {
    EXPECT_EQ(number, 42);
    seenOffset = offset;
    const auto runs = EncodeRuns({{2, 500}, {14, 1200}});
    Long clusters, sparse;
    Decode_Segments(count, Bytes(runs), 0, Long(static_cast<int32_t>(runs.size())), lengths, lcns,
                    clusters, sparse);
    info.Clusters = 16;
  };
  Decode(r);
  EXPECT_EQ(seenOffset, static_cast<int32_t>(r.AttributeOffset(1)));
  EXPECT_EQ(info_.HasAttributeList, -1);
  EXPECT_EQ(info_.IsDirectory, -1);
  EXPECT_EQ(info_.Name, "big folder");
  EXPECT_EQ(Column(lcns_), (std::vector<int64_t>{500, 1200}));
  EXPECT_EQ(info_.Clusters, 16);
}

TEST_F(FileRecord, ErrorFromTheAttributeListEndsTheWalk) {
  RecordBuilder r;
  r.StandardInformation(0).Resident(kList, std::vector<uint8_t>(0x20, 0)).FileName(u"f");
  Do_20h_Hook = [](Long, ByteArray&, Long, VbArray<Long>&, VbArray<Long>&, RecordInfo&, Integer&) {
    Rec_Error("Kind", {});
  };
  Decode(r);
  EXPECT_EQ(ErrorState.ErrorText, "Kind");
  EXPECT_EQ(info_.Name, "");
  EXPECT_EQ(ErrorState.ErrorWhere, "Decode:");
  EXPECT_EQ(Errors(), 2);
}

// --- Damaged records ------------------------------------------------------------------

TEST_F(FileRecord, RunPastTheVolumeIsBlkErrWithTheFileAsContext) {
  VolumeSession.TotalClusters = 1000;
  Decode(File(u"far.bin")
             .NonResident(kData, EncodeRuns({{10, 995}}), u"", 0, 40960, 40960, 40960, 0, 9));
  EXPECT_EQ(ErrorState.ErrorText, "BlkErr");
  EXPECT_EQ(ErrorState.ErrorWhere, "Decode:far.bin");
  EXPECT_EQ(ErrorState.Failed, -1);
  EXPECT_EQ(Errors(), 2);  // the fault and the closing count
}

TEST_F(FileRecord, TruncatedRunListIsSegNoEnd) {
  // Two runs of 4 bytes fill the attribute to its end: no room for the 0.
  const auto runs = EncodeRuns({{3, 1000}, {3, 2000}}, false);
  ASSERT_EQ(runs.size(), 8u);
  Decode(File(u"cut").NonResident(kData, runs, u"", 0, 24576, 24576, 24576, 0, 5));
  EXPECT_EQ(ErrorState.ErrorText, "SegNoEnd");
  EXPECT_EQ(ErrorState.ErrorWhere, "Decode:cut");
  EXPECT_EQ(Column(lcns_), (std::vector<int64_t>{1000, 2000}));
}

struct LengthCase {
  const char* what;
  uint32_t length;
};
// Test listings show the case, not its bytes.
void PrintTo(const LengthCase& c, std::ostream* os) { *os << c.what; }
class DamagedLength : public FileRecord, public testing::WithParamInterface<LengthCase> {};

TEST_P(DamagedLength, AttributeLengthOutsideTheRecordIsSkip) {
  RecordBuilder r = File(u"dmg");
  r.Resident(kData, std::vector<uint8_t>(16, 1));
  auto bytes = r.Bytes(0x0102, false);
  Put(bytes, r.AttributeOffset(2) + 4, GetParam().length, 4);
  buffer_.ReDim(static_cast<int64_t>(bytes.size()) - 1);
  std::copy(bytes.begin(), bytes.end(), buffer_.data());
  VolumeSession.SharedMode = -1;  // records as the file system delivers them
  Decode_FILE_Record(42, lengths_, lcns_, buffer_, info_);
  EXPECT_EQ(ErrorState.ErrorText, "Skip") << GetParam().what;
  EXPECT_EQ(ErrorState.ErrorWhere, "Decode:dmg");
  EXPECT_EQ(ErrorState.Failed, -1);
  EXPECT_EQ(info_.Size, 0);
}
INSTANTIATE_TEST_SUITE_P(Lengths, DamagedLength,
                         testing::Values(LengthCase{"zero", 0}, LengthCase{"0x8000", 0x8000},
                                         LengthCase{"negative", 0xFFFFFFF0u},
                                         LengthCase{"past the bytes in use", 0x300},
                                         LengthCase{"shorter than a header", 8}),
                         [](const testing::TestParamInfo<LengthCase>& p) {
                           // "past the bytes in use" -> "PastTheBytesInUse"
                           std::string name;
                           bool upper = true;
                           for (const char ch : std::string(p.param.what)) {
                             if (!std::isalnum(static_cast<unsigned char>(ch))) {
                               upper = true;
                               continue;
                             }
                             name += upper ? static_cast<char>(std::toupper(ch)) : ch;
                             upper = false;
                           }
                           return name;
                         });

// A $FILE_NAME whose name runs past its value (here past the record) is
// damage the decode names with the record, not a run-time error.
TEST_F(FileRecord, NameRunningPastItsValueIsRecordedWithTheRecord) {
  RecordBuilder r;
  r.StandardInformation(0).Resident(0x40, std::vector<uint8_t>(0x200, 0)).FileName(u"name");
  auto bytes = r.Bytes(0x0102, false);
  bytes[r.AttributeOffset(2) + 88] = 250;  // 500 bytes of name from near the record end
  buffer_.ReDim(static_cast<int64_t>(bytes.size()) - 1);
  std::copy(bytes.begin(), bytes.end(), buffer_.data());
  VolumeSession.SharedMode = -1;
  Decode_FILE_Record(42, lengths_, lcns_, buffer_, info_);
  EXPECT_EQ(ErrorState.ErrorText, "Record 42 attribute");
  EXPECT_EQ(ErrorState.InternalFault, 0);
  EXPECT_EQ(ErrorState.RecordFault, -1);
  EXPECT_EQ(ErrorState.ErrorWhere, "Decode:");
  EXPECT_EQ(ErrorState.Failed, -1);
  EXPECT_EQ(info_.Name, "");
}

TEST_F(FileRecord, BytesInUseBeyondTheBufferAreARecordHeaderError) {
  buffer_ = File(u"f").Array();
  PutU32(buffer_.Span(), 0x18, 0x7FFFFFF0);
  Decode_FILE_Record(42, lengths_, lcns_, buffer_, info_);
  EXPECT_EQ(info_.Name, "");
  EXPECT_EQ(ErrorState.ErrorText, "Record 42 header");
}

TEST_F(FileRecord, NeverReadsOutsideTheBufferWhateverTheBytes) {
  // Every single-byte change of a full record ends in a decode or a
  // recorded error; nothing escapes the decoder.
  RecordBuilder r = File(u"mutant.bin");
  r.NonResident(kData, EncodeRuns({{2, 100}, {3, -1}, {5, 300}}), u"", 1, 40960, 40960, 40960, 0, 9)
      .IndexRoot(u"$I30", 4096)
      .NonResident(kIndexAllocation, EncodeRuns({{1, 500}}), u"$I30", 0, 4096, 4096, 4096, 0, 0);
  const auto original = r.Array();
  uint32_t seed = 7;
  int faults = 0;
  for (int64_t i = 0; i <= original.UBound(); ++i) {
    for (int v : {0x00, 0xFF, 0x80, 0x7F}) {
      ResetErrorState();
      buffer_ = original;
      buffer_(i) = static_cast<uint8_t>(v ^ ((seed = seed * 69069 + 1) >> 24 & 1));
      EXPECT_NO_THROW(Decode_FILE_Record(42, lengths_, lcns_, buffer_, info_)) << i;
      if (Errors() != 0) {
        ++faults;
        EXPECT_EQ(ErrorState.Failed, -1) << i;
        EXPECT_FALSE(ErrorState.ErrorText.empty()) << i;
      }
    }
  }
  EXPECT_GT(faults, 0);
}

// --- Reading through the record reader ---------------------------------------------------

TEST_F(FileRecord, RecordZeroSeesTheMftStartWhileBeingRead) {
  VolumeSession.MftLcn = 786432;
  VolumeSession.TotalClusters = 1000000;
  RecordBuilder r;
  r.StandardInformation(6).NonResident(kData, EncodeRuns({{16, 786432}}), u"", 0, 16384, 16384,
                                       65536, 0, 15);
  Read_FILE_Hook = [&](ByteArray& buffer, Long number) {
    EXPECT_EQ(number, 0);
    EXPECT_EQ(VolumeSession.MftRunLengths(1), 32);
    EXPECT_EQ(VolumeSession.MftRunLcns(1), 786432);
    buffer = r.Array();
    return true;
  };
  Decode_FILE(5, 0, VolumeSession.MftRunLengths, VolumeSession.MftRunLcns, buffer_, info_);
  EXPECT_EQ(Column(VolumeSession.MftRunLengths), (std::vector<int64_t>{16}));
  EXPECT_EQ(info_.Name, "$MFT");
}

TEST_F(FileRecord, FailedReadStopsWithTheReadersError) {
  Read_FILE_Hook = [](ByteArray&, Long) {
    Rec_Error("Error reading MFT", {});
    return false;
  };
  Decode_FILE(5, 17, lengths_, lcns_, buffer_, info_);
  EXPECT_EQ(ErrorState.ErrorText, "Error reading MFT");
  EXPECT_EQ(Errors(), 1);
}

TEST_F(FileRecord, ReaderRunTimeErrorIsTrappedWithTheDecodeContext) {
  Read_FILE_Hook = [](ByteArray&, Long) -> bool { Raise(kErrOverflow); };
  Decode_FILE(5, 17, lengths_, lcns_, buffer_, info_);
  EXPECT_EQ(ErrorState.ErrorText, "Overflow");
  EXPECT_EQ(ErrorState.InternalFault, -1);
  EXPECT_EQ(ErrorState.ErrorWhere, "Decode:");
  EXPECT_EQ(ErrorState.Failed, -1);
}

TEST_F(FileRecord, WithoutAReaderTheRecordIsAFailedRead) {
  Decode_FILE(5, 17, lengths_, lcns_, buffer_, info_);
  EXPECT_EQ(ErrorState.ErrorText, "Error reading MFT");
  EXPECT_EQ(ErrorState.ErrorWhere, "LFB: 17");
}

// --- Byte access --------------------------------------------------------------------------

TEST(RecordBytes, GetNumWidthsAndSign) {
  const std::vector<uint8_t> b = {0x01, 0x02, 0x03, 0x84, 0xFF};
  EXPECT_EQ(Get_Num(Bytes(b), 0, 1), 1);
  EXPECT_EQ(Get_Num(Bytes(b), 0, 2), 0x0201);
  EXPECT_EQ(Get_Num(Bytes(b), 1, 3), 0x840302);  // 3 bytes stay unsigned
  EXPECT_EQ(Get_Num(Bytes(b), 1, 4), static_cast<int32_t>(0xFF840302u));
  EXPECT_EQ(Get_Num(Bytes(b), 0, 5), 0);
  EXPECT_EQ(Get_Num(Bytes(b), 0, 0), 0);
  EXPECT_THROW(Get_Num(Bytes(b), 3, 4), RunError);
}

TEST(RecordBytes, TextAndNames) {
  const std::vector<uint8_t> b = {'I', 'N', 'D', 'X', 3, 1, 'a', 0, 0x42, 0x04, 'c', 0};
  EXPECT_EQ(Get_Text(Bytes(b), 0, 4), "INDX");
  EXPECT_EQ(Get_Name(Bytes(b), 4),
            "a\x42"
            "c");
  EXPECT_THROW(Get_Name(Bytes(b), 6), RunError);  // length 97 runs past the end
}

TEST(RecordBytes, LastVcnIsReadInFull) {
  std::vector<uint8_t> b(0x40, 0);
  Put(b, 0x18, 0x1000000, 8);  // low 24 bits are 0
  EXPECT_EQ(Attribute_Last_Vcn(Bytes(b), 0), 0x1000000);
  Put(b, 0x18, 0x100000005ull, 8);
  EXPECT_EQ(Attribute_Last_Vcn(Bytes(b), 0), 0x100000005ll);
}

}  // namespace
}  // namespace vr::test
