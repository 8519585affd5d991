#pragma once
// The command-line trace switch. Only the first argument is looked at.

#include <QString>

// The main window's test: upper-cased, exactly "TRACE", or one character of any
// kind followed by exactly "TRACE" (trace, /TRACE, -trace; not TRACE1 or --trace).
bool TraceSwitchOn(const QString& firstArgument);

// The setup dialog's stricter test: exactly "TRACE", case-sensitive.
bool ExactTraceArgument(const QString& firstArgument);
