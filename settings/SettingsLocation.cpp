#include "settings/SettingsLocation.h"

#include "settings/Branding.h"
#include "settings/RunContext.h"

#include <QDir>
#include <QFileInfo>
#include <QTemporaryFile>

#include <pwd.h>
#include <unistd.h>

namespace {

QString HomeFolder(const QString& fromEnvironment) {
  if (!fromEnvironment.isEmpty()) return fromEnvironment;
  // No HOME (a service, a stripped environment): the account's own home.
  if (const passwd* account = getpwuid(getuid()); account != nullptr && account->pw_dir != nullptr)
    return QString::fromLocal8Bit(account->pw_dir);
  return QDir::rootPath();
}

}  // namespace

SettingsEnvironment ProcessSettingsEnvironment() {
  return {qEnvironmentVariable("XDG_CONFIG_HOME"), qEnvironmentVariable("HOME"), FolderWritable};
}

bool FolderWritable(const QString& folder) {
  QTemporaryFile probe(QDir(folder).filePath(QStringLiteral(".cfw-write-test-XXXXXX")));
  return probe.open();  // removed when it goes out of scope
}

QString UserSettingsFolder(const SettingsEnvironment& env) {
  // The base directory rules: a relative XDG_CONFIG_HOME is to be ignored.
  QString base = env.xdgConfigHome;
  if (base.isEmpty() || QDir::isRelativePath(base)) base = HomeFolder(env.home) + QStringLiteral("/.config");
  return QDir::cleanPath(base + QLatin1Char('/') + RunContext::kApplicationTitle);
}

QString ChooseSettingsFile(const QString& exePath, const SettingsEnvironment& env) {
  const QString beside = SettingsFilePath(exePath);
  if (env.folderWritable(QFileInfo(beside).absolutePath())) return beside;
  return UserSettingsFolder(env) + QLatin1Char('/') + Branding::ForExecutable(exePath).settingsFileName;
}

QString CurrentSettingsFilePath() {
  // Only the user-interface thread reads the settings, so no lock is needed.
  static QString decidedFor;
  static QString decided;
  const QString exePath = RunContext::ExecutablePath();
  if (decidedFor != exePath || decided.isEmpty()) {
    decided = ChooseSettingsFile(exePath, ProcessSettingsEnvironment());
    decidedFor = exePath;
    // The per-user folder may not exist yet; the settings store only makes
    // files. Should this fail, the first write reports the file it could not write.
    QDir().mkpath(QFileInfo(decided).absolutePath());
  }
  return decided;
}
