// The program as a process: command-line errors, exit codes, standard
// output and the log of a classic run. Needs the built program in the build
// folder; skipped when it is not there.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/fat_fixtures.h"
#include "support/ntfs_fixtures.h"
#include "support/volume_images.h"

namespace vr::test {
namespace {

class ProcessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    // The test program is built in <build>/tests, the program in <build>.
    std::error_code ec;
    const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
    if (ec) GTEST_SKIP() << "cannot find the test program's folder";
    program = self.parent_path().parent_path() / "voduru";
    if (!std::filesystem::exists(program)) GTEST_SKIP() << "voduru not built";
    home = testsupport::TempPath("home");
    std::filesystem::create_directories(home);
  }
  // Runs the program with `args` and no display; standard output only in
  // `out`. A run that does not end within `seconds` is killed (status 124).
  // `env`: more variables for the run ("NAME=value ...").
  int Run(const std::string& args, std::string& out, int seconds = 60,
          const std::string& env = "") {
    const std::string errFile = home + "/stderr.txt";
    const std::string command =
        "(env -u DISPLAY -u WAYLAND_DISPLAY VODURU_HOME=" + testsupport::ShellQuote(home) +
        " QT_QPA_PLATFORM=offscreen VODURU_DRIVES= " + env + " timeout " + std::to_string(seconds) +
        " " + testsupport::ShellQuote(program.string()) + " " + args + " 2>" +
        testsupport::ShellQuote(errFile) + ")";
    const int status = testsupport::RunCommand(command, out);
    std::ifstream in(errFile);
    std::stringstream s;
    s << in.rdbuf();
    err = s.str();
    return status;
  }
  std::string FatImage(const std::string& label) {
    const std::string image = testsupport::TempPath("proc.img");
    std::string error;
    EXPECT_TRUE(testsupport::MakeFatImage(image, 1024, 12, "", label, error)) << error;
    return image;
  }

  std::filesystem::path program;
  std::string home, err;
};

TEST_F(ProcessTest, HelpAndVersionEndAtOnce) {
  std::string out;
  EXPECT_EQ(Run("--help", out), 0);
  EXPECT_NE(out.find("--checked-view X"), std::string::npos);
  EXPECT_EQ(Run("--version", out), 0);
  EXPECT_EQ(out.rfind("VoduRU ", 0), 0u);
}

TEST_F(ProcessTest, UnreadableCommandLinesExitWithTwo) {
  std::string out;
  EXPECT_EQ(Run("--frobnicate", out), 2);
  EXPECT_NE(err.find("--frobnicate"), std::string::npos);
  EXPECT_EQ(Run("--drives 'c:/x.img' --fast-view c", out), 2);
  EXPECT_NE(err.find("--drives"), std::string::npos);
  EXPECT_EQ(Run("--defrag", out), 2);
}

TEST_F(ProcessTest, OptionRunReportsToStandardOutput) {
  const std::string image = FatImage("PROC");
  std::string out;
  const std::string png = home + "/map-%d.png";
  const int status = Run("--drives " + testsupport::ShellQuote("c=" + image) +
                             " --fast-view c --map-png " + testsupport::ShellQuote(png),
                         out);
  EXPECT_NE(out.find("Drive=c: [PROC]  FS=FAT\n"), std::string::npos) << out;
  EXPECT_TRUE(std::filesystem::exists(home + "/map-c.png"));
  // The FAT scan ran to its end.
  EXPECT_NE(out.find("File/Folder chains="), std::string::npos) << out;
  EXPECT_EQ(status, 0);
  EXPECT_FALSE(std::filesystem::exists(home + "/VODURU.LOG"));
}

TEST_F(ProcessTest, ClassicRunWritesItsLogAndEnds) {
  const std::string image = FatImage("LOGGED");
  std::string out;
  const int status = Run("--drives " + testsupport::ShellQuote("c=" + image) + " /c", out);
  EXPECT_EQ(status, 1);
  std::ifstream in(home + "/VODURU.LOG", std::ios::binary);
  std::stringstream log;
  log << in.rdbuf();
  EXPECT_EQ(log.str().rfind("Drive=c: [LOGGED]  FS=FAT\r\n", 0), 0u) << log.str();
}

