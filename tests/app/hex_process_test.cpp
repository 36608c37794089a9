// --hex and --find as the program runs them: no window, lines on standard
// output, the exit code. Skipped when the program is not built.
#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "support/fat_fixtures.h"
#include "support/volume_images.h"

namespace vr::test {
namespace {

namespace ts = testsupport;

TEST(HexProcess, HexAndFindOnAFatImage) {
  std::error_code ec;
  const auto self = std::filesystem::read_symlink("/proc/self/exe", ec);
  ASSERT_FALSE(ec);
  const auto program = self.parent_path().parent_path() / "voduru";
  if (!std::filesystem::exists(program)) GTEST_SKIP() << "voduru not built";
  ts::FatVolume volume = ts::MakeFat12Fixture("hexproc-fat12");
  ts::RemoveOnExit remove{volume.Path()};
  const std::string home = ts::TempPath("hexproc-home");
  std::filesystem::create_directories(home);
  auto run = [&](const std::string& args, std::string& out) {
    return ts::RunCommand("env VODURU_HOME=" + ts::ShellQuote(home) +
                              " VODURU_DRIVES= timeout 60 " + ts::ShellQuote(program.string()) +
                              " --drives " + ts::ShellQuote("a=" + volume.Path()) + " " + args +
                              " 2>/dev/null",
                          out);
  };
  std::string out;
  EXPECT_EQ(run("--hex a 1", out), 0);
  std::istringstream lines(out);
  int n = 0;
  for (std::string line; std::getline(lines, line); ++n)
    EXPECT_EQ(line.size(), 4u + 2 + 48 + 1 + 16) << line;
  EXPECT_EQ(n, 32);
  EXPECT_EQ(out.substr(0, 6), "0000  ");
  EXPECT_EQ(run("--find a Subdir", out), 1);  // FAT has no MFT to search
  EXPECT_EQ(run("--find a Nonsense", out), 2);
  EXPECT_EQ(run("--hex a", out), 2);
}

}  // namespace
}  // namespace vr::test
