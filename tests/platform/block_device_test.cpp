// The block devices and their wrappers.
#include "platform/block_device.h"

#include <gtest/gtest.h>

#include "support/volume_images.h"

namespace {

using platform::BlockDevice;
using platform::FaultDevice;
using platform::MemoryDevice;
using platform::WriteLogDevice;

std::vector<uint8_t> Pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = static_cast<uint8_t>(i * 7 + 3);
  return v;
}

TEST(MemoryDevice, ReadsAndWritesInsideItsBounds) {
  MemoryDevice d(Pattern(1024));
  std::vector<uint8_t> buf(512);
  ASSERT_TRUE(d.Read(512, buf.data(), 512));
  EXPECT_EQ(buf[0], Pattern(1024)[512]);
  std::vector<uint8_t> ones(512, 1);
  ASSERT_TRUE(d.Write(0, ones.data(), 512));
  EXPECT_EQ(d.Bytes()[511], 1);
  EXPECT_EQ(d.Bytes()[512], Pattern(1024)[512]);
}

TEST(MemoryDevice, RefusesTransfersCrossingTheEnd) {
  MemoryDevice d(Pattern(1024));
  std::vector<uint8_t> buf(1024, 0xAA);
  EXPECT_FALSE(d.Read(512, buf.data(), 1024));
  EXPECT_FALSE(d.Read(~uint64_t{0} - 10, buf.data(), 512)) << "offset + size must not wrap";
  EXPECT_FALSE(d.Write(1023, buf.data(), 2));
  EXPECT_EQ(d.Bytes()[1023], Pattern(1024)[1023]) << "a refused write changes nothing";
  EXPECT_TRUE(d.Read(1024, buf.data(), 0));
}

TEST(MemoryDevice, ReadOnlyRefusesWrites) {
  MemoryDevice d(Pattern(512), true);
  std::vector<uint8_t> buf(512);
  EXPECT_FALSE(d.Write(0, buf.data(), 512));
  EXPECT_TRUE(d.ReadOnly());
}

TEST(FaultDevice, FailsExactlyTheNthReadAndWrite) {
  auto mem = std::make_shared<MemoryDevice>(Pattern(4096));
  FaultDevice f(mem, 3, 2);
  std::vector<uint8_t> buf(512);
  EXPECT_TRUE(f.Read(0, buf.data(), 512));
  EXPECT_TRUE(f.Read(0, buf.data(), 512));
  EXPECT_FALSE(f.Read(0, buf.data(), 512));
  EXPECT_TRUE(f.Read(0, buf.data(), 512)) << "not sticky: later reads work";
  EXPECT_TRUE(f.Write(0, buf.data(), 512));
  std::vector<uint8_t> marker(512, 0xEE);
  EXPECT_FALSE(f.Write(512, marker.data(), 512));
  EXPECT_NE(mem->Bytes()[512], 0xEE) << "the failed write must not reach the device";
  EXPECT_EQ(f.Reads(), 4u);
  EXPECT_EQ(f.Writes(), 2u);
}

TEST(FaultDevice, StickyFailsEverythingAfterTheFirstFault) {
  auto mem = std::make_shared<MemoryDevice>(Pattern(4096));
  FaultDevice f(mem, 2, 0, true);
  std::vector<uint8_t> buf(512);
  EXPECT_TRUE(f.Read(0, buf.data(), 512));
  EXPECT_FALSE(f.Read(0, buf.data(), 512));
  EXPECT_FALSE(f.Read(0, buf.data(), 512));
  EXPECT_FALSE(f.Write(0, buf.data(), 512));
}

TEST(WriteLogDevice, ReplaysAnyPrefixOfTheWrites) {
  const auto original = Pattern(2048);
  auto mem = std::make_shared<MemoryDevice>(original);
  WriteLogDevice log(mem);
  std::vector<uint8_t> a(512, 0xA1), b(512, 0xB2), c(512, 0xC3);
  ASSERT_TRUE(log.Write(0, a.data(), 512));
  ASSERT_TRUE(log.Write(1024, b.data(), 512));
  ASSERT_TRUE(log.Write(0, c.data(), 512));
  ASSERT_EQ(log.Log().size(), 3u);

  for (size_t k = 0; k <= 3; ++k) {
    auto image = original;
    log.Replay(image, k);
    EXPECT_EQ(image[0], k == 0 ? original[0] : (k >= 3 ? 0xC3 : 0xA1)) << k;
    EXPECT_EQ(image[1024], k >= 2 ? 0xB2 : original[1024]) << k;
  }
  auto full = original;
  log.Replay(full, 99);
  EXPECT_EQ(full, mem->Bytes()) << "the whole log rebuilds the device";
}

TEST(WriteLogDevice, FailedWritesAreNotLogged) {
  auto mem = std::make_shared<MemoryDevice>(Pattern(1024));
  auto fault = std::make_shared<FaultDevice>(mem, 0, 1);
  WriteLogDevice log(fault);
  std::vector<uint8_t> a(512, 0xA1);
  EXPECT_FALSE(log.Write(0, a.data(), 512));
  EXPECT_TRUE(log.Write(0, a.data(), 512));
  EXPECT_EQ(log.Log().size(), 1u);
}

TEST(FileDevice, ATransferPastTheEndOfTheImageFails) {
  const std::string path = testsupport::TempPath("short.img");
  ASSERT_TRUE(testsupport::WriteFileBytes(path, Pattern(1000)));  // not a whole number of sectors
  int err = 0;
  auto d = platform::OpenFileDevice(path, true, err);
  ASSERT_TRUE(d) << err;
  EXPECT_EQ(d->Size(), 1000u);
  std::vector<uint8_t> buf(512, 0);
  EXPECT_TRUE(d->Read(0, buf.data(), 512));
  EXPECT_EQ(buf[5], Pattern(1000)[5]);
  EXPECT_FALSE(d->Read(512, buf.data(), 512)) << "488 bytes left: a short read is a failure";
  EXPECT_FALSE(d->Write(512, buf.data(), 512)) << "a write must not grow the image";
  EXPECT_EQ(testsupport::ReadFileBytes(path).size(), 1000u);
}

TEST(FileDevice, WritesReachTheFileAndReadOnlyRefuses) {
  const std::string path = testsupport::TempPath("rw.img");
  ASSERT_TRUE(testsupport::WriteFileBytes(path, std::vector<uint8_t>(2048, 0)));
  int err = 0;
  {
    auto d = platform::OpenFileDevice(path, true, err);
    ASSERT_TRUE(d);
    std::vector<uint8_t> x(512, 0x5A);
    ASSERT_TRUE(d->Write(1024, x.data(), 512));
    ASSERT_TRUE(d->Flush());
  }
  EXPECT_EQ(testsupport::ReadFileBytes(path)[1024], 0x5A);
  auto ro = platform::OpenFileDevice(path, false, err);
  ASSERT_TRUE(ro);
  std::vector<uint8_t> x(512, 1);
  EXPECT_TRUE(ro->ReadOnly());
  EXPECT_FALSE(ro->Write(0, x.data(), 512));
}

TEST(FileDevice, MissingImageGivesErrno) {
  int err = 0;
  EXPECT_FALSE(platform::OpenFileDevice(testsupport::TempDir() + "/none.img", false, err));
  EXPECT_EQ(err, ENOENT);
}

}  // namespace
