#include "app/tool_commands.h"

#include "app/charts/size_chart.h"
#include "app/map_picture.h"
#include "app/shell.h"
#include "tools/checksum.h"
#include "tools/checksum_file.h"

namespace vr {

namespace {

class ShellToolWindow : public ToolWindow {
 public:
  void SetBusy() override { vr::SetBusy(); }
  void SetUnBusy() override { vr::SetUnBusy(); }
  void ClearMap() override { Shell().ClearMap(); }
  void Clear_Size_Buckets() override { vr::Clear_Size_Buckets(); }
  void Count_Size(int64_t bytes) override { SizeBuckets(Size_Bucket(bytes, 15)) += 1; }
  void Draw_File_Chart() override {
    Shell().SetVisible(Control::lblMaker, false);
    Shell().SetVisible(Control::imgBrim, false);
    Show_File_Distribution();
  }
  void Show_Count(const std::string& text) override { Shell().SetLabel(Control::lblCount, text); }
  void Set_Checksum() override { vr::Set_Checksum(); }
};

}  // namespace

ToolWindow& Tool_Window() {
  static ShellToolWindow window;
  return window;
}

void Set_Checksum() {
  ShellPort& w = Shell();
  const char letter = Drive_Letter(w.DrvUserText());
  const bool exists = letter != '\0' && Checksum_File_Exists(letter);
  w.SetMenuChecked(MenuItem::Checksum_, exists);
  if (exists) w.SetEnabled(Control::Validate_, true);
}

}  // namespace vr
