#include "app/charts/fragment_list.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <vector>

#include "platform/nt.h"
#include "runtime/format.h"
#include "volume/report.h"
#include "volume/session.h"

namespace vr {

std::string Raw_Entry(const std::string& Path, const std::string& What) {
  return Path + " (" + What + ")";
}

std::string Raw_File_Entry(const std::string& Path, Long Sectors) {
  return Raw_Entry(Path, SizeText(Sectors));
}

std::string Raw_Folder_Entry(const std::string& Path) { return Raw_Entry(Path, "folder"); }

void Add_Raw(const std::string& Entry) { MainWindow().AddItem(Control::Raw, Entry); }

namespace {

// The map window's two status lines.
constexpr int kSortingLine = 10;
constexpr int kCountLine = 22;

bool SameName(const std::string& a, const char* b) {
  const size_t n = strnlen(b, 260);
  if (a.size() != n) return false;
  for (size_t i = 0; i < n; ++i)
    if (std::tolower(static_cast<unsigned char>(a[i])) !=
        std::tolower(static_cast<unsigned char>(b[i])))
      return false;
  return true;
}

// The stored name of the first entry that matches `pattern` (a path whose
// last component is `name`) and is a folder or not as asked; empty when
// there is none. A match counts only when its long or short name is `name`
// itself, so that a name holding wildcard characters never picks another
// entry.
std::string Stored_Name(const std::string& pattern, const std::string& name, bool folder) {
  nt::WIN32_FIND_DATAA data;
  const nt::HANDLE h = nt::FindFirstFileA(pattern, &data);
  if (h == nt::INVALID_HANDLE_VALUE) return {};
  std::string found;
  do {
    const bool isFolder = (data.dwFileAttributes & nt::FILE_ATTRIBUTE_DIRECTORY) != 0;
    if (isFolder == folder &&
        (SameName(name, data.cFileName) || SameName(name, data.cAlternateFileName))) {
      found.assign(data.cFileName, strnlen(data.cFileName, sizeof data.cFileName));
      break;
    }
  } while (nt::FindNextFileA(h, &data));
  nt::FindClose(h);
  return found;
}

bool LessNoCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) <
           std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace

bool Add_Real_Path(const std::string& Path, const std::string& Tail, bool Folder) {
  if (Path.size() < 3) return false;
  const std::string drive = Path.substr(0, 3);  // "c:\"
  const std::string rest = Path.substr(3);
  std::string shown;  // stored names joined by "\"
  std::string prefix = drive;
  size_t from = 0;
  if (rest.empty()) {
    shown = "\\";  // the root folder itself
  } else {
    while (true) {
      const size_t cut = rest.find('\\', from);
      const bool last = cut == std::string::npos;
      const std::string name = rest.substr(from, last ? std::string::npos : cut - from);
      if (name.empty()) return false;
      const std::string stored = Stored_Name(prefix + name, name, last ? Folder : true);
      if (stored.empty()) return false;
      if (!shown.empty()) shown += "\\";
      shown += stored;
      if (last) break;
      prefix += name + "\\";
      from = cut + 1;
    }
  }
  MainWindow().AddItem(Control::lstInuse, shown + Tail);
  return true;
}

void Move_Raw_List(StatusSurface& window) {
  MainWindowPort& w = MainWindow();
  const std::vector<std::string> entries = w.Items(Control::Raw);
  if (entries.empty()) return;

  Close_Drive(VolumeSession.VolumeHandle);

  Status_Value(kSortingLine, window, "", kBrightWhite);
  Status_Label(kSortingLine, window, "Sorting:", kBlack);
  Status_Label(kCountLine, window, "Fragments:", kBlack);

  const size_t count = entries.size();
  for (size_t i = 0; i < count; ++i) {
    if (i % 16 == 0) {
      Status_Value(kCountLine, window, Str(static_cast<int64_t>(count - i)), kBlack);
      w.DoEvents();
    }
    const std::string& entry = entries[i];
    const size_t open = entry.find(" (");
    if (open == std::string::npos) {
      Add_Real_Path(entry, "", false);
    } else {
      const std::string tail = entry.substr(open);
      Add_Real_Path(entry.substr(0, open), tail, tail == " (folder)");
    }
  }

  // The list shows its entries in alphabetical order, whatever order the
  // scans found them in.
  std::vector<std::string> listed = w.Items(Control::lstInuse);
  std::stable_sort(listed.begin(), listed.end(), LessNoCase);
  w.ClearList(Control::lstInuse);
  for (const std::string& e : listed) w.AddItem(Control::lstInuse, e);

  w.ClearList(Control::Raw);
  w.SetVisible(Control::frmInuse, true);
}

}  // namespace vr
