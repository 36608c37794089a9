// The main window's procedures: start-up, the menu commands, the drive list,
// the keyboard, closing, the busy state and the fatal stop. They work on the
// window through ShellPort, so they run headless in tests.
#pragma once

#include <functional>
#include <string>

#include "app/shell_port.h"
#include "runtime/checked.h"

namespace vr {

// Main-window flags.
extern Integer Busy;        // -1 between SetBusy and SetUnBusy
extern Integer HistoShown;  // the size chart, not the block map, is in `picMap`

// Procedures of other parts the shell calls. ViewMap is the drive
// identification and dispatch, Show_PiChart the pie chart of the selected
// drive, Set_Checksum the Checksum menu mark of the integrity tools.
struct ShellHooks {
  std::function<void()> ViewMap;
  std::function<void()> Show_PiChart;
  std::function<void()> Set_Checksum;
};
ShellHooks& Hooks();
// Back to the default hooks (ViewMap, Show_PiChart, Set_Checksum).
void ResetHooks();

void InstallShell(ShellPort* port);  // also installs it as the engines' main window
ShellPort& Shell();

// The program has been told to end; procedures stop their work.
extern bool ProgramEnded;
// Nobody sees the windows: there is no display and no window picture was
// asked for. Such a run never waits for a window and skips what only a
// visible window needs.
extern bool Headless;
void EndProgram(int exitCode);

// Start-up (the window's Form_Load) and the fatal stop.
void Form_Load();
void CrapOut(const std::string& Message);

// Menu commands.
void Drive__Click();  // reset the display
void Scan__Click();
void ViewMap__Click();
void DeFrag__Click();
void Exit__Click();
void Pack__Click();
void ReView__Click();
void DefragHuge__Click();
void PackHuge__Click();
void Checksum__Click();  // Checksum, Validate and Scan Files set ToolSucceeded
void Validate__Click();
void TimingD__Click();
void Hex__Click();
void Content__Click();
void About__Click();
// The last integrity tool ran to its end without an error or a stop.
extern bool ToolSucceeded;
// Runs the command procedure of a menu item (titles and separators: none).
void RunMenuCommand(MenuItem item);

// Other events of the main window.
void DrvUser_Change();
void DrvUser_GotFocus();
void Form_KeyDown(int KeyCode, int Shift);
// True: cancel the close.
bool Form_QueryUnload();
void Form_Terminate();
// F1: the help topic of the current context.
void ShowContextHelp();

void SetBusy();
void SetUnBusy();

// Selects the drive-list entry `index`, raising DrvUser_Change when the
// selection changes.
void Select_Drive(int index);

}  // namespace vr