// Without a display nothing may wait for a window nobody sees: each run
// ends on its own (well inside the timeout) with one line on standard error.
TEST_F(ProcessTest, HeadlessRunsWithNothingToDoEndAtOnce) {
  const std::string image = FatImage("HEADLESS");
  std::string out;
  struct Case {
    std::string args;
    std::string says;
  };
  const Case cases[] = {
      {"", "no display for the main window"},
      {"--drives '' /c /d", "no drive named in \"/c /d\" is in the drive map"},
      {"--drives " + testsupport::ShellQuote("c=" + image) + " /q",
       "no drive named in \"/q\" is in the drive map"},
      {"/q", "no drive named in \"/q\""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Run(c.args, out, 20), 1) << c.args;
    EXPECT_NE(err.find(c.says), std::string::npos) << c.args << ": " << err;
    EXPECT_NE(err.find("voduru --help"), std::string::npos) << c.args << ": " << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << c.args << ": " << err;
    EXPECT_EQ(out, "") << c.args;
  }
  EXPECT_FALSE(std::filesystem::exists(home + "/VODURU.LOG"));
  for (const char* help : {"-h", "'-?'", "/c -h"}) {
    EXPECT_EQ(Run(help, out, 20), 0) << help;
    EXPECT_NE(out.find("--checked-view X"), std::string::npos) << help;
  }
}

// A run nobody sees needs no window system: with a Qt platform that cannot
// be loaded, the views, a Defrag and a classic run end as the same runs do
// in the offscreen window (kept by a window picture): the same lines,
// status and log.
TEST_F(ProcessTest, HeadlessRunsNeedNoWindowSystem) {
  const std::string image = FatImage("NOWINDOW");
  const std::string drives = "--drives " + testsupport::ShellQuote("c=" + image);
  const std::string shot = " --screenshot " + testsupport::ShellQuote(home + "/shot.png");
  const std::string noQt = "QT_QPA_PLATFORM=offscreen-unavailable";
  const std::string logFile = home + "/VODURU.LOG";
  const auto takeLog = [&] {
    std::ifstream in(logFile, std::ios::binary);
    std::stringstream log;
    log << in.rdbuf();
    in.close();
    std::filesystem::remove(logFile);
    return log.str();
  };
  struct Case {
    std::string args;
    int status;
    std::string says;
  };
  const Case cases[] = {
      {drives + " --fast-view c", 0, "File/Folder chains="},
      {drives + " --checked-view c --checked-view c", 0, "User files="},
      {drives + " --defrag c", 1, "FAT optimisation is not available yet."},
      {drives + " /c", 1, "FAT optimisation is not available yet."},
  };
  for (const Case& c : cases) {
    std::filesystem::remove(logFile);
    std::string windowed, out;
    EXPECT_EQ(Run(c.args + shot, windowed), c.status) << c.args << ": " << err;
    EXPECT_TRUE(std::filesystem::exists(home + "/shot.png")) << c.args;
    std::filesystem::remove(home + "/shot.png");
    const std::string windowedErr = err;
    const std::string windowedLog = takeLog();
    EXPECT_NE(windowed.find(c.says), std::string::npos) << c.args << ": " << windowed;

    EXPECT_EQ(Run(c.args, out, 20, noQt), c.status) << c.args << ": " << err;
    EXPECT_EQ(out, windowed) << c.args;
    EXPECT_EQ(err, windowedErr) << c.args;
    EXPECT_EQ(takeLog(), windowedLog) << c.args;
    EXPECT_FALSE(std::filesystem::exists(home + "/shot.png"));
  }
}

// Qt Widgets and Gui are loaded only by a run that shows a window or draws a
// picture; the dynamic loader's own trace tells which libraries a run loaded.
TEST_F(ProcessTest, OnlyRunsWithPicturesLoadTheWindowLibraries) {
  const std::string image = FatImage("LIBS");
  const std::string drives = "--drives " + testsupport::ShellQuote("c=" + image);
  const auto loaded = [&](const std::string& args, const std::string& library) {
    std::string out;
    EXPECT_EQ(Run(args, out, 20, "LD_DEBUG=files"), 0) << args << ": " << err;
    EXPECT_NE(err.find("libQt6Core"), std::string::npos) << "no loader trace: " << err;
    return err.find(library) != std::string::npos;
  };
  for (const char* library : {"libQt6Widgets", "libQt6Gui", "voduru-windows"}) {
    EXPECT_FALSE(loaded("--version", library)) << library;
    EXPECT_FALSE(loaded(drives + " --fast-view c --checked-view c", library)) << library;
    EXPECT_TRUE(
        loaded(drives + " --fast-view c --map-png " + testsupport::ShellQuote(home + "/map-%d.png"),
               library))
        << library;
  }
}

