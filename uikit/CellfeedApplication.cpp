#include "uikit/CellfeedApplication.h"

#include "uikit/ErrorReporting.h"
#include "settings/RunContext.h"

CellfeedApplication::CellfeedApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(RunContext::kApplicationTitle);
  setApplicationDisplayName(RunContext::kApplicationTitle);
  setQuitOnLastWindowClosed(false);  // the main window ends the run itself
}

bool CellfeedApplication::notify(QObject* receiver, QEvent* event) {
  try {
    return QApplication::notify(receiver, event);
  } catch (const std::exception& error) {
    ShowStandardException(error);
  }
  return false;
}
