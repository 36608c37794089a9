// The program as a process: command-line errors, exit codes, standard
// output and the log of a classic run. Needs the built program in the build
// folder; skipped when it is not there.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

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
  // Runs the program with `args`; standard output only in `out`.
  int Run(const std::string& args, std::string& out) {
    const std::string errFile = home + "/stderr.txt";
    const std::string command = "(env VODURU_HOME=" + testsupport::ShellQuote(home) +
                                " QT_QPA_PLATFORM=offscreen VODURU_DRIVES= timeout 60 " +
                                testsupport::ShellQuote(program.string()) + " " + args + " 2>" +
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

TEST_F(ProcessTest, DriveOutsideTheMapIsRefused) {
  const std::string image = FatImage("ONLYD");
  std::string out;
  const int status =
      Run("--drives " + testsupport::ShellQuote("d=" + image) + " --fast-view c", out);
  EXPECT_EQ(status, 1);
  EXPECT_NE(err.find("no drive c:"), std::string::npos) << err;
  EXPECT_EQ(out.find("Drive="), std::string::npos);
}

}  // namespace
}  // namespace vr::test
