#include "settings/RunContext.h"

#include <QCoreApplication>
#include <QFileInfo>

namespace {
QString overridePath;
QStringList overrideArgs;
}  // namespace

namespace RunContext {

QString StartedPath(const QString& argv0, const QString& resolvedExecutable) {
  const QString startedName = QFileInfo(argv0).fileName();
  if (startedName.isEmpty()) return resolvedExecutable;
  return QFileInfo(resolvedExecutable).absolutePath() + QLatin1Char('/') + startedName;
}

QString ExecutablePath() {
  if (!overridePath.isEmpty()) return overridePath;
  // applicationFilePath() follows links, so the name comes from argv[0].
  const QStringList args = QCoreApplication::arguments();
  return StartedPath(args.isEmpty() ? QString() : args.front(), QCoreApplication::applicationFilePath());
}

QStringList Arguments() {
  if (!overridePath.isEmpty()) return overrideArgs;
  return QCoreApplication::arguments().mid(1);
}

QString FirstArgument() {
  const QStringList args = Arguments();
  return args.isEmpty() ? QString() : args.front();
}

void OverrideForTesting(const QString& exePath, const QStringList& arguments) {
  overridePath = exePath;
  overrideArgs = arguments;
}

}  // namespace RunContext
