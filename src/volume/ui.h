// What the engines ask of the windows, as small interfaces. The Qt windows
// implement them; tests use recording fakes. No Qt type appears here.
#pragma once

#include <string>
#include <vector>

namespace vr {

// Colour indexes of the standard 16-colour palette.
enum Palette : int {
  kBlack = 0,
  kBlue = 1,
  kGreen = 2,
  kCyan = 3,
  kRed = 4,
  kMagenta = 5,
  kBrown = 6,
  kWhite = 7,
  kGray = 8,
  kLightBlue = 9,
  kLightGreen = 10,
  kLightCyan = 11,
  kLightRed = 12,
  kLightMagenta = 13,
  kYellow = 14,
  kBrightWhite = 15,
};

// Named controls of the main window that the engines show, hide or fill.
enum class Control {
  picMap,
  picHistoF,
  PicHistoE,
  lblCount,
  frmInuse,
  lstInuse,
  lstValErrs,
  Raw,
  DrvUser,
  imgBrim,
  lblMaker,
  // menus
  Drive_,
  Options_,
  Tools_,
  Help_,
  Hex_,
  Checksum_,
  Validate_,
};

enum class MsgIcon { Critical, Information, Exclamation };

// The two modal map windows.
enum class MapKind { Ntfs /* NTBrimMapx */, Fat /* NTBrimMap */ };

// A surface that status lines are drawn on (a map window).
class StatusSurface {
 public:
  virtual ~StatusSurface() = default;
  virtual int Width() const = 0;
  virtual int Height() const = 0;
  virtual int TextHeight(const std::string& text) const = 0;
  virtual int TextWidth(const std::string& text) const = 0;
  virtual void FillBox(int x, int y, int width, int height, int colour) = 0;
  virtual void DrawText(int left, int top, const std::string& text, int colour) = 0;
  virtual void Update() = 0;
};

// The main window as the engines and the shell see it.
class MainWindowPort {
 public:
  virtual ~MainWindowPort() = default;

  // Message area: text written at a cursor, top to bottom, never scrolled.
  virtual void MsgClear() = 0;  // clears text and drawings
  virtual void MsgSetPos(int x, int y) = 0;
  virtual int MsgX() const = 0;
  virtual int MsgY() const = 0;
  virtual void MsgWrite(const std::string& text, int colour) = 0;  // continues the line
  virtual void MsgEndLine() = 0;

  virtual void SetVisible(Control c, bool visible) = 0;
  virtual bool IsVisible(Control c) const = 0;
  virtual void SetEnabled(Control c, bool enabled) = 0;
  virtual void ClearList(Control c) = 0;
  virtual void AddItem(Control c, const std::string& text) = 0;
  virtual std::vector<std::string> Items(Control c) const = 0;
  virtual int RightOf(Control c) const = 0;  // left + width, pixels

  virtual void MessageBox(const std::string& text, MsgIcon icon) = 0;
  virtual void Beep() = 0;
  virtual void DoEvents() = 0;  // process pending window messages
  virtual void SetBusyCursor(bool busy) = 0;
  virtual void BringToFront() = 0;
  virtual bool WindowVisible() const = 0;
  virtual void ShowWindow() = 0;

  // The selected entry of the drive list `DrvUser` ("c: [LABEL]").
  virtual std::string DrvUserText() const = 0;
  // Shows a map window modally; returns when it has unloaded.
  virtual void ShowMapWindow(MapKind kind, const std::string& caption) = 0;
};

// The main window the engines talk to; a headless recorder until a window
// installs itself.
MainWindowPort& MainWindow();
void SetMainWindow(MainWindowPort* port);

}  // namespace vr
