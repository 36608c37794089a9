#include "tools/checksum.h"

#include <cctype>
#include <new>
#include <vector>

#include "runtime/format.h"
#include "tools/checksum_file.h"
#include "tools/checksum_tree.h"
#include "tools/crc_checksum.h"
#include "tools/drive_files.h"
#include "tools/tool_summary.h"
#include "volume/error_state.h"
#include "volume/report.h"

namespace vr {

namespace {

// A folder nested deeper than this is taken for a loop in a damaged folder
// tree (NT could name no path that deep).
constexpr int kMaxDepth = 1000;

void Trap_Walk_Error(int number, const std::string& description) {
  Cls_Pos();
  ReportError(number == kErrPathNotFound ? "Drive error" : description);
  DriveError = kTrue;
  ErrorState.Failed = kTrue;
}

void Walk(const std::string& Path, Long Index, ToolWindow& window, int depth) {
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
        subfolders.push_back(name);
        return;
      }
      if (TreeFileCount % 100 == 0) window.Draw_File_Chart();
      const Long j = Add_Tree_File(name, Index);
      Integer sum = 0;
      int64_t size = 0;
      ReadAndCheck(Path + "\\" + name, sum, size);
      TreeFileSums(j) = sum;
      window.Count_Size(size);
      TreeBytes += static_cast<float>(size);
      window.Show_Count(Str(TreeFileCount));
    });
    const Long first = TreeFolderCount;
    for (const std::string& name : subfolders) Add_Tree_Folder(name, Index);
    for (size_t k = 0; k < subfolders.size(); ++k)
      Walk(Path + "\\" + subfolders[k], first + static_cast<int32_t>(k), window, depth + 1);
  } catch (const RunError& e) {
    Trap_Walk_Error(e.Number(), e.Description());
  } catch (const std::bad_alloc&) {
    Trap_Walk_Error(kErrOutOfMemory, ErrorDescription(kErrOutOfMemory));
  }
}

}  // namespace

uint8_t* Tool_Buffer() {
  static std::vector<uint8_t> buffer(kToolChunk);
  return buffer.data();
}

char Drive_Letter(const std::string& Text) {
  return Text.empty() ? '\0' : static_cast<char>(std::tolower(static_cast<unsigned char>(Text[0])));
}

void ReadAndCheck(const std::string& Path, Integer& Sum, int64_t& Size) {
  Size = 0;
  try {
    DriveFile file(Path);
    Size = file.Length();
    uint8_t* buffer = Tool_Buffer();
    int32_t accumulator = 0;
    int64_t remaining = Size;
    while (remaining > 0) {
      const uint32_t real = remaining > kToolChunk ? kToolChunk : static_cast<uint32_t>(remaining);
      file.Read(buffer, real);
      // The last chunk is fed with an even length: one zero byte after an
      // odd remainder.
      uint32_t chunk = real;
      if (chunk % 2 != 0) buffer[chunk++] = 0;
      Get_CRC_CheckSum(buffer, static_cast<int32_t>(chunk), &accumulator);
      remaining -= chunk;
    }
    Sum = Fold_CheckSum(accumulator);
  } catch (const RunError& e) {
    Sum = -1;
    if (e.Number() == kErrPathNotFound) {
      Cls_Pos();
      ReportError("Drive error");
      ErrorState.Failed = kTrue;
    }
  }
}

void CheckSum(const std::string& Path, Long Index, ToolWindow& window) {
  Walk(Path, Index, window, 0);
}

bool Timing_Checksum(ToolWindow& window) {
  MainWindowPort& w = MainWindow();
  bool written = false;
  try {
    window.Clear_Size_Buckets();
    window.SetBusy();
    Cls_Pos();
    Show_Esc_Prompt();
    window.ClearMap();
    const std::string text = w.DrvUserText();
    const std::string drive = text.substr(0, 2);
    TreeBytes = 0;
    Start_Tree(drive);
    w.SetBusyCursor(true);
    DriveError = 0;

    const float t0 = Tool_Clock();
    CheckSum(drive, 0, window);
    const float elapsed = Tool_Elapsed(t0);
    w.SetBusyCursor(false);

    if (DriveError == 0) {
      Cls_Pos();
      ReportLine("Checksum " + drive);
      ReportLine("Files=" + NumText(TreeFileCount) + " Subdirs=" + NumText(TreeFolderCount));
      Report_Rates(TreeBytes, TreeFileCount, elapsed);
      window.Draw_File_Chart();
      if (ErrorState.Failed != 0) {
        ReportLine("Escape termination.");
      } else {
        Write_Checksum_File(Checksum_File_Path(Drive_Letter(text)));
        Release_Tree();
        window.Set_Checksum();
        written = true;
      }
    }
    window.SetUnBusy();
  } catch (const RunError& e) {
    if (e.Number() != kErrPathNotFound) ReportError(e.Description());
    w.SetBusyCursor(false);
    window.SetUnBusy();
  }
  return written;
}

}  // namespace vr
