// The NTFS volume queries: free clusters, total clusters and the label come
// from the driver's libntfs-3g mount, and GetDiskFreeSpaceA and
// GetVolumeInformationA report what the registered driver answers.
#include <gtest/gtest.h>

#include <regex>

#include "drivers/builtin_drivers.h"
#include "drivers/ntfs/ntfs3g_device.h"
#include "drivers/ntfs/ntfs_driver.h"
#include "platform/nt.h"
#include "platform/platform.h"
#include "platform/volume_identify.h"
#include "support/volume_images.h"

namespace {

using platform::FsVolumeFacts;
using testsupport::RunCommand;
using testsupport::ShellQuote;

// The driver's answer for an image, read-only.
nt::NTSTATUS QueryImage(const std::string& path, FsVolumeFacts& facts) {
  int err = 0;
  platform::DriverContext context;
  context.letter = 'n';
  context.fileSystem = "NTFS";
  context.device = platform::OpenFileDevice(path, false, err);
  context.readOnly = true;
  std::string error;
  auto driver = platform::CreateNtfsDriver(context, error);
  if (!driver) return platform::STATUS_UNRECOGNIZED_VOLUME;
  return driver->QueryVolume(facts);
}

TEST(NtfsVolumeQuery, FreeCountLabelAndSizeAgreeWithNtfsinfo) {
  const std::string img = testsupport::TempPath("ntfs4k.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeNtfsImage(img, 40, 4096, "NtfsVol", error)) << error;
  FsVolumeFacts f;
  ASSERT_EQ(QueryImage(img, f), nt::STATUS_SUCCESS);
  EXPECT_EQ(f.label, "NtfsVol");
  std::string out;
  ASSERT_EQ(RunCommand("ntfsinfo -m -f " + ShellQuote(img), out), 0) << out;
  std::smatch m;
  ASSERT_TRUE(std::regex_search(out, m, std::regex(R"(Free Clusters: (\d+))"))) << out;
  EXPECT_EQ(f.freeClusters, std::stoull(m[1]));
  ASSERT_TRUE(std::regex_search(out, m, std::regex(R"(Volume Size in Clusters: (\d+))"))) << out;
  EXPECT_EQ(f.totalClusters, std::stoull(m[1]));

  // The NT calls report the same through the registered driver, and
  // nothing without it: the platform core does not read NTFS bitmaps.
  platform::ResetPlatform();
  platform::UnregisterFileSystemDriver("NTFS");
  platform::SetDriveMap({platform::DriveEntry{'n', img, {}}});
  nt::DWORD spc = 0, bps = 0, free = 0, total = 0;
  char label[32] = "x", fs[16] = {};
  ASSERT_TRUE(nt::GetVolumeInformationA("n:\\", label, 32, nullptr, nullptr, nullptr, fs, 16));
  EXPECT_STREQ(fs, "NTFS");
  EXPECT_STREQ(label, "") << "no driver, no label";
  EXPECT_FALSE(nt::GetDiskFreeSpaceA("n:\\", &spc, &bps, &free, &total));
  platform::RegisterBuiltinDrivers();
  ASSERT_TRUE(nt::GetVolumeInformationA("n:\\", label, 32, nullptr, nullptr, nullptr, fs, 16));
  EXPECT_STREQ(label, "NtfsVol");
  ASSERT_TRUE(nt::GetDiskFreeSpaceA("n:\\", &spc, &bps, &free, &total));
  EXPECT_EQ(spc, 8u);
  EXPECT_EQ(free, f.freeClusters);
  EXPECT_EQ(total, f.totalClusters);
  platform::ResetPlatform();
}

TEST(NtfsVolumeQuery, With128KbClustersTheExponentFormIsCounted) {
  const std::string img = testsupport::TempPath("ntfs128k.img");
  std::string error;
  if (!testsupport::MakeNtfsImage(img, 64, 131072, "", error)) GTEST_SKIP() << "mkntfs: " << error;
  ASSERT_EQ(testsupport::ReadFileBytes(img)[0x0D], 0xF8);
  FsVolumeFacts f;
  ASSERT_EQ(QueryImage(img, f), nt::STATUS_SUCCESS);
  EXPECT_GT(f.freeClusters, 0u);
  EXPECT_LE(f.freeClusters, f.totalClusters);
}

// Damaged boot sectors end in a refusal, never in a crash or a count past
// the volume's end.
TEST(NtfsVolumeQuery, RandomBootSectorsNeverEscape) {
  std::string error;
  const std::string img = testsupport::TempPath("fuzz-ntfs.img");
  ASSERT_TRUE(testsupport::MakeNtfsImage(img, 8, 4096, "", error)) << error;
  const auto original = testsupport::ReadFileBytes(img);
  uint32_t seed = 12345;
  auto next = [&seed] { return seed = seed * 1103515245u + 12345u; };
  for (int round = 0; round < 300; ++round) {
    auto bytes = original;
    for (int k = 0; k < 6; ++k)
      bytes[0x0B + next() % (0x50 - 0x0B)] = static_cast<uint8_t>(next() >> 16);
    platform::DriverContext context;
    context.fileSystem = "NTFS";
    context.device = std::make_shared<platform::MemoryDevice>(bytes);
    context.readOnly = true;
    platform::VolumeFacts identified;
    std::string reason;
    if (platform::IdentifyVolume(*context.device, identified, reason) !=
        platform::IdentifyResult::kOk)
      continue;
    std::unique_ptr<platform::FileSystemDriver> driver;
    ASSERT_NO_THROW(driver = platform::CreateNtfsDriver(context, error));
    if (!driver) continue;
    FsVolumeFacts f;
    nt::NTSTATUS status = nt::STATUS_SUCCESS;
    ASSERT_NO_THROW(status = driver->QueryVolume(f));
    if (status == nt::STATUS_SUCCESS) {
      EXPECT_LE(f.freeClusters, f.totalClusters);
    }
  }
}

TEST(Ntfs3gAdapter, ReadsGoThroughTheBlockDevice) {
  const std::string img = testsupport::TempPath("ntfsfault.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeNtfsImage(img, 16, 4096, "", error)) << error;
  auto mem = std::make_shared<platform::MemoryDevice>(testsupport::ReadFileBytes(img));
  auto counting = std::make_shared<platform::FaultDevice>(mem, 0, 0);
  {
    auto vol = platform::Ntfs3gVolume::Mount(counting, true, error);
    ASSERT_TRUE(vol) << error;
    EXPECT_GT(vol->TotalClusters(), 0u);
  }
  EXPECT_GT(counting->Reads(), 0u);
  EXPECT_EQ(counting->Writes(), 0u) << "a read-only mount writes nothing";
  auto failing = std::make_shared<platform::FaultDevice>(mem, 1, 0, true);
  bool readFailed = false;
  EXPECT_FALSE(platform::Ntfs3gVolume::Mount(failing, true, error, &readFailed));
  EXPECT_TRUE(readFailed);
}

}  // namespace
