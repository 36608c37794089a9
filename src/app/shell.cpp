#include "app/shell.h"

#include "app/charts/pie_chart.h"
#include "app/tool_commands.h"
#include "app/view_map.h"
#include "volume/error_state.h"
#include "volume/report.h"
#include "volume/session.h"

namespace vr {

Integer Busy;
Integer HistoShown;
bool ProgramEnded = false;
bool Headless = false;

namespace {
ShellPort* g_shell = nullptr;

ShellHooks DefaultHooks() {
  ShellHooks h;
  h.ViewMap = [] { ViewMap(); };
  h.Show_PiChart = [] { Show_PiChart(); };
  h.Set_Checksum = [] { Set_Checksum(); };
  return h;
}

// Runs one step of a sequence that must go on when a step fails.
template <typename F>
void Step(F&& f) {
  try {
    f();
  } catch (const std::exception&) {
  }
}
}  // namespace

ShellHooks& Hooks() {
  static ShellHooks hooks = DefaultHooks();
  return hooks;
}

void ResetHooks() { Hooks() = DefaultHooks(); }

void InstallShell(ShellPort* port) {
  g_shell = port;
  SetMainWindow(port);
}

ShellPort& Shell() {
  if (!g_shell) Raise(kErrIllegalCall);
  return *g_shell;
}

void EndProgram(int exitCode) {
  ProgramEnded = true;
  Shell().EndProgram(exitCode);
}

void SetBusy() {
  ShellPort& w = Shell();
  w.SetVisible(Control::imgBrim, false);
  for (Control c : {Control::Drive_, Control::DrvUser, Control::Help_, Control::Hex_,
                    Control::Options_, Control::Tools_})
    w.SetEnabled(c, false);
  ErrorState.Failed = 0;
  Busy = kTrue;
}

void SetUnBusy() {
  ShellPort& w = Shell();
  for (Control c : {Control::Drive_, Control::DrvUser, Control::Help_, Control::Hex_,
                    Control::Options_, Control::Tools_})
    w.SetEnabled(c, true);
  Busy = 0;
  w.SetBusyCursor(false);
}

void CrapOut(const std::string& Message) {
  Step([] { SetBusy(); });
  Step([] { Cls_Pos(); });
  Step([] { Busy = 0; });
  Step([] { Shell().ShowWindow(); });
  Step([] { Shell().DoEvents(); });
  Step([] { Shell().MsgSetPos(Shell().MsgX(), 3); });
  Step([&] { ReportError(Message); });
  Step([] { Shell().SetBusyCursor(false); });
}

void Form_KeyDown(int KeyCode, int /*Shift*/) {
  if (KeyCode == 27) ErrorState.Failed = kTrue;
}

bool Form_QueryUnload() {
  if (Busy == 0) return false;
  ErrorState.Failed = kTrue;
  Busy = 0;
  return true;
}

void Form_Terminate() { Close_Drive(VolumeSession.VolumeHandle); }

}  // namespace vr
