#pragma once
// The About box: the executable's file name, its file version, a copyright
// caption and a picture, in the look of the active branding. Modal, owns nothing.

#include <QDialog>

class QLabel;
class QPushButton;

class TfrmAbout : public QDialog {
  Q_OBJECT
 public:
  explicit TfrmAbout(QWidget* owner);

  QLabel* lblName;
  QLabel* lblVersion;
  QLabel* lblCopyright;
  QLabel* Image1;  // branded picture
  QLabel* Image2;  // generic picture, hidden as designed
  QPushButton* BitBtn1;

  void FormShow();
  void reject() override;  // Esc closes with the result OK too

 protected:
  void showEvent(QShowEvent* event) override;

 private:
  void ApplyBranding();
};

// The file version of the running program ("1.0.0.7"); empty when it has none.
QString ExecutableFileVersion();
