#pragma once
// Running the event loop from a test: for a while, or until something holds.

#include <QCoreApplication>
#include <QDeadlineTimer>

#include <functional>

inline void ProcessEventsFor(int ms) {
  QDeadlineTimer deadline(ms);
  while (!deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

// False when the time ran out first. The default is for something that will
// happen: generous, so that a busy machine cannot fail the test.
inline bool WaitUntil(const std::function<bool()>& holds, int ms = 10000) {
  QDeadlineTimer deadline(ms);
  while (!holds()) {
    if (deadline.hasExpired()) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}
