#include "forms/fmCalibrate.h"

#include "settings/Branding.h"
#include "uikit/DesignFont.h"
#include "uikit/ErrorReporting.h"
#include "settings/RunContext.h"
#include "uikit/ScreenCursor.h"
#include "uikit/UiServices.h"
#include "serial/AdPort.h"

#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QThread>
#include <QTimer>

namespace {

QLabel* MakeLabel(QWidget* parent, const QString& name, const QString& text, QRect geometry, Qt::Alignment align,
                  int pixelSize = 0) {
  auto* label = new QLabel(text, parent);
  label->setObjectName(name);
  label->setGeometry(geometry);
  label->setAlignment(align);
  if (pixelSize > 0) label->setFont(DesignFont(pixelSize, true));
  return label;
}

struct SheetPrompt {
  const char* reply;
  const char* text;
  int number;
};

// Replies that are the whole content of one event; "B", "C" and "D" depend on
// the sheet count and are handled apart.
const SheetPrompt kPrompts[] = {
    {"A", "Please drop the first sheet through now.", 1},  {"a", "Please drop the first sheet through now.", 1},
    {"b", "Please drop the second sheet through now.", 2}, {"c", "Please drop the third sheet through now.", 3},
    {"d", "Please drop the fourth sheet through now.", 4}, {"e", "Please drop the fifth sheet through now.", 5},
};

const char* const kUpperSheetTexts[2][3] = {
    {"Please drop the sixth sheet through now.", "Please drop the seventh sheet through now.",
     "Please drop the eighth sheet through now."},
    {"Please drop the second sheet through now.", "Please drop the third sheet through now.",
     "Please drop the fourth sheet through now."},
};

}  // namespace

TfrmCalibrate::TfrmCalibrate(QWidget* owner) : QDialog(owner) {
  setObjectName(QStringLiteral("frmCalibrate"));
  setWindowTitle(QStringLiteral("Calibrate Orvane Machine"));
  setFixedSize(323, 174);
  setFont(DesignFont());

  // Three lines fit where the designed face needed two: the fallback face is wider.
  lblInst = MakeLabel(this, QStringLiteral("lblInst"), {}, {24, 12, 273, 46}, Qt::AlignHCenter | Qt::AlignTop);
  lblInst->setWordWrap(true);
  // The prompt wraps: the completion text's second line is wider than the label
  // in the fallback face, and would be cut at both ends. Its third line takes
  // the room down to the sheet number.
  lblText = MakeLabel(this, QStringLiteral("lblText"), QStringLiteral("Starting Calibration."), {34, 62, 249, 42},
                      Qt::AlignHCenter | Qt::AlignTop);
  lblText->setWordWrap(true);
  lblNumber = MakeLabel(this, QStringLiteral("lblNumber"), QStringLiteral("1"), {90, 104, 61, 16},
                        Qt::AlignRight | Qt::AlignTop, 13);
  lblTtl = MakeLabel(this, QStringLiteral("lblTtl"), QStringLiteral("of 8"), {154, 104, 41, 16},
                     Qt::AlignLeft | Qt::AlignTop, 13);

  btnStore = new QPushButton(QStringLiteral("&Store Results"), this);
  btnStore->setObjectName(QStringLiteral("btnStore"));
  btnStore->setGeometry(50, 136, 105, 25);
  btnStore->setIcon(style()->standardIcon(QStyle::SP_DialogSaveButton));
  btnStore->setDefault(true);
  connect(btnStore, &QPushButton::clicked, this, [this] { Guarded([this] { btnStoreClick(); }); });
  btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));
  btnCancel->setGeometry(194, 136, 75, 25);
  btnCancel->setIcon(style()->standardIcon(QStyle::SP_DialogCancelButton));
  connect(btnCancel, &QPushButton::clicked, this, [this] { Guarded([this] { btnCancelClick(); }); });

  Timer1 = new QTimer(this);
  Timer1->setObjectName(QStringLiteral("Timer1"));
  Timer1->setInterval(kReplyTimeoutMilliseconds);
  connect(Timer1, &QTimer::timeout, this, [this] { Guarded([this] { Timer1Timer(); }); });
}

TfrmCalibrate::~TfrmCalibrate() {
  if (ComPort != nullptr) ComPort->SetOnTriggerAvail(nullptr);
}

void TfrmCalibrate::ApplyBranding() {
  BrandName = QStringLiteral("Orvane");
  if (IsBrandedExecutableName(RunContext::ExecutablePath())) return;
  BrandName = QStringLiteral("Data Collection");
  setWindowTitle(QStringLiteral("Calibrate Data Machine"));
}

void TfrmCalibrate::ConfigureSheetCount(double version) {
  ApplyBranding();
  FirmwareVersion = version;
  FourSheetMode = version > 0.0 && version <= 3.1;
  if (FourSheetMode) lblTtl->setText(QStringLiteral("of 4"));
  lblInst->setText(QStringLiteral("To calibrate your ") + BrandName +
                   QStringLiteral(" machine you will need  to drop %1 blank test sheets through your machine.  ")
                       .arg(FourSheetMode ? 4 : 8));
}

