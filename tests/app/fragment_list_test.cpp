// The fragmented-files list: entries of `Raw` moved into `lstInuse` with the
// names as the file system stores them, on real FAT and NTFS volumes.
#include "app/charts/fragment_list.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>

#include "app/map_window.h"
#include "fake_shell.h"
#include "drivers/builtin_drivers.h"
#include "platform/fs_driver.h"
#include "platform/platform.h"
#include "support/fat_fixtures.h"
#include "support/ntfs_fixtures.h"
#include "volume/report.h"
#include "volume/session.h"

namespace vr::test {
namespace {

namespace ts = testsupport;

TEST(RawEntries, PathThenWhatItIsInBrackets) {
  EXPECT_EQ(Raw_File_Entry("c:\\dir\\a.txt", 3), "c:\\dir\\a.txt (1.5Kb)");
  EXPECT_EQ(Raw_File_Entry("c:\\big.bin", 4096), "c:\\big.bin (2.00Mb)");
  EXPECT_EQ(Raw_Folder_Entry("c:\\dir"), "c:\\dir (folder)");
  EXPECT_EQ(Raw_Entry("c:\\$Mft", "system"), "c:\\$Mft (system)");
}

// The status lines of a map window as drawn texts.
class StatusRecorder : public StatusSurface {
 public:
  int Width() const override { return 400; }
  int Height() const override { return 60; }
  int TextHeight(const std::string&) const override { return 12; }
  int TextWidth(const std::string& text) const override {
    return 6 * static_cast<int>(text.size());
  }
  void FillBox(int, int, int, int, int) override {}
  void DrawText(int left, int top, const std::string& text, int) override {
    texts.push_back({left, top, text});
  }
  void Update() override {}
  struct Text {
    int left, top;
    std::string text;
  };
  std::vector<Text> texts;
  bool Drew(const std::string& text, int top) const {
    return std::any_of(texts.begin(), texts.end(),
                       [&](const Text& t) { return t.text == text && t.top == top; });
  }
};

class FragmentListTest : public ShellTest {
 protected:
  static void SetUpTestSuite() {
    volume = new ts::FatVolume(ts::FatImagePath("fraglist"), ts::FatFormat{});
    volume->Mkdir("Projects");
    volume->Mkdir("Projects/Old Stuff");
    volume->Write("Projects/Old Stuff/Meeting notes.txt", 3000, 1);
    volume->Write("Projects/Plan.doc", 5000, 2);
    volume->Write("README.TXT", 600, 3);
  }
  static void TearDownTestSuite() {
    ts::RemoveOnExit remove{volume->Path()};
    delete volume;
    volume = nullptr;
  }
  void SetUp() override {
    ShellTest::SetUp();
    platform::RegisterBuiltinDrivers();
    if (!platform::HasFileSystemDriver("FAT")) GTEST_SKIP() << "no FAT driver registered";
    platform::SetDriveMap({{'c', volume->Path(), {}}});
  }
  void TearDown() override {
    Close_Drive(VolumeSession.VolumeHandle);
    ShellTest::TearDown();
  }
  void Raw(const std::vector<std::string>& entries) {
    for (const auto& e : entries) Add_Raw(e);
  }
  std::vector<std::string> Listed() const { return shell.Items(Control::lstInuse); }

