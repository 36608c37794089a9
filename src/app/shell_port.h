// What the shell's procedures ask of the main window beyond what the engines
// need: the menu items, the help context, the drive list's selection, the
// window's metrics and the end of the program. The Qt window implements it;
// tests use a recording fake.
#pragma once

#include <string>

#include "app/menu.h"
#include "volume/ui.h"

namespace vr {

// Window metrics in pixels, as the system reports them.
struct ScreenMetrics {
  int twipsPerPixelX = 15;  // 1440 / horizontal dots per inch
  int cxFrame = 0;          // width of the window frame
  int cyFrame = 0;          // height of the window frame
  int cyCaption = 0;        // height of the caption bar
  int cyMenu = 0;           // height of the menu bar
  int drvUserLeft = 0;      // the drive list's position in the client area
  int drvUserTop = 0;
};

class ShellPort : public MainWindowPort {
 public:
  virtual bool MenuChecked(MenuItem item) const = 0;
  virtual void SetMenuChecked(MenuItem item, bool checked) = 0;
  virtual void SetHelpContext(int context) = 0;
  virtual int HelpContext() const = 0;

  // Selection of `DrvUser`; -1 none. Setting it raises no change event (the
  // shell calls DrvUser_Change itself when the selection changes).
  virtual int DrvUserIndex() const = 0;
  virtual void SetDrvUserIndex(int index) = 0;

  virtual void ClearMap() = 0;  // clears `picMap`
  // Sets a label's text (`lblCount`) and repaints it at once.
  virtual void SetLabel(Control c, const std::string& text) = 0;
  virtual void PlaceMap(int width, int height) = 0;  // sizes `picMap`, lays out the rest
  virtual ScreenMetrics Metrics() const = 0;
  virtual void HideWindow() = 0;

  // Ends the program with `exitCode` (returns; the caller stops its work).
  virtual void EndProgram(int exitCode) = 0;
  virtual void ShowAbout(const std::string& appText, const std::string& otherText) = 0;
  virtual void ShowHelp(int context) = 0;  // 0: the contents
  // Saves the map area with its legend as a PNG file.
  virtual bool SaveMapImage(const std::string& file) = 0;
  // Saves the whole main window as a PNG file.
  virtual bool SaveWindowImage(const std::string& file) = 0;
};

}  // namespace vr
