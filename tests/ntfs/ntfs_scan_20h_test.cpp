// Following a folder's attribute list to the extension record that holds its
// $I30 index root, and the faults on the way.
#include <gtest/gtest.h>

#include <map>

#include "ntfs/file_record.h"
#include "ntfs/mft.h"
#include "ntfs/ntfs_scan.h"
#include "ntfs_test_support.h"
#include "record_builder.h"
#include "volume/error_state.h"

namespace vr::test {
namespace {

// One attribute-list entry naming attribute `type` (named `name`) in `record`.
std::vector<uint8_t> ListEntry(uint32_t type, uint32_t record, const std::u16string& name,
                               uint16_t length = 0) {
  const size_t size = Align8(26 + 2 * name.size());
  std::vector<uint8_t> e(size, 0);
  Put(e, 0, type, 4);
  Put(e, 4, length != 0 ? length : size, 2);
  e[6] = static_cast<uint8_t>(name.size());
  e[7] = 26;
  Put(e, 16, record, 6);
  const auto n = Utf16(name);
  std::copy(n.begin(), n.end(), e.begin() + 26);
  return e;
}

class Scan20h : public NtfsTest {
 protected:
  void SetUp() override {
    NtfsTest::SetUp();
    RecordCount = 100;
    saved_ = Read_FILE_Hook;
    Read_FILE_Hook = [this](ByteArray& buffer, Long record) {
      auto it = records_.find(record);
      if (it == records_.end()) {
        Rec_Error(kBeyondMftText, buffer.Span());
        return false;
      }
      buffer = it->second;
      return true;
    };
  }
  void TearDown() override {
    Read_FILE_Hook = saved_;
    NtfsTest::TearDown();
  }

  // A folder base record whose attribute list holds `entries`; its offset
  // goes to `listAt`.
  ByteArray Base(const std::vector<std::vector<uint8_t>>& entries, Long& listAt) {
    std::vector<uint8_t> list;
    for (const auto& e : entries) list.insert(list.end(), e.begin(), e.end());
    RecordBuilder b;
    b.StandardInformation(0).Resident(0x20, list).FileName(u"folder");
    listAt = static_cast<int32_t>(b.AttributeOffset(1));
    ByteArray a = b.Array();
    Fixup_FILE(a.Span());
    return a;
  }

  std::map<int32_t, ByteArray> records_;
  FileRecordReader saved_;
};

TEST_F(Scan20h, FindsTheIndexRootInTheExtensionRecord) {
  RecordBuilder ext;
  ext.Resident(0x80, {1, 2, 3}).IndexRoot(u"$O", 4096).IndexRoot(u"$I30", 4096);
  const size_t rootAt = ext.AttributeOffset(2);
  records_[40] = ext.Array();
  Long at = 0;
  ByteArray buffer = Base(
      {ListEntry(0x30, 30, u""), ListEntry(0x90, 41, u"$O"), ListEntry(0x90, 40, u"$I30")}, at);
  records_[41] = RecordBuilder().IndexRoot(u"$O", 4096).Array();
  Integer found = 0;
  Scan_20h_for_90h(buffer, 30, at, found);
  ASSERT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
  EXPECT_EQ(found, 0x90);
  EXPECT_EQ(at, static_cast<int32_t>(rootAt));  // the $I30 root, not the $O one
  EXPECT_EQ(U8(buffer.Span(), at), 0x90);
  EXPECT_EQ(U16(buffer.Span(), 510), U16(records_[40].Span(), 0x32));  // fixed up
}

TEST_F(Scan20h, EntryWithoutLengthIsRecorded) {
  Long at = 0;
  ByteArray buffer = Base({ListEntry(0x30, 30, u""), ListEntry(0x80, 33, u"", 0)}, at);
  // The second entry's length field is 0: Align8 put the real size there.
  PutU16(buffer.Span(), at + U16(buffer.Span(), at + 20) + 32 + 4, 0);
  Integer found = 0;
  Scan_20h_for_90h(buffer, 30, at, found);
  EXPECT_EQ(ErrorState.ErrorText, "Ln: 30");
  EXPECT_EQ(ErrorState.ErrorWhere, "Scan_20h_for_90h");
  EXPECT_EQ(found, 0);
}

TEST_F(Scan20h, ExtensionWithoutSignatureOrRootIsRecorded) {
  ByteArray notFile = RecordBuilder().IndexRoot(u"$I30", 4096).Array();
  PutU8(notFile.Span(), 0, 'X');
  records_[40] = notFile;
  records_[41] = RecordBuilder().Resident(0x80, {1}).Array();
  for (const auto& [record, text] :
       std::vector<std::pair<uint32_t, std::string>>{{40, "FILE"}, {41, "Scan20490"}}) {
    ResetErrorState();
    Long at = 0;
    ByteArray buffer = Base({ListEntry(0x90, record, u"$I30")}, at);
    Integer found = 0;
    Scan_20h_for_90h(buffer, 30, at, found);
    EXPECT_EQ(ErrorState.ErrorText, text);
    EXPECT_NE(ErrorState.Failed, 0);
    EXPECT_EQ(found, 0);
  }
}

TEST_F(Scan20h, RecordBeyondTheMftIsRecorded) {
  Long at = 0;
  ByteArray buffer = Base({ListEntry(0x90, 5000, u"$I30")}, at);
  Integer found = 0;
  Scan_20h_for_90h(buffer, 30, at, found);
  EXPECT_EQ(ErrorState.ErrorText, kBeyondMftText + " 5000");
  EXPECT_EQ(found, 0);
}

}  // namespace
}  // namespace vr::test