  StatusRecorder status;
  static ts::FatVolume* volume;
};
ts::FatVolume* FragmentListTest::volume = nullptr;

TEST_F(FragmentListTest, NamesAreShownAsStoredRelativeToTheRoot) {
  Raw({"c:\\projects\\old stuff\\meeting notes.txt (3Kb)", "c:\\PROJECTS\\PLAN.DOC (5Kb)",
       "c:\\readme.txt (.5Kb)"});
  Move_Raw_List(status);
  EXPECT_EQ(Listed(), (std::vector<std::string>{"Projects\\Old Stuff\\Meeting notes.txt (3Kb)",
                                                "Projects\\Plan.doc (5Kb)", "README.TXT (.5Kb)"}));
}

TEST_F(FragmentListTest, ShortNamesLeadToTheLongNames) {
  Raw({"c:\\PROJECTS\\OLDSTU~1\\MEETIN~1.TXT (3Kb)"});
  Move_Raw_List(status);
  EXPECT_EQ(Listed(), std::vector<std::string>{"Projects\\Old Stuff\\Meeting notes.txt (3Kb)"});
}

TEST_F(FragmentListTest, FolderEntriesMustBeFoldersAndFileEntriesFiles) {
  Raw({"c:\\projects\\old stuff (folder)", "c:\\projects (3Kb)", "c:\\readme.txt (folder)",
       "c:\\projects\\plan.doc (folder)", "c:\\projects\\plan.doc"});
  Move_Raw_List(status);
  // An entry without a bracketed tail is a file, added without a tail.
  EXPECT_EQ(Listed(),
            (std::vector<std::string>{"Projects\\Old Stuff (folder)", "Projects\\Plan.doc"}));
}

TEST_F(FragmentListTest, EntriesNoLongerThereAreDropped) {
  Raw({"c:\\gone.txt (1Kb)", "c:\\projects\\gone\\a.txt (1Kb)", "c:\\readme.txt\\a.txt (1Kb)",
       "c:\\projects\\ (folder)", "c:\\readme.txt (2Kb)"});
  Move_Raw_List(status);
  EXPECT_EQ(Listed(), std::vector<std::string>{"README.TXT (2Kb)"});
}

TEST_F(FragmentListTest, WildcardCharactersNeverPickAnotherFile) {
  Raw({"c:\\read?e.txt (1Kb)", "c:\\*.txt (1Kb)", "c:\\projects\\*.doc (5Kb)",
       "c:\\p*"
       "\\plan.doc (5Kb)"});
  Move_Raw_List(status);
  EXPECT_TRUE(Listed().empty());
  EXPECT_TRUE(shell.IsVisible(Control::frmInuse));
}

TEST_F(FragmentListTest, ListIsAlphabeticalAcrossTransfers) {
  Raw({"c:\\readme.txt (1Kb)", "c:\\projects\\plan.doc (5Kb)"});
  Move_Raw_List(status);
  Raw({"c:\\projects\\old stuff (folder)", "c:\\projects (folder)"});
  Move_Raw_List(status);
  EXPECT_EQ(Listed(), (std::vector<std::string>{"Projects (folder)", "Projects\\Old Stuff (folder)",
                                                "Projects\\Plan.doc (5Kb)", "README.TXT (1Kb)"}));
}

TEST_F(FragmentListTest, ClosesTheVolumeClearsRawAndShowsTheFrame) {
  VolumeSession.VolumeHandle = Open_Lock_Drive("c:", kAccessReadWrite);
  ASSERT_NE(VolumeSession.VolumeHandle, -1);
  ASSERT_NE(VolumeSession.Locked, 0);
  Raw({"c:\\readme.txt (1Kb)"});
  Move_Raw_List(status);
  // Looked up after the volume was unlocked and closed.
  EXPECT_EQ(VolumeSession.VolumeHandle, -1);
  EXPECT_EQ(Listed(), std::vector<std::string>{"README.TXT (1Kb)"});
  EXPECT_TRUE(shell.Items(Control::Raw).empty());
  EXPECT_TRUE(shell.IsVisible(Control::frmInuse));
}

TEST_F(FragmentListTest, EmptyRawChangesNothing) {
  VolumeSession.VolumeHandle = Open_Lock_Drive("c:", kAccessRead);
  ASSERT_NE(VolumeSession.VolumeHandle, -1);
  shell.AddItem(Control::lstInuse, "kept");
  shell.SetVisible(Control::frmInuse, false);
  Move_Raw_List(status);
  EXPECT_NE(VolumeSession.VolumeHandle, -1);
  EXPECT_FALSE(shell.IsVisible(Control::frmInuse));
  EXPECT_TRUE(status.texts.empty());
  EXPECT_EQ(Listed(), std::vector<std::string>{"kept"});
}

TEST_F(FragmentListTest, StatusLinesCountDownEverySixteenEntries) {
  std::vector<std::string> entries;
  for (int i = 0; i < 20; ++i) entries.push_back("c:\\gone" + std::to_string(i) + ".txt (1Kb)");
  Raw(entries);
  Move_Raw_List(status);
  EXPECT_TRUE(status.Drew("Sorting:", kStatusLine1));
  EXPECT_TRUE(status.Drew("Fragments:", kStatusLine2));
  EXPECT_TRUE(status.Drew("20", kStatusLine2));
  EXPECT_TRUE(status.Drew("4", kStatusLine2));
  EXPECT_FALSE(status.Drew("19", kStatusLine2));
  EXPECT_EQ(std::count(shell.calls.begin(), shell.calls.end(), "DoEvents"), 2);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

TEST(FragmentListNtfs, NamesComeBackInTheirStoredSpelling) {
  platform::ResetPlatform();
  platform::RegisterBuiltinDrivers();
  if (!platform::HasFileSystemDriver("NTFS"))
    GTEST_SKIP() << "no NTFS driver registered: the NTFS lookups are not tested";
  const ts::NtfsFixture& fixture = ts::SharedNtfsFixture();
  const ts::NtfsFixtureEntry* file = nullptr;
  const ts::NtfsFixtureEntry* folder = nullptr;
  for (const auto& e : fixture.Entries()) {
    if (e.flags & (ts::kNtfsNamedStream | ts::kNtfsHardLink)) continue;
    const bool nested = e.path.find('\\') != std::string::npos;
    if (!nested) continue;
    if ((e.flags & ts::kNtfsFolder) && folder == nullptr) folder = &e;
    if (!(e.flags & ts::kNtfsFolder) && file == nullptr) file = &e;
  }
  ASSERT_NE(file, nullptr);
  ASSERT_NE(folder, nullptr);
  platform::SetDriveMap({{'c', fixture.Path(), {}}});
  RecordingMainWindow window;
  SetMainWindow(&window);
  StatusRecorder status;
  Add_Raw("c:\\" + Lower(file->path) + " (4Kb)");
  Add_Raw("c:\\" + Lower(folder->path) + " (folder)");
  Add_Raw("c:\\" + Lower(folder->path) + " (4Kb)");  // a folder is not a file
  Move_Raw_List(status);
  std::vector<std::string> expected = {file->path + " (4Kb)", folder->path + " (folder)"};
  std::sort(expected.begin(), expected.end(),
            [](const std::string& a, const std::string& b) { return Lower(a) < Lower(b); });
  EXPECT_EQ(window.Items(Control::lstInuse), expected);
  SetMainWindow(nullptr);
  platform::ResetPlatform();
}

}  // namespace
}  // namespace vr::test
