// The checksum arithmetic and the checksum file: chunked CRCs, the 16-bit
// fold, the padding of an odd file, and checksum files that Validate must
// refuse with a message instead of walking a broken tree.
#include <gtest/gtest.h>
#include <zlib.h>

#include <fstream>

#include "support/fat_fixtures.h"
#include "support/volume_images.h"
#include "tools/checksum.h"
#include "tools/checksum_tree.h"
#include "tools/crc_checksum.h"
#include "tools/tool_harness.h"
#include "tools/validate.h"

namespace vr::test {
namespace {

TEST(CrcChecksum, ChunksCarryTheCrcAndTheFoldIsHighOrLow) {
  const std::vector<uint8_t> bytes = testsupport::PatternBytes(500000, 3);
  int32_t whole = 0;
  Get_CRC_CheckSum(bytes.data(), static_cast<int32_t>(bytes.size()), &whole);
  EXPECT_EQ(static_cast<uint32_t>(whole), crc32(0, bytes.data(), static_cast<uInt>(bytes.size())));
  int32_t chunked = 0;
  for (size_t at = 0; at < bytes.size(); at += 204800) {
    const size_t n = std::min<size_t>(204800, bytes.size() - at);
    Get_CRC_CheckSum(bytes.data() + at, static_cast<int32_t>(n), &chunked);
  }
  EXPECT_EQ(chunked, whole);
  std::vector<uint8_t> changed = bytes;
  changed[123456] ^= 1;
  int32_t other = 0;
  Get_CRC_CheckSum(changed.data(), static_cast<int32_t>(changed.size()), &other);
  EXPECT_NE(other, whole);

  EXPECT_EQ(Fold_CheckSum(0), 0);
  EXPECT_EQ(Fold_CheckSum(0x00010002), 3);
  EXPECT_EQ(Fold_CheckSum(static_cast<int32_t>(0x80010002u)), static_cast<int16_t>(0x8003));
  EXPECT_EQ(Fold_CheckSum(static_cast<int32_t>(0xFFFF0000u)), -1);
}

class ChecksumFile : public ToolTest {};

// A file of 204801 bytes is read as 204800 + 2 (one real byte, one zero);
// one of 3 bytes as 4; an empty file checksums to 0.
TEST_F(ChecksumFile, OddFilesArePaddedWithOneZeroByte) {
  testsupport::FatFormat f;
  f.fatBits = 12;
  f.sectors = 4096;
  testsupport::FatVolume v(testsupport::FatImagePath("tools-odd"), f);
  testsupport::RemoveOnExit cleanup{v.Path()};
  v.Write("BIG.BIN", 204801, 5);
  v.Write("ODD.BIN", 3, 6);
  v.Write("NONE.BIN", 0, 7);
  MapDrive(v.Path());

  Integer sum = 0;
  int64_t size = 0;
  ReadAndCheck("c:\\BIG.BIN", sum, size);
  EXPECT_EQ(size, 204801);
  std::vector<uint8_t> bytes = v.Read("BIG.BIN");
  bytes.push_back(0);
  const uint32_t crc = crc32(0, bytes.data(), static_cast<uInt>(bytes.size()));
  EXPECT_EQ(sum, Fold_CheckSum(static_cast<int32_t>(crc)));
  EXPECT_EQ(sum, ExpectedSum(v.Read("BIG.BIN")));
  ReadAndCheck("c:\\ODD.BIN", sum, size);
  EXPECT_EQ(size, 3);
  EXPECT_EQ(sum, ExpectedSum(v.Read("ODD.BIN")));
  ReadAndCheck("c:\\NONE.BIN", sum, size);
  EXPECT_EQ(size, 0);
  EXPECT_EQ(sum, 0);
  ReadAndCheck("c:\\MISSING.BIN", sum, size);
  EXPECT_EQ(sum, -1);
  EXPECT_EQ(size, 0);
  EXPECT_TRUE(Lines().empty());  // a missing file is no drive error
}

TEST_F(ChecksumFile, ValidateRefusesMissingAndDamagedFiles) {
  const std::string image = testsupport::TempPath("tools-damaged.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeFatImage(image, 1440, 12, "", "DAMAGED", error)) << error;
  MapDrive(image);

  ValidateResult r = Timing_Validate(tools);
  EXPECT_FALSE(r.completed);
  EXPECT_EQ(Lines().back(), "File not found");
  EXPECT_EQ(LineColour("File not found"), kLightRed);
  EXPECT_EQ(tools.calls.back(), "SetUnBusy");

  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"2,0\r\n0,\"c:\"\r\n", "Input past end of file"},
      {"3,1\r\n0,\"c:\"\r\n2,\"A\"\r\n1,\"B\"\r\n0,5,\"F\"\r\n", "Subscript out of range"},
      {"1,1\r\n0,\"c:\"\r\n1,5,\"F\"\r\n", "Subscript out of range"},
      {"1,1\r\n0,\"c:\"\r\n0,x,\"F\"\r\n", "Type mismatch"},
      {"1,1\r\n0,\"c:\"\r\n0,70000,\"F\"\r\n", "Overflow"},
      {"1,0\r\n0,c:\r\n", "Type mismatch"},
  };
  for (const auto& c : cases) {
    std::ofstream(home + "/Checksum.c", std::ios::binary) << c.text;
    r = Timing_Validate(tools);
    EXPECT_FALSE(r.completed) << c.text;
    EXPECT_EQ(Lines().back(), c.message) << c.text;
    EXPECT_EQ(LineColour(c.message), kLightRed);
    EXPECT_EQ(CheckLog(), "");
  }
}

// A name with a double quote (possible on a volume written by Linux) is the
// last field of its line and reads back whole.
TEST_F(ChecksumFile, NamesReadBackWhole) {
  const std::string image = testsupport::TempPath("tools-names.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeFatImage(image, 1440, 12, "", "NAMES", error)) << error;
  MapDrive(image);
  std::ofstream(home + "/Checksum.c", std::ios::binary)
      << "2,2\r\n0,\"c:\"\r\n0,\"a, \"b\"\r\n1,0,\"x\"y\".txt\"\r\n0,0,\"q,r\"\r\n";
  const ValidateResult r = Timing_Validate(tools);
  EXPECT_TRUE(r.completed);
  EXPECT_EQ(r.erased, 2);
  const auto found = main.Items(Control::lstValErrs);
  ASSERT_EQ(found.size(), 3u);
  EXPECT_EQ(found[1], "c:\\a, \"b\\x\"y\".txt  (erased)");
  EXPECT_EQ(found[2], "c:\\q,r  (erased)");
}

}  // namespace
}  // namespace vr::test
