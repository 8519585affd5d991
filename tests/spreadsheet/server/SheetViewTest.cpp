// The server's window and questions with real widgets (offscreen).

#include "SpreadsheetTestSupport.h"
#include "automation/ComObj.h"
#include "spreadsheet/server/FittedNumberDelegate.h"
#include "spreadsheet/server/SheetView.h"
#include "tests/support/RecordingResponder.h"

#include <QApplication>
#include <QHeaderView>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTableView>
#include <QTest>

#include <algorithm>

namespace {

using SheetTest::ScratchDir;

SheetWindow* ServerWindowShown() {
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* window = dynamic_cast<SheetWindow*>(widget); window && window->isVisible()) return window;
  }
  return nullptr;
}

class SheetViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterSpreadsheetServer();
    InstallSheetView();
  }
  void TearDown() override { SetServerFrontEnd(nullptr); }

  static OleVariant Cell(const OleVariant& excel, int row, int col) {
    return excel.Get("Sheets", {1}).Get("Cells", {row, col});
  }

  ScratchDir dir_;
  RecordingResponder responder_;
};

TEST_F(SheetViewTest, VisibleShowsTheActiveSheetAndFollowsWrites) {
  const QString path = dir_.Path(QStringLiteral("shown.xls"));
  {
    const std::unique_ptr<Workbook> book = Workbook::CreateBlank();
    book->Sheet(0).SetText(0, 0, QStringLiteral("Heading"));
    book->SaveAs(path);
  }
  const OleVariant excel = CreateOleObject("Excel.Application");
  excel.Put("Visible", true);
  excel.Get("Workbooks").Call("Open", {path, false});
  SheetWindow* window = ServerWindowShown();
  ASSERT_NE(window, nullptr);
  EXPECT_EQ(window->windowTitle(), QStringLiteral("shown.xls - Spreadsheet"));
  QAbstractItemModel* model = window->Grid()->model();
  EXPECT_EQ(model->data(model->index(0, 0)).toString(), QStringLiteral("Heading"));
  EXPECT_EQ(model->headerData(65, Qt::Horizontal).toString(), QStringLiteral("BN"));

  // Rows far down the sheet: the grid grows and the newest row is in view.
  window->resize(400, 300);
  for (int row = 2; row <= 400; ++row) Cell(excel, row, 1).Put("Value", QString::number(row));
  Cell(excel, 400, 70).Put("Value", "far right");
  QApplication::processEvents();
  EXPECT_EQ(model->data(model->index(399, 0)).toString(), QStringLiteral("400"));
  EXPECT_EQ(model->data(model->index(399, 69)).toString(), QStringLiteral("far right"));
  const QRect newest = window->Grid()->visualRect(model->index(399, window->Grid()->columnAt(0)));
  EXPECT_TRUE(window->Grid()->viewport()->rect().intersects(newest));

  excel.Put("Visible", false);
  EXPECT_EQ(ServerWindowShown(), nullptr);
  excel.Call("Quit");
}

// A count at the top of the sheet follows the rows written far below it,
// without pulling the view away from the newest row.
TEST_F(SheetViewTest, FormulaResultsFollowTheWritesWhereTheyAre) {
  const QString path = dir_.Path(QStringLiteral("count.xls"));
  const SheetTest::ProbeResult made = SheetTest::Probe(
      {QStringLiteral("book"), path, QString::fromUtf8(R"json({"S": {"B1": "=COUNTA(A2:A1000)&\" sheets\""}})json")});
  ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
  const OleVariant excel = CreateOleObject("Excel.Application");
  excel.Put("Visible", true);
  excel.Get("Workbooks").Call("Open", {path, false});
  SheetWindow* window = ServerWindowShown();
  ASSERT_NE(window, nullptr);
  window->resize(400, 300);
  QAbstractItemModel* model = window->Grid()->model();
  EXPECT_EQ(model->data(model->index(0, 1)).toString(), QString());  // what the file stores: its writer stored nothing
  QSignalSpy changes(model, &QAbstractItemModel::dataChanged);
  for (int row = 2; row <= 300; ++row) Cell(excel, row, 1).Put("Value", QString::number(row));
  QApplication::processEvents();
  EXPECT_EQ(model->data(model->index(0, 1)).toString(), QStringLiteral("299 sheets"));
  const bool countAnnounced = std::any_of(changes.begin(), changes.end(), [&](const QList<QVariant>& args) {
    return args[0].toModelIndex() == model->index(0, 1);
  });
  EXPECT_TRUE(countAnnounced);
  const QRect newest = window->Grid()->visualRect(model->index(299, 0));
  EXPECT_TRUE(window->Grid()->viewport()->rect().intersects(newest));
  excel.Get("ActiveWorkBook").Call("Close", {false});
  excel.Call("Quit");
}

