// One folder's walk on records built in memory: entries of an index root that
// holds the whole index, a file reached through two names, the folder's own
// "." entry, a subfolder walked in turn, and damaged entries.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "ntfs/file_record.h"
#include "ntfs/mft.h"
#include "ntfs/ntfs_scan.h"
#include "ntfs_test_support.h"
#include "record_builder.h"
#include "volume/error_state.h"
#include "volume/file_table.h"
#include "volume/recording_window.h"
#include "volume/shared_state.h"

namespace vr::test {
namespace {

// An index entry for `record` named `name`; `subNode` >= 0 adds a sub-node.
std::vector<uint8_t> Entry(uint32_t record, const std::u16string& name, int64_t subNode = -1) {
  const size_t key = 0x42 + 2 * name.size();
  size_t length = Align8(16 + key);
  if (subNode >= 0) length += 8;
  std::vector<uint8_t> e(length, 0);
  Put(e, 0, record, 6);
  Put(e, 8, length, 2);
  Put(e, 10, key, 2);
  e[12] = subNode >= 0 ? 1 : 0;
  e[16 + 0x40] = static_cast<uint8_t>(name.size());
  const auto n = Utf16(name);
  std::copy(n.begin(), n.end(), e.begin() + 16 + 0x42);
  if (subNode >= 0) Put(e, length - 8, static_cast<uint64_t>(subNode), 8);
  return e;
}

std::vector<uint8_t> EndEntry() {
  std::vector<uint8_t> e(16, 0);
  Put(e, 8, 16, 2);
  e[12] = 2;
  return e;
}

// A folder record whose $I30 index root holds `entries`.
ByteArray Folder(const std::u16string& name, const std::vector<std::vector<uint8_t>>& entries) {
  std::vector<uint8_t> node;
  for (const auto& e : entries) node.insert(node.end(), e.begin(), e.end());
  std::vector<uint8_t> root(0x20, 0);
  Put(root, 0, 0x30, 4);
  Put(root, 8, 4096, 4);
  Put(root, 0x10, 0x10, 4);                // entries offset
  Put(root, 0x14, 0x10 + node.size(), 4);  // bytes in use
  Put(root, 0x18, 0x10 + node.size(), 4);
  root.insert(root.end(), node.begin(), node.end());
  return RecordBuilder(2)
      .StandardInformation(0)
      .FileName(name)
      .Resident(0x90, root, u"$I30")
      .Array();
}

ByteArray File(const std::u16string& name) {
  return RecordBuilder(2).StandardInformation(0).FileName(name).Resident(0x80, {1, 2, 3}).Array();
}

class DirTree : public NtfsTest {
 protected:
  void SetUp() override {
    NtfsTest::SetUp();
    SetMainWindow(&main_);
    ntfs::Reset_Counters();
    FirstUserRecord = 11;
    RecordCount = 64;
    FileNames.ReDim(63);
    FileFlags.ReDim(63);
    FragmentState.ReDim(63);
    ClusterCount.ReDim(63);
    FirstLcn.ReDim(63);
    DoNotMove.ReDim(63);
    MoveDelayed.ReDim(63);
    FolderIndex.ReDim(63);
    Start_Folders("C:");
    DefragMode = -1;
    saved_ = Read_FILE_Hook;
    Read_FILE_Hook = [this](ByteArray& buffer, Long record) {
      reads_.push_back(record);
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
    SetMainWindow(nullptr);
    NtfsTest::TearDown();
  }
  void Walk(int32_t folder) {
    ByteArray buffer = records_.at(folder);
    Fixup_FILE(buffer.Span());
    VbArray<Long> lengths(0), lcns(0);
    Root_Dir_Tree(buffer, lengths, lcns, 0);
  }

  RecordingMainWindow main_;
  std::map<int32_t, ByteArray> records_;
  std::vector<int32_t> reads_;
  FileRecordReader saved_;
};

TEST_F(DirTree, IndexRootAloneWalksFilesAndSubfoldersOnce) {
  records_[5] = Folder(u".", {Entry(5, u"."), Entry(20, u"a.txt"), Entry(30, u"sub"),
                              Entry(20, u"second name.txt"), EndEntry()});
  records_[20] = File(u"a.txt");
  records_[30] = Folder(u"sub", {Entry(31, u"b.txt"), EndEntry()});
  records_[31] = File(u"b.txt");
  Walk(5);
  ASSERT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
  EXPECT_EQ(ntfs::FileCount, 2);    // a.txt once, b.txt
  EXPECT_EQ(ntfs::FolderTotal, 2);  // the root by its "." entry, and sub
  EXPECT_EQ(FolderCount, 1);        // "." is not walked again
  EXPECT_EQ(Folder_Path(FolderIndex(31)), "C:\\sub");
  EXPECT_EQ(FileNames(20), "a.txt");
  EXPECT_EQ(std::count(reads_.begin(), reads_.end(), 20), 1);
  EXPECT_EQ(DoNotMove(20), 0xFF);  // resident data stays where it is
  EXPECT_EQ(ntfs::ResidentCount, 3);
}

TEST_F(DirTree, EntryBeyondTheMftIsRecorded) {
  records_[5] = Folder(u".", {Entry(20, u"a.txt"), Entry(900, u"ghost"), EndEntry()});
  records_[20] = File(u"a.txt");
  Walk(5);
  EXPECT_EQ(ErrorState.ErrorText, kBeyondMftText + " 900");
  EXPECT_EQ(ErrorState.ErrorWhere, "Root_Dir_Tree");
  EXPECT_NE(ErrorState.Failed, 0);
}

TEST_F(DirTree, FolderWithoutI30RootIsRecorded) {
  records_[5] = Folder(u".", {Entry(40, u"view"), EndEntry()});
  // A folder-like record whose index is not $I30 (a view of $Secure).
  std::vector<uint8_t> root(0x20, 0);
  Put(root, 0x10, 0x10, 4);
  Put(root, 0x14, 0x20, 4);
  Put(root, 0x18, 0x20, 4);
  const auto end = EndEntry();
  root.insert(root.end(), end.begin(), end.end());
  records_[40] = RecordBuilder(2)
                     .StandardInformation(0)
                     .FileName(u"view")
                     .Resident(0x90, root, u"$SDH")
                     .Array();
  Walk(5);
  // Only $I30 makes a folder: the record is a file, and nothing is walked.
  EXPECT_EQ(ErrorState.ErrorCount, 0) << ErrorState.ErrorText;
  EXPECT_EQ(ntfs::FolderTotal, 0);
  EXPECT_EQ(ntfs::FileCount, 1);
  ByteArray buffer = records_.at(40);
  Fixup_FILE(buffer.Span());
  VbArray<Long> none(0);
  Root_Dir_Tree(buffer, none, none, 0);
  EXPECT_EQ(ErrorState.ErrorText, "&H90");
}

TEST_F(DirTree, DamagedEntryLengthEndsTheWalk) {
  auto bad = Entry(20, u"a.txt");
  Put(bad, 8, 0, 2);  // no length: the walk would never advance
  records_[5] = Folder(u".", {bad, EndEntry()});
  records_[20] = File(u"a.txt");
  Walk(5);
  EXPECT_EQ(ErrorState.ErrorText, "Skip");
  EXPECT_NE(ErrorState.Failed, 0);
}

TEST_F(DirTree, StopFlagEndsTheWalkBeforeTheNextFile) {
  records_[5] = Folder(u".", {Entry(20, u"a.txt"), EndEntry()});
  records_[20] = File(u"a.txt");
  ErrorState.Failed = kTrue;
  Walk(5);
  EXPECT_TRUE(reads_.empty());
  EXPECT_EQ(ntfs::FileCount, 0);
}

}  // namespace
}  // namespace vr::test
