#pragma once
// Every message box and file dialog of the application goes through here, so
// that tests can see and answer them. Without a responder real windows are
// shown, each under the modal cursor rule (ScreenCursor.h).

#include <QList>
#include <QString>

#include <optional>

class QWidget;

enum class MessageKind {
  Information,  // title "Information", information icon
  Error,        // title "Error", error icon
  Plain,        // the application title, no icon
  Exception,    // the standard error box: the application title, error icon
};

enum class Answer { Ok, Save, DontSave, Cancel };

struct FileDialogRequest {
  bool save = false;
  QString defaultSuffix;  // "xls"
  QString filter;         // in the "label|pattern|label|pattern" form
};

class UiResponder {
 public:
  virtual ~UiResponder() = default;
  virtual void Message(MessageKind kind, const QString& title, const QString& text) = 0;
  virtual Answer Question(const QString& title, const QString& text, const QList<Answer>& buttons) = 0;
  virtual std::optional<QString> FileName(const FileDialogRequest& request) = 0;
  // A password box; nullopt is Cancel, which is all a responder that knows
  // no passwords can answer.
  virtual std::optional<QString> Password(const QString& /*title*/, const QString& /*text*/) { return std::nullopt; }
};

namespace UiServices {

QString TitleFor(MessageKind kind);

// One OK button.
void ShowMessage(MessageKind kind, const QString& text);
// A question box under the application title; the first button is the default.
Answer AskQuestion(const QString& text, const QList<Answer>& buttons);
// Neither dialog checks that the file exists nor asks before overwriting.
std::optional<QString> GetFileName(const FileDialogRequest& request);
// A box titled "Password" with the text, a field that hides what is typed,
// OK and Cancel; nullopt when cancelled.
std::optional<QString> AskPassword(const QString& text);

// The filter "label|pattern|..." as the toolkit writes it ("label (pattern);;...").
QString ToToolkitFilter(const QString& filter);

// nullptr shows real windows again.
void SetResponder(UiResponder* responder);

}  // namespace UiServices
