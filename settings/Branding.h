#pragma once
// The two brandings. The executable's file name decides: a name that contains
// "ORVANE" in any case gives the branded look, any other the generic one. The
// folder the executable lies in never counts.

#include <QString>

struct Branding {
  bool branded = true;
  QString brandName;         // "Orvane" or "Data Collection"
  QString settingsFileName;  // the settings file's name without folder
  QString desktopId;         // the desktop entry's name without ".desktop"

  static Branding ForExecutable(const QString& exePath);
};

bool IsBrandedExecutableName(const QString& exePath);

// The settings file's place beside the executable: the executable's folder
// joined with the branding's settings file name. Whether it is used there is
// settled in SettingsLocation.h.
QString SettingsFilePath(const QString& exePath);

// The copyright captions of the main window's menu item and the About box.
inline const QString kBrandedCopyright = QStringLiteral("\u00A9 Orvane Ltd.");
inline const QString kGenericCopyright = QStringLiteral("\u00A9 Data Collection");
