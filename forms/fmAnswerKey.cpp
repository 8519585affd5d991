#include "forms/fmAnswerKey.h"

#include "uikit/DesignFont.h"
#include "uikit/UiServices.h"

#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace {

constexpr int kLastColumn = 256;  // a worksheet's columns

QSpinBox* MakeColumnBox(QWidget* parent, const QString& name, const QString& accessibleName) {
  auto* box = new QSpinBox(parent);
  box->setObjectName(name);
  box->setRange(0, kLastColumn);
  box->setSpecialValueText(QStringLiteral("0 (none)"));
  box->setAccessibleName(accessibleName);
  return box;
}

}  // namespace

TfrmAnswerKey::TfrmAnswerKey(QWidget* owner, AnswerKeySource& source) : QDialog(owner), source_(source) {
  setObjectName(QStringLiteral("frmAnswerKey"));
  setWindowTitle(QStringLiteral("Answer Key"));
  setModal(true);
  setFont(DesignFont());

  lblKey = new QLabel(this);
  lblKey->setObjectName(QStringLiteral("lblKey"));
  lblPrompt = new QLabel(this);
  lblPrompt->setObjectName(QStringLiteral("lblPrompt"));
  lblPrompt->setWordWrap(true);
  seIdFrom = MakeColumnBox(this, QStringLiteral("seIdFrom"), QStringLiteral("Student ID from column"));
  seIdTo = MakeColumnBox(this, QStringLiteral("seIdTo"), QStringLiteral("to column"));
  btnScanKey = new QPushButton(QStringLiteral("Scan Key Sheet"), this);
  btnScanKey->setObjectName(QStringLiteral("btnScanKey"));
  btnOK = new QPushButton(QStringLiteral("OK"), this);
  btnOK->setObjectName(QStringLiteral("btnOK"));
  btnOK->setDefault(true);
  btnCancel = new QPushButton(QStringLiteral("Cancel"), this);
  btnCancel->setObjectName(QStringLiteral("btnCancel"));

  auto* columns = new QFormLayout;
  columns->addRow(QStringLiteral("Student ID from column"), seIdFrom);
  columns->addRow(QStringLiteral("to column"), seIdTo);
  auto* buttons = new QHBoxLayout;
  buttons->addWidget(btnScanKey);
  buttons->addStretch();
  buttons->addWidget(btnOK);
  buttons->addWidget(btnCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblKey);
  layout->addLayout(columns);
  layout->addWidget(lblPrompt);
  layout->addLayout(buttons);

  connect(btnScanKey, &QPushButton::clicked, this, &TfrmAnswerKey::btnScanKeyClick);
  connect(btnOK, &QPushButton::clicked, this, &TfrmAnswerKey::accept);
  connect(btnCancel, &QPushButton::clicked, this, &TfrmAnswerKey::reject);
  connect(seIdFrom, &QSpinBox::valueChanged, this, &TfrmAnswerKey::ShowKey);
  connect(seIdTo, &QSpinBox::valueChanged, this, &TfrmAnswerKey::ShowKey);

  if (const std::optional<AnswerKey> held = source_.WorkbookKey()) {
    values_ = held->Values();
    mode_ = held->Mode();
    seIdFrom->setValue(held->IdFrom());
    seIdTo->setValue(held->IdTo());
  }
  ShowKey();
}

TfrmAnswerKey::~TfrmAnswerKey() {
  if (waiting_) source_.StopWaitingForKey();
}

std::optional<AnswerKey> TfrmAnswerKey::Key() const {
  if (!values_) return std::nullopt;
  return AnswerKey(*values_, seIdFrom->value(), seIdTo->value(), mode_);
}

void TfrmAnswerKey::ShowKey() {
  const std::optional<AnswerKey> key = Key();
  lblKey->setText(key ? DescribeKey(*key) : QStringLiteral("No answer key yet."));
}

void TfrmAnswerKey::btnScanKeyClick() {
  lblPrompt->setText(QStringLiteral("Drop the answer key sheet through the machine."));
  waiting_ = true;
  // The sheet may come after the dialog has gone: the guard drops it then.
  const QPointer<TfrmAnswerKey> self(this);
  source_.ScanKeySheet([self](const QStringList& values, MarkMode mode) {
    if (self) self->KeyScanned(values, mode);
  });
}

void TfrmAnswerKey::KeyScanned(const QStringList& values, MarkMode mode) {
  waiting_ = false;
  values_ = values;
  mode_ = mode;
  lblPrompt->setText(QStringLiteral("The key sheet has been read."));
  ShowKey();
}

void TfrmAnswerKey::accept() {
  if (const std::optional<AnswerKey> key = Key()) {
    try {
      source_.ApplyKey(*key);
    } catch (const std::exception& error) {
      UiServices::ShowMessage(MessageKind::Error, QString::fromUtf8(error.what()));
      return;
    }
  }
  if (waiting_) source_.StopWaitingForKey();
  waiting_ = false;
  QDialog::accept();
}
