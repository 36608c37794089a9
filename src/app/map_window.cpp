#include "app/map_window.h"

#include "volume/error_state.h"
#include "volume/report.h"
#include "volume/shared_state.h"

namespace vr {

int MapRunsCompleted = 0;

namespace {

MapScan g_scans[2];

MapScan& ScanSlot(MapKind kind) { return g_scans[kind == MapKind::Ntfs ? 0 : 1]; }

// The scan of a file system this build does not carry: says so on the
// status line and in the message area, and ends the window. The command did
// not do its work, so it counts as stopped.
void Scan_Not_Available(MapWindowLogic& map) {
  const std::string fs = FileSystemWord(map.Kind());
  Status_Label(kStatusLine1, map.Window(), fs + " scan:", kBlack);
  Status_Value(kStatusLine1, map.Window(), "not available yet", kBlack);
  ReportLine("The " + fs + " scan is not available yet.");
  ErrorState.Failed = kTrue;
  map.Closing_Step();
}

}  // namespace

std::string FileSystemWord(MapKind kind) { return kind == MapKind::Ntfs ? "NTFS" : "FAT"; }

void SetMapScan(MapKind kind, MapScan scan) { ScanSlot(kind) = std::move(scan); }

MapScan GetMapScan(MapKind kind) {
  const MapScan& s = ScanSlot(kind);
  return s ? s : MapScan(Scan_Not_Available);
}

MapPlacement Map_Window_Position(int mainLeft, int mainTop, int drvUserLeft) {
  return {drvUserLeft + static_cast<int>(MapLeftOffset) + mainLeft,
          static_cast<int>(MapTopOffset) + mainTop};
}

MapWindowLogic::MapWindowLogic(MapKind kind, MapWindowPort& window)
    : kind_(kind), window_(window) {}

void MapWindowLogic::Timer1_Timer() {
  if (timerFired_) return;
  timerFired_ = true;
  done_ = 0;
  GetMapScan(kind_)(*this);
}

void MapWindowLogic::Form_KeyDown(int KeyCode) {
  if (KeyCode != 27) return;
  if (Done())
    window_.Unload();
  else
    ErrorState.Failed = kTrue;
}

bool MapWindowLogic::Form_QueryUnload() {
  if (Done()) return false;
  ErrorState.Failed = kTrue;
  Status_Value(kStatusLine1, window_, "", kBlack);
  Status_Value(kStatusLine2, window_, "", kBlack);
  Status_Label(kStatusLine1, window_, "User stop:", kBlack);
  Status_Label(kStatusLine2, window_, "Please wait", kBlack);
  return true;
}

void MapWindowLogic::Form_Unload() {
  if (kind_ == MapKind::Fat) MainWindow().SetVisible(Control::DrvUser, true);
}

void MapWindowLogic::Closing_Step() {
  MainWindowPort& main = MainWindow();
  main.SetVisible(Control::picHistoF, false);
  main.SetVisible(Control::PicHistoE, false);
  main.SetBusyCursor(false);
  done_ = kTrue;
  ++MapRunsCompleted;
  main.DoEvents();
  window_.Unload();
}

}  // namespace vr
