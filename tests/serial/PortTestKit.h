// Helpers for the port component's tests: a QApplication for the whole
// test program, a scratch working folder (the trace and log files are
// relative names), ports mapped to pseudo-terminals, and a responder that
// records message boxes.
#pragma once

#include <QApplication>
#include <QTemporaryDir>

#include <functional>
#include <string>
#include <vector>

#include "PtyPair.h"
#include "uikit/UiServices.h"
#include "serial/AdPort.h"

// Runs the event loop until pred() holds or the time is up.
bool PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout);
// Runs the event loop for a while.
void PumpFor(std::chrono::milliseconds time);

// A scratch folder as the working folder, and a settings file in it that
// maps COM numbers to device paths; both undone at the end.
class PortScratch {
 public:
  PortScratch();
  ~PortScratch();
  void Map(int comNumber, const std::string& path);
  std::string Path(const std::string& name) const;
  std::string ReadFile(const std::string& name) const;
  bool Exists(const std::string& name) const;

 private:
  void WriteSettings();
  QTemporaryDir dir_;
  QString oldCwd_;
  std::vector<std::pair<int, std::string>> map_;
};

// Records every message box and answers it.
class RecordingResponder : public UiResponder {
 public:
  RecordingResponder() { UiServices::SetResponder(this); }
  ~RecordingResponder() override { UiServices::SetResponder(nullptr); }
  void Message(MessageKind kind, const QString& title, const QString& text) override;
  Answer Question(const QString&, const QString&, const QList<Answer>&) override { return Answer::Ok; }
  std::optional<QString> FileName(const FileDialogRequest&) override { return std::nullopt; }

  struct Box {
    MessageKind kind;
    QString text;
  };
  std::vector<Box> boxes;
};

// Reads exactly Count bytes per notification into `received`.
struct ReadingHandler {
  std::string received;
  std::vector<uint16_t> counts;
  void Install(TApdCustomComPort& port);
};