// A long option anywhere makes the whole line an option command line.
TEST_F(ProcessTest, LongOptionAfterDriveLettersIsRead) {
  const std::string image = FatImage("ANYWHERE");
  std::string out;
  EXPECT_EQ(Run("/c --drives " + testsupport::ShellQuote("c=" + image), out), 1);
  EXPECT_NE(out.find("Drive=c: [ANYWHERE]  FS=FAT\n"), std::string::npos) << out << err;
  EXPECT_TRUE(std::filesystem::exists(home + "/VODURU.LOG"));
}

// A drive that cannot be read says so once, then why, in the system's words.
TEST_F(ProcessTest, UnreadableImagesSayWhatWentWrongOnce) {
  const std::string tiny = testsupport::TempPath("tiny.img");
  ASSERT_TRUE(testsupport::WriteFileBytes(tiny, std::vector<uint8_t>(100, 0)));
  struct Case {
    std::string path, reason;
  };
  const Case cases[] = {{home + "/nope.img", "No such file or directory"},
                        {home, "Is a directory"},
                        {tiny, "too short for a boot sector"}};
  for (const Case& c : cases) {
    std::string out;
    EXPECT_EQ(Run("--drives " + testsupport::ShellQuote("c=" + c.path) + " --fast-view c", out), 1);
    const std::string expected = "Unable to access c:\\\nc: " + c.path + ": ";
    EXPECT_EQ(out.rfind(expected, 0), 0u) << out;
    EXPECT_NE(out.find(c.reason), std::string::npos) << out;
    // Nothing else, and nothing twice.
    EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), 2) << out;
  }
}

TEST_F(ProcessTest, DriveOutsideTheMapIsRefused) {
  const std::string image = FatImage("ONLYD");
  std::string out;
  const int status =
      Run("--drives " + testsupport::ShellQuote("d=" + image) + " --fast-view c", out);
  EXPECT_EQ(status, 1);
  EXPECT_NE(err.find("no drive c:"), std::string::npos) << err;
  EXPECT_EQ(out.find("Drive="), std::string::npos);
}

// A Defrag of an NTFS volume in use from the command line: with nothing
// fragmented it says "Moved: None"; on a copy of the fixture it moves files
// through the file system and prints the closing report; both end with 0,
// and the volume is sound afterwards.
TEST_F(ProcessTest, DefragOfAVolumeInUsePrintsItsReport) {
  if (testsupport::FindTool("mkntfs").empty()) GTEST_SKIP() << "mkntfs not installed";
  const std::string empty = testsupport::TempPath("proc-empty.ntfs");
  std::string error;
  ASSERT_TRUE(testsupport::MakeNtfsImage(empty, 16, 4096, "EMPTY", error)) << error;
  const std::vector<uint8_t> emptyBytes = testsupport::ReadFileBytes(empty);
  std::string out;
  for (const char* pack : {"", " --no-pack"}) {
    EXPECT_EQ(Run("--drives " + testsupport::ShellQuote("c=" + empty + ",busy=pagefile.sys") +
                      pack + " --defrag c",
                  out),
              0)
        << out << err;
    EXPECT_NE(out.find("\nMoved: None\n"), std::string::npos) << out;
    EXPECT_EQ(out.find("Moved: Files="), std::string::npos) << out;
  }
  EXPECT_TRUE(testsupport::ReadFileBytes(empty) == emptyBytes);

  const std::string copy = testsupport::TempPath("proc-fixture.ntfs");
  ASSERT_TRUE(testsupport::WriteFileBytes(
      copy, testsupport::ReadFileBytes(testsupport::SharedNtfsFixture().Path())));
  const std::string drives =
      "--drives " + testsupport::ShellQuote("c=" + copy + ",busy=pagefile.sys");
  // The flush delay outlasts the run: the driver frees the clusters the
  // moves left as the program ends, after the map picture was saved.
  const std::string png = home + "/after-%d.png";
  EXPECT_EQ(Run(drives + " --defrag c --map-png " + testsupport::ShellQuote(png), out, 120,
                "VODURU_NTFS_FLUSH_DELAY=60000"),
            0)
      << out << err;
  EXPECT_TRUE(std::filesystem::exists(home + "/after-c.png"));
  size_t at = 0;
  for (const char* line : {"\nMoved: Files=", "\n   Time=", "\nFragmented files=",
                           "\nSmall free Space=", "\nLarge free space="}) {
    const size_t next = out.find(line, at);
    ASSERT_NE(next, std::string::npos) << line << " after " << at << ":\n" << out;
    at = next + 1;
  }
  EXPECT_EQ(Run(drives + " --checked-view c", out), 0) << out << err;
  EXPECT_EQ(out.find("Bitmap:"), std::string::npos) << out;
  std::remove(copy.c_str());
  std::remove(empty.c_str());
}

