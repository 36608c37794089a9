#include "app/menu.h"

#include "runtime/run_error.h"

namespace vr {

const std::vector<MenuEntry>& MenuTable() {
  using M = MenuItem;
  static const std::vector<MenuEntry> table = {
      {M::Drive_, M::Drive_, "Drive_", "&Drive", kHelpDrive, false, false},
      {M::Scan_, M::Drive_, "Scan_", "&Checked View", kHelpCheckedView, false, false},
      {M::ViewMap_, M::Drive_, "ViewMap_", "&Fast View", kHelpFastView, false, false},
      {M::Defrag_, M::Drive_, "Defrag_", "&Defrag", kHelpDefrag, true, false},
      {M::Exit_, M::Drive_, "Exit_", "E&xit", 0, true, false},
      {M::Options_, M::Options_, "Options_", "&Options", 0, false, false},
      {M::Pack_, M::Options_, "Pack_", "&Pack after Defrag", 0, false, true},
      {M::Review_, M::Options_, "Review_", "&View after Defrag", 0, false, true},
      {M::DefragHuge_, M::Options_, "DefragHuge_", "&Defrag huge files", 0, true, true},
      {M::PackHuge_, M::Options_, "PackHuge_", "Pac&k huge files", 0, false, true},
      {M::Tools_, M::Tools_, "Tools_", "&Tools", 0, false, false},
      {M::Checksum_, M::Tools_, "Checksum_", "&Checksum", kHelpTools, false, true},
      {M::Validate_, M::Tools_, "Validate_", "&Validate", kHelpTools, false, false},
      {M::TimingD_, M::Tools_, "TimingD_", "&Scan Files", kHelpTools, true, false},
      {M::Hex_, M::Tools_, "Hex_", "&Hex View", kHelpHexView, true, false},
      {M::Help_, M::Help_, "Help_", "&Help", 0, false, false},
      {M::Content_, M::Help_, "Content_", "&Topics", 0, false, false},
      {M::About_, M::Help_, "About_", "&About VoduRU", 0, false, false},
  };
  return table;
}

const MenuEntry& Menu(MenuItem item) {
  for (const MenuEntry& e : MenuTable())
    if (e.item == item) return e;
  Raise(kErrIllegalCall);
}

}  // namespace vr