// Every sheet is a tab, the first shown first; tabs come with new sheets,
// take new names, and follow their cells and their formulas' results.
TEST_F(SheetViewTest, EverySheetIsATabThatFollowsItsCells) {
  const OleVariant excel = CreateOleObject("Excel.Application");
  excel.Put("Visible", true);
  excel.Get("Workbooks").Get("Add").Call("SaveAs", {dir_.Path(QStringLiteral("tabs.xls"))});
  SheetWindow* window = ServerWindowShown();
  ASSERT_NE(window, nullptr);
  QTabWidget* tabs = window->Tabs();
  ASSERT_EQ(tabs->count(), 1);
  const OleVariant sheets = excel.Get("ActiveWorkBook").Get("Worksheets");
  const OleVariant key = sheets.Call("Add", {OleVariant(), sheets.Get("Item", {1})});
  key.Put("Name", "Key");
  const OleVariant items = sheets.Call("Add", {OleVariant(), key});
  ASSERT_EQ(tabs->count(), 3);
  EXPECT_EQ(tabs->tabText(1), QStringLiteral("Key"));
  EXPECT_EQ(tabs->tabText(2), QStringLiteral("Sheet3"));
  EXPECT_EQ(tabs->currentIndex(), 0);  // the rows' sheet stays in front
  items.Put("Name", "Item Stats");
  EXPECT_EQ(tabs->tabText(2), QStringLiteral("Item Stats"));

  items.Get("Cells", {1, 1}).Put("Formula", "=SUM(Sheet1!A1:A100)&\" scanned\"");
  key.Get("Cells", {2, 3}).Put("Value", "key value");
  QApplication::processEvents();
  QAbstractItemModel* stats = window->Grid(2)->model();
  EXPECT_EQ(stats->data(stats->index(0, 0)).toString(), QStringLiteral("0 scanned"));
  EXPECT_EQ(window->Grid(1)->model()->data(window->Grid(1)->model()->index(1, 2)).toString(), QStringLiteral("key value"));
  // Rows written on the first sheet: the statistics tab follows at the
  // next turn of the event loop, without being shown.
  QSignalSpy changes(stats, &QAbstractItemModel::dataChanged);
  for (int row = 1; row <= 3; ++row) Cell(excel, row, 1).Put("Value", QString::number(row));
  QApplication::processEvents();
  EXPECT_FALSE(changes.isEmpty());
  EXPECT_EQ(stats->data(stats->index(0, 0)).toString(), QStringLiteral("6 scanned"));
  EXPECT_EQ(tabs->currentIndex(), 0);

  // A sheet put in front: the sheet shown stays shown, its tab one on.
  tabs->setCurrentIndex(2);
  sheets.Call("Add");
  ASSERT_EQ(tabs->count(), 4);
  EXPECT_EQ(tabs->tabText(0), QStringLiteral("Sheet4"));
  EXPECT_EQ(tabs->currentIndex(), 3);
  EXPECT_EQ(window->Grid()->model()->data(window->Grid()->model()->index(0, 0)).toString(), QStringLiteral("6 scanned"));
  excel.Get("ActiveWorkBook").Call("Close", {false});
  excel.Call("Quit");
}

