#pragma once
// The setup dialog: tells the application which serial port the machine is on,
// by picking one of COM1..COM24 or by letting the dialog find the machine
// (autodetection probes each port in turn and waits 4000 ms for an answer). Its
// Calibrate button asks the machine for its firmware version and opens the
// calibration dialog with it. It borrows the main window's port component and
// takes over its data-available handler while shown.

#include <QByteArray>
#include <QDialog>

#include <cstdint>

class QComboBox;
class QGroupBox;
class QLabel;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class TApdComPort;
class TApdCustomComPort;
class TfrmCalibrate;

class TfrmSetup : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kPortCount = 24;
  static constexpr int kProbeMilliseconds = 4000;

  explicit TfrmSetup(QWidget* owner);
  ~TfrmSetup() override;  // FormDestroy

  QGroupBox* GroupBox1;
  QComboBox* cbComPort;
  QPushButton* btnAutodetect;
  QLabel* lblCheck;
  QPushButton* btnCalibrate;
  QPushButton* btnOK;
  QPushButton* btnCancel;
  QPlainTextEdit* memTrace;
  QTimer* Timer1;

  TApdComPort* ComPort = nullptr;         // the main window's; not owned
  TfrmCalibrate* frmCalibrate = nullptr;  // while the calibration dialog is shown

  // n = 0 or above 24 selects no entry.
  void SetPortNumber(int n);
  // The selected list position + 1, or 0 when none is selected.
  int GetPortNumber() const;

  void FormShow();
  void cbComPortChange();
  void btnAutodetectClick();
  void btnCalibrateClick();
  void Timer1Timer();
  void ApdComPort1TriggerAvail(TApdCustomComPort& CP, uint16_t Count);

  // The number between "Version " and "(C)" in the machine's version reply; 0
  // when there is none or it cannot be read.
  static double ParseFirmwareVersion(const QString& text);

  // For tests.
  bool MachineWasFound() const { return MachineFound; }
  const QByteArray& Reply() const { return ReplyBuffer; }

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ApplyBranding();
  void UpdateButtons();
  void ProbeNextPort();
  void Send(const char* command);
  void InstallHandler();
  void ReportMachineFound();
  void RunCalibration();

  QString BrandName;
  int PortNumber = 0;
  bool MachineFound = false;
  bool CalibrateRequested = false;
  // After a calibration the machine still answers the calibration dialog's
  // last "@"; such answers are not this dialog's and are ignored until it
  // sends a probe of its own.
  bool IgnoreStrayAcknowledgements = false;
  QByteArray ReplyBuffer;
  bool shown_ = false;
};
