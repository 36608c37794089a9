#include "tools/validate.h"

#include <cstdint>
#include <new>
#include <string>

#include "runtime/format.h"
#include "tools/checksum.h"
#include "tools/checksum_file.h"
#include "tools/checksum_tree.h"
#include "tools/drive_files.h"
#include "tools/tool_summary.h"
#include "volume/error_state.h"
#include "volume/report.h"

namespace vr {

namespace {

void Show_Finding(const std::string& entry) {
  MainWindowPort& w = MainWindow();
  w.SetVisible(Control::lstValErrs, true);
  w.AddItem(Control::lstValErrs, entry);
}

}  // namespace

void Validate(Long& Checked, Long& Erased, Long& Differences, ToolWindow& window) {
  MainWindowPort& w = MainWindow();
  Erased = 0;
  Differences = 0;
  Long visited = 0;
  try {
    for (Long j = 0; j < TreeFileCount; ++j) {
      w.DoEvents();
      if (ErrorState.Failed != 0) break;
      window.Show_Count(Str(j));
      const std::string path = Tree_File_Path(j);
      visited = j + 1;
      if (!Path_Exists(path)) {
        Erased += 1;
        Show_Finding(path + "  (erased)");
        continue;
      }
      if (j % 100 == 0) window.Draw_File_Chart();
      Integer sum = 0;
      int64_t size = 0;
      ReadAndCheck(path, sum, size);
      TreeBytes += static_cast<float>(size);
      window.Count_Size(size);
      if (sum != TreeFileSums(j)) {
        TreeFileSums(j) = sum;
        Differences += 1;
        Show_Finding(path);
        w.DoEvents();
      }
    }
    Checked = visited;
  } catch (const RunError& e) {
    Cls_Pos();
    ReportError(e.Number() == kErrPathNotFound ? "Drive error" : e.Description());
    ErrorState.Failed = kTrue;
    Checked = visited;
    Differences = -1;
  } catch (const std::bad_alloc&) {
    Cls_Pos();
    ReportError(ErrorDescription(kErrOutOfMemory));
    ErrorState.Failed = kTrue;
    Checked = visited;
    Differences = -1;
  }
}

ValidateResult Timing_Validate(ToolWindow& window) {
  MainWindowPort& w = MainWindow();
  ValidateResult r;
  try {
    window.Clear_Size_Buckets();
    TreeBytes = 0;
    window.SetBusy();
    Cls_Pos();
    Show_Esc_Prompt();
    window.ClearMap();
    w.ClearList(Control::lstValErrs);

    const std::string text = w.DrvUserText();
    const std::string drive = text.substr(0, 2);
    const char letter = Drive_Letter(text);
    const std::string sumPath = Checksum_File_Path(letter);
    Read_Checksum_File(sumPath, [&w] { w.DoEvents(); });
    w.AddItem(Control::lstValErrs, "-- Checksum=" + drive + " " + File_Date_Time(sumPath) + " --");
    w.DoEvents();

    w.SetBusyCursor(true);
    const float t0 = Tool_Clock();
    Validate(r.checked, r.erased, r.differences, window);
    const float elapsed = Tool_Elapsed(t0);
    w.SetBusyCursor(false);

    if (r.differences >= 0) {
      Cls_Pos();
      ReportLine("Validate");
      ReportLine("Drive=" + text + "  Files=" + NumText(r.checked));
      Report_Rates(TreeBytes, r.checked, elapsed);
      ReportLine((r.differences != 0 ? NumText(r.differences) : std::string("No ")) +
                 "Differences");
      if (r.erased != 0) ReportLine(NumText(r.erased) + "Erased.");
      if (ErrorState.Failed != 0) {
        ReportLine("Escape termination.");
      } else {
        if (r.differences + r.erased != 0) {
          w.SetBusyCursor(true);
          if (r.differences != 0) {
            ReportLine(sumPath + " updated.");
            Write_Checksum_File(sumPath);
          }
          const std::string logPath = Check_Log_Path(letter);
          ReportLine("See: " + logPath);
          Append_Check_Log(logPath, w.Items(Control::lstValErrs));
          w.SetBusyCursor(false);
        }
        r.completed = true;
      }
      TreeFileCount = r.checked;
      window.Draw_File_Chart();
    }
    window.SetUnBusy();
  } catch (const RunError& e) {
    ReportError(e.Description());
    w.SetBusyCursor(false);
    window.SetUnBusy();
    r.completed = false;
  }
  return r;
}

}  // namespace vr
