// Whether the kernel has a volume mounted is asked when the volume is
// opened, not on every request: file requests on a kept volume and
// transfers on an open handle reuse the answer, and a new open asks again,
// unless it joins a volume other handles hold.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "drivers/builtin_drivers.h"
#include "platform/io_counts.h"
#include "platform/nt.h"
#include "platform/nt_internal.h"
#include "platform/platform.h"
#include "support/volume_images.h"

namespace nt {
namespace {

TEST(MountCheck, AskedOncePerOpenNotPerRequest) {
  platform::ResetPlatform();
  platform::RegisterBuiltinDrivers();
  const std::string image = testsupport::TempPath("mount-check.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeFatImage(image, 10240, 16, "", "MOUNTS", error)) << error;
  platform::SetDriveMap({{'c', image, {}}});
  uint64_t& checks = detail::MountChecksRun();
  const uint64_t start = checks;

  // File requests: the first builds the volume (one check), the rest reuse it.
  char name[32], fs[16];
  DWORD serial = 0, component = 0, flags = 0, spc = 0, bps = 0, free = 0, total = 0;
  for (int i = 0; i < 50; ++i) {
    ASSERT_TRUE(GetVolumeInformationA("c:\\", name, sizeof name, &serial, &component, &flags, fs,
                                      sizeof fs));
    ASSERT_TRUE(GetDiskFreeSpaceA("c:\\", &spc, &bps, &free, &total));
    WIN32_FIND_DATAA found;
    const HANDLE f = FindFirstFileA("c:\\*", &found);
    if (f != INVALID_HANDLE_VALUE) FindClose(f);
    EXPECT_EQ(GetFileAttributesA("c:\\missing.txt"), INVALID_FILE_ATTRIBUTES);
  }
  EXPECT_EQ(checks - start, 1u);

  // An open of the volume asks once; its transfers do not.
  const HANDLE h = CreateFileA("\\\\.\\c:", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, 0);
  ASSERT_NE(h, INVALID_HANDLE_VALUE) << GetLastError();
  EXPECT_EQ(checks - start, 2u);
  std::vector<uint8_t> sector(512);
  const uint64_t reads = platform::TransferCounts('c').reads;
  for (int i = 0; i < 100; ++i) {
    LONG high = 0;
    SetFilePointer(h, i * 512, &high, FILE_BEGIN);
    DWORD got = 0;
    ASSERT_TRUE(ReadFile(h, sector.data(), 512, &got, nullptr));
  }
  EXPECT_EQ(platform::TransferCounts('c').reads - reads, 100u) << "counted in the device stack";
  EXPECT_EQ(checks - start, 2u);
  CloseHandle(h);
  EXPECT_TRUE(GetDiskFreeSpaceA("c:\\", &spc, &bps, &free, &total));
  EXPECT_EQ(checks - start, 2u);
  // Opened again (shared this time): asked again.
  HANDLE again = CreateFileA("\\\\.\\c:", GENERIC_READ, 3, nullptr, OPEN_EXISTING, 0, 0);
  ASSERT_NE(again, INVALID_HANDLE_VALUE);
  EXPECT_EQ(checks - start, 3u);
  // Reopened the optimiser's way, the new shared handle before the old one
  // closes: each joins the volume the last one holds, which is never idle,
  // so the mount table is not read again. Its transfers still work.
  for (int i = 0; i < 20; ++i) {
    const HANDLE fresh =
        CreateFileA("\\\\.\\c:", GENERIC_READ | GENERIC_WRITE, 3, nullptr, OPEN_EXISTING, 0, 0);
    ASSERT_NE(fresh, INVALID_HANDLE_VALUE);
    CloseHandle(again);
    again = fresh;
  }
  EXPECT_EQ(checks - start, 3u);
  DWORD got = 0;
  EXPECT_TRUE(ReadFile(again, sector.data(), 512, &got, nullptr));
  EXPECT_EQ(got, 512u);
  // An exclusive open beside it is refused as before (the volume is shared).
  EXPECT_EQ(CreateFileA("\\\\.\\c:", GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, 0),
            INVALID_HANDLE_VALUE);
  CloseHandle(again);
  // Idle again: the next open asks.
  again = CreateFileA("\\\\.\\c:", GENERIC_READ, 3, nullptr, OPEN_EXISTING, 0, 0);
  ASSERT_NE(again, INVALID_HANDLE_VALUE);
  EXPECT_EQ(checks - start, 4u);
  CloseHandle(again);
  platform::ResetPlatform();
}

}  // namespace
}  // namespace nt
