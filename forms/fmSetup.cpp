#include "forms/fmSetup.h"

#include "settings/Branding.h"
#include "uikit/DesignFont.h"
#include "settings/CommandLine.h"
#include "uikit/ErrorReporting.h"
#include "settings/RunContext.h"
#include "uikit/ScreenCursor.h"
#include "uikit/UiServices.h"
#include "forms/fmCalibrate.h"
#include "serial/AdPort.h"

#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QLocale>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStyle>
#include <QTimer>

#include <memory>

namespace {

QPushButton* MakeButton(QWidget* parent, const QString& name, const QString& caption, QRect geometry) {
  auto* button = new QPushButton(caption, parent);
  button->setObjectName(name);
  button->setGeometry(geometry);
  return button;
}

bool IsAcknowledgement(const QByteArray& reply) { return reply.startsWith('K') || reply.contains("{\r\n"); }

}  // namespace

TfrmSetup::TfrmSetup(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("frmSetup"));
  setWindowTitle(QStringLiteral("Orvane Setup"));
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  setFixedSize(255, 178);
  setFont(DesignFont());

  GroupBox1 = new QGroupBox(QStringLiteral(" COM Port "), this);
  GroupBox1->setObjectName(QStringLiteral("GroupBox1"));
  GroupBox1->setGeometry(8, 8, 129, 121);

  cbComPort = new QComboBox(GroupBox1);
  cbComPort->setObjectName(QStringLiteral("cbComPort"));
  cbComPort->setGeometry(8, 24, 113, cbComPort->sizeHint().height());
  for (int i = 1; i <= kPortCount; ++i) cbComPort->addItem(QStringLiteral("Port %1").arg(i));
  cbComPort->setCurrentIndex(-1);
  // Only the user's pick runs the change handler, not a selection made in code.
  connect(cbComPort, &QComboBox::activated, this, [this] { Guarded([this] { cbComPortChange(); }); });

  btnAutodetect = MakeButton(GroupBox1, QStringLiteral("btnAutodetect"), QStringLiteral("&Autodetect Port"), {8, 60, 113, 25});
  btnAutodetect->setIcon(style()->standardIcon(QStyle::SP_BrowserReload));
  connect(btnAutodetect, &QPushButton::clicked, this, [this] { Guarded([this] { btnAutodetectClick(); }); });

  lblCheck = new QLabel(QStringLiteral("Checking Port 1"), GroupBox1);
  lblCheck->setObjectName(QStringLiteral("lblCheck"));
  lblCheck->move(24, 96);
  lblCheck->setFixedWidth(97);
  QPalette navy = lblCheck->palette();
  navy.setColor(QPalette::WindowText, QColor(0, 0, 128));
  lblCheck->setPalette(navy);
  lblCheck->hide();

  btnCalibrate = MakeButton(this, QStringLiteral("btnCalibrate"), QStringLiteral("&Calibrate Orvane Machine"), {9, 145, 150, 25});
  connect(btnCalibrate, &QPushButton::clicked, this, [this] { Guarded([this] { btnCalibrateClick(); }); });
  btnOK = MakeButton(this, QStringLiteral("btnOK"), QStringLiteral("OK"), {152, 16, 91, 25});
  btnOK->setIcon(style()->standardIcon(QStyle::SP_DialogOkButton));
  btnOK->setDefault(true);
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
  btnCancel = MakeButton(this, QStringLiteral("btnCancel"), QStringLiteral("Cancel"), {152, 56, 91, 25});
  btnCancel->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

  memTrace = new QPlainTextEdit(QStringLiteral("memTrace"), this);
  memTrace->setObjectName(QStringLiteral("memTrace"));
  memTrace->setGeometry(144, 88, 105, 89);
  memTrace->setLineWrapMode(QPlainTextEdit::NoWrap);
  memTrace->hide();

  setTabOrder(cbComPort, btnAutodetect);
  setTabOrder(btnAutodetect, btnCalibrate);
  setTabOrder(btnCalibrate, btnOK);
  setTabOrder(btnOK, btnCancel);
  setTabOrder(btnCancel, memTrace);

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(kProbeMilliseconds);
  connect(Timer1, &QTimer::timeout, this, [this] { Guarded([this] { Timer1Timer(); }); });
}

TfrmSetup::~TfrmSetup() {
  if (ComPort != nullptr) ComPort->SetOnTriggerAvail(nullptr);
}

void TfrmSetup::SetPortNumber(int n) {
  cbComPort->setCurrentIndex(n >= 1 && n <= kPortCount ? n - 1 : -1);
  PortNumber = n;
}

int TfrmSetup::GetPortNumber() const { return cbComPort->currentIndex() + 1; }

void TfrmSetup::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (shown_) return;
  shown_ = true;
  CentreOnScreen(*this);
  // The probe may raise a port error; it is shown and the dialog stays open.
  QTimer::singleShot(0, this, [this] { Guarded([this] { FormShow(); }); });
}

void TfrmSetup::ApplyBranding() {
  BrandName = QStringLiteral("Orvane");
  if (IsBrandedExecutableName(RunContext::ExecutablePath())) return;
  BrandName = QStringLiteral("Data Collection");
  btnCalibrate->setText(QStringLiteral("&Calibrate Data Machine"));
  setWindowTitle(QStringLiteral("Data Machine Setup"));
}

void TfrmSetup::InstallHandler() {
  ComPort->SetOnTriggerAvail(
      [this](TApdCustomComPort& port, uint16_t count) { ApdComPort1TriggerAvail(port, count); });
}

