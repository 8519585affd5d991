#include "uikit/CellfeedApplication.h"

#include "uikit/ErrorReporting.h"
#include "settings/Branding.h"
#include "settings/RunContext.h"

CellfeedApplication::CellfeedApplication(int& argc, char** argv) : QApplication(argc, argv) {
  setApplicationName(RunContext::kApplicationTitle);
  // No display name: the platform would append it to every window's caption
  // (" — CellfeedWizard"); the name shown for the application is its name.
  // The desktop entry ties the windows to the branding's entry and icon.
  setDesktopFileName(Branding::ForExecutable(RunContext::ExecutablePath()).desktopId);
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
