// The menu commands and the drive-list events of the main window.
#include "app/hex_command.h"
#include "app/shell.h"
#include "app/tool_commands.h"
#include "app/version_info.h"
#include "tools/checksum.h"
#include "tools/read_timing.h"
#include "tools/validate.h"
#include "volume/error_state.h"
#include "volume/report.h"
#include "volume/session.h"
#include "volume/shared_state.h"

namespace vr {

bool ToolSucceeded = false;

namespace {

void Volume_Command(Integer checked, Integer mode, int helpContext) {
  Drive__Click();
  Shell().SetHelpContext(helpContext);
  CheckedScan = checked;
  DefragMode = mode;
  Hooks().ViewMap();
}

}  // namespace

void Drive__Click() {
  ShellPort& w = Shell();
  Cls_Pos();
  // In an unattended run the drive's command follows at once and clears the
  // message area: the pie would be seen by nobody, and its volume query
  // would only repeat what the command itself says about the drive.
  if (!Unattended) Hooks().Show_PiChart();
  BoxColors.ReDim(0);
  w.SetVisible(Control::frmInuse, false);
  w.ClearList(Control::lstInuse);
  w.SetVisible(Control::lstValErrs, false);
  w.ClearList(Control::lstValErrs);
  HistoShown = 0;
  w.ClearMap();
  w.SetVisible(Control::picMap, true);
  w.SetVisible(Control::lblMaker, true);
  w.SetVisible(Control::imgBrim, true);
  w.SetHelpContext(kHelpDrive);
}

void Scan__Click() { Volume_Command(kTrue, -1, kHelpCheckedView); }

void ViewMap__Click() { Volume_Command(0, -1, kHelpFastView); }

void DeFrag__Click() {
  Volume_Command(kTrue, Shell().MenuChecked(MenuItem::Pack_) ? 1 : 0, kHelpDefrag);
}

void Exit__Click() { EndProgram(0); }

void Checksum__Click() {
  Shell().SetHelpContext(kHelpTools);
  Drive__Click();
  ToolSucceeded = Timing_Checksum(Tool_Window());
}

void Validate__Click() {
  Drive__Click();
  Shell().SetHelpContext(kHelpTools);
  ToolSucceeded = Timing_Validate(Tool_Window()).completed;
}

void TimingD__Click() {
  Drive__Click();
  Shell().SetHelpContext(kHelpTools);
  ToolSucceeded = TimingD(Tool_Window());
}

void Hex__Click() {
  Drive__Click();
  Shell().SetHelpContext(kHelpHexView);
  Cls_Pos();
  Hex_View();
}

void Content__Click() { Shell().ShowHelp(0); }

void ShowContextHelp() { Shell().ShowHelp(Shell().HelpContext()); }

void About__Click() {
  const AboutTexts t = About_Texts(Win_Version());
  Shell().ShowAbout(t.app, t.other);
}

void RunMenuCommand(MenuItem item) {
  using M = MenuItem;
  switch (item) {
    case M::Drive_: Drive__Click(); break;
    case M::Scan_: Scan__Click(); break;
    case M::ViewMap_: ViewMap__Click(); break;
    case M::Defrag_: DeFrag__Click(); break;
    case M::Exit_: Exit__Click(); break;
    case M::Pack_: Pack__Click(); break;
    case M::Review_: ReView__Click(); break;
    case M::DefragHuge_: DefragHuge__Click(); break;
    case M::PackHuge_: PackHuge__Click(); break;
    case M::Checksum_: Checksum__Click(); break;
    case M::Validate_: Validate__Click(); break;
    case M::TimingD_: TimingD__Click(); break;
    case M::Hex_: Hex__Click(); break;
    case M::Content_: Content__Click(); break;
    case M::About_: About__Click(); break;
    case M::Options_:
    case M::Tools_:
    case M::Help_: break;
  }
}

void DrvUser_Change() {
  Drive__Click();  // the reset draws the pie chart of the newly chosen drive
  CheckedScan = kTrue;
  Hooks().Set_Checksum();
}

void DrvUser_GotFocus() { Drive__Click(); }

void Select_Drive(int index) {
  ShellPort& w = Shell();
  if (w.DrvUserIndex() == index) return;
  w.SetDrvUserIndex(index);
  DrvUser_Change();
}

}  // namespace vr
