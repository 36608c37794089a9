// The QApplication the window tests need (offscreen under ctest).
#pragma once

#include <QApplication>

namespace vr::test {

inline QApplication& TestApp() {
  static int argc = 1;
  static char name[] = "test_app";
  static char* argv[] = {name, nullptr};
  static QApplication* app = [] {
    auto* a = new QApplication(argc, argv);
    // A test that closes its window must not end the event loops of the
    // tests after it.
    QApplication::setQuitOnLastWindowClosed(false);
    return a;
  }();
  return *app;
}

}  // namespace vr::test
