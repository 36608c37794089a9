#include "tools/tool_harness.h"

#include <zlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "drivers/builtin_drivers.h"
#include "platform/platform.h"
#include "support/volume_images.h"
#include "volume/error_state.h"
#include "volume/report.h"

namespace vr::test {

namespace {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "";
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

}  // namespace

void FakeToolWindow::SetBusy() {
  calls.push_back("SetBusy");
  ErrorState.Failed = 0;
}

ParsedSums ParseSums(const std::string& text) {
  ParsedSums p;
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    if (end == std::string::npos) break;
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  if (lines.empty()) return p;
  std::sscanf(lines[0].c_str(), "%ld,%ld", &p.folders, &p.files);
  std::vector<std::string> paths;
  std::vector<long> parents;
  for (long i = 0; i < p.folders && 1 + i < static_cast<long>(lines.size()); ++i) {
    const std::string& l = lines[1 + i];
    const size_t comma = l.find(',');
    const long parent = std::atol(l.substr(0, comma).c_str());
    const std::string name = l.substr(comma + 2, l.size() - comma - 3);
    p.folderLines.emplace_back(parent, name);
    paths.push_back(i == 0 ? name : paths.at(parent) + "\\" + name);
  }
  for (long j = 0; j < p.files && 1 + p.folders + j < static_cast<long>(lines.size()); ++j) {
    const std::string& l = lines[1 + p.folders + j];
    const size_t c1 = l.find(','), c2 = l.find(',', c1 + 1);
    const long folder = std::atol(l.substr(0, c1).c_str());
    const int sum = std::atoi(l.substr(c1 + 1, c2 - c1 - 1).c_str());
    const std::string name = l.substr(c2 + 2, l.size() - c2 - 3);
    SumLine s{paths.at(folder) + "\\" + name, sum};
    p.fileLines.push_back(s);
    p.byPath[s.path] = sum;
  }
  return p;
}

int ExpectedSum(const std::vector<uint8_t>& bytes) {
  std::vector<uint8_t> padded = bytes;
  if (padded.size() % 2 != 0) padded.push_back(0);
  if (padded.empty()) return 0;
  const uint32_t crc =
      static_cast<uint32_t>(crc32(0, padded.data(), static_cast<uInt>(padded.size())));
  return static_cast<int16_t>(static_cast<uint16_t>((crc >> 16) | (crc & 0xFFFF)));
}

void ToolTest::SetUp() {
  platform::ResetPlatform();
  platform::RegisterBuiltinDrivers();
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  home = testsupport::TempDir() + "/tools-home-" + info->test_suite_name() + "." + info->name();
  std::filesystem::remove_all(home);
  std::filesystem::create_directories(home);
  setenv("VODURU_HOME", home.c_str(), 1);
  ResetErrorState();
  DebugLogPath.clear();
  DebugLogText.clear();
  Unattended = false;
  SetMainWindow(&main);
  main.SetVisible(Control::lstValErrs, false);  // hidden until the first finding
}

void ToolTest::TearDown() {
  SetMainWindow(nullptr);
  platform::ResetPlatform();
}

void ToolTest::MapDrive(const std::string& image, std::vector<std::string> busy) {
  platform::SetDriveMap({{'c', image, std::move(busy)}});
  main.drvUserText = "c: [VODURU]";
}

bool ToolTest::HasLine(const std::string& text) const { return LineColour(text) >= 0; }

int ToolTest::LineColour(const std::string& text) const {
  for (const auto& line : main.Lines())
    if (line.Text() == text) return line.pieces.empty() ? 0 : line.pieces.front().colour;
  return -1;
}

std::string ToolTest::SumFile() const { return ReadText(home + "/Checksum.c"); }
std::string ToolTest::CheckLog() const { return ReadText(home + "/CheckLog.c"); }

}  // namespace vr::test
