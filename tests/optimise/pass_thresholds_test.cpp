// The defragment pass's thresholds: the size limits of its passes for each
// cluster size, and which files a pass at a given limit tries (fragmented,
// movable, under the smallest size that found no room, huge files only on
// request).
#include <gtest/gtest.h>

#include <vector>

#include "optimise/pass_volume.h"
#include "optimise/passes.h"

namespace vr::testing_passes {
namespace {

using PassThresholds = PassVolume;

std::vector<int32_t> Thresholds() {
  std::vector<int32_t> out;
  Integer pass = 0;
  for (Long limit = First_Threshold(); limit != 0; limit = Next_Threshold(limit, pass)) {
    out.push_back(limit);
    if (out.size() > 40) break;  // a sequence that never ends fails below
  }
  return out;
}

TEST_F(PassThresholds, EightMegabytesHalvedEightTimesThenEverySize) {
  Volume(1 << 20, true, true, 1);
  EXPECT_EQ(Thresholds(), (std::vector<int32_t>{16384, 8192, 4096, 2048, 1024, 512, 256, 128, 1}));
  // The same byte sizes for 4 KB clusters: 8 MB down to 64 KB.
  Volume(1 << 20, true, true, 8);
  EXPECT_EQ(Thresholds(), (std::vector<int32_t>{2048, 1024, 512, 256, 128, 64, 32, 16, 1}));
  // 64 KB clusters reach single clusters by halving alone.
  Volume(1 << 20, true, true, 128);
  EXPECT_EQ(Thresholds(), (std::vector<int32_t>{128, 64, 32, 16, 8, 4, 2, 1}));
  // A cluster of more than 8 MB: one pass over every size.
  Volume(1 << 10, true, true, 32768);
  EXPECT_EQ(Thresholds(), (std::vector<int32_t>{1}));
}

TEST_F(PassThresholds, WhichFilesAPassTries) {
  Volume(1 << 20, true, true, 8);  // HugeFileClusters 6400 (25 MB)
  File(11, 1000, 2047, 2);
  File(12, 5000, 2048, 2);
  File(13, 9000, 4000, 1);  // contiguous
  File(14, 20000, 3000, 3);
  File(15, 30000, 7680, 4);  // 30 MB
  const Long none = 2147483647;
  const Long first = First_Threshold();
  EXPECT_FALSE(Defrag_Tries(11, first, none));
  EXPECT_TRUE(Defrag_Tries(12, first, none));
  EXPECT_FALSE(Defrag_Tries(13, first, none));
  EXPECT_TRUE(Defrag_Tries(14, first, none));
  EXPECT_FALSE(Defrag_Tries(15, first, none));  // huge
  DefragHugeFiles = -1;
  EXPECT_TRUE(Defrag_Tries(15, first, none));
  EXPECT_TRUE(Defrag_Tries(11, 1, none));
  // After a 3000-cluster file found no room, files of 3000 and more wait.
  EXPECT_FALSE(Defrag_Tries(14, first, 3000));
  EXPECT_FALSE(Defrag_Tries(15, first, 3000));
  EXPECT_TRUE(Defrag_Tries(12, first, 3000));
  // Delayed and unmovable files are not tried.
  MoveDelayed(12) = 1;
  EXPECT_FALSE(Defrag_Tries(12, first, none));
  MoveDelayed(12) = 0;
  DoNotMove(12) = 1;
  EXPECT_FALSE(Defrag_Tries(12, first, none));
}

}  // namespace
}  // namespace vr::testing_passes
