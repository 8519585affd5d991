#pragma once
// The setup and calibration dialogs with a real port component whose port
// numbers map to simulated machines (pseudo-terminals) or to missing devices.

#include "EventPump.h"
#include "RecordingResponder.h"
#include "settings/IniFile.h"
#include "settings/RunContext.h"
#include "uikit/ScreenCursor.h"
#include "serial/AdPort.h"
#include "serial/PortMap.h"
#include "tools/MachineSimulator.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QTemporaryDir>

#include <functional>
#include <map>
#include <memory>

class DialogHarness {
 public:
  explicit DialogHarness(const QString& exeName = QStringLiteral("OrvaneCellfeedWizard"), const QStringList& args = {}) {
    RunContext::OverrideForTesting(dir_.filePath(exeName), args);
    settings_ = dir_.filePath(QStringLiteral("ports.ini"));
    MapPorts();
  }
  ~DialogHarness() {
    port.reset();
    machines.clear();
    SetPortMapSettingsFile({});
    RunContext::OverrideForTesting({}, {});
    ScreenCursor::Set(Qt::ArrowCursor);
  }

  // A simulated machine on port n.
  machine_sim::MachineSimulator& Attach(int n, machine_sim::SimulatorConfig config = {}) {
    config.baud = 0;
    auto& m = machines[n];
    m = std::make_unique<machine_sim::MachineSimulator>(std::move(config));
    devices_[n] = QString::fromStdString(m->DevicePath());
    MapPorts();
    return *m;
  }
  machine_sim::MachineSimulator& Machine(int n) { return *machines.at(n); }

  // The text the machine on port n has received from the application.
  std::string Received(int n) { return machines.at(n)->Status().received; }

  RecordingResponder ui;
  std::map<int, std::unique_ptr<machine_sim::MachineSimulator>> machines;
  std::unique_ptr<TApdComPort> port = std::make_unique<TApdComPort>();

 private:
  // Ports without a machine name a device that does not exist.
  void MapPorts() {
    IniFile ini(settings_);
    for (int n = 1; n <= 24; ++n) {
      const auto it = devices_.find(n);
      ini.WriteString("Ports", QStringLiteral("COM%1").arg(n),
                      it != devices_.end() ? it->second : dir_.filePath(QStringLiteral("missing-%1").arg(n)));
    }
    SetPortMapSettingsFile(settings_);
  }

  QTemporaryDir dir_;
  QString settings_;
  std::map<int, QString> devices_;
};
