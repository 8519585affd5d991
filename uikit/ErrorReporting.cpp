#include "uikit/ErrorReporting.h"

#include "uikit/UiServices.h"

QString StandardErrorText(const QString& message) {
  if (message.isEmpty() || message.endsWith('.')) return message;
  return message + '.';
}

void ShowStandardError(const QString& message) {
  UiServices::ShowMessage(MessageKind::Exception, StandardErrorText(message));
}

void ShowStandardException(const std::exception& error) { ShowStandardError(QString::fromUtf8(error.what())); }
