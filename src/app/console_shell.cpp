#include "app/console_shell.h"

#include <iostream>

#include "app/command_line.h"
#include "app/event_guard.h"
#include "app/map_window.h"
#include "app/shell.h"

namespace vr {

namespace {

// A map window nobody sees: its status lines go nowhere and it unloads as
// soon as its scan ends.
class ConsoleMapWindow : public MapWindowPort {
 public:
  explicit ConsoleMapWindow(MapKind kind) : logic_(kind, *this) {}
  void Run() { logic_.Timer1_Timer(); }

  int Width() const override { return 380; }
  int Height() const override { return 40; }
  int TextHeight(const std::string&) const override { return 13; }
  int TextWidth(const std::string& text) const override {
    return 6 * static_cast<int>(text.size());
  }
  void FillBox(int, int, int, int, int) override {}
  void DrawText(int, int, const std::string&, int) override {}
  void Update() override {}
  void Unload() override {
    if (!unloaded_) logic_.Form_Unload();
    unloaded_ = true;
  }

 private:
  MapWindowLogic logic_;
  bool unloaded_ = false;
};

}  // namespace

bool ConsoleShell::IsVisible(Control c) const {
  auto it = visible_.find(c);
  return it == visible_.end() ? true : it->second;
}

std::vector<std::string> ConsoleShell::Items(Control c) const {
  auto it = lists_.find(c);
  return it == lists_.end() ? std::vector<std::string>{} : it->second;
}

// Nobody can press OK: the text goes to standard error and the run goes on.
void ConsoleShell::MessageBox(const std::string& text, MsgIcon) {
  std::string t = text;
  for (size_t at = t.find("\r\n"); at != std::string::npos; at = t.find("\r\n", at)) t.erase(at, 1);
  std::cerr << t << "\n";
}

std::string ConsoleShell::DrvUserText() const {
  const std::vector<std::string> drives = Items(Control::DrvUser);
  return drvIndex_ >= 0 && drvIndex_ < static_cast<int>(drives.size()) ? drives[drvIndex_] : "";
}

void ConsoleShell::ShowMapWindow(MapKind kind, const std::string&) {
  ConsoleMapWindow map(kind);
  Guard([&] { map.Run(); });
}

bool ConsoleShell::MenuChecked(MenuItem item) const {
  auto it = checks_.find(item);
  return it != checks_.end() && it->second;
}

int Run_Console_Program() {
  ConsoleShell console;
  InstallShell(&console);
  Guard([] { Form_Load(); });
  Form_Terminate();
  InstallShell(nullptr);
  // Every headless start ends the program; one that did not has nothing
  // left to wait for either.
  return console.ExitCode().value_or(kExitRunFailed);
}

}  // namespace vr
