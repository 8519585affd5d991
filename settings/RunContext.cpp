#include "settings/RunContext.h"

#include <QCoreApplication>

namespace {
QString overridePath;
QStringList overrideArgs;
}  // namespace

namespace RunContext {

QString ExecutablePath() {
  return overridePath.isEmpty() ? QCoreApplication::applicationFilePath() : overridePath;
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
