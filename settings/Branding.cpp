#include "settings/Branding.h"

#include <QDir>
#include <QFileInfo>

bool IsBrandedExecutableName(const QString& exePath) {
  return QFileInfo(exePath).fileName().toUpper().contains(QLatin1String("ORVANE"));
}

Branding Branding::ForExecutable(const QString& exePath) {
  if (IsBrandedExecutableName(exePath))
    return {true, QStringLiteral("Orvane"), QStringLiteral("OrvaneSettings.ini"),
            QStringLiteral("org.cellfeedwizard.OrvaneCellfeedWizard")};
  return {false, QStringLiteral("Data Collection"), QStringLiteral("DataMachSettings.ini"),
          QStringLiteral("org.cellfeedwizard.CellfeedWizard")};
}

QString SettingsFilePath(const QString& exePath) {
  const QFileInfo exe(exePath);
  return exe.absoluteDir().filePath(Branding::ForExecutable(exePath).settingsFileName);
}