// Whole disks made by sfdisk holding a FAT16 and an NTFS volume: each
// partition viewed through `partition=N` reports as the volume's own image
// does, and the whole disk without a choice lists its partitions.
class WholeDiskProcessTest : public ProcessTest, public ::testing::WithParamInterface<std::string> {
 protected:
  // The lines of each drive's run, the drive letter made "x".
  static std::vector<std::string> Runs(const std::string& out) {
    std::vector<std::string> runs;
    size_t at = out.find("Drive=");
    while (at != std::string::npos) {
      const size_t next = out.find("Drive=", at + 1);
      std::string run = out.substr(at, next == std::string::npos ? next : next - at);
      run[6] = 'x';
      runs.push_back(run);
      at = next;
    }
    return runs;
  }
};

INSTANTIATE_TEST_SUITE_P(Tables, WholeDiskProcessTest, ::testing::Values("dos", "gpt"),
                         [](const ::testing::TestParamInfo<std::string>& p) {
                           return p.param == "dos" ? std::string("Mbr") : std::string("Gpt");
                         });

TEST_P(WholeDiskProcessTest, PartitionsReportAsTheirOwnImages) {
  if (testsupport::FindTool("sfdisk").empty()) GTEST_SKIP() << "sfdisk not installed";
  const std::string fat = testsupport::TempPath("whole-fat16.img");
  testsupport::BuildFat16Fixture(fat);
  const std::string ntfs = testsupport::TempPath("whole-ntfs.img");
  std::string error;
  ASSERT_TRUE(testsupport::MakeNtfsImage(ntfs, 8, 4096, "WHOLE", error)) << error;
  const std::string disk = testsupport::TempPath("whole-" + GetParam() + ".img");
  const bool gpt = GetParam() == "gpt";
  const std::string data = "EBD0A0A2-B9E5-4433-87C0-68B6B72699C7";
  std::vector<uint64_t> starts;
  ASSERT_TRUE(testsupport::MakeWholeDisk(disk, GetParam(), {fat, ntfs},
                                         {gpt ? data : "6", gpt ? data : "7"}, starts, error))
      << error;

  std::string out;
  const std::string map =
      "c=" + fat + ";d=" + disk + ",partition=1;e=" + ntfs + ";f=" + disk + ",partition=2";
  EXPECT_EQ(Run("--drives " + testsupport::ShellQuote(map) +
                    " --fast-view c --fast-view d --fast-view e --fast-view f",
                out),
            0)
      << out << err;
  const std::vector<std::string> runs = Runs(out);
  ASSERT_EQ(runs.size(), 4u) << out;
  EXPECT_NE(runs[0].find("FS=FAT"), std::string::npos) << runs[0];
  EXPECT_NE(runs[0].find("File/Folder chains="), std::string::npos) << runs[0];
  EXPECT_EQ(runs[1], runs[0]);
  EXPECT_NE(runs[2].find("FS=NTFS"), std::string::npos) << runs[2];
  EXPECT_NE(runs[2].find("Files="), std::string::npos) << runs[2];
  EXPECT_EQ(runs[3], runs[2]);

  EXPECT_EQ(Run("--drives " + testsupport::ShellQuote("c=" + disk) + " --fast-view c", out), 1);
  const std::string says = "c: " + disk + " is a whole disk (" + (gpt ? "GPT" : "MBR") +
                           "); pick a partition in the drive map: c=" + disk + ",partition=N\n";
  EXPECT_EQ(out.rfind(says, 0), 0u) << out;
  EXPECT_NE(out.find("\n  partition=1  start=" + std::to_string(starts[0]) + "  sectors="),
            std::string::npos)
      << out;
  EXPECT_NE(out.find("\n  partition=2  start=" + std::to_string(starts[1]) + "  sectors=16384"),
            std::string::npos)
      << out;
  EXPECT_EQ(out.find("Unsupported File System"), std::string::npos) << out;
}

}  // namespace
}  // namespace vr::test
