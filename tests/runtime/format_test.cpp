#include "runtime/format.h"

#include <gtest/gtest.h>

namespace vr {
namespace {

TEST(Format, PicturesOfTheMessages) {
  EXPECT_EQ(Format(1.0, "#.00"), "1.00");
  EXPECT_EQ(Format(0.5, "#.00"), ".50");
  EXPECT_EQ(Format(0.5, "0.00"), "0.50");
  EXPECT_EQ(Format(9.996, "#.00"), "10.00");
  EXPECT_EQ(Format(2.048, "#.00"), "2.05");
  EXPECT_EQ(Format(10.0, "#.0"), "10.0");
  EXPECT_EQ(Format(99.96, "#.0"), "100.0");
  EXPECT_EQ(Format(100.4, "#"), "100");
  EXPECT_EQ(Format(0.4, "#"), "");
  EXPECT_EQ(Format(0.4, "0"), "0");
  EXPECT_EQ(Format(2.5, "0"), "3");
  EXPECT_EQ(Format(12.25, "0.0"), "12.3");
  EXPECT_EQ(Format(1234567, "#,###"), "1,234,567");
  EXPECT_EQ(Format(999, "#,###"), "999");
  EXPECT_EQ(Format(0, "#,###"), "");
  EXPECT_EQ(Format(-1.5, "0.0"), "-1.5");
}

// Names from a volume: control characters become "?", the upper half is
// written as the Latin-1 characters the low bytes stand for.
TEST(Format, NamesFromAVolumeArePrintable) {
  EXPECT_EQ(Printable("report.doc"), "report.doc");
  EXPECT_EQ(Printable(std::string("a\x07\x00"
                                  "b\x7F",
                                  5)),
            "a??b?");
  EXPECT_EQ(Printable("caf\xE9"), "caf\xC3\xA9");
  EXPECT_EQ(Printable(""), "");
}

TEST(Format, NumbersOnTheirOwnCarryBlanks) {
  EXPECT_EQ(NumText(4), " 4 ");
  EXPECT_EQ(NumText(-4), "-4 ");
  EXPECT_EQ(Str(-4), "-4");
}

TEST(Format, ShortestSingleText) {
  EXPECT_EQ(SingleText(1.5f), "1.5");
  EXPECT_EQ(SingleText(512.0f), "512");
  EXPECT_EQ(SingleText(1023.5f), "1023.5");
  EXPECT_EQ(SingleText(0.5f), ".5");
  EXPECT_EQ(SingleText(0.0f), "0");
}

TEST(Format, TimerIsWithinADay) {
  const double t = Timer();
  EXPECT_GE(t, 0.0);
  EXPECT_LT(t, 86400.0);
}

}  // namespace
}  // namespace vr