// A tab written while hidden keeps its top in view when it is shown, and a
// long one shows its newest row: a hidden grid has no size to scroll by.
TEST_F(SheetViewTest, AHiddenTabShowsItsHeadingsOrItsNewestRowWhenShown) {
  const OleVariant excel = CreateOleObject("Excel.Application");
  excel.Put("Visible", true);
  excel.Get("Workbooks").Get("Add").Call("SaveAs", {dir_.Path(QStringLiteral("hidden.xls"))});
  SheetWindow* window = ServerWindowShown();
  ASSERT_NE(window, nullptr);
  window->resize(500, 700);
  const OleVariant sheets = excel.Get("ActiveWorkBook").Get("Worksheets");
  const OleVariant figures = sheets.Call("Add", {OleVariant(), sheets.Get("Item", {1})});
  const OleVariant scores = sheets.Call("Add", {OleVariant(), figures});
  for (int row = 1; row <= 18; ++row) figures.Get("Cells", {row, 1}).Put("Value", row);
  for (int row = 1; row <= 300; ++row) scores.Get("Cells", {row, 1}).Put("Value", row);
  QApplication::processEvents();
  ASSERT_EQ(window->Tabs()->currentIndex(), 0);

  window->Tabs()->setCurrentIndex(1);
  QApplication::processEvents();
  EXPECT_EQ(window->Grid(1)->rowAt(0), 0);
  window->Tabs()->setCurrentIndex(2);
  QApplication::processEvents();
  QAbstractItemModel* model = window->Grid(2)->model();
  EXPECT_TRUE(window->Grid(2)->viewport()->rect().intersects(window->Grid(2)->visualRect(model->index(299, 0))));
  excel.Get("ActiveWorkBook").Call("Close", {false});
  excel.Call("Quit");
}

// A number too long for its column loses digits, rounded, as in the
// application's general format; never an elided "0....".
TEST(FitNumberTest, ANumberTooLongForItsColumnIsRoundedToFit) {
  const QFontMetrics metrics(QApplication::font());
  const double value = -0.136363636363636;
  EXPECT_EQ(FitNumber(value, metrics, 1000), QStringLiteral("-0.136363636363636"));
  const int narrow = metrics.horizontalAdvance(QStringLiteral("-0.13636"));
  const QString fitted = FitNumber(value, metrics, narrow);
  EXPECT_LE(metrics.horizontalAdvance(fitted), narrow);
  EXPECT_TRUE(fitted.startsWith(QStringLiteral("-0.136"))) << fitted.toStdString();
  EXPECT_NEAR(fitted.toDouble(), value, 1e-4);
  EXPECT_EQ(FitNumber(0.6, metrics, narrow), QStringLiteral("0.6"));
  // Large numbers take an exponent before they lose their size.
  const QString large = FitNumber(123456789012.0, metrics, metrics.horizontalAdvance(QStringLiteral("1.2346E+11")));
  EXPECT_TRUE(large.contains(QLatin1Char('E'))) << large.toStdString();
  EXPECT_NEAR(large.toDouble(), 123456789012.0, 1e8);
  // Not even one digit fits: the column is filled with #.
  EXPECT_TRUE(FitNumber(value, metrics, metrics.horizontalAdvance(QStringLiteral("##"))).startsWith(QLatin1Char('#')));
}

TEST_F(SheetViewTest, WindowNeverTakesTheFocusFromTheMainWindow) {
  QWidget main;
  main.show();
  main.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&main));
  const OleVariant excel = CreateOleObject("Excel.Application");
  excel.Put("Visible", true);
  excel.Get("Workbooks").Call("Add");
  for (int col = 1; col <= 66; ++col) Cell(excel, 1, col).Put("Value", " ");
  QTest::qWait(100);  // let the platform deliver whatever activation showing caused
  ASSERT_NE(ServerWindowShown(), nullptr);
  EXPECT_EQ(QApplication::activeWindow(), &main);
  for (int col = 1; col <= 66; ++col) Cell(excel, 2, col).Put("Value", "x");
  QTest::qWait(50);
  EXPECT_EQ(QApplication::activeWindow(), &main);
  excel.Get("ActiveWorkBook").Call("SaveAs", {dir_.Path(QStringLiteral("f.xls"))});
  excel.Call("Quit");
}

TEST_F(SheetViewTest, QuitAsksThroughTheApplicationsQuestionBox) {
  const QString path = dir_.Path(QStringLiteral("asked.xls"));
  const OleVariant excel = CreateOleObject("Excel.Application");
  excel.Get("Workbooks").Get("Add").Call("SaveAs", {path});
  Cell(excel, 1, 1).Put("Value", "saved at quit");
  responder_.answers.push_back(Answer::Save);
  excel.Call("Quit");
  ASSERT_EQ(responder_.questions.size(), 1u);
  EXPECT_EQ(responder_.questions[0].text, QStringLiteral("Do you want to save the changes you made to 'asked.xls'?"));
  EXPECT_EQ(Workbook::Open(path)->Sheet(0).Cell(0, 0).text, QStringLiteral("saved at quit"));
}