void TfrmCalibrate::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  if (shown_) return;
  shown_ = true;
  CentreOnScreen(*this);
  Guarded([this] { FormShow(); });
  // Becoming the active window follows the first showing.
  QTimer::singleShot(0, this, [this] { Guarded([this] { FormActivate(); }); });
}

void TfrmCalibrate::keyPressEvent(QKeyEvent* event) {
  // Esc is the Cancel button, which asks the machine first instead of closing.
  if (event->key() == Qt::Key_Escape) {
    btnCancel->click();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TfrmCalibrate::FormShow() {
  ApplyBranding();
  ComPort->SetOnTriggerAvail(
      [this](TApdCustomComPort& port, uint16_t count) { ApdComPort1TriggerAvail(port, count); });
  btnStore->setEnabled(false);
}

void TfrmCalibrate::FormActivate() {
  CancelRequested = false;
  StoreRequested = false;
  Send("@");
}

void TfrmCalibrate::Send(const char* command) {
  ComPort->WriteString(command);
  // A machine that stops answering a command ends the calibration after 30 s.
  if (!Finished) Timer1->start();
}

void TfrmCalibrate::btnCancelClick() {
  CancelRequested = true;
  Send("@");
}

void TfrmCalibrate::btnStoreClick() {
  ScreenCursor::Set(Qt::WaitCursor);
  Send("@");
}

void TfrmCalibrate::Timer1Timer() {
  Timer1->stop();
  if (CancelRequested) {
    // Cancel was already asked for and the machine is still silent.
    CloseDialog();
    return;
  }
  UiServices::ShowMessage(MessageKind::Information, QStringLiteral("Timed out.  Calibration will be cancelled."));
  FormActivate();
  btnCancelClick();
}

void TfrmCalibrate::ApdComPort1TriggerAvail(TApdCustomComPort& /*CP*/, uint16_t Count) {
  QByteArray reply;
  for (uint16_t i = 0; i < Count; ++i) reply.append(static_cast<char>(ComPort->ReadChar()));
  HandleReply(reply);
}

void TfrmCalibrate::HandleReply(const QByteArray& reply) {
  if (reply.isEmpty()) return;
  const char first = reply.front();
  if (first == 'K') return Acknowledged();
  for (const SheetPrompt& p : kPrompts) {
    if (reply == p.reply) return Prompt(QString::fromLatin1(p.text), p.number);
  }
  if (reply == "B" || reply == "C" || reply == "D") {
    const int index = reply.front() - 'B';
    return Prompt(QString::fromLatin1(kUpperSheetTexts[FourSheetMode ? 1 : 0][index]), (FourSheetMode ? 2 : 6) + index);
  }
  if (reply == "E") return CalibrationComplete();
  switch (first) {
    case 'G':
    case 'g': return Finish(QStringLiteral("Calibration data stored successfully!"), true);
    case 'F':
    case 'f': return StoreFailed();
    case 'T':
    case 't': return Finish(QStringLiteral("Timed out starting the calibration.  Try again."), false);
    default: break;  // anything else is ignored
  }
}

void TfrmCalibrate::Acknowledged() {
  if (Finished) return;
  if (CancelRequested) return CloseDialog();
  Timer1->stop();
  Send(StoreRequested ? "s" : "c");
}

void TfrmCalibrate::Prompt(const QString& text, int number) {
  Timer1->stop();
  lblText->setText(text);
  lblNumber->setText(QString::number(number));
}

void TfrmCalibrate::CalibrationComplete() {
  Timer1->stop();
  lblText->setText(QStringLiteral("Calibration complete.\r\nClick \"Store Results\" to save the calibration data."));
  StoreRequested = true;
  ScreenCursor::Set(Qt::WaitCursor);
  // The machine needs this pause before it takes the store request; the window
  // does not react meanwhile.
  QThread::msleep(kStorePauseMilliseconds);
  btnStore->setEnabled(true);
  btnStore->click();
}

void TfrmCalibrate::Finish(const QString& message, bool success) {
  Timer1->stop();
  Finished = true;
  if (success) ScreenCursor::Set(Qt::ArrowCursor);
  UiServices::ShowMessage(MessageKind::Information, message);
  FormActivate();  // the dialog is active again once the box has gone
  CloseDialog();
}

void TfrmCalibrate::StoreFailed() {
  Timer1->stop();
  UiServices::ShowMessage(MessageKind::Error,
                          QStringLiteral("Error, calibration data failed to store.  Machine MUST be re-calibrated."));
  FormActivate();
  btnCancelClick();
}

void TfrmCalibrate::CloseDialog() {
  Finished = true;
  Timer1->stop();
  done(QDialog::Rejected);
}
