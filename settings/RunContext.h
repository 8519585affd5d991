#pragma once
// Where the running program is and how it was started. Branding and the
// settings file depend on the executable's file name and folder; tests run the
// windows as if they had been started under another name.

#include <QString>
#include <QStringList>

namespace RunContext {

// The application title: the name the desktop shows, also the title of plain boxes.
inline const QString kApplicationTitle = QStringLiteral("CellfeedWizard");

QString ExecutablePath();
// The command-line arguments after the program name.
QStringList Arguments();
// The first argument, or an empty text when there is none.
QString FirstArgument();

// For tests: act as if started from exePath with these arguments. An empty
// path goes back to the real process.
void OverrideForTesting(const QString& exePath, const QStringList& arguments);

}  // namespace RunContext
