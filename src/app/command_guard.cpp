#include "app/command_guard.h"

namespace vr {

namespace {

bool running = false;
int64_t refused = 0;

}  // namespace

bool AdmitCommand(const std::function<void()>& command) {
  if (running) {
    ++refused;
    return false;
  }
  // Cleared however the command ends, run-time errors included.
  struct Running {
    Running() { running = true; }
    ~Running() { running = false; }
  } scope;
  command();
  return true;
}

bool CommandRunning() { return running; }

int64_t CommandsRefused() { return refused; }

}  // namespace vr
