#include "app/drive_list.h"

#include <algorithm>
#include <cstring>

#include "app/shell.h"
#include "platform/nt.h"
#include "platform/platform.h"

namespace vr {

std::vector<std::string> DriveListEntries() {
  std::vector<char> letters;
  for (const platform::DriveEntry& d : platform::DriveMap()) letters.push_back(d.letter);
  std::sort(letters.begin(), letters.end());
  letters.erase(std::unique(letters.begin(), letters.end()), letters.end());

  std::vector<std::string> entries;
  for (char letter : letters) {
    const std::string root = std::string(1, letter) + ":\\";
    char label[261] = {};
    char fsName[261] = {};
    nt::DWORD serial = 0, maxComponent = 0, flags = 0;
    std::string text;
    if (nt::GetVolumeInformationA(root, label, sizeof label, &serial, &maxComponent, &flags, fsName,
                                  sizeof fsName))
      text.assign(label, strnlen(label, sizeof label));
    entries.push_back(std::string(1, letter) + ": [" + text + "]");
  }
  return entries;
}

void Fill_Drive_List() {
  ShellPort& w = Shell();
  w.ClearList(Control::DrvUser);
  for (const std::string& e : DriveListEntries()) w.AddItem(Control::DrvUser, e);
  w.SetDrvUserIndex(-1);
}

int Find_Drive_Entry(char letter) {
  const std::vector<std::string> items = Shell().Items(Control::DrvUser);
  for (size_t i = 0; i < items.size(); ++i)
    if (!items[i].empty() && items[i][0] == letter) return static_cast<int>(i);
  return -1;
}

}  // namespace vr
