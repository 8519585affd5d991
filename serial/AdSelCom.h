// The port-choice dialog: shown when the port is opened without a port
// number. Lists the ports that exist (free, or held by another program).
#pragma once

#include <QDialog>

class QComboBox;
class QLabel;
class QPushButton;

class TComSelectForm : public QDialog {
  Q_OBJECT

 public:
  explicit TComSelectForm(QWidget* parent = nullptr);

  // The number after "COM" of the chosen entry; 0 when none is chosen.
  int SelectedComNumber() const;

  QLabel* lblNotValid;
  QLabel* lblChoose;
  QComboBox* cbPorts;
  QPushButton* btnOK;
  QPushButton* btnCancel;

 private:
  void ListPorts();
};
