#pragma once
// Where the settings file lives. A copy of the program in a folder its user can
// write to keeps the file beside the executable, as a portable copy always has.
// Installed into a system folder, it keeps one per user in the per-user
// configuration folder instead: $XDG_CONFIG_HOME/CellfeedWizard, by default
// ~/.config/CellfeedWizard, under the same file name. The choice is made once,
// the first time the file is needed, and holds for the whole run.

#include <QString>

#include <functional>

// What the choice depends on besides the executable's path.
struct SettingsEnvironment {
  QString xdgConfigHome;  // $XDG_CONFIG_HOME; empty or relative means unset
  QString home;           // $HOME
  std::function<bool(const QString& folder)> folderWritable;
};

// The process's own environment, with the real writability test.
SettingsEnvironment ProcessSettingsEnvironment();

// Whether a file can be created in the folder: tried with a scratch file that
// is removed at once, so read-only file systems, permissions and a path that is
// no folder at all are all caught as they are.
bool FolderWritable(const QString& folder);

// The per-user configuration folder of this product, without a trailing slash.
QString UserSettingsFolder(const SettingsEnvironment& env);

// The settings file's full path for a program started as exePath.
QString ChooseSettingsFile(const QString& exePath, const SettingsEnvironment& env);

// The running program's settings file, chosen once per executable path (tests
// that act as another executable get their own choice); a per-user folder that
// does not exist yet is made then.
QString CurrentSettingsFilePath();
