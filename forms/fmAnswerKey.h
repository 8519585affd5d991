#pragma once
// The Answer Key dialog: shows the key the workbook holds, takes the next
// scanned sheet as a new key, and the columns that hold the student ID. OK
// lays out the scoring sheets with it; Cancel changes nothing. Modal; it
// reaches the machine and the workbook only through the source the main
// window hands it.

#include "scoring/AnswerKey.h"

#include <QDialog>
#include <QStringList>

#include <functional>
#include <optional>

class QLabel;
class QPushButton;
class QSpinBox;

// What the main window gives the dialog.
class AnswerKeySource {
 public:
  using KeyArrived = std::function<void(const QStringList& values, MarkMode mode)>;
  virtual ~AnswerKeySource() = default;
  // The key the current workbook holds, if any.
  virtual std::optional<AnswerKey> WorkbookKey() const = 0;
  // Starts scanning when it is not active; the next sheet decoded goes to
  // `arrived` instead of becoming a row (sheets already waiting are rows first).
  virtual void ScanKeySheet(KeyArrived arrived) = 0;
  // No key sheet is wanted any more (the dialog is closing).
  virtual void StopWaitingForKey() = 0;
  // Lays out the scoring sheets with this key. Throws with a message for the user.
  virtual void ApplyKey(const AnswerKey& key) = 0;
};

class TfrmAnswerKey : public QDialog {
  Q_OBJECT
 public:
  TfrmAnswerKey(QWidget* owner, AnswerKeySource& source);
  ~TfrmAnswerKey() override;

  QLabel* lblKey;
  QLabel* lblPrompt;
  QSpinBox* seIdFrom;
  QSpinBox* seIdTo;
  QPushButton* btnScanKey;
  QPushButton* btnOK;
  QPushButton* btnCancel;

  void btnScanKeyClick();
  // OK: the key shown is laid out; a failure is shown and the dialog stays open.
  void accept() override;
  // The key OK would lay out, with the ID columns as set now; nullopt without one.
  std::optional<AnswerKey> Key() const;

 private:
  void KeyScanned(const QStringList& values, MarkMode mode);
  void ShowKey();

  AnswerKeySource& source_;
  std::optional<QStringList> values_;  // the key sheet's values, scanned or held
  MarkMode mode_ = MarkMode::Multiple;
  bool waiting_ = false;
};
