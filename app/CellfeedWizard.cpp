// Program entry: the application object, the one main window, the event loop.
// The main window is destroyed after the loop ends, which runs the shutdown steps.

#include "app/CellfeedApplication.h"
#include "app/CellfeedMain.h"

#include <memory>

int main(int argc, char** argv) {
  CellfeedApplication app(argc, argv);
  auto mainWindow = std::make_unique<TfrmMain>();
  mainWindow->show();
  const int result = CellfeedApplication::exec();
  mainWindow.reset();
  return result;
}
