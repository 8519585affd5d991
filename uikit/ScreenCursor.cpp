#include "uikit/ScreenCursor.h"

#include <QApplication>
#include <QDialog>

namespace {
Qt::CursorShape current = Qt::ArrowCursor;
}

namespace ScreenCursor {

void Set(Qt::CursorShape shape) {
  while (QApplication::overrideCursor() != nullptr) QApplication::restoreOverrideCursor();
  if (shape != Qt::ArrowCursor) QApplication::setOverrideCursor(QCursor(shape));
  current = shape;
}

Qt::CursorShape Current() { return current; }

}  // namespace ScreenCursor

ModalCursorScope::ModalCursorScope() : saved_(ScreenCursor::Current()) { ScreenCursor::Set(Qt::ArrowCursor); }

ModalCursorScope::~ModalCursorScope() {
  ScreenCursor::Set(ScreenCursor::Current() == Qt::ArrowCursor ? saved_ : Qt::ArrowCursor);
}

int ExecModal(QDialog& dialog) {
  ModalCursorScope cursor;
  return dialog.exec();
}
