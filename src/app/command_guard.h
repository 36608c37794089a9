// Window events served while a command runs. A long run serves the window
// queue at its DoEvents points, and an event served there must not start
// another command or re-enter the engine: every window event that would run
// a command goes through AdmitCommand, which refuses it while one is in
// progress. Esc and close requests do not: during a run they only set the
// stop flag, which the run tests between its steps.
#pragma once

#include <cstdint>
#include <functional>

namespace vr {

// Runs `command` as the command in progress; while another is in progress
// nothing is run and the answer is false.
bool AdmitCommand(const std::function<void()>& command);

// Whether a command is in progress.
bool CommandRunning();

// How many commands were refused since the program started (tests).
int64_t CommandsRefused();

}  // namespace vr
