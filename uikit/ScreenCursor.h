#pragma once
// The application-wide mouse cursor, one value for all windows (the busy cursor
// while searching for the machine or storing calibration data), and the rule
// every modal window follows: it shows the normal cursor while open and, when it
// closes, puts back the cursor in force before it opened, or the normal cursor
// if the cursor was changed while it was open.

#include <Qt>

class QDialog;

namespace ScreenCursor {
void Set(Qt::CursorShape shape);  // Qt::ArrowCursor is the normal cursor
Qt::CursorShape Current();
}  // namespace ScreenCursor

class ModalCursorScope {
 public:
  ModalCursorScope();
  ~ModalCursorScope();
  ModalCursorScope(const ModalCursorScope&) = delete;
  ModalCursorScope& operator=(const ModalCursorScope&) = delete;

 private:
  Qt::CursorShape saved_;
};

// Shows a dialog modally under the cursor rule; returns QDialog::exec's result.
int ExecModal(QDialog& dialog);
