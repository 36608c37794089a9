// Window events served at a run's DoEvents points, on the real main window
// off screen: the menu commands the user picks meanwhile are refused, Esc
// still sets the stop flag, and a close request only asks the run to stop.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QKeyEvent>

#include "app/command_guard.h"
#include "app/pump_gate.h"
#include "qt_fixture.h"
#include "runtime/run_error.h"

namespace vr::test {
namespace {

using QtCommandGuardTest = QtWindowTest;

TEST_F(QtCommandGuardTest, EventsDuringARunStartNothingAndEscOnlyStopsIt) {
  window->show();
  int64_t now = 0;
  window->Pump().SetClock([&] { return now; });
  int runs = 0, resets = 0;
  bool visibleAfterClose = false;
  Integer failedAfterEsc = 0, failedAfterClose = 0;
  int64_t refusedDuringRun = 0;
  Hooks().Show_PiChart = [&] { ++resets; };  // every Drive__Click draws the pie
  Hooks().ViewMap = [&] {
    ++runs;
    EXPECT_TRUE(CommandRunning());
    const int64_t refusedBefore = CommandsRefused();
    // What the window system delivers between two calls of the pump: the
    // user picks Defrag and Exit, opens the Drive menu, presses Esc and
    // closes the window.
    for (MenuItem item : {MenuItem::Defrag_, MenuItem::Exit_}) {
      ASSERT_TRUE(window->Action(item)->isEnabled()) << "the guard alone must refuse it";
      QMetaObject::invokeMethod(window->Action(item), "trigger", Qt::QueuedConnection);
    }
    QMetaObject::invokeMethod(window->MenuOf(MenuItem::Drive_), "aboutToShow",
                              Qt::QueuedConnection);
    QCoreApplication::postEvent(window.get(),
                                new QKeyEvent(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier));
    auto pump = [&] {
      for (int i = 0; i < 5; ++i) {
        now += kPumpIntervalUs;
        window->DoEvents();
      }
    };
    pump();
    refusedDuringRun = CommandsRefused() - refusedBefore;
    failedAfterEsc = ErrorState.Failed;
    ErrorState.Failed = 0;
    QMetaObject::invokeMethod(window.get(), "close", Qt::QueuedConnection);
    pump();
    failedAfterClose = ErrorState.Failed;
    visibleAfterClose = window->isVisible();
  };

  window->Action(MenuItem::Scan_)->trigger();

  EXPECT_EQ(runs, 1) << "a command started inside the run";
  EXPECT_EQ(resets, 1) << "the Drive menu's reset ran inside the run";
  EXPECT_EQ(refusedDuringRun, 3);
  EXPECT_FALSE(ProgramEnded) << "Exit ran inside the run";
  EXPECT_EQ(failedAfterEsc, -1) << "Esc did not reach the stop flag";
  EXPECT_EQ(failedAfterClose, -1) << "closing did not ask the run to stop";
  EXPECT_TRUE(visibleAfterClose) << "closing ended the window during the run";
  EXPECT_FALSE(CommandRunning());

  // Once the run is over, commands start again; a run that ends in a
  // run-time error ends the command too.
  Hooks().ViewMap = [&] {
    ++runs;
    Raise(5);
  };
  window->Action(MenuItem::ViewMap_)->trigger();
  EXPECT_EQ(runs, 2);
  EXPECT_FALSE(CommandRunning());
  Hooks().ViewMap = [&] { ++runs; };
  window->Action(MenuItem::Defrag_)->trigger();
  EXPECT_EQ(runs, 3);
  window->Pump().SetClock(PumpGate::SteadyMicroseconds);
}

}  // namespace
}  // namespace vr::test
