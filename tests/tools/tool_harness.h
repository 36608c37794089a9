// A headless main window for the integrity tools: the recording message
// area, a tool window that records the busy state, the counted sizes, the
// chart redraws and the count label, drives mapped to real images, and the
// program folder in a fresh temporary folder.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <vector>

#include "tools/tool_window.h"
#include "volume/recording_window.h"

namespace vr::test {

class ToolMainWindow : public RecordingMainWindow {
 public:
  std::function<void()> onDoEvents;  // Esc is pressed from here
  int doEvents = 0;
  bool busyCursor = false;
  void DoEvents() override {
    ++doEvents;
    if (onDoEvents) onDoEvents();
  }
  void SetBusyCursor(bool busy) override { busyCursor = busy; }
};

class FakeToolWindow : public ToolWindow {
 public:
  std::vector<std::string> calls;  // "SetBusy", "SetUnBusy", "ClearMap", "Chart", ...
  std::vector<int64_t> sizes;      // every size counted since the last clear
  std::string count;               // the count label
  int charts = 0;
  // As the main window's SetBusy does, a pending stop request is cleared.
  void SetBusy() override;
  void SetUnBusy() override { calls.push_back("SetUnBusy"); }
  void ClearMap() override { calls.push_back("ClearMap"); }
  void Clear_Size_Buckets() override { sizes.clear(); }
  void Count_Size(int64_t bytes) override { sizes.push_back(bytes); }
  void Draw_File_Chart() override { ++charts; }
  void Show_Count(const std::string& text) override { count = text; }
  void Set_Checksum() override { calls.push_back("Set_Checksum"); }
};

// One file of a checksum file: full path and checksum.
struct SumLine {
  std::string path;
  int sum = 0;
};
// A checksum file parsed by plain code: the counts, the folder lines as
// written and each file's full path ("c:\DOCS\REPORT.TXT") with its sum.
struct ParsedSums {
  long folders = -1, files = -1;
  std::vector<std::pair<long, std::string>> folderLines;
  std::vector<SumLine> fileLines;
  std::map<std::string, int> byPath;
};
ParsedSums ParseSums(const std::string& text);

// The checksum the tools must give for `bytes`: the CRC-32 of the bytes
// (and one zero byte after an odd length), high half Or low half, signed.
int ExpectedSum(const std::vector<uint8_t>& bytes);

class ToolTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Maps drive c to `image` (with files other programs hold open) and
  // selects it in the drive list.
  void MapDrive(const std::string& image, std::vector<std::string> busy = {});
  std::vector<std::string> Lines() const { return main.LineTexts(); }
  bool HasLine(const std::string& text) const;
  int LineColour(const std::string& text) const;  // -1 when absent
  std::string SumFile() const;                    // the text of Checksum.c ("" if none)
  std::string CheckLog() const;                   // the text of CheckLog.c ("" if none)

  ToolMainWindow main;
  FakeToolWindow tools;
  std::string home;
};

}  // namespace vr::test
