// Drive identification and dispatch on real volumes made by mkfs.fat,
// mkntfs and mkfs.ext4.
#include "app/view_map.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>

#include "drivers/builtin_drivers.h"
#include "platform/platform.h"
#include "runtime/bytes.h"
#include "support/volume_images.h"
#include "volume/error_state.h"
#include "volume/recording_window.h"
#include "volume/report.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr {
namespace {

using testsupport::ReadFileBytes;

struct Shown {
  MapKind kind;
  std::string caption;
  bool volumeOpen;
  Integer sharedMode;
  int64_t probeUpper;
  int64_t moveBufferUpper;
};

class ViewMapTest : public testing::Test {
 protected:
  void SetUp() override {
    platform::ResetPlatform();
    platform::RegisterBuiltinDrivers();  // NTFS volumes are measured by their driver
    SetMainWindow(&window);
    window.onShowMap = [this](MapKind kind, const std::string& caption) {
      shown.push_back({kind, caption, VolumeSession.VolumeHandle != -1, VolumeSession.SharedMode,
                       MemoryProbe.UBound(), MoveBuffer.UBound()});
    };
    CheckedScan = -1;
    DefragMode = -1;
  }
  void TearDown() override {
    SetMainWindow(nullptr);
    platform::ResetPlatform();
  }
  void Map(const std::string& path, const std::vector<std::string>& busy = {}) {
    platform::SetDriveMap({platform::DriveEntry{'c', path, busy}});
  }
  std::vector<std::string> Run(const std::string& entry = "c: [VODU]") {
    window.drvUserText = entry;
    ViewMap();
    return window.LineTexts();
  }
  static std::string Image(const std::string& name) { return testsupport::TempPath(name); }

  RecordingMainWindow window;
  std::vector<Shown> shown;
  std::string error;
};

// Clusters of a FAT volume worked out from its boot sector, independently of
// the program: the size line shows clusters x sectors per cluster.
int64_t FatDataSectors(const std::vector<uint8_t>& img) {
  const int64_t spc = img[13];
  const int64_t reserved = U16(img, 0x0E);
  const int64_t fats = img[0x10];
  const int64_t rootSectors = (U16(img, 0x11) * 32 + 511) / 512;
  const int64_t spf = U16(img, 0x16);
  const int64_t total = U16(img, 0x13) ? U16(img, 0x13) : U32(img, 0x20);
  return (total - reserved - fats * spf - rootSectors) / spc * spc;
}

TEST_F(ViewMapTest, Fat16StatusLinesAndDispatch) {
  const std::string img = Image("fat16.img");
  ASSERT_TRUE(testsupport::MakeFatImage(img, 32768, 16, "-s 4", "VODU", error)) << error;
  Map(img);
  const auto lines = Run();
  const int64_t sectors = FatDataSectors(ReadFileBytes(img));
  const int64_t clusters = sectors / 4;
  const int64_t perBox = clusters / 3525 + 1;
  ASSERT_EQ(lines.size(), 3u) << testing::PrintToString(lines);
  EXPECT_EQ(lines[0], "Drive=c: [VODU]  FS=FAT");
  EXPECT_EQ(lines[1], "AllocUnit= 2 Kb,  Size=" + SizeText(static_cast<int32_t>(sectors)));
  EXPECT_EQ(lines[2], "Map Scale=" + std::to_string(perBox * 4 / 2) + " Kb/Box");
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, MapKind::Fat);
  EXPECT_EQ(shown[0].caption, "FAT Checked View c:");
  EXPECT_TRUE(shown[0].volumeOpen);
  EXPECT_EQ(shown[0].sharedMode, 0);
  EXPECT_EQ(VolumeSession.VolumeHandle, -1) << "the volume is closed after the command";
  // A small volume still reserves for 15000, plus twice the real figure on FAT.
  const int64_t n = (sectors + 128) / 256;
  EXPECT_EQ(shown[0].probeUpper, 25 * 15000 + 50000 + 2 * n);
  EXPECT_EQ(shown[0].moveBufferUpper, 0xFFFFF);
  EXPECT_EQ(MemoryProbe.UBound(), 0) << "released when the command ends";
  EXPECT_EQ(BoxColors.UBound(), clusters / perBox + 1);
  EXPECT_EQ(VolumeSession.SystemSectors, 2 * U16(ReadFileBytes(img), 0x16) + 512 / 16);
  EXPECT_EQ(BigFileClusters, 1024 / 4);
  EXPECT_EQ(HugeFileClusters, 51200 / 4);
  EXPECT_TRUE(window.boxes.empty());
}

