// What the integrity tools ask of the main window beyond the message area
// and the controls every engine uses: the busy state, the map picture, the
// size chart and its counts, the count label and the Checksum menu mark.
// The shell implements it; tests use a recording fake.
#pragma once

#include <cstdint>
#include <string>

namespace vr {

class ToolWindow {
 public:
  virtual ~ToolWindow() = default;
  virtual void SetBusy() = 0;
  virtual void SetUnBusy() = 0;
  virtual void ClearMap() = 0;  // clears `picMap`
  // The size chart's counts: cleared, and one file of `bytes` counted in
  // its size class.
  virtual void Clear_Size_Buckets() = 0;
  virtual void Count_Size(int64_t bytes) = 0;
  // Hides the maker's label and the logo, draws the size chart "File
  // distribution" into `picMap` and sets the histogram flag.
  virtual void Draw_File_Chart() = 0;
  // Shows `text` in the count label `lblCount` and repaints it at once.
  virtual void Show_Count(const std::string& text) = 0;
  // The Checksum menu item's mark follows the selected drive's checksum
  // file; Validate is enabled when there is one.
  virtual void Set_Checksum() = 0;
};

}  // namespace vr
