#include "runtime/checked.h"

#include <gtest/gtest.h>

#include "support/run_errors.h"

namespace vr {
namespace {

using testsupport::ErrorOf;

TEST(Checked, IntegerArithmeticOverflowRaisesError6) {
  Integer a = 32767;
  EXPECT_EQ(ErrorOf([&] { a = a + 1; }), 6);
  EXPECT_EQ(a, 32767);
  Integer b = -32768;
  EXPECT_EQ(ErrorOf([&] { b = b - 1; }), 6);
  EXPECT_EQ(ErrorOf([&] { b = -b; }), 6);
  EXPECT_EQ(ErrorOf([&] {
              Integer c = 40000;
              (void)c;
            }),
            6);
  EXPECT_EQ(ErrorOf([&] {
              Integer c = 200;
              c = c * 200;
            }),
            6);
}

TEST(Checked, MixingWidthsTakesTheWiderType) {
  Integer i = 30000;
  Long l = i + Long(30000);
  EXPECT_EQ(l, 60000);
  static_assert(std::is_same_v<decltype(i + Long(1)), Long>);
  static_assert(std::is_same_v<decltype(i + 1), Integer>);
  Long big = 2147483647;
  EXPECT_EQ(ErrorOf([&] { big = big + 1; }), 6);
}

TEST(Checked, DivisionTruncatesAndChecks) {
  EXPECT_EQ(Long(-7) / 2, -3);
  EXPECT_EQ(Long(7) / 2, 3);
  EXPECT_EQ(ErrorOf([] { (void)(Long(1) / 0); }), 11);
  EXPECT_EQ(ErrorOf([] { (void)(Integer(-32768) / -1); }), 6);
}

TEST(Checked, BitOperationsKeepTheWordPattern) {
  Integer count = 0x4000 | 3;
  EXPECT_EQ(count & 0x3FFF, 3);
  EXPECT_EQ(Integer(-1) & 0x4000, 0x4000);
  EXPECT_EQ(Flag(true), -1);
  EXPECT_EQ(Flag(false), 0);
}

}  // namespace
}  // namespace vr
