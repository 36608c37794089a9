#include "tools/read_timing.h"

#include <memory>
#include <new>
#include <vector>

#include "runtime/format.h"
#include "tools/checksum.h"
#include "tools/checksum_tree.h"
#include "tools/drive_files.h"
#include "tools/tool_summary.h"
#include "volume/error_state.h"
#include "volume/report.h"

namespace vr {

namespace {

// A folder nested deeper than this is taken for a loop in a damaged folder
// tree.
constexpr int kMaxDepth = 1000;
// The subfolder list of one folder has a 16-bit index.
constexpr size_t kMaxSubfolders = 32767;

void Trap_Walk_Error(const std::string& description) {
  ReportError(description);
  DriveError = kTrue;
  ErrorState.Failed = kTrue;
}

void Walk(const std::string& Path, Long& Subdirs, Long& Files, ToolWindow& window, int depth) {
  MainWindowPort& w = MainWindow();
  try {
    if (depth > kMaxDepth) Raise(kErrPathFileAccess);
    std::vector<std::string> subfolders;
    subfolders.reserve(51);
    List_Folder(Path, [&](const nt::WIN32_FIND_DATAA& entry) {
      w.DoEvents();
      if (ErrorState.Failed != 0) return;
      const std::string name = entry.cFileName;
      if (name.empty() || name[0] == '.') return;
      if (IsSubdir(entry)) {
        if (subfolders.size() >= kMaxSubfolders) Raise(kErrOverflow);
        subfolders.push_back(Path + "\\" + name);
        return;
      }
      if (Files % 100 == 0) window.Draw_File_Chart();
      Files += 1;
      window.Show_Count(Str(Files));
      int64_t size = 0;
      ReadData(Path + "\\" + name, size);
      window.Count_Size(size);
    });
    Subdirs += 1;
    for (const std::string& folder : subfolders) Walk(folder, Subdirs, Files, window, depth + 1);
  } catch (const RunError& e) {
    Trap_Walk_Error(e.Description());
  } catch (const std::bad_alloc&) {
    Trap_Walk_Error(ErrorDescription(kErrOutOfMemory));
  }
}

}  // namespace

void ReadData(const std::string& Path, int64_t& Size) {
  Size = 0;
  std::unique_ptr<DriveFile> file;
  try {
    file = std::make_unique<DriveFile>(Path);
  } catch (const RunError&) {
    return;  // counted, with no bytes
  }
  try {
    Size = file->Length();
    TreeBytes += static_cast<float>(Size);
    uint8_t* buffer = Tool_Buffer();
    int64_t remaining = Size;
    while (remaining > 0) {
      const uint32_t chunk = remaining > kToolChunk ? kToolChunk : static_cast<uint32_t>(remaining);
      file->Read(buffer, chunk);
      remaining -= chunk;
    }
  } catch (const RunError&) {
    ReportLine("Errors: " + Path);
    ReadError = kTrue;
  }
}

void SubdirectoryD(const std::string& Path, Long& Subdirs, Long& Files, ToolWindow& window) {
  Walk(Path, Subdirs, Files, window, 0);
}

bool TimingD(ToolWindow& window) {
  MainWindowPort& w = MainWindow();
  bool complete = false;
  try {
    window.Clear_Size_Buckets();
    window.SetBusy();
    Cls_Pos();
    Show_Esc_Prompt();
    const std::string text = w.DrvUserText();
    const std::string drive = text.substr(0, 2);
    TreeBytes = 0;
    w.SetBusyCursor(true);
    ReadError = 0;
    DriveError = 0;
    Long files = 0;
    Long subdirs = 0;

    const float t0 = Tool_Clock();
    SubdirectoryD(drive, subdirs, files, window);
    const float elapsed = Tool_Elapsed(t0);
    w.SetBusyCursor(false);

    if (ReadError == 0 && DriveError == 0) {
      Cls_Pos();
      if (ErrorState.Failed != 0) ReportLine("Escape termination.");
      ReportLine("Drive=" + text);
      ReportLine("Files=" + NumText(files) + " Subdirs=" + NumText(subdirs));
      Report_Rates(TreeBytes, files, elapsed);
      window.Draw_File_Chart();
      complete = ErrorState.Failed == 0;
    }
    window.SetUnBusy();
  } catch (const RunError& e) {
    ReportError(e.Description());
    w.SetBusyCursor(false);
    window.SetUnBusy();
  }
  return complete;
}

}  // namespace vr