TEST_F(SheetViewTest, QuitWithoutChangesAsksNothing) {
  const OleVariant excel = CreateOleObject("Excel.Application");
  excel.Get("Workbooks").Get("Add").Call("SaveAs", {dir_.Path(QStringLiteral("clean.xls"))});
  excel.Call("Quit");
  EXPECT_TRUE(responder_.questions.empty());
}

TEST_F(SheetViewTest, PasswordToOpenIsAskedAgainAfterAWrongOneAndTheSaveNeedsItAgain) {
  const QString path = dir_.CopyFixture(QStringLiteral("encrypted-calc-password.xls"));
  const QString password = QStringLiteral("Klasse7a");
  responder_.passwords = {QStringLiteral("klasse7a"), password};
  const OleVariant excel = CreateOleObject("Excel.Application");
  excel.Get("Workbooks").Call("Open", {path, false});
  ASSERT_EQ(responder_.passwordRequests.size(), 2u);
  for (const ShownMessage& request : responder_.passwordRequests) {
    EXPECT_EQ(request.title, QStringLiteral("Password"));
    EXPECT_EQ(request.text, QStringLiteral("'encrypted-calc-password.xls' is protected."));
  }
  ASSERT_EQ(responder_.messages.size(), 1u);
  EXPECT_EQ(responder_.messages[0].kind, MessageKind::Information);
  EXPECT_EQ(responder_.messages[0].text,
            QStringLiteral("The password you supplied is not correct. Verify that the CAPS LOCK key is off and be "
                           "sure to use the correct capitalization."));
  EXPECT_EQ(Cell(excel, 2, 1).Get("Value").ToText(), QStringLiteral("Pupil 1"));

  Cell(excel, 7, 1).Put("Value", "Pupil 6");
  excel.Call("Save");
  excel.Call("Quit");
  responder_.passwords = {password};
  const OleVariant again = CreateOleObject("Excel.Application");
  again.Get("Workbooks").Call("Open", {path, false});
  EXPECT_EQ(responder_.passwordRequests.size(), 3u);
  EXPECT_EQ(Cell(again, 7, 1).Get("Value").ToText(), QStringLiteral("Pupil 6"));
  again.Call("Quit");
}

TEST_F(SheetViewTest, CancellingThePasswordRefusesTheOpenWithTheReason) {
  const QString path = dir_.CopyFixture(QStringLiteral("encrypted-poi-xor.xls"));
  responder_.passwords = {QStringLiteral("wrong password")};  // then Cancel
  const OleVariant excel = CreateOleObject("Excel.Application");
  try {
    excel.Get("Workbooks").Call("Open", {path, false});
    FAIL() << "opened without its password";
  } catch (const EOleError& e) {
    EXPECT_EQ(e.Message(), QStringLiteral("Cannot open \"%1\": it is protected with a password to open, and none was given.")
                               .arg(QDir::toNativeSeparators(path)));
  }
  EXPECT_EQ(responder_.passwordRequests.size(), 2u);
  EXPECT_EQ(excel.Get("Workbooks").Get("Count").ToInt(), 0);
  for (const ShownMessage& shown : responder_.messages) EXPECT_FALSE(shown.text.contains(QStringLiteral("wrong password")));
  excel.Call("Quit");
}

TEST_F(SheetViewTest, FailedSaveAtQuitIsShownAsAnError) {
  const QString folder = dir_.Path(QStringLiteral("gone"));
  QDir().mkpath(folder);
  const OleVariant excel = CreateOleObject("Excel.Application");
  excel.Get("Workbooks").Get("Add").Call("SaveAs", {folder + QStringLiteral("/book.xls")});
  Cell(excel, 1, 1).Put("Value", "x");
  QDir(folder).removeRecursively();
  responder_.answers = {Answer::Save, Answer::DontSave};
  excel.Call("Quit");
  ASSERT_EQ(responder_.messages.size(), 1u);
  EXPECT_EQ(responder_.messages[0].kind, MessageKind::Error);
  EXPECT_TRUE(responder_.messages[0].text.contains(QStringLiteral("book.xls")));
}

}  // namespace
