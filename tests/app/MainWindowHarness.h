#pragma once
// Runs the main window as if started from an executable of a given name in a
// scratch folder, with message boxes and file dialogs answered by a responder.

#include "RecordingResponder.h"
#include "TempDir.h"
#include "app/Branding.h"
#include "app/CellfeedMain.h"
#include "app/IniFile.h"
#include "app/RunContext.h"

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <functional>
#include <memory>

inline void ProcessEventsFor(int ms) {
  QDeadlineTimer deadline(ms);
  while (!deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

inline void Settle() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

// Closes the next modal window once it is open, after letting `inspect` look at it.
inline void WhenModalOpens(std::function<void(QWidget*)> inspect) {
  auto* poll = new QTimer;
  QObject::connect(poll, &QTimer::timeout, [poll, inspect] {
    QWidget* modal = QApplication::activeModalWidget();
    if (modal == nullptr) return;
    poll->stop();
    poll->deleteLater();
    inspect(modal);
    modal->close();
  });
  poll->start(10);
}

class MainWindowHarness {
 public:
  explicit MainWindowHarness(const QString& exeName = QStringLiteral("OrvaneCellfeedWizard"),
                             const QStringList& args = {})
      : exePath(tmp.Path(exeName)) {
    RunContext::OverrideForTesting(exePath, args);
  }
  ~MainWindowHarness() {
    window.reset();
    RunContext::OverrideForTesting({}, {});
  }

  QString SettingsPath() const { return tmp.Path(Branding::ForExecutable(exePath).settingsFileName); }
  IniFile Settings() const { return IniFile(SettingsPath()); }
  void WriteSettings(const QByteArray& text) const { tmp.Write(Branding::ForExecutable(exePath).settingsFileName, text); }

  // Creates and shows the window and lets its start-up run.
  TfrmMain& Start() {
    window = std::make_unique<TfrmMain>();
    window->show();
    Settle();
    return *window;
  }
  // Destroys the window, which runs the shutdown steps.
  void Stop() { window.reset(); }

  TempDir tmp;
  QString exePath;
  RecordingResponder ui;
  std::unique_ptr<TfrmMain> window;
};
