#pragma once
// The calibration dialog: tells the machine to start calibrating, prompts the
// user to drop blank test sheets one at a time as the machine reports each,
// then has the machine store the results and reports whether that worked.
// Machines with firmware up to 3.1 take four sheets, all others eight.

#include <QDialog>

#include <cstdint>

class QLabel;
class QPushButton;
class QTimer;
class TApdComPort;
class TApdCustomComPort;

class TfrmCalibrate : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kStorePauseMilliseconds = 5000;
  static constexpr int kReplyTimeoutMilliseconds = 30000;

  explicit TfrmCalibrate(QWidget* owner);
  ~TfrmCalibrate() override;  // FormDestroy

  QLabel* lblInst;
  QLabel* lblText;
  QLabel* lblNumber;
  QLabel* lblTtl;
  QPushButton* btnStore;
  QPushButton* btnCancel;
  QTimer* Timer1;

  TApdComPort* ComPort = nullptr;  // the main window's; not owned

  void ConfigureSheetCount(double version);

  void FormShow();
  void FormActivate();
  void ApdComPort1TriggerAvail(TApdCustomComPort& CP, uint16_t Count);
  void btnStoreClick();
  void btnCancelClick();
  void Timer1Timer();

  bool IsFourSheetMode() const { return FourSheetMode; }
  bool IsCancelRequested() const { return CancelRequested; }

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void ApplyBranding();
  void Send(const char* command);
  void Prompt(const QString& text, int number);
  void HandleReply(const QByteArray& reply);
  void Acknowledged();
  void CalibrationComplete();
  void Finish(const QString& message, bool success);
  void StoreFailed();
  void CloseDialog();

  QString BrandName;
  bool CancelRequested = false;
  bool StoreRequested = false;
  bool FourSheetMode = false;
  double FirmwareVersion = 0.0;
  // Set once the procedure has ended: an acknowledgement that arrives late
  // must not start a new calibration ("c") on the machine.
  bool Finished = false;
  bool shown_ = false;
};
