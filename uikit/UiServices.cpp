#include "uikit/UiServices.h"

#include "settings/RunContext.h"
#include "uikit/ScreenCursor.h"

#include <QApplication>
#include <QFileDialog>
#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

namespace {

UiResponder* responder = nullptr;

QMessageBox::Icon IconFor(MessageKind kind) {
  switch (kind) {
    case MessageKind::Information: return QMessageBox::Information;
    case MessageKind::Error:
    case MessageKind::Exception: return QMessageBox::Critical;
    case MessageKind::Plain: break;
  }
  return QMessageBox::NoIcon;
}

QString ButtonText(Answer a) {
  switch (a) {
    case Answer::Ok: return QStringLiteral("OK");
    case Answer::Save: return QStringLiteral("Save");
    case Answer::DontSave: return QStringLiteral("Don't Save");
    case Answer::Cancel: return QStringLiteral("Cancel");
  }
  return {};
}

}  // namespace

namespace UiServices {

QString TitleFor(MessageKind kind) {
  switch (kind) {
    case MessageKind::Information: return QStringLiteral("Information");
    case MessageKind::Error: return QStringLiteral("Error");
    case MessageKind::Plain:
    case MessageKind::Exception: break;
  }
  return RunContext::kApplicationTitle;
}

void ShowMessage(MessageKind kind, const QString& text) {
  if (responder != nullptr) return responder->Message(kind, TitleFor(kind), text);
  QMessageBox box(IconFor(kind), TitleFor(kind), text, QMessageBox::Ok, QApplication::activeWindow());
  ModalCursorScope cursor;
  box.exec();
}

Answer AskQuestion(const QString& text, const QList<Answer>& buttons) {
  const QString title = RunContext::kApplicationTitle;
  if (responder != nullptr) return responder->Question(title, text, buttons);
  QMessageBox box(QMessageBox::Question, title, text, QMessageBox::NoButton, QApplication::activeWindow());
  QList<QPushButton*> pushButtons;
  for (Answer a : buttons) {
    const auto role = a == Answer::Cancel ? QMessageBox::RejectRole : QMessageBox::AcceptRole;
    pushButtons.append(box.addButton(ButtonText(a), role));
  }
  if (!pushButtons.isEmpty()) box.setDefaultButton(pushButtons.front());
  ModalCursorScope cursor;
  box.exec();
  const auto clicked = pushButtons.indexOf(qobject_cast<QPushButton*>(box.clickedButton()));
  if (clicked >= 0) return buttons[clicked];
  return buttons.contains(Answer::Cancel) ? Answer::Cancel : buttons.back();
}

std::optional<QString> GetFileName(const FileDialogRequest& request) {
  if (responder != nullptr) return responder->FileName(request);
  QFileDialog dialog(QApplication::activeWindow());
  dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setOption(QFileDialog::DontConfirmOverwrite, true);
  dialog.setDefaultSuffix(request.defaultSuffix);
  dialog.setNameFilter(ToToolkitFilter(request.filter));
  if (ExecModal(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().front();
}

std::optional<QString> AskPassword(const QString& text) {
  const QString title = QStringLiteral("Password");
  if (responder != nullptr) return responder->Password(title, text);
  QInputDialog dialog(QApplication::activeWindow());
  dialog.setWindowTitle(title);
  dialog.setInputMode(QInputDialog::TextInput);
  dialog.setTextEchoMode(QLineEdit::Password);
  dialog.setLabelText(text + QStringLiteral("\n\nPassword:"));
  if (ExecModal(dialog) != QDialog::Accepted) return std::nullopt;
  const QString password = dialog.textValue();
  dialog.setTextValue(QString());  // the dialog's copy goes at once
  return password;
}

QString ToToolkitFilter(const QString& filter) {
  const QStringList parts = filter.split('|');
  QStringList out;
  for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
    const QString& label = parts[i];
    const QString pattern = QString(parts[i + 1]).replace(';', ' ');
    // The label usually shows the pattern already; the toolkit reads it from there.
    out.append(label.contains('(') ? label : QStringLiteral("%1 (%2)").arg(label, pattern));
  }
  return out.join(QStringLiteral(";;"));
}

void SetResponder(UiResponder* r) { responder = r; }

}  // namespace UiServices
