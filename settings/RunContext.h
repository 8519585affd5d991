#pragma once
// Where the running program is and how it was started. Branding and the
// settings file depend on the executable's file name and folder; tests run the
// windows as if they had been started under another name.

#include <QString>
#include <QStringList>

namespace RunContext {

// The application title: the name the desktop shows, also the title of plain boxes.
inline const QString kApplicationTitle = QStringLiteral("CellfeedWizard");

// The executable's folder joined with the name the program was started under.
// A link named OrvaneCellfeedWizard to CellfeedWizard gives the branded name,
// while the folder is the real file's, where a portable copy keeps its settings.
QString ExecutablePath();
// The command-line arguments after the program name.
QStringList Arguments();
// The first argument, or an empty text when there is none.
QString FirstArgument();

// The rule of ExecutablePath on its own: argv[0]'s file name in the resolved
// executable's folder; the resolved file itself when argv[0] names no file.
QString StartedPath(const QString& argv0, const QString& resolvedExecutable);

// For tests: act as if started from exePath with these arguments. An empty
// path goes back to the real process.
void OverrideForTesting(const QString& exePath, const QStringList& arguments);

}  // namespace RunContext
