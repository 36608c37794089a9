#include "platform/update_sequence.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <vector>

#include "platform/ntfs_layout.h"

namespace vr {
namespace {

// A structure of `sectors` sectors as it is in memory: every byte a
// function of its position, the array at `usaOffset` holding `usn` and
// stale saved bytes.
std::vector<uint8_t> Plain(int64_t sectors, int64_t usaOffset, uint16_t usn) {
  std::vector<uint8_t> b(static_cast<size_t>(sectors) * 512);
  for (size_t i = 0; i < b.size(); ++i) b[i] = static_cast<uint8_t>(i * 7 + i / 512);
  PutU32(b, 0, kFileMagic);
  PutU16(b, 4, static_cast<uint16_t>(usaOffset));
  PutU16(b, 6, static_cast<uint16_t>(sectors + 1));
  PutU16(b, usaOffset, usn);
  return b;
}

// The same structure as it lies on the disk under sequence number `usn`,
// protected by hand (not by the module under test).
std::vector<uint8_t> OnDisk(const std::vector<uint8_t>& plain, int64_t usaOffset, uint16_t usn) {
  std::vector<uint8_t> b = plain;
  PutU16(b, usaOffset, usn);
  for (size_t k = 0; k < b.size() / 512; ++k) {
    PutU16(b, usaOffset + 2 + 2 * static_cast<int64_t>(k), U16(b, 512 * k + 510));
    PutU16(b, 512 * k + 510, usn);
  }
  return b;
}

// What a reader holds after the fixup of OnDisk(plain, usaOffset, usn): the
// plain contents, the array keeping the saved bytes.
std::vector<uint8_t> Fixed(const std::vector<uint8_t>& plain, int64_t usaOffset, uint16_t usn) {
  std::vector<uint8_t> b = plain;
  PutU16(b, usaOffset, usn);
  for (size_t k = 0; k < b.size() / 512; ++k)
    PutU16(b, usaOffset + 2 + 2 * static_cast<int64_t>(k), U16(plain, 512 * k + 510));
  return b;
}

struct Shape {
  int64_t sectors;
  int64_t usaOffset;
};

// Test listings name each case by its sectors and array offset.
void PrintTo(const Shape& shape, std::ostream* os) {
  *os << shape.sectors << " sectors, array at 0x" << std::hex << shape.usaOffset << std::dec;
}

class UpdateSequence : public testing::TestWithParam<Shape> {};

// FILE records of 1 KB (both header layouts) and 4 KB, and an index block.
INSTANTIATE_TEST_SUITE_P(Structures, UpdateSequence,
                         testing::Values(Shape{2, kUsaOffsetNt4}, Shape{2, kUsaOffsetNtfs31},
                                         Shape{8, kUsaOffsetNtfs31}, Shape{8, kUsaOffsetIndex}));

TEST_P(UpdateSequence, TornSectorAtEachPositionIsReportedAndLeavesTheBlockAsRead) {
  const auto [sectors, usa] = GetParam();
  const auto plain = Plain(sectors, usa, 0x1234);
  const auto disk = OnDisk(plain, usa, 0x1234);
  for (int64_t torn = 0; torn < sectors; ++torn) {
    auto b = disk;
    b[static_cast<size_t>(512 * torn + 511)] ^= 0x80;  // that sector is from another write
    const auto before = b;
    EXPECT_EQ(CheckUpdateSequence(b, sectors), torn);
    EXPECT_EQ(PostReadFixup(b, sectors), torn);
    EXPECT_EQ(b, before) << "sector " << torn;
    // A reader that takes the block as it is restores every other sector.
    EXPECT_EQ(PostReadFixupMatching(b, sectors), torn);
    for (int64_t k = 0; k < sectors; ++k) {
      const size_t end = static_cast<size_t>(512 * k + 510);
      if (k == torn) {
        EXPECT_EQ(U16(b, end), U16(before, end));
      } else {
        EXPECT_EQ(U16(b, end), U16(plain, end)) << k;
      }
    }
  }
  auto intact = disk;
  EXPECT_EQ(PostReadFixup(intact, sectors), kUsaIntact);
  EXPECT_EQ(intact, Fixed(plain, usa, 0x1234));
}

TEST_P(UpdateSequence, WriteThenReadGivesTheSameContentsUnderTheNextNumber) {
  const auto [sectors, usa] = GetParam();
  for (const uint16_t from : {uint16_t{1}, uint16_t{0x00FF}, uint16_t{0xFFFD}}) {
    const auto plain = Plain(sectors, usa, from);
    auto b = plain;
    ASSERT_TRUE(PreWriteFixup(b, sectors));
    const uint16_t next = static_cast<uint16_t>(from + 1);
    EXPECT_EQ(b, OnDisk(plain, usa, next));  // every sector protected
    EXPECT_EQ(CheckUpdateSequence(b, sectors), kUsaIntact);
    auto read = b;
    ASSERT_EQ(PostReadFixup(read, sectors), kUsaIntact);
    const auto expected = Fixed(plain, usa, next);
    EXPECT_EQ(read, expected);
    PostWriteFixup(b, sectors);  // the writer's own buffer back as it was
    EXPECT_EQ(b, expected);
  }
}

TEST(UpdateSequenceNumber, ZeroAndFFFFAreSkipped) {
  for (const auto& [from, next] : std::vector<std::pair<uint16_t, uint16_t>>{
           {0xFFFE, 1}, {0xFFFF, 1}, {0, 1}, {1, 2}, {0x7FFF, 0x8000}}) {
    auto b = Plain(2, kUsaOffsetNtfs31, from);
    ASSERT_TRUE(PreWriteFixup(b, 2));
    EXPECT_EQ(U16(b, kUsaOffsetNtfs31), next) << from;
    EXPECT_EQ(U16(b, 510), next);
    EXPECT_EQ(U16(b, 1022), next);
  }
}

TEST(UpdateSequenceArray, AnArrayThatDoesNotDescribeTheBlockChangesNothing) {
  const auto good = OnDisk(Plain(2, 0x30, 7), 0x30, 7);
  auto odd = good;
  PutU16(odd, 4, 0x31);
  auto count = good;
  PutU16(count, 6, 4);  // three sectors in a two-sector record
  auto past = good;
  PutU16(past, 4, 0x1FC);  // runs over the first sector's protected end
  auto inHeader = good;
  PutU16(inHeader, 4, 0x04);
  for (auto b : {odd, count, past, inHeader}) {
    const auto before = b;
    EXPECT_EQ(CheckUpdateSequence(b, 2), kUsaBadArray);
    EXPECT_EQ(PostReadFixup(b, 2), kUsaBadArray);
    EXPECT_EQ(PostReadFixupMatching(b, 2), kUsaBadArray);
    EXPECT_FALSE(PreWriteFixup(b, 2));
    PostWriteFixup(b, 2);
    EXPECT_EQ(b, before);
  }
  // A buffer shorter than the sectors asked for is never read past its end.
  std::vector<uint8_t> half(good.begin(), good.begin() + 512);
  EXPECT_EQ(CheckUpdateSequence(half, 2), kUsaBadArray);
  EXPECT_EQ(CheckUpdateSequence(good, 0), kUsaBadArray);
}

}  // namespace
}  // namespace vr
