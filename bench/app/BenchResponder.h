#pragma once
// Answers the application's message boxes and file dialogs during a benchmark
// run, as an operator who keeps scanning would: every box is noted and closed
// with OK, a file dialog takes the next prepared name, and a question about
// unsaved changes at the end is answered "Don't Save" (the run's own
// workbook is read before then).

#include "uikit/UiServices.h"

#include <QStringList>

#include <deque>
#include <optional>

namespace scan_bench {

class BenchResponder : public UiResponder {
 public:
  BenchResponder() { UiServices::SetResponder(this); }
  ~BenchResponder() override { UiServices::SetResponder(nullptr); }
  BenchResponder(const BenchResponder&) = delete;
  BenchResponder& operator=(const BenchResponder&) = delete;

  void Message(MessageKind /*kind*/, const QString& title, const QString& text) override {
    messages << title + QStringLiteral(": ") + text;
  }
  Answer Question(const QString& /*title*/, const QString& text, const QList<Answer>& buttons) override {
    questions << text;
    return buttons.contains(Answer::DontSave) ? Answer::DontSave : buttons.front();
  }
  std::optional<QString> FileName(const FileDialogRequest& /*request*/) override {
    if (fileNames.empty()) return std::nullopt;  // the operator cancels
    const QString name = fileNames.front();
    fileNames.pop_front();
    return name;
  }

  QStringList messages;
  QStringList questions;
  std::deque<QString> fileNames;
};

}  // namespace scan_bench