void TfrmSetup::FormShow() {
  ApplyBranding();
  if (ExactTraceArgument(RunContext::FirstArgument())) memTrace->show();
  btnOK->setEnabled(false);
  btnCalibrate->setEnabled(false);
  CalibrateRequested = false;
  InstallHandler();
  ComPort->SetComNumber(static_cast<uint16_t>(PortNumber));
  if (ComPort->ComNumber() != 0) Send("@");
  else btnAutodetectClick();
}

void TfrmSetup::Send(const char* command) {
  IgnoreStrayAcknowledgements = false;
  ComPort->WriteString(command);
}

void TfrmSetup::UpdateButtons() {
  const bool selected = cbComPort->currentIndex() >= 0;
  btnOK->setEnabled(selected);
  btnCalibrate->setEnabled(selected);
}

void TfrmSetup::cbComPortChange() {
  PortNumber = cbComPort->currentIndex() + 1;
  ComPort->SetComNumber(static_cast<uint16_t>(PortNumber));
  UpdateButtons();
  Send("@");
}

void TfrmSetup::btnAutodetectClick() {
  ScreenCursor::Set(Qt::WaitCursor);
  PortNumber = 0;
  MachineFound = false;
  lblCheck->show();
  ProbeNextPort();
}

void TfrmSetup::ProbeNextPort() {
  if (MachineFound) return;
  bool probeSent = false;
  while (!probeSent && PortNumber < kPortCount) {
    ++PortNumber;
    lblCheck->setText(QStringLiteral("Checking Port %1").arg(PortNumber));
    lblCheck->repaint();  // several ports may pass before the window repaints
    try {
      ComPort->SetComNumber(static_cast<uint16_t>(PortNumber));
      Send("@");
      probeSent = true;
    } catch (const std::exception&) {
      // A port that does not exist, is in use or cannot be opened costs nothing.
    }
  }
  if (!Timer1->isActive()) Timer1->start();  // a running period is not restarted
}

void TfrmSetup::Timer1Timer() {
  Timer1->stop();
  if (PortNumber >= kPortCount || MachineFound) {
    ScreenCursor::Set(Qt::ArrowCursor);
    lblCheck->hide();
    UiServices::ShowMessage(MessageKind::Error, QStringLiteral("Error!  Could not detect ") + BrandName +
                                                    QStringLiteral(" machine.\r\nCheck all cable and driver installations."));
    return;
  }
  ProbeNextPort();
}

void TfrmSetup::btnCalibrateClick() {
  CalibrateRequested = true;
  Send("@");
}

void TfrmSetup::ApdComPort1TriggerAvail(TApdCustomComPort& /*CP*/, uint16_t Count) {
  for (uint16_t i = 0; i < Count; ++i) ReplyBuffer.append(static_cast<char>(ComPort->ReadChar()));
  if (!memTrace->isHidden()) memTrace->appendPlainText(QStringLiteral("*****\r\n") + QString::fromLatin1(ReplyBuffer));

  if (IsAcknowledgement(ReplyBuffer)) {
    Timer1->stop();
    if (IgnoreStrayAcknowledgements) {
      // the answer to the calibration dialog's last "@": not a probe of ours
    } else if (CalibrateRequested) {
      Send("v");
    } else {
      ReportMachineFound();
    }
    ReplyBuffer.clear();
  } else if (ReplyBuffer.contains(".\r\n")) {
    RunCalibration();
    ReplyBuffer.clear();
  } else if (ReplyBuffer.startsWith('T') || ReplyBuffer.startsWith('@') || ReplyBuffer.startsWith('Y')) {
    ReplyBuffer.clear();
  }
}

void TfrmSetup::ReportMachineFound() {
  ScreenCursor::Set(Qt::ArrowCursor);
  cbComPort->setCurrentIndex(PortNumber >= 1 && PortNumber <= kPortCount ? PortNumber - 1 : -1);
  MachineFound = true;
  UiServices::ShowMessage(MessageKind::Information,
                          BrandName + QStringLiteral(" machine found on COM port %1.").arg(PortNumber));
  ComPort->SetComNumber(static_cast<uint16_t>(PortNumber));
  lblCheck->hide();
  btnOK->setEnabled(true);
  btnCalibrate->setEnabled(true);
}

void TfrmSetup::RunCalibration() {
  // The calibration is one request: a finished calibration stays finished.
  CalibrateRequested = false;
  ComPort->SetOnTriggerAvail(nullptr);
  const auto restore = qScopeGuard([this] {
    frmCalibrate = nullptr;
    IgnoreStrayAcknowledgements = true;
    InstallHandler();
  });
  auto calibrate = std::make_unique<TfrmCalibrate>(this);
  frmCalibrate = calibrate.get();
  calibrate->ComPort = ComPort;
  calibrate->ConfigureSheetCount(ParseFirmwareVersion(QString::fromLatin1(ReplyBuffer)));
  ExecModal(*calibrate);
}

double TfrmSetup::ParseFirmwareVersion(const QString& text) {
  const qsizetype p = text.indexOf(QLatin1String("Version"));
  const QString rest = p >= 0 ? text.mid(p + 8) : text;
  const qsizetype q = rest.indexOf(QLatin1String("(C)"));
  const QString number = q > 0 ? rest.left(q).trimmed() : QString();
  static const QRegularExpression kNumber(QStringLiteral("^[+-]?(\\d+([.,]\\d*)?|[.,]\\d+)([eE][+-]?\\d+)?$"));
  if (!kNumber.match(number).hasMatch()) return 0.0;
  // The machine writes a point; a comma is the decimal separator of many locales.
  bool ok = false;
  const double value = QLocale::c().toDouble(QString(number).replace(',', '.'), &ok);
  return ok ? value : 0.0;
}
