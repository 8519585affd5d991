#pragma once
// The main window scoring a class through the machine, shared by the suites
// of each server: Scan > Answer Key..., sheets dropped, the line under the
// status label, the scores and statistics, Save, and the workbook opened again.

#include "WorkbookHarness.h"
#include "forms/fmAnswerKey.h"
#include "scoring/ScoringLayout.h"
#include "tools/SheetPattern.h"

#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

#include <gtest/gtest.h>

using machine_sim::ParseSheetPattern;

class ScoringAppTest : public ::testing::Test {
 public:
  // Opens Scan > Answer Key..., lets `use` work the dialog while it runs modally, then closes it.
  void WithDialog(const std::function<void(TfrmAnswerKey&)>& use) {
    WhenModalOpens([use](QWidget* modal) {
      auto* dialog = qobject_cast<TfrmAnswerKey*>(modal);
      ASSERT_NE(dialog, nullptr);
      use(*dialog);
    });
    h.window->AnswerKey1->trigger();
  }
  // Scan Key Sheet, then the machine drops `pattern` as the key sheet.
  void ScanKey(TfrmAnswerKey& dialog, const char* pattern) {
    dialog.btnScanKey->click();
    EXPECT_EQ(dialog.lblPrompt->text(), "Drop the answer key sheet through the machine.");
    ASSERT_TRUE(WaitUntil([&] { return h.window->ScanningActive && !h.window->ModeCommandPending; }));
    h.machine->DropSheet(ParseSheetPattern(pattern));
    ASSERT_TRUE(WaitUntil([&] { return dialog.lblKey->text() != "No answer key yet."; }));
  }
  // Whether the server behind the calls takes formulas and new sheets.
  bool ServerTakesFormulas() {
    try {
      h.window->WorkSheets.Get("Item", {1}).Get("Cells", {1, 1}).Get("Formula");
      return true;
    } catch (const std::exception&) {
      return false;
    }
  }

  WorkbookHarness h;
};

// The window has the workbook at `path` current and not scanning: a key with
// the ID in columns 1..2, three sheets scored live, Save, opened again, one more.
inline void ScoreAClass(ScoringAppTest& test, const QString& path) {
  WorkbookHarness& h = test.h;
  TfrmMain& w = *h.window;
  w.PendingSheets.SetDelay(std::chrono::milliseconds(20));
  // The ID in columns 1..2; questions in columns 3..6.
  test.WithDialog([&](TfrmAnswerKey& dialog) {
    test.ScanKey(dialog, "-,-,1,2,3,4");
    dialog.seIdFrom->setValue(1);
    dialog.seIdTo->setValue(2);
    dialog.btnOK->click();
  });
  ASSERT_TRUE(w.Scoring.Active()) << h.ui.Texts().join('|').toStdString();
  const auto drop = [&](const char* pattern) {
    const int target = w.CurrentRow + 1;
    h.machine->DropSheet(ParseSheetPattern(pattern));
    ASSERT_TRUE(WaitUntil([&] { return w.CurrentRow == target; }));
  };
  drop("1,2,1,2,3,4");
  EXPECT_TRUE(w.lblSheetLook->isHidden());
  drop("1,3,1,-,34,4");
  EXPECT_EQ(w.lblSheetLook->text(), "Row 2: blank 2; double 3");
  drop("1,2,2,2,3,-");
  EXPECT_EQ(w.lblSheetLook->text(), "Row 3: blank 4; same ID as row 1");
  const OleVariant scores = w.WorkSheets.Get("Item", {kScoresSheet});
  const auto score = [&](int row) { return scores.Get("Cells", {row + 1, 3}).Get("Value").ToDouble(); };
  EXPECT_EQ(score(1), 4);
  EXPECT_EQ(score(2), 2);
  EXPECT_EQ(score(3), 2);
  EXPECT_EQ(scores.Get("Cells", {4, 2}).Get("Value").ToText(), "12");
  const OleVariant items = w.WorkSheets.Get("Item", {kItemsSheet});
  EXPECT_EQ(items.Get("Cells", {1, 19}).Get("Value").ToDouble(), 3);               // students
  EXPECT_NEAR(items.Get("Cells", {2, 5}).Get("Value").ToDouble(), 2.0 / 3, 1e-12);  // question 1's difficulty
  w.Save1->trigger();
  ASSERT_TRUE(h.ui.messages.empty()) << h.ui.Texts().join('|').toStdString();
  // Opened again: the next row is scored too.
  h.ui.fileNames.push_back(path);
  w.Open1->trigger();
  ASSERT_TRUE(w.Scoring.Active());
  ASSERT_TRUE(WaitUntil([&] { return w.ScanningActive && !w.ModeCommandPending; }));
  drop("2,2,1,2,3,4");
  EXPECT_EQ(w.lblSheetLook->text(), "");
  EXPECT_EQ(w.WorkSheets.Get("Item", {kScoresSheet}).Get("Cells", {5, 3}).Get("Value").ToDouble(), 4);
}
