#include "settings/Branding.h"

#include "settings/RunContext.h"

#include <QDir>
#include <QFileInfo>

bool IsBrandedExecutableName(const QString& exePath) {
  return QFileInfo(exePath).fileName().toUpper().contains(QLatin1String("ORVANE"));
}

Branding Branding::ForExecutable(const QString& exePath) {
  if (IsBrandedExecutableName(exePath)) return {true, QStringLiteral("Orvane"), QStringLiteral("OrvaneSettings.ini")};
  return {false, QStringLiteral("Data Collection"), QStringLiteral("DataMachSettings.ini")};
}

QString SettingsFilePath(const QString& exePath) {
  const QFileInfo exe(exePath);
  return exe.absoluteDir().filePath(Branding::ForExecutable(exePath).settingsFileName);
}

QString CurrentSettingsFilePath() { return SettingsFilePath(RunContext::ExecutablePath()); }
