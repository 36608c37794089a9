// The life of the two modal map windows (NTBrimMapx for NTFS, NTBrimMap for
// FAT) without their drawing: placement over the main window, the one-shot
// timer that starts the scan, the done flag, the stop rules for Esc and for a
// close request, and the closing step that unloads the window.
#pragma once

#include <functional>
#include <string>

#include "runtime/checked.h"
#include "volume/ui.h"

namespace vr {

// A map window as its engine sees it: the status-line surface and unloading.
class MapWindowPort : public StatusSurface {
 public:
  virtual void Unload() = 0;
};

// Status line positions.
constexpr int kStatusLine1 = 10;
constexpr int kStatusLine2 = 22;

class MapWindowLogic {
 public:
  MapWindowLogic(MapKind kind, MapWindowPort& window);

  MapKind Kind() const { return kind_; }
  MapWindowPort& Window() { return window_; }
  bool Done() const { return done_ != 0; }

  // The timer has fired (once): run the window's scan.
  void Timer1_Timer();
  // Esc: unload when done, else ask the running loop to stop.
  void Form_KeyDown(int KeyCode);
  // A close request; true cancels it (the scan is still running).
  bool Form_QueryUnload();
  void Form_Unload();
  // The closing step every scan and run ends with: hides the main window's
  // histograms, sets the done flag, serves the message queue once and
  // unloads the window.
  void Closing_Step();

 private:
  MapKind kind_;
  MapWindowPort& window_;
  Integer done_;
  bool timerFired_ = false;
};

// Window position in pixels: over the main window, at the drive list.
struct MapPlacement {
  int left;
  int top;
};
MapPlacement Map_Window_Position(int mainLeft, int mainTop, int drvUserLeft);

// The scan a map window runs when its timer fires, per file system. Until a
// scan is installed the window says that it is not available yet.
using MapScan = std::function<void(MapWindowLogic&)>;
void SetMapScan(MapKind kind, MapScan scan);
MapScan GetMapScan(MapKind kind);

// How many map windows have run their closing step (a command's map window
// ran to its end).
extern int MapRunsCompleted;

std::string FileSystemWord(MapKind kind);

}  // namespace vr