TEST_F(ViewMapTest, OneSectorClustersShowHalfAKilobyte) {
  const std::string img = Image("fat12.img");
  ASSERT_TRUE(testsupport::MakeFatImage(img, 1440, 12, "-s 1", "FLOPPY", error)) << error;
  Map(img);
  const auto lines = Run("c: [FLOPPY]");
  const int64_t sectors = FatDataSectors(ReadFileBytes(img));
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[1], "AllocUnit=0.5Kb,  Size=" + SizeText(static_cast<int32_t>(sectors)));
}

TEST_F(ViewMapTest, NtfsStatusLinesAndGeometry) {
  const std::string img = Image("ntfs.img");
  ASSERT_TRUE(testsupport::MakeNtfsImage(img, 64, 4096, "NTVOL", error)) << error;
  Map(img);
  DefragMode = 1;
  const auto lines = Run("c: [NTVOL]");
  const auto bytes = ReadFileBytes(img);
  const int64_t clusters = I64(bytes, 0x28) / 8;
  ASSERT_EQ(lines.size(), 3u) << testing::PrintToString(lines);
  EXPECT_EQ(lines[0], "Drive=c: [NTVOL]  FS=NTFS");
  EXPECT_EQ(lines[1], "AllocUnit= 4 Kb,  Size=" + SizeText(static_cast<int32_t>(clusters * 8)));
  EXPECT_EQ(lines[2], "Map Scale=" + std::to_string((clusters / 3525 + 1) * 8 / 2) + " Kb/Box");
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].kind, MapKind::Ntfs);
  EXPECT_EQ(shown[0].caption, "NTFS Defrag c:");
  EXPECT_EQ(VolumeSession.SectorsPerFileRecord, 2);
  EXPECT_EQ(VolumeSession.SectorsPerIndexBlock, 8);
  EXPECT_EQ(VolumeSession.MftLcn, I32(bytes, 0x30));
}

TEST_F(ViewMapTest, ViewsWorkOnAVolumeThatRefusesWritesAndADefragSaysSo) {
  const std::string img = Image("ro.img");
  ASSERT_TRUE(testsupport::MakeNtfsImage(img, 32, 4096, "RO", error)) << error;
  platform::MapMemoryDrive(
      'c', std::make_shared<platform::MemoryDevice>(ReadFileBytes(img), /*readOnly=*/true));
  DefragMode = 0;
  EXPECT_EQ(Run(), std::vector<std::string>{"read-only: view only"}) << "a Defrag must write";
  EXPECT_TRUE(shown.empty());
  DefragMode = -1;
  for (const Integer checked : {Integer(-1), Integer(0)}) {
    CheckedScan = checked;
    window.MsgClear();
    Run();
  }
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0].caption, "NTFS Checked View c:");
  EXPECT_EQ(shown[1].caption, "NTFS Fast View c:");
  EXPECT_EQ(shown[1].moveBufferUpper, 0) << "no move buffer for a view";
}

TEST_F(ViewMapTest, OtherFileSystemsAreRefusedByName) {
  const std::string fat32 = Image("fat32.img");
  ASSERT_TRUE(testsupport::MakeFatImageDefaultReserved(fat32, 40000, 32, "", "BIG", error))
      << error;
  Map(fat32);
  EXPECT_EQ(Run(), (std::vector<std::string>{"Unsupported File System: FAT32"}));
  const std::string ext4 = Image("ext4.img");
  ASSERT_TRUE(testsupport::MakeExt4Image(ext4, 8, "lin", error)) << error;
  Map(ext4);
  EXPECT_EQ(Run(), (std::vector<std::string>{"Unsupported File System: ext4"}));
  EXPECT_TRUE(shown.empty());
  EXPECT_EQ(window.Lines()[0].pieces[0].colour, kLightRed);
}

TEST_F(ViewMapTest, SectorsOtherThan512BytesAreRefusedWithTheReason) {
  const std::string img = Image("fat4k.img");
  ASSERT_TRUE(testsupport::MakeFatImage(img, 65536, 16, "-S 4096", "BIGSEC", error)) << error;
  Map(img);
  EXPECT_EQ(Run(), (std::vector<std::string>{
                       "Unsupported File System: FAT volume with 4096 bytes per sector: only "
                       "512-byte sectors are supported"}));
  std::vector<uint8_t> noise(64 * 1024, 0x5A);
  ASSERT_TRUE(testsupport::WriteFileBytes(img, noise));
  window.MsgClear();
  const auto lines = Run();
  ASSERT_EQ(lines.size(), 1u);
  EXPECT_EQ(lines[0].rfind("Unsupported File System: ", 0), 0u);
  EXPECT_GT(lines[0].size(), std::string("Unsupported File System: ").size());
  EXPECT_TRUE(shown.empty());
}

