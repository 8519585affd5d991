#include "settings/StateFolder.h"

#include <QDir>

QString UserStateFolder() {
  const QString state = qEnvironmentVariable("XDG_STATE_HOME");
  // A relative value is not a state folder (and would follow the current folder).
  const QString base = QDir::isAbsolutePath(state) ? state : QDir::homePath() + QStringLiteral("/.local/state");
  return QDir(base).filePath(QStringLiteral("CellfeedWizard"));
}
