// The Answer Key dialog against a source the test plays: what it shows,
// what it asks the main window for, and what OK and Cancel lay out.

#include "RecordingResponder.h"
#include "forms/fmAnswerKey.h"
#include "uikit/ScreenCursor.h"

#include <QApplication>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>

#include <gtest/gtest.h>

namespace {

class PlayedSource : public AnswerKeySource {
 public:
  std::optional<AnswerKey> WorkbookKey() const override { return held; }
  void ScanKeySheet(KeyArrived arrived) override {
    ++scans;
    waiting = std::move(arrived);
  }
  void StopWaitingForKey() override { ++stops; }
  void ApplyKey(const AnswerKey& key) override {
    if (!failure.isEmpty()) throw std::runtime_error(failure.toStdString());
    applied.push_back(key);
  }
  void Drop(const QStringList& values, MarkMode mode = MarkMode::Multiple) { waiting(values, mode); }

  std::optional<AnswerKey> held;
  KeyArrived waiting;
  int scans = 0;
  int stops = 0;
  QString failure;
  std::vector<AnswerKey> applied;
};

const QStringList kKeySheet{"3", "5", " ", "1", "2", "4", "6", "3"};

TEST(AnswerKeyDialog, AScannedSheetBecomesTheKeyThatOkLaysOut) {
  RecordingResponder ui;
  PlayedSource source;
  TfrmAnswerKey dialog(nullptr, source);
  EXPECT_EQ(dialog.windowTitle(), "Answer Key");
  EXPECT_EQ(dialog.lblKey->text(), "No answer key yet.");
  dialog.btnScanKey->click();
  EXPECT_EQ(source.scans, 1);
  EXPECT_EQ(dialog.lblPrompt->text(), "Drop the answer key sheet through the machine.");
  source.Drop(kKeySheet);
  EXPECT_EQ(dialog.lblKey->text(), "Answer key: 7 questions.");
  // The ID columns are not questions, whatever the key sheet marks there.
  dialog.seIdFrom->setValue(1);
  dialog.seIdTo->setValue(2);
  EXPECT_EQ(dialog.lblKey->text(), "Answer key: 5 questions.");
  dialog.btnOK->click();
  EXPECT_EQ(dialog.result(), QDialog::Accepted);
  ASSERT_EQ(source.applied.size(), 1u);
  EXPECT_EQ(source.applied[0], AnswerKey(kKeySheet, 1, 2, MarkMode::Multiple));
  EXPECT_EQ(source.stops, 0);  // the key came: nothing is awaited any more
}

TEST(AnswerKeyDialog, ShowsTheWorkbooksKeyAndCancelChangesNothing) {
  RecordingResponder ui;
  PlayedSource source;
  source.held = AnswerKey({"1", "2", "3"}, 1, 1, MarkMode::Single);
  {
    TfrmAnswerKey dialog(nullptr, source);
    EXPECT_EQ(dialog.lblKey->text(), "Answer key: 2 questions.");
    EXPECT_EQ(dialog.seIdFrom->value(), 1);
    EXPECT_EQ(dialog.seIdTo->value(), 1);
    dialog.btnScanKey->click();
    dialog.btnCancel->click();
    EXPECT_EQ(dialog.result(), QDialog::Rejected);
  }
  EXPECT_TRUE(source.applied.empty());
  EXPECT_EQ(source.stops, 1);  // no key sheet is taken after Cancel
  source.Drop(kKeySheet);      // a sheet that comes later finds no dialog, and no harm done
  EXPECT_TRUE(source.applied.empty());
}

TEST(AnswerKeyDialog, AFailedLayoutIsShownAndTheDialogStaysOpen) {
  RecordingResponder ui;
  PlayedSource source;
  source.failure = "The workbook already has a sheet named \"Scores\".";
  TfrmAnswerKey dialog(nullptr, source);
  dialog.btnScanKey->click();
  source.Drop(kKeySheet);
  dialog.btnOK->click();
  EXPECT_NE(dialog.result(), QDialog::Accepted);
  ASSERT_EQ(ui.messages.size(), 1u);
  EXPECT_EQ(ui.messages[0].kind, MessageKind::Error);
  EXPECT_EQ(ui.messages[0].text, source.failure);
  // OK without any key closes without laying anything out.
  PlayedSource empty;
  TfrmAnswerKey nothing(nullptr, empty);
  nothing.btnOK->click();
  EXPECT_EQ(nothing.result(), QDialog::Accepted);
  EXPECT_TRUE(empty.applied.empty());
}

TEST(AnswerKeyDialog, TheKeyArrivesWhileTheDialogRunsModally) {
  RecordingResponder ui;
  PlayedSource source;
  TfrmAnswerKey dialog(nullptr, source);
  // The sheet comes through the nested event loop, as the machine's data does.
  QTimer::singleShot(0, &dialog, [&] { dialog.btnScanKey->click(); });
  QTimer::singleShot(20, &dialog, [&] { source.Drop({"A", "C", " ", "D"}, MarkMode::Single); });
  QTimer::singleShot(40, &dialog, [&] {
    EXPECT_EQ(QApplication::activeModalWidget(), &dialog);
    dialog.btnOK->click();
  });
  EXPECT_EQ(ExecModal(dialog), QDialog::Accepted);
  ASSERT_EQ(source.applied.size(), 1u);
  EXPECT_EQ(source.applied[0].Mode(), MarkMode::Single);
  EXPECT_EQ(source.applied[0].Questions().size(), 3u);
}

}  // namespace
