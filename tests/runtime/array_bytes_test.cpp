#include <gtest/gtest.h>

#include <vector>

#include "runtime/bytes.h"
#include "runtime/vb_array.h"
#include "support/run_errors.h"

namespace vr {
namespace {

using testsupport::ErrorOf;

TEST(VbArray, BoundsAreCheckedAndReDimPreserveKeepsContents) {
  VbArray<int> a(3);
  EXPECT_EQ(a.UBound(), 3);
  a(3) = 7;
  EXPECT_EQ(ErrorOf([&] { a(4) = 1; }), 9);
  EXPECT_EQ(ErrorOf([&] { (void)a(-1); }), 9);
  a.ReDimPreserve(5);
  EXPECT_EQ(a(3), 7);
  EXPECT_EQ(a(5), 0);
  a.ReDim(0);
  EXPECT_EQ(a(0), 0);
  EXPECT_EQ(a.UBound(), 0);
  EXPECT_EQ(ErrorOf([&] { a.ReDim(-2); }), 9);
}

TEST(VbArray, ImpossibleSizeIsOutOfMemory) {
  VbArray<int64_t> a;
  EXPECT_EQ(ErrorOf([&] { a.ReDim(int64_t{1} << 60); }), 7);
}

TEST(Bytes, LittleEndianAccessorsStopAtTheEnd) {
  std::vector<uint8_t> b = {0x01, 0x02, 0x03, 0x04, 0xF6, 0xFF};
  EXPECT_EQ(U16(b, 0), 0x0201);
  EXPECT_EQ(U32(b, 0), 0x04030201u);
  EXPECT_EQ(I8(b, 4), -10);
  EXPECT_EQ(I16(b, 4), static_cast<int16_t>(0xFFF6));
  EXPECT_EQ(ErrorOf([&] { (void)U32(b, 3); }), 9);
  EXPECT_EQ(ErrorOf([&] { (void)U8(b, 6); }), 9);
  EXPECT_EQ(ErrorOf([&] { (void)U8(b, -1); }), 9);
  PutU16(b, 4, 0x1234);
  EXPECT_EQ(U16(b, 4), 0x1234);
  EXPECT_EQ(ErrorOf([&] { PutU32(b, 4, 1); }), 9);
}

}  // namespace
}  // namespace vr
