// What the move engine does with the file system's refusals on the mkntfs
// fixture in use: a file it will not move (sparse) and a file that cannot
// be opened stay where they are, listed, without an error; the move in 64 KB
// requests of a volume in use on FAT, sent here to the NTFS driver; a device
// that fails its writes, or a read of the file's data, during a move request
// stops the run with "Drive status" and leaves every file as it was.
#include <gtest/gtest.h>

#include <regex>

#include "alloc/allocation_state.h"
#include "ntfs/ntfs_scan.h"
#include "optimise/engine_image_harness.h"
#include "volume/error_state.h"

namespace vr::test {
namespace {

bool Listed(const std::vector<std::string>& raw, const std::string& tail) {
  for (const std::string& item : raw)
    if (item.size() >= tail.size() &&
        item.compare(item.size() - tail.size(), tail.size(), tail) == 0)
      return true;
  return false;
}

TEST_F(EngineImageTest, RefusedFilesStayWhereTheyAreAndAFailingDeviceStopsTheRun) {
  const Long sparse = Record("sparse\\sparse.bin");
  const Long alpha = Record("frag\\alpha.bin");
  const Long beta = Record("frag\\beta.bin");
  const Long report = Record("docs\\report.doc");
  std::vector<testsupport::LibntfsRun> reportBefore, sparseBefore;
  {
    std::string error;
    ASSERT_TRUE(testsupport::LibntfsRunlist(fx_->Path(), "docs\\report.doc", reportBefore, error));
    ASSERT_TRUE(
        testsupport::LibntfsRunlist(fx_->Path(), "sparse\\sparse.bin", sparseBefore, error));
  }
  const uint64_t movesBefore = platform::NtfsMovesDone();
  int64_t chunked = 0;
  const std::vector<std::string> lines = Defrag([&] {
    VbArray<Long> lengths(0), lcns(0);
    RecordInfo info{};
    Long target = 0, count = 0;

    // The sparse file: the file system answers 0xC0000021 although the
    // target is free. It is not moved again in this run; no error.
    ASSERT_EQ(DoNotMove(sparse), 0);
    ASSERT_TRUE(Prepare_File(sparse, lengths, lcns, info));
    EXPECT_NE(FileFlags(sparse) & kFlagCompressed, 0) << "its holes read as compression units";
    ASSERT_NE(Avail_Block(ClusterCount(sparse), target, 0), 0);
    count = ClusterCount(sparse);
    EXPECT_FALSE(Move_File(sparse, lengths, lcns, count, target, info, 1));
    EXPECT_EQ(info.FileHandle, -1);
    EXPECT_EQ(ErrorState.ErrorCount, 0);
    EXPECT_EQ(ErrorState.Failed, 0);
    EXPECT_EQ(DoNotMove(sparse), 1);
    EXPECT_EQ(FilesMoved, 0);
    EXPECT_EQ(platform::NtfsMovesDone(), movesBefore);
    EXPECT_FALSE(Prepare_File(sparse, lengths, lcns, info));

    // A file that cannot be opened (held by another program, or gone): not
    // moved, listed as busy, counted as unmovable; no error.
    ASSERT_GT(FragmentState(beta), 2);
    const Long fragmented = ntfs::FragmentedFiles;
    const Long unmovable = ntfs::UnmovableFragmented;
    FileNames(beta) = "gone.bin";
    EXPECT_FALSE(Prepare_File(beta, lengths, lcns, info));
    EXPECT_EQ(info.FileHandle, -1);
    EXPECT_EQ(ErrorState.ErrorCount, 0);
    EXPECT_EQ(DoNotMove(beta), 1);
    EXPECT_EQ(ntfs::FragmentedFiles, fragmented - 1);
    EXPECT_EQ(ntfs::UnmovableFragmented, unmovable + 1);
    EXPECT_TRUE(Listed(Raw(), "\\frag\\gone.bin (busy)"));

    // In 64 KB requests (16 clusters of 4 KB): 40 clusters in three.
    ASSERT_TRUE(Prepare_File(alpha, lengths, lcns, info));
    ASSERT_TRUE(Allocate_Only(40, target, 0));
    chunked = target;
    const uint64_t moves = platform::NtfsMovesDone();
    EXPECT_EQ(Move_Chunks(info.FileHandle, target, 40), 0u);
    EXPECT_EQ(platform::NtfsMovesDone() - moves, 3u);
    CloseFileHandle(info);
    // A first request onto clusters in use: 0xC0000021, nothing moved.
    ASSERT_TRUE(Prepare_File(report, lengths, lcns, info));
    EXPECT_EQ(Move_Chunks(info.FileHandle, target, ClusterCount(report)), 0xC0000021u);
    // The device failing its writes: the device's status, also on the
    // first request.
    ASSERT_NE(Avail_Block(ClusterCount(report), target, 0), 0);
    *failing_ = true;
    const uint32_t failed = Move_Chunks(info.FileHandle, target, ClusterCount(report));
    EXPECT_NE(failed, 0u);
    EXPECT_NE(failed, 0xC0000021u);
    CloseFileHandle(info);
    EXPECT_EQ(ErrorState.ErrorCount, 0) << "Move_Chunks leaves the verdict to Move_File";

    // The whole move of the report while the device fails: "Drive status".
    ASSERT_TRUE(Prepare_File(report, lengths, lcns, info));
    const Long k = Avail_Block(ClusterCount(report), target, 0);
    ASSERT_NE(k, 0);
    count = ClusterCount(report);
    EXPECT_FALSE(Move_File(report, lengths, lcns, count, target, info, k));
    *failing_ = false;
    EXPECT_EQ(info.FileHandle, -1);
    EXPECT_EQ(ErrorState.ErrorWhere, "Drive status");
    EXPECT_TRUE(std::regex_match(ErrorState.ErrorText, std::regex("C[0-9A-F]{7}")))
        << ErrorState.ErrorText;
    EXPECT_EQ(ErrorState.ErrorCount, 1);
    EXPECT_NE(ErrorState.Failed, 0);
    EXPECT_EQ(FilesMoved, 0);
    EXPECT_EQ(DoNotMove(report), 0) << "the file is not to blame";
    EXPECT_EQ(DelayedCount, 0);
  });
  EXPECT_TRUE(Has(lines, "Err=C")) << Joined(lines);
  EXPECT_TRUE(Has(lines, "Source=Drive status")) << Joined(lines);
  const auto alphaRuns = Runs("frag\\alpha.bin");
  ASSERT_EQ(alphaRuns.size(), 1u) << "three requests, one run";
  EXPECT_EQ(alphaRuns[0].lcn, chunked);
  const auto reportRuns = Runs("docs\\report.doc");
  ASSERT_EQ(reportRuns.size(), reportBefore.size());
  for (size_t i = 0; i < reportRuns.size(); ++i) EXPECT_EQ(reportRuns[i].lcn, reportBefore[i].lcn);
  const auto sparseRuns = Runs("sparse\\sparse.bin");
  ASSERT_EQ(sparseRuns.size(), sparseBefore.size());
  for (size_t i = 0; i < sparseRuns.size(); ++i) EXPECT_EQ(sparseRuns[i].lcn, sparseBefore[i].lcn);
  ExpectEveryFileIntact();
}

// A cluster of the file that cannot be read while the file system moves
// it: the request fails, the run stops with "Drive status", the file keeps
// its old runs.
TEST_F(EngineImageTest, AReadFailureDuringAMoveStopsTheRunAndLeavesTheFile) {
  const Long beta = Record("frag\\beta.bin");
  const uint64_t movesBefore = platform::NtfsMovesDone();
  std::vector<testsupport::LibntfsRun> before;
  std::string error;
  ASSERT_TRUE(testsupport::LibntfsRunlist(fx_->Path(), "frag\\beta.bin", before, error)) << error;
  const std::vector<std::string> lines = Defrag([&] {
    VbArray<Long> lengths(0), lcns(0);
    RecordInfo info{};
    ASSERT_TRUE(Prepare_File(beta, lengths, lcns, info));
    const auto cluster = static_cast<uint64_t>(512 * VolumeSession.SectorsPerCluster.Value());
    bad_->first = static_cast<uint64_t>(lcns(3).Value()) * cluster;
    bad_->end = bad_->first + cluster;
    Long target = 0;
    const Long k = Avail_Block(ClusterCount(beta), target, 0);
    ASSERT_NE(k, 0);
    Long count = ClusterCount(beta);
    EXPECT_FALSE(Move_File(beta, lengths, lcns, count, target, info, k));
    *bad_ = BadBytes{};
    EXPECT_EQ(info.FileHandle, -1);
    EXPECT_EQ(ErrorState.ErrorWhere, "Drive status");
    EXPECT_NE(ErrorState.Failed, 0);
    EXPECT_EQ(FilesMoved, 0);
    EXPECT_GT(FragmentState(beta), 2);
    EXPECT_EQ(DoNotMove(beta), 0);
  });
  EXPECT_EQ(platform::NtfsMovesDone(), movesBefore);
  EXPECT_TRUE(Has(lines, "Source=Drive status")) << Joined(lines);
  const auto after = Runs("frag\\beta.bin");
  ASSERT_EQ(after.size(), before.size());
  for (size_t i = 0; i < after.size(); ++i) EXPECT_EQ(after[i].lcn, before[i].lcn);
  ExpectEveryFileIntact();
}

}  // namespace
}  // namespace vr::test
