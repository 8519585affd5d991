#pragma once
// The application's standard error box: errors raised as exceptions are not
// caught by the command that raised them but shown here, under the application
// title with an error icon, a full stop added when the message lacks one, and
// the event loop goes on.

#include <QString>

#include <exception>
#include <utility>

void ShowStandardError(const QString& message);
void ShowStandardException(const std::exception& error);

// The message as the box shows it.
QString StandardErrorText(const QString& message);

// Runs one command or event delivery; an escaping exception goes to the box.
// Qt does not let exceptions cross its frames, so every handler is entered
// through this boundary.
template <typename F>
void Guarded(F&& command) {
  try {
    std::forward<F>(command)();
  } catch (const std::exception& error) {
    ShowStandardException(error);
  }
}