TEST_F(ViewMapTest, ImageHeldByAnotherProcessOpensShared) {
  const std::string img = Image("held.img");
  ASSERT_TRUE(testsupport::MakeFatImage(img, 16384, 16, "-s 1", "HELD", error)) << error;
  Map(img);
  const pid_t child = fork();
  if (child == 0) {
    const int fd = open(img.c_str(), O_RDONLY);
    flock(fd, LOCK_EX);
    pause();
    _exit(0);
  }
  usleep(200000);
  const auto lines = Run();
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  ASSERT_EQ(lines.size(), 4u) << testing::PrintToString(lines);
  EXPECT_EQ(lines[3], "Shared volume");
  EXPECT_EQ(window.Lines()[3].pieces[0].colour, kLightGreen);
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].sharedMode, -1);
}

TEST_F(ViewMapTest, SharedNtfsWithLargeClustersIsRefusedButExclusiveIsMapped) {
  const std::string img = Image("ntfs8k.img");
  ASSERT_TRUE(testsupport::MakeNtfsImage(img, 64, 8192, "BIGCL", error)) << error;
  Map(img, {"pagefile.sys"});
  const auto lines = Run();
  EXPECT_EQ(lines, (std::vector<std::string>{"Drive=c: [VODU]  FS=NTFS", "Unable_to_process drive",
                                             "Allocation unit > 4Kb"}));
  EXPECT_TRUE(shown.empty());
  EXPECT_EQ(VolumeSession.VolumeHandle, -1);
  Map(img);
  Run();
  ASSERT_EQ(shown.size(), 1u);
  EXPECT_EQ(shown[0].sharedMode, 0);
}

TEST_F(ViewMapTest, MissingOrUnreadableImageCannotBeAccessed) {
  // The described line, then one with the path and the system's reason.
  const std::string missing = Image("does-not-exist.img");
  Map(missing);
  EXPECT_EQ(Run(), (std::vector<std::string>{"Unable to access c:\\",
                                             "c: " + missing + ": No such file or directory"}));
  const std::string dir = Image("a-folder");
  std::filesystem::create_directories(dir);
  Map(dir);
  EXPECT_EQ(Run(),
            (std::vector<std::string>{"Unable to access c:\\", "c: " + dir + ": Is a directory"}));
  EXPECT_TRUE(shown.empty());
}

TEST_F(ViewMapTest, TruncatedImageIsAnErrorReadingTheDrive) {
  const std::string img = Image("cut.img");
  ASSERT_TRUE(testsupport::MakeFatImage(img, 16384, 16, "-s 1", "CUT", error)) << error;
  std::filesystem::resize_file(img, 12288 * 1024);
  Map(img);
  EXPECT_EQ(Run(), (std::vector<std::string>{"Error reading c:"}));
  EXPECT_TRUE(shown.empty());
  EXPECT_EQ(VolumeSession.VolumeHandle, -1);
}

TEST_F(ViewMapTest, DamagedImagesEndInAMessageNeverACrash) {
  const std::string img = Image("damaged.img");
  ASSERT_TRUE(testsupport::MakeFatImage(img, 2048, 12, "", "DMG", error)) << error;
  const auto pristine = ReadFileBytes(img);
  // Zero or saturate each geometry byte of the boot sector in turn.
  for (int offset : {0x0B, 0x0C, 0x0D, 0x0E, 0x10, 0x11, 0x12, 0x13, 0x14, 0x16, 0x17, 0x20}) {
    for (uint8_t value : {uint8_t{0}, uint8_t{0xFF}}) {
      auto bytes = pristine;
      bytes[offset] = value;
      ASSERT_TRUE(testsupport::WriteFileBytes(img, bytes));
      Map(img);
      window.MsgClear();
      const auto lines = Run();
      EXPECT_FALSE(lines.empty()) << "offset " << offset;
      EXPECT_EQ(VolumeSession.VolumeHandle, -1);
    }
  }
}

}  // namespace
}  // namespace vr
