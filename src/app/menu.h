// The main window's menu bar: every item with its control name, exact
// caption, the separator before it and the help context its command assigns
// to the window. The Qt window builds its menus from this table.
#pragma once

#include <string>
#include <vector>

namespace vr {

enum class MenuItem {
  Drive_,
  Scan_,
  ViewMap_,
  Defrag_,
  Exit_,
  Options_,
  Pack_,
  Review_,
  DefragHuge_,
  PackHuge_,
  Tools_,
  Checksum_,
  Validate_,
  TimingD_,
  Hex_,
  Help_,
  Content_,
  About_,
};

struct MenuEntry {
  MenuItem item;
  MenuItem menu;  // the menu title it belongs to (itself for a title)
  const char* name;
  const char* caption;
  int helpContext;  // 0: none
  bool separatorBefore;
  bool checkable;
};

// Titles first in bar order, each followed by its items in menu order.
const std::vector<MenuEntry>& MenuTable();
const MenuEntry& Menu(MenuItem item);

// Help contexts of the commands.
constexpr int kHelpDrive = 10;
constexpr int kHelpFastView = 40;
constexpr int kHelpDefrag = 120;
constexpr int kHelpHexView = 150;
constexpr int kHelpCheckedView = 280;
constexpr int kHelpTools = 390;

}  // namespace vr
