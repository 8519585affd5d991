#pragma once
// Runs the main window as if started from an executable of a given name in a
// scratch folder, with message boxes and file dialogs answered by a responder.

#include "EventPump.h"
#include "RecordingResponder.h"
#include "TempDir.h"
#include "settings/Branding.h"
#include "app/CellfeedMain.h"
#include "settings/IniFile.h"
#include "settings/RunContext.h"
#include "forms/fmSetup.h"
#include "tools/MachineSimulator.h"

#include <QAction>
#include <QApplication>
#include <QDeadlineTimer>
#include <QTimer>

#include <functional>
#include <map>
#include <memory>

inline void Settle() {
  for (int i = 0; i < 5; ++i) QCoreApplication::processEvents();
}

// Closes every setup dialog that opens while it lives (the first-run start-up
// opens one).
class SetupDialogCloser {
 public:
  SetupDialogCloser() {
    QObject::connect(&poll_, &QTimer::timeout, [] {
      if (auto* setup = qobject_cast<TfrmSetup*>(QApplication::activeModalWidget())) setup->reject();
    });
    poll_.start(10);
  }

 private:
  QTimer poll_;
};

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
    machine.reset();
    RunContext::OverrideForTesting({}, {});
  }

  QString SettingsPath() const { return tmp.Path(Branding::ForExecutable(exePath).settingsFileName); }
  IniFile Settings() const { return IniFile(SettingsPath()); }
  void WriteSettings(const QByteArray& text) const { tmp.Write(Branding::ForExecutable(exePath).settingsFileName, text); }

  // The machine, played on a pseudo-terminal mapped to `port`.
  machine_sim::MachineSimulator& AttachMachine(int port, machine_sim::SimulatorConfig config = {}) {
    config.baud = 0;
    machine = std::make_unique<machine_sim::MachineSimulator>(std::move(config));
    ports[port] = QString::fromStdString(machine->DevicePath());
    return *machine;
  }

  // Every port not attached to a machine names a device that does not exist,
  // so no test touches the serial ports of the machine it runs on.
  void MapPorts() {
    IniFile ini = Settings();
    for (int n = 1; n <= 24; ++n) {
      const QString device = ports.count(n) ? ports[n] : tmp.Path(QStringLiteral("no-such-device-%1").arg(n));
      ini.WriteString("Ports", QStringLiteral("COM%1").arg(n), device);
    }
  }

  // Creates and shows the window and lets its start-up run; a setup dialog
  // opened by a first run is cancelled.
  TfrmMain& Start() {
    MapPorts();
    SetupDialogCloser closer;
    window = std::make_unique<TfrmMain>();
    window->show();
    ProcessEventsFor(50);
    return *window;
  }
  // Destroys the window, which runs the shutdown steps.
  void Stop() { window.reset(); }

  TempDir tmp;
  QString exePath;
  RecordingResponder ui;
  std::map<int, QString> ports;
  std::unique_ptr<machine_sim::MachineSimulator> machine;
  std::unique_ptr<TfrmMain> window;
};
