// Prints what the program settles at start from the name it was started under,
// one line each: the executable path it reckons with, the brand name and the
// settings file. The settings tests start it through links and PATH.
#include "settings/Branding.h"
#include "settings/RunContext.h"
#include "settings/SettingsLocation.h"

#include <QCoreApplication>
#include <QTextStream>

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QString exePath = RunContext::ExecutablePath();
  QTextStream out(stdout);
  out << exePath << '\n' << Branding::ForExecutable(exePath).brandName << '\n' << CurrentSettingsFilePath() << '\n';
  return 0;
}
