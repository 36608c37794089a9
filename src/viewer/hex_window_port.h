// What the viewer engine asks of its window NTBrimHex. The Qt window
// implements it; tests and the headless --hex/--find run use their own.
#pragma once

#include <string>
#include <vector>

#include "viewer/field_marks.h"

namespace vr {

// The input boxes of the window.
enum class HexBox {
  Block /* txtBlock */,
  File /* txtFile */,
  Indx /* txtIndx */,
  Dir /* txtDir */
};

// The visible page as the window draws it: 32 rows of offsets, hexadecimal
// digits and characters, then the marks with the XOR pen.
struct HexPage {
  std::vector<std::string> offsets, hex, chars;
  std::vector<MarkBox> boxes;
};

class HexWindowPort {
 public:
  virtual ~HexWindowPort() = default;
  virtual void SetCaption(const std::string& caption) = 0;
  virtual void SetBoxText(HexBox box, const std::string& text) = 0;
  virtual std::string BoxText(HexBox box) const = 0;
  virtual void SetDirLabel(const std::string& text) = 0;
  // NTFS shows the Find menu and the FILE/INDX boxes, FAT the directory box.
  virtual void ShowNtfsControls(bool ntfs) = 0;
  // The scroll bar vscBlock: shown with range 0 .. Max in steps of 512 and
  // set to 0, or hidden.
  virtual void SetScroll(bool visible, int max) = 0;
  virtual void DrawPage(const HexPage& page) = 0;
  virtual void Beep() = 0;
  virtual void DoEvents() = 0;
  virtual void SetBusyCursor(bool busy) = 0;
  // An input box; false when the user cancels.
  virtual bool AskText(const std::string& prompt, const std::string& title,
                       std::string& answer) = 0;
  virtual void Unload() = 0;
};

}  // namespace vr
