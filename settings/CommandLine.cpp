#include "settings/CommandLine.h"

bool TraceSwitchOn(const QString& firstArgument) {
  const QString upper = firstArgument.toUpper();
  return upper == QLatin1String("TRACE") || (upper.size() == 6 && upper.mid(1) == QLatin1String("TRACE"));
}

bool ExactTraceArgument(const QString& firstArgument) { return firstArgument == QLatin1String("TRACE"); }
