#pragma once
// The application object: sets the application title and is the last line of
// defence for exceptions thrown from event handlers that did not guard
// themselves (see Guarded in ErrorReporting.h).

#include <QApplication>

class CellfeedApplication : public QApplication {
  Q_OBJECT
 public:
  CellfeedApplication(int& argc, char** argv);
  bool notify(QObject* receiver, QEvent* event) override;
};
