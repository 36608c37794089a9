// The drive map: parsing, where it is loaded from, and lookups.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>

#include "platform/platform.h"
#include "support/volume_images.h"

namespace {

using platform::DriveEntry;

class DriveMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::ResetPlatform();
    platform::SetSettingsStore(platform::MakeMemorySettings());
    ::unsetenv("VODURU_DRIVES");
  }
  void TearDown() override {
    ::unsetenv("VODURU_DRIVES");
    platform::ResetPlatform();
  }
};

TEST_F(DriveMapTest, ParsesLettersPathsAndBusyFiles) {
  std::vector<DriveEntry> drives;
  std::string error;
  ASSERT_TRUE(platform::ParseDriveMap("C=/path/a.img,busy=pagefile.sys|data\\lock.db; d=/dev/sdb1",
                                      drives, error))
      << error;
  ASSERT_EQ(drives.size(), 2u);
  EXPECT_EQ(drives[0].letter, 'c');
  EXPECT_EQ(drives[0].path, "/path/a.img");
  EXPECT_EQ(drives[0].busyFiles, (std::vector<std::string>{"pagefile.sys", "data\\lock.db"}));
  EXPECT_EQ(drives[1].letter, 'd');
  EXPECT_EQ(drives[1].path, "/dev/sdb1");
  EXPECT_TRUE(drives[1].busyFiles.empty());
}

TEST_F(DriveMapTest, EmptyEntriesAreSkipped) {
  std::vector<DriveEntry> drives;
  std::string error;
  ASSERT_TRUE(platform::ParseDriveMap(";c=/a.img;;", drives, error));
  ASSERT_EQ(drives.size(), 1u);
  EXPECT_EQ(drives[0].path, "/a.img");
  ASSERT_TRUE(platform::ParseDriveMap("", drives, error));
  EXPECT_TRUE(drives.empty());
}

TEST_F(DriveMapTest, MalformedMapsAreRefusedWithAReason) {
  const char* bad[] = {
      "c",                    // no "="
      "cd=/a.img",            // not one letter
      "1=/a.img",             // not a letter
      "c=",                   // no path
      "c=/a.img,owner=me",    // unknown option
      "c=/a.img,busy=",       // empty busy list
      "c=/a.img,busy=a||b",   // empty busy name
      "c=/a.img;C=/b.img",    // the same drive twice
      "c=/a.img,busy=..\\x",  // leaves the root
  };
  for (const char* text : bad) {
    std::vector<DriveEntry> drives{DriveEntry{'z', "/keep", {}}};
    std::string error;
    EXPECT_FALSE(platform::ParseDriveMap(text, drives, error)) << text;
    EXPECT_FALSE(error.empty()) << text;
    ASSERT_EQ(drives.size(), 1u) << "a failed parse leaves the list alone: " << text;
  }
}

TEST_F(DriveMapTest, EnvironmentWinsOverSettings) {
  platform::Settings().Save("Drives", "e", "/from/settings.img");
  ::setenv("VODURU_DRIVES", "f=/from/env.img", 1);
  std::string error;
  ASSERT_TRUE(platform::LoadDriveMap(error)) << error;
  EXPECT_EQ(platform::FindDrive('e'), nullptr);
  ASSERT_NE(platform::FindDrive('F'), nullptr);
  EXPECT_EQ(platform::FindDrive('f')->path, "/from/env.img");
}

TEST_F(DriveMapTest, SettingsSectionDrivesIsTheFallback) {
  platform::Settings().Save("Drives", "e", "/from/settings.img,busy=x.sys");
  std::string error;
  ASSERT_TRUE(platform::LoadDriveMap(error)) << error;
  const DriveEntry* e = platform::FindDrive('e');
  ASSERT_NE(e, nullptr);
  EXPECT_EQ(e->path, "/from/settings.img");
  EXPECT_EQ(e->busyFiles, std::vector<std::string>{"x.sys"});
}

TEST_F(DriveMapTest, MalformedEnvironmentMapIsReported) {
  ::setenv("VODURU_DRIVES", "c", 1);
  std::string error;
  EXPECT_FALSE(platform::LoadDriveMap(error));
  EXPECT_NE(error.find("="), std::string::npos);
}

TEST_F(DriveMapTest, MemoryDrivesJoinTheMapAndResetClearsAll) {
  platform::SetDriveMap({DriveEntry{'c', "/a.img", {}}});
  platform::MapMemoryDrive('m',
                           std::make_shared<platform::MemoryDevice>(std::vector<uint8_t>(512)));
  ASSERT_EQ(platform::DriveMap().size(), 2u);
  EXPECT_EQ(platform::DriveMap()[0].letter, 'c');
  EXPECT_EQ(platform::DriveMap()[1].letter, 'm');
  platform::ResetPlatform();
  EXPECT_TRUE(platform::DriveMap().empty());
  EXPECT_EQ(platform::FindDrive('c'), nullptr);
}

TEST(SettingsStore, MemoryStoreKeepsSectionsApart) {
  auto store = platform::MakeMemorySettings();
  store->Save("Options", "Pack", "1");
  store->Save("Drives", "Pack", "2");
  EXPECT_EQ(store->Get("Options", "Pack"), "1");
  EXPECT_EQ(store->Get("Drives", "Pack"), "2");
  store->Delete("Options", "Pack");
  EXPECT_FALSE(store->Get("Options", "Pack").has_value());
  EXPECT_EQ(store->Get("Drives", "Pack"), "2");
}

TEST(ProgramFolder, FollowsVoduruHomeElseTheUserDataFolder) {
  const std::string base = testsupport::TempPath("home");
  ::setenv("VODURU_HOME", (base + "/voduru/sub").c_str(), 1);
  EXPECT_EQ(platform::ProgramFolder(), base + "/voduru/sub");
  struct stat st {};
  EXPECT_EQ(::stat((base + "/voduru/sub").c_str(), &st), 0) << "created with its parents";
  ::unsetenv("VODURU_HOME");
  const char* oldHome = std::getenv("HOME");
  const std::string savedHome = oldHome != nullptr ? oldHome : "";
  const char* oldData = std::getenv("XDG_DATA_HOME");
  const std::string savedData = oldData != nullptr ? oldData : "";
  ::unsetenv("XDG_DATA_HOME");
  ::setenv("HOME", base.c_str(), 1);
  EXPECT_EQ(platform::ProgramFolder(), base + "/.local/share/VoduRU");
  ::setenv("HOME", savedHome.c_str(), 1);
  if (oldData != nullptr) ::setenv("XDG_DATA_HOME", savedData.c_str(), 1);
}

}  // namespace
