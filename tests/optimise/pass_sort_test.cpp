// The candidate sort every optimiser pass shares: ascending by key, equal
// keys in the order given, on hand-made lists and against std::stable_sort.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "optimise/passes.h"

namespace vr {
namespace {

std::vector<Candidate> Make(const std::vector<int32_t>& Keys) {
  std::vector<Candidate> list;
  for (size_t i = 0; i < Keys.size(); ++i) list.push_back({Keys[i], Long(int64_t(i))});
  return list;
}
std::vector<std::pair<int32_t, int32_t>> Pairs(const std::vector<Candidate>& List) {
  std::vector<std::pair<int32_t, int32_t>> out;
  for (const Candidate& c : List) out.emplace_back(c.Key, c.Record);
  return out;
}
std::vector<Candidate> StableSorted(std::vector<Candidate> List) {
  std::stable_sort(List.begin(), List.end(),
                   [](const Candidate& a, const Candidate& b) { return a.Key < b.Key; });
  return List;
}

TEST(PassSort, AscendingWithEqualKeysInTheOrderGiven) {
  std::vector<Candidate> none;
  Sort_Candidates(none);
  EXPECT_TRUE(none.empty());
  auto one = Make({7});
  Sort_Candidates(one);
  EXPECT_EQ(Pairs(one), (std::vector<std::pair<int32_t, int32_t>>{{7, 0}}));

  // The first round (gap 2) swaps the record at 2 past the equal one at 1,
  // and the record at 3 to place 1: without the tie-break the two records
  // of key 1 would come out the other way round.
  auto list = Make({5, 1, 1, 0});
  Sort_Candidates(list);
  EXPECT_EQ(Pairs(list),
            (std::vector<std::pair<int32_t, int32_t>>{{0, 3}, {1, 1}, {1, 2}, {5, 0}}));

  // Descending input, negative and extreme keys.
  list = Make({2147483647, 100, 3, 0, -5, -2147483647 - 1, 3});
  Sort_Candidates(list);
  EXPECT_EQ(Pairs(list),
            Pairs(StableSorted(Make({2147483647, 100, 3, 0, -5, -2147483647 - 1, 3}))));
  EXPECT_EQ(list.front().Key, -2147483647 - 1);
  EXPECT_EQ(list.back().Key, 2147483647);
}

TEST(PassSort, RandomListsMatchStableSort) {
  std::mt19937 random(13);
  for (int round = 0; round < 300; ++round) {
    const int n = static_cast<int>(random() % 400);
    // Few distinct keys in some rounds (many equal keys), spread in others.
    const int32_t range = round % 3 == 0 ? 5 : 1000000;
    std::vector<int32_t> keys(static_cast<size_t>(n));
    for (int32_t& k : keys) k = static_cast<int32_t>(random() % range);
    auto list = Make(keys);
    Sort_Candidates(list);
    ASSERT_EQ(Pairs(list), Pairs(StableSorted(Make(keys)))) << "round " << round;
  }
  // A list of the size of a large volume's file table: nearly sorted (files
  // allocated in record order), with duplicates.
  std::vector<int32_t> keys(200000);
  for (size_t i = 0; i < keys.size(); ++i) keys[i] = static_cast<int32_t>(i * 4 + random() % 4000);
  auto list = Make(keys);
  Sort_Candidates(list);
  EXPECT_EQ(Pairs(list), Pairs(StableSorted(Make(keys))));
}

}  // namespace
}  // namespace vr
