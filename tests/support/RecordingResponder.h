#pragma once
// Stands in for every message box and file dialog while installed: records what
// the application showed and answers from queues the test fills.

#include "uikit/UiServices.h"

#include <QList>
#include <QStringList>

#include <deque>
#include <functional>
#include <optional>

struct ShownMessage {
  MessageKind kind;
  QString title;
  QString text;
};

class RecordingResponder : public UiResponder {
 public:
  RecordingResponder() { UiServices::SetResponder(this); }
  ~RecordingResponder() override { UiServices::SetResponder(nullptr); }

  void Message(MessageKind kind, const QString& title, const QString& text) override {
    messages.push_back({kind, title, text});
    if (onMessage) onMessage(messages.back());
  }
  Answer Question(const QString& title, const QString& text, const QList<Answer>& buttons) override {
    questions.push_back({MessageKind::Plain, title, text});
    if (answers.empty()) return buttons.front();
    const Answer a = answers.front();
    answers.pop_front();
    return a;
  }
  std::optional<QString> FileName(const FileDialogRequest& request) override {
    fileRequests.push_back(request);
    std::optional<QString> answer;
    if (!fileNames.empty()) {
      answer.swap(fileNames.front());
      fileNames.pop_front();
    }
    return answer;
  }

  std::optional<QString> Password(const QString& title, const QString& text) override {
    passwordRequests.push_back({MessageKind::Plain, title, text});
    std::optional<QString> answer;
    if (!passwords.empty()) {
      answer.swap(passwords.front());
      passwords.pop_front();
    }
    return answer;
  }

  QStringList Texts() const {
    QStringList out;
    for (const auto& m : messages) out << m.text;
    return out;
  }

  std::vector<ShownMessage> messages;
  std::vector<ShownMessage> questions;
  std::vector<FileDialogRequest> fileRequests;
  std::deque<Answer> answers;
  std::deque<std::optional<QString>> fileNames;  // nullopt = the user cancels
  std::vector<ShownMessage> passwordRequests;
  std::deque<std::optional<QString>> passwords;  // nullopt (or none left) = the user cancels
  std::function<void(const ShownMessage&)> onMessage;  // runs while the "box" is open
};
