// Volumes that fail the clean-volume check, made by the real tools: they are
// viewed as any other, and a Defrag stops before its first write with the
// check's one line, the image byte for byte what it was. NTFS volumes onto
// which Windows hibernated carry a hiberfil.sys, written here through
// libntfs-3g; FAT16 volumes carry their dirty bits.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "app/headless_run.h"
#include "drivers/builtin_drivers.h"
#include "platform/block_device.h"
#include "platform/platform.h"
#include "support/volume_images.h"

extern "C" {
#include <ntfs-3g/attrib.h>
#include <ntfs-3g/dir.h>
#include <ntfs-3g/inode.h>
#include <ntfs-3g/unistr.h>
#include <ntfs-3g/volume.h>
}

namespace vr::test {
namespace {

constexpr char kHibernated[] = "The volume is not clean: it is hibernated (hiberfil.sys).";
constexpr char kNtfsOptimiser[] = "NTFS optimisation is not available yet.";

// Creates `name` in the root folder of the NTFS image through libntfs-3g
// with `data` as its content.
void CreateInRoot(const std::string& image, const std::string& name,
                  const std::vector<uint8_t>& data) {
  ntfs_volume* vol = ntfs_mount(image.c_str(), NTFS_MNT_NONE);
  ASSERT_NE(vol, nullptr);
  ntfs_inode* root = ntfs_inode_open(vol, FILE_root);
  ASSERT_NE(root, nullptr);
  ntfschar* uname = nullptr;
  const int length = ntfs_mbstoucs(name.c_str(), &uname);
  ntfs_inode* ni = ntfs_create(root, const_cpu_to_le32(0), uname, static_cast<u8>(length), S_IFREG);
  free(uname);
  ASSERT_NE(ni, nullptr) << name;
  if (!data.empty()) {
    ntfs_attr* na = ntfs_attr_open(ni, AT_DATA, AT_UNNAMED, 0);
    ASSERT_NE(na, nullptr);
    EXPECT_EQ(ntfs_attr_pwrite(na, 0, static_cast<s64>(data.size()), data.data()),
              static_cast<s64>(data.size()));
    ntfs_attr_close(na);
  }
  // Closed through its open parent, which holds the changed index.
  EXPECT_EQ(ntfs_inode_close_in_dir(ni, root), 0) << name << ": " << std::strerror(errno);
  EXPECT_EQ(ntfs_inode_close(root), 0);
  EXPECT_EQ(ntfs_umount(vol, FALSE), 0);
}

// A hibernation file of `size` bytes whose header starts with `magic`.
std::vector<uint8_t> Hiberfile(const std::string& magic, size_t size = 65536) {
  std::vector<uint8_t> data(size, 0);
  std::copy(magic.begin(), magic.end(), data.begin());
  for (size_t i = 4096; i < size; ++i) data[i] = static_cast<uint8_t>(i * 7);
  return data;
}

struct Outcome {
  HeadlessRun view, defrag;
};

// A Checked View, then a Defrag (`mode` 0, or 1 with packing), each on its
// own memory copy of `image`, which neither may change.
Outcome ViewThenDefrag(const std::vector<uint8_t>& image, int mode = 0) {
  Outcome out;
  for (const bool defrag : {false, true}) {
    platform::ResetPlatform();
    platform::RegisterBuiltinDrivers();
    auto device = std::make_shared<platform::MemoryDevice>(image, false);
    platform::MapMemoryDrive('c', device, {});
    (defrag ? out.defrag : out.view) = Run_Headless_Command('c', -1, defrag ? mode : -1);
    EXPECT_TRUE(device->Bytes() == image) << (defrag ? "Defrag" : "view") << " wrote the image";
  }
  platform::ResetPlatform();
  return out;
}

int Count(const std::vector<std::string>& lines, const std::string& line) {
  return static_cast<int>(std::count(lines.begin(), lines.end(), line));
}

TEST(UncleanVolume, HibernatedNtfsIsViewedButNotOptimised) {
  if (testsupport::FindTool("mkntfs").empty()) GTEST_SKIP() << "mkntfs not installed";
  struct Case {
    const char* name;
    std::vector<uint8_t> hiberfile;
    int otherRootFiles;  // enough of them put hiberfil.sys in an index block
    bool hibernated;
  };
  const std::vector<Case> cases = {
      {"hibr", Hiberfile("hibr"), 0, true},
      {"HIBR behind index blocks", Hiberfile("HIBR"), 60, true},
      {"header shorter than 4096 bytes", Hiberfile("", 1000), 0, true},
      {"zeroed header", Hiberfile(std::string(4, '\0')), 60, false},
      {"wake: the system resumed", Hiberfile("wake"), 0, false},
  };
  const std::string path = testsupport::TempPath("hibernated.ntfs");
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string error;
    ASSERT_TRUE(testsupport::MakeNtfsImage(path, 16, 4096, "HIBER", error)) << error;
    for (int i = 0; i < c.otherRootFiles; ++i)
      ASSERT_NO_FATAL_FAILURE(CreateInRoot(path, "a root file " + std::to_string(i) + ".txt", {}));
    ASSERT_NO_FATAL_FAILURE(CreateInRoot(path, "hiberfil.sys", c.hiberfile));
    const Outcome out = ViewThenDefrag(testsupport::ReadFileBytes(path));

    EXPECT_FALSE(out.view.failed) << testing::PrintToString(out.view.lines);
    EXPECT_EQ(Count(out.view.lines, kHibernated), 0);
    EXPECT_TRUE(out.defrag.failed);
    if (c.hibernated) {
      EXPECT_EQ(Count(out.defrag.lines, kHibernated), 1)
          << testing::PrintToString(out.defrag.lines);
      EXPECT_FALSE(out.defrag.optimiserReached);
      EXPECT_EQ(Count(out.defrag.lines, kNtfsOptimiser), 0);
    } else {
      EXPECT_EQ(Count(out.defrag.lines, kHibernated), 0);
      EXPECT_TRUE(out.defrag.optimiserReached) << testing::PrintToString(out.defrag.lines);
    }
  }
  std::remove(path.c_str());
}

TEST(UncleanVolume, DirtyFat16IsViewedButNotOptimised) {
  const std::string path = testsupport::TempPath("dirty.fat");
  std::string error;
  ASSERT_TRUE(testsupport::MakeFatImage(path, 16384, 16, "", "DIRTY", error)) << error;
  std::vector<uint8_t> image = testsupport::ReadFileBytes(path);
  std::remove(path.c_str());
  image[0x25] |= 0x01;  // the boot sector's dirty bit
  const Outcome out = ViewThenDefrag(image, 1);
  const std::string line = "The volume is not clean: it is marked dirty (boot sector).";
  EXPECT_FALSE(out.view.failed) << testing::PrintToString(out.view.lines);
  EXPECT_EQ(Count(out.view.lines, line), 0);
  EXPECT_TRUE(out.defrag.failed);
  EXPECT_EQ(Count(out.defrag.lines, line), 1) << testing::PrintToString(out.defrag.lines);
  EXPECT_FALSE(out.defrag.optimiserReached);
}

}  // namespace
}  // namespace vr::test
