#include "serial/AdSelCom.h"

#include "uikit/DesignFont.h"

#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

#include "serial/AdExcept.h"
#include "serial/AwPosix.h"
#include "serial/PortMap.h"

TComSelectForm::TComSelectForm(QWidget* parent) : QDialog(parent) {
  setWindowTitle("Select Port");
  lblNotValid = new QLabel("The configured serial port is not valid.", this);
  lblChoose = new QLabel("Please choose another port.", this);
  cbPorts = new QComboBox(this);
  btnOK = new QPushButton("OK", this);
  btnCancel = new QPushButton("Cancel", this);
  btnOK->setDefault(true);
  connect(btnOK, &QPushButton::clicked, this, &QDialog::accept);
  connect(btnCancel, &QPushButton::clicked, this, &QDialog::reject);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(btnOK);
  buttons->addWidget(btnCancel);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(lblNotValid);
  layout->addWidget(lblChoose);
  layout->addWidget(cbPorts);
  layout->addLayout(buttons);

  ListPorts();
  adjustSize();
  CentreOnScreen(*this);
}

void TComSelectForm::ListPorts() {
  // A port exists when it opens (it is closed again at once) or when it is
  // held by another opener or closed to this user.
  for (int n = 1; n <= kMaxChoosableComNumber; ++n) {
    int osError = 0;
    const int fd = OpenSerialDevice(PortDevicePath(n), osError);
    if (fd >= 0) {
      CloseSerialDevice(fd);
    } else if (osError != 5 && osError != -ecode::PermissionDenied) {
      continue;
    }
    cbPorts->addItem(QString("COM%1").arg(n));
  }
  if (cbPorts->count() > 0) cbPorts->setCurrentIndex(0);
}

int TComSelectForm::SelectedComNumber() const {
  const QString entry = cbPorts->currentText();
  bool ok = false;
  const int n = entry.mid(3).toInt(&ok);
  return ok ? n : 0;
}
