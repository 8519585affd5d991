// The server through late-bound calls, as the main window drives it.

#include "SpreadsheetTestSupport.h"
#include "automation/ComObj.h"
#include "spreadsheet/server/SpreadsheetServer.h"

#include <QJsonArray>
#include <QJsonObject>

namespace {

using SheetTest::ScratchDir;

// Records what the server shows and answers its questions from a script.
class ScriptedFrontEnd : public ServerFrontEnd {
 public:
  class Window : public ServerWindow {
   public:
    explicit Window(ScriptedFrontEnd& owner) : owner_(owner) {}
    ~Window() override { ++owner_.windowsClosed; }
    void SetShown(bool shown) override { owner_.shown = shown; }
    void ActiveWorkbookChanged() override { ++owner_.workbookChanges; }
    void SheetsChanged() override { ++owner_.sheetChanges; }
    void CellWritten(int sheet, uint32_t row, uint32_t col) override {
      if (sheet == 0) owner_.written.emplace_back(row, col);
    }
    void ResultChanged(int sheet, uint32_t row, uint32_t col) override {
      owner_.results.emplace_back(row, col);
      owner_.resultSheets.push_back(sheet);
    }

   private:
    ScriptedFrontEnd& owner_;
  };

  std::unique_ptr<ServerWindow> CreateWindow(SpreadsheetSession&) override {
    ++windowsMade;
    return std::make_unique<Window>(*this);
  }
  SaveChoice AskSaveChanges(const QString& name) override {
    asked << name;
    return answers.isEmpty() ? SaveChoice::DontSave : answers.takeFirst();
  }
  std::optional<QString> AskSavePath(const QString&) override { return savePath; }
  void ShowSaveFailure(const QString& message) override { failures << message; }
  std::optional<QString> AskPassword(const QString& fileName, bool afterWrong) override {
    passwordAsks.emplace_back(fileName, afterWrong);
    if (passwords.isEmpty()) return std::nullopt;
    return passwords.takeFirst();
  }

  QList<SaveChoice> answers;
  QStringList asked;
  QStringList failures;
  std::optional<QString> savePath;
  QStringList passwords;  // none left: the user cancels
  std::vector<std::pair<QString, bool>> passwordAsks;
  bool shown = false;
  int windowsMade = 0;
  int windowsClosed = 0;
  int workbookChanges = 0;
  int sheetChanges = 0;
  std::vector<std::pair<uint32_t, uint32_t>> written;
  std::vector<std::pair<uint32_t, uint32_t>> results;
  std::vector<int> resultSheets;
};

class Server : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterSpreadsheetServer();
    frontEnd_ = std::make_shared<ScriptedFrontEnd>();
    SetServerFrontEnd(frontEnd_);
  }
  void TearDown() override { SetServerFrontEnd(nullptr); }

  OleVariant NewWorkbookAt(const OleVariant& excel, const QString& path) {
    excel.Get("Workbooks").Get("Add").Call("SaveAs", {path});
    return excel.Get("ActiveWorkBook");
  }
  static OleVariant Cell(const OleVariant& excel, int row, int col) {
    return excel.Get("Sheets", {1}).Get("Cells", {row, col});
  }

  ScratchDir dir_;
  std::shared_ptr<ScriptedFrontEnd> frontEnd_;
};

TEST_F(Server, NewWorkbookIsStoredUnderItsPathAndBecomesActive) {
  const OleVariant excel = CreateOleObject("Excel.Application");
  excel.Put("Visible", true);
  EXPECT_TRUE(excel.Get("Visible").ToBool());
  const QString path = dir_.Path(QStringLiteral("new.xls"));
  const OleVariant book = NewWorkbookAt(excel, path);
  EXPECT_TRUE(QFileInfo::exists(path));
  EXPECT_EQ(book.Get("Name").ToText(), QStringLiteral("new.xls"));
  EXPECT_EQ(book.Get("Sheets").Get("Count").ToInt(), 1);
  EXPECT_EQ(book.Get("Sheets").Get("Item", {1}).Get("Name").ToText(), QStringLiteral("Sheet1"));
  EXPECT_TRUE(book.Get("Saved").ToBool());
}

TEST_F(Server, NumbersAreStoredAsNumbersOtherTextsAsTextAndEmptyCellsGiveEmptyText) {
  const OleVariant excel = CreateOleObject("Excel.Application");
  const QString path = dir_.Path(QStringLiteral("cells.xls"));
  NewWorkbookAt(excel, path);
  EXPECT_TRUE(Cell(excel, 1, 1).Get("Value").IsEmpty());
  EXPECT_EQ(Cell(excel, 1, 1).Get("Value").ToText(), QString());
  Cell(excel, 4, 1).Put("Value", "2");
  Cell(excel, 4, 2).Put("Value", " ");
  Cell(excel, 4, 3).Put("Value", "007");
  Cell(excel, 4, 4).Put("Value", " -2.5e1 ");
  Cell(excel, 4, 5).Put("Value", "1,5");
  Cell(excel, 4, 6).Put("Value", "1-2");
  Cell(excel, 4, 7).Put("Value", "x");
  Cell(excel, 4, 7).Put("Value", "");
  Cell(excel, 4, 66).Put("Value", "Ärger");
  // The row search and the callers read every value as text: a number reads
  // as its plain decimal text.
  EXPECT_EQ(Cell(excel, 4, 1).Get("Value").kind(), OleVariant::Kind::Double);
  EXPECT_EQ(Cell(excel, 4, 1).Get("Value").ToText(), QStringLiteral("2"));
  EXPECT_EQ(Cell(excel, 4, 3).Get("Value").ToText(), QStringLiteral("7"));
  EXPECT_EQ(Cell(excel, 4, 4).Get("Value").ToDouble(), -25.0);
  EXPECT_EQ(Cell(excel, 4, 2).Get("Value").kind(), OleVariant::Kind::Text);
  EXPECT_EQ(Cell(excel, 4, 2).Get("Value").ToText(), QStringLiteral(" "));
  EXPECT_EQ(Cell(excel, 4, 5).Get("Value").kind(), OleVariant::Kind::Text);
  EXPECT_EQ(Cell(excel, 4, 6).Get("Value").ToText(), QStringLiteral("1-2"));
  EXPECT_TRUE(Cell(excel, 4, 7).Get("Value").IsEmpty());
  EXPECT_FALSE(excel.Get("ActiveWorkBook").Get("Saved").ToBool());
  excel.Call("Save");
  EXPECT_TRUE(excel.Get("ActiveWorkBook").Get("Saved").ToBool());

  const OleVariant other = CreateOleObject("Excel.Application");
  other.Get("Workbooks").Call("Open", {path, false});
  EXPECT_EQ(Cell(other, 4, 66).Get("Value").ToText(), QStringLiteral("Ärger"));
  EXPECT_EQ(Cell(other, 4, 2).Get("Value").ToText(), QStringLiteral(" "));
  EXPECT_EQ(Cell(other, 4, 1).Get("Value").kind(), OleVariant::Kind::Double);
  EXPECT_EQ(Cell(other, 4, 3).Get("Value").ToText(), QStringLiteral("7"));
  other.Call("Quit");
  excel.Call("Quit");

  // An independent reader sees numbers where numbers were put.
  const QJsonArray sheets = SheetTest::ProbeJson({QStringLiteral("values"), path}).array();
  ASSERT_EQ(sheets.size(), 1);
  int numbers = 0;
  for (const QJsonValue cell : sheets[0].toObject()[QStringLiteral("cells")].toArray()) {
    if (cell.toArray()[2].toInt() == 2) ++numbers;
  }
  EXPECT_EQ(numbers, 3);
}

// The window hears of formula results that a write changes, on every sheet.
TEST_F(Server, TheWindowHearsOfResultsThatAWriteChanges) {
  const QString path = dir_.Path(QStringLiteral("scores.xls"));
  const SheetTest::ProbeResult made = SheetTest::Probe(
      {QStringLiteral("book"), path,
       QString::fromUtf8(R"json({"Import": {"A1": "Sheet", "BP2": "=B2*2", "BP3": "=B3*2"},
                                "Totals": {"A1": "=SUM(Import!B1:B9)"}})json")});
  ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
  const OleVariant excel = CreateOleObject("Excel.Application");
  excel.Put("Visible", true);
  excel.Get("Workbooks").Call("Open", {path, false});
  Cell(excel, 2, 2).Put("Value", "4");
  EXPECT_EQ(Cell(excel, 2, 68).Get("Value").ToDouble(), 8.0);
  EXPECT_EQ(excel.Get("ActiveWorkBook").Get("Sheets", {2}).Get("Cells", {1, 1}).Get("Value").ToDouble(), 4.0);
  // Import!BP2 and Totals!A1, each with its sheet.
  ASSERT_EQ(frontEnd_->results.size(), 2u);
  for (size_t i = 0; i < 2; ++i) {
    const auto expected = frontEnd_->resultSheets[i] == 0 ? std::make_pair(1u, 67u) : std::make_pair(0u, 0u);
    EXPECT_EQ(frontEnd_->results[i], expected);
  }
  EXPECT_NE(frontEnd_->resultSheets[0], frontEnd_->resultSheets[1]);
  Cell(excel, 2, 2).Put("Value", "4");  // the same value: no result changes
  EXPECT_EQ(frontEnd_->results.size(), 2u);
  EXPECT_EQ(Cell(excel, 2, 68).Get("Value").ToDouble(), 8.0);
  EXPECT_EQ(frontEnd_->results.size(), 2u);
  excel.Get("ActiveWorkBook").Call("Close", {false});
  excel.Call("Quit");
}

TEST_F(Server, ProtectionIsSetReadAndClearedThroughTheSheet) {
  const OleVariant excel = CreateOleObject("Excel.Application");
  const OleVariant book = NewWorkbookAt(excel, dir_.Path(QStringLiteral("p.xls")));
  const OleVariant sheets = book.Get("Sheets");
  EXPECT_FALSE(sheets.Get("Item", {1}).Get("ProtectionMode").ToBool());
  sheets.Get("Item", {1}).Call("Protect");
  EXPECT_TRUE(sheets.Get("Item", {1}).Get("ProtectionMode").ToBool());
  // Rows keep arriving while the sheet is protected (saved during scanning).
  Cell(excel, 1, 1).Put("Value", "still written");
  EXPECT_EQ(Cell(excel, 1, 1).Get("Value").ToText(), QStringLiteral("still written"));
  excel.Call("Save");
  sheets.Get("Item", {1}).Call("Unprotect");
  EXPECT_FALSE(sheets.Get("Item", {1}).Get("ProtectionMode").ToBool());
  EXPECT_THROW(sheets.Get("Item", {1}).Call("Protect", {"secret"}), EOleError);
  excel.Call("Quit");
}

TEST_F(Server, OpenNamesTheFileItCannotRead) {
  const OleVariant excel = CreateOleObject("Excel.Application");
  const QString missing = dir_.Path(QStringLiteral("gone.xls"));
  try {
    excel.Get("Workbooks").Call("Open", {missing, false});
    FAIL() << "opened";
  } catch (const EOleError& e) {
    EXPECT_TRUE(e.Message().contains(QStringLiteral("gone.xls"))) << e.what();
  }
  // No workbook became active.
  EXPECT_TRUE(excel.Get("ActiveWorkBook").IsEmpty());
  EXPECT_THROW(excel.Get("Sheets", {1}), EOleError);
  EXPECT_THROW(excel.Call("Save"), EOleError);
}

TEST_F(Server, OpeningTheSameFileAgainActivatesIt) {
  const OleVariant excel = CreateOleObject("Excel.Application");
  const QString first = dir_.Path(QStringLiteral("first.xls"));
  const QString second = dir_.Path(QStringLiteral("second.xls"));
  NewWorkbookAt(excel, first);
  NewWorkbookAt(excel, second);
  EXPECT_EQ(excel.Get("ActiveWorkBook").Get("Name").ToText(), QStringLiteral("second.xls"));
  excel.Get("Workbooks").Call("Open", {first, false});
  EXPECT_EQ(excel.Get("ActiveWorkBook").Get("Name").ToText(), QStringLiteral("first.xls"));
  EXPECT_EQ(excel.Get("Workbooks").Get("Count").ToInt(), 2);
}

TEST_F(Server, MembersAreFoundWithoutRegardToCaseAndUnknownOnesAreNamed) {
  const OleVariant excel = CreateOleObject("excel.application");
  NewWorkbookAt(excel, dir_.Path(QStringLiteral("case.xls")));
  excel.Get("SHEETS", {1}).Get("cells", {1, 1}).Put("vALUE", "x");
  EXPECT_EQ(excel.Get("activeworkbook").Get("sheets").Get("ITEM", {1}).Get("Cells", {1, 1}).Get("value").ToText(),
            QStringLiteral("x"));
  try {
    excel.Get("Sheets", {1}).Call("AutoFit");
    FAIL() << "no error";
  } catch (const EOleError& e) {
    EXPECT_TRUE(e.Message().contains(QStringLiteral("\"AutoFit\""))) << e.what();
  }
}

TEST_F(Server, BadArgumentsAreReported) {
  const OleVariant excel = CreateOleObject("Excel.Application");
  NewWorkbookAt(excel, dir_.Path(QStringLiteral("args.xls")));
  const OleVariant sheet = excel.Get("Sheets", {1});
  EXPECT_THROW(sheet.Get("Cells", {1}), EOleError);
  EXPECT_THROW(sheet.Get("Cells", {0, 1}), EOleError);
  EXPECT_THROW(sheet.Get("Cells", {65537, 1}), EOleError);
  EXPECT_THROW(sheet.Get("Cells", {1, 257}), EOleError);
  EXPECT_THROW(sheet.Get("Cells", {"one", 1}), EOleError);
  EXPECT_NO_THROW(sheet.Get("Cells", {65536, 256}));
  EXPECT_THROW(excel.Get("Sheets", {2}), EOleError);
  EXPECT_THROW(sheet.Get("Cells", {1, 1}).Put("Value", QString(32768, QLatin1Char('x'))), EOleError);
  EXPECT_THROW(sheet.Get("Cells", {1, 1}).Put("Value", excel), EOleError);
  EXPECT_THROW(excel.Get("Workbooks").Call("Open"), EOleError);
  try {
    sheet.Put("ProtectionMode", true);
    FAIL() << "read-only member written";
  } catch (const EOleError& e) {
    EXPECT_TRUE(e.Message().contains(QStringLiteral("\"ProtectionMode\""))) << e.what();
  }
  EXPECT_THROW(excel.Put("Workbooks", 1), EOleError);
}

TEST_F(Server, VisibleShowsOneWindowThatFollowsTheActiveSheet) {
  const OleVariant excel = CreateOleObject("Excel.Application");
  excel.Put("Visible", true);
  EXPECT_EQ(frontEnd_->windowsMade, 1);
  EXPECT_TRUE(frontEnd_->shown);
  NewWorkbookAt(excel, dir_.Path(QStringLiteral("v.xls")));
  EXPECT_GE(frontEnd_->workbookChanges, 1);
  Cell(excel, 3, 2).Put("Value", "x");
  ASSERT_EQ(frontEnd_->written.size(), 1u);
  EXPECT_EQ(frontEnd_->written[0], std::make_pair(2u, 1u));
  excel.Put("Visible", true);
  EXPECT_EQ(frontEnd_->windowsMade, 1);
  excel.Call("Quit");
  EXPECT_EQ(frontEnd_->windowsClosed, 1);
}

TEST_F(Server, QuitAsksForEachChangedWorkbookAndSavesWhenTold) {
  const OleVariant excel = CreateOleObject("Excel.Application");
  const QString kept = dir_.Path(QStringLiteral("kept.xls"));
  const QString dropped = dir_.Path(QStringLiteral("dropped.xls"));
  const QString untouched = dir_.Path(QStringLiteral("untouched.xls"));
  NewWorkbookAt(excel, kept);
  Cell(excel, 1, 1).Put("Value", "keep me");
  NewWorkbookAt(excel, dropped);
  Cell(excel, 1, 1).Put("Value", "drop me");
  NewWorkbookAt(excel, untouched);
  frontEnd_->answers = {SaveChoice::Save, SaveChoice::DontSave};
  excel.Call("Quit");
  EXPECT_EQ(frontEnd_->asked, (QStringList{QStringLiteral("kept.xls"), QStringLiteral("dropped.xls")}));

  const OleVariant check = CreateOleObject("Excel.Application");
  check.Get("Workbooks").Call("Open", {kept, false});
  EXPECT_EQ(Cell(check, 1, 1).Get("Value").ToText(), QStringLiteral("keep me"));
  check.Get("Workbooks").Call("Open", {dropped, false});
  EXPECT_TRUE(Cell(check, 1, 1).Get("Value").IsEmpty());
  // After Quit the instance answers nothing but says why.
  EXPECT_THROW(excel.Get("Workbooks"), EOleError);
}

TEST_F(Server, DroppingTheLastReferenceAsksLikeQuit) {
  const QString path = dir_.Path(QStringLiteral("orphan.xls"));
  {
    const OleVariant excel = CreateOleObject("Excel.Application");
    NewWorkbookAt(excel, path);
    Cell(excel, 1, 1).Put("Value", "not lost");
    frontEnd_->answers = {SaveChoice::Save};
  }
  EXPECT_EQ(frontEnd_->asked, QStringList{QStringLiteral("orphan.xls")});
  const OleVariant check = CreateOleObject("Excel.Application");
  check.Get("Workbooks").Call("Open", {path, false});
  EXPECT_EQ(Cell(check, 1, 1).Get("Value").ToText(), QStringLiteral("not lost"));
}

// Opening starts a new instance and drops the old one, whose sheet
// collection is still held: the old instance lives on, but asks about its
// unsaved rows before the new one reads the same file, so none is lost.
TEST_F(Server, OpeningAFileAnotherInstanceHoldsUnsavedAsksFirst) {
  const QString path = dir_.Path(QStringLiteral("again.xls"));
  OleVariant excel = CreateOleObject("Excel.Application");
  NewWorkbookAt(excel, path);
  const OleVariant workSheets = excel.Get("ActiveWorkBook").Get("Sheets");
  Cell(excel, 1, 1).Put("Value", "row before reopening");
  frontEnd_->answers = {SaveChoice::Save};
  excel = CreateOleObject("Excel.Application");
  EXPECT_TRUE(frontEnd_->asked.isEmpty());
  excel.Get("Workbooks").Call("Open", {path, false});
  EXPECT_EQ(frontEnd_->asked, QStringList{QStringLiteral("again.xls")});
  EXPECT_EQ(Cell(excel, 1, 1).Get("Value").ToText(), QStringLiteral("row before reopening"));
  // The previous workbook is still reachable through what was held of it.
  EXPECT_EQ(workSheets.Get("Item", {1}).Get("Cells", {1, 1}).Get("Value").ToText(), QStringLiteral("row before reopening"));
}

TEST_F(Server, DeclinedSaveOfAnotherInstancesCopyIsNotAskedAgain) {
  const QString path = dir_.Path(QStringLiteral("declined.xls"));
  {
    OleVariant first = CreateOleObject("Excel.Application");
    NewWorkbookAt(first, path);
    const OleVariant held = first.Get("ActiveWorkBook").Get("Sheets");
    Cell(first, 1, 1).Put("Value", "unwanted");
    first = OleVariant();
    frontEnd_->answers = {SaveChoice::DontSave};
    const OleVariant second = CreateOleObject("Excel.Application");
    second.Get("Workbooks").Call("Open", {path, false});
    EXPECT_TRUE(Cell(second, 1, 1).Get("Value").IsEmpty());
    second.Call("Quit");
  }
  EXPECT_EQ(frontEnd_->asked, QStringList{QStringLiteral("declined.xls")});
}

TEST_F(Server, FailedSaveAtQuitIsShownAndAskedAgain) {
  const OleVariant excel = CreateOleObject("Excel.Application");
  const QString folder = dir_.Path(QStringLiteral("sub"));
  QDir().mkpath(folder);
  NewWorkbookAt(excel, folder + QStringLiteral("/book.xls"));
  Cell(excel, 1, 1).Put("Value", "x");
  QDir(folder).removeRecursively();  // the folder is gone: the save fails
  frontEnd_->answers = {SaveChoice::Save, SaveChoice::DontSave};
  excel.Call("Quit");
  EXPECT_EQ(frontEnd_->asked.size(), 2);
  ASSERT_EQ(frontEnd_->failures.size(), 1);
  EXPECT_TRUE(frontEnd_->failures[0].contains(QStringLiteral("book.xls")));
}

TEST_F(Server, UnsavedNewWorkbookIsSavedWhereTheUserSays) {
  const OleVariant excel = CreateOleObject("Excel.Application");
  excel.Get("Workbooks").Call("Add");
  Cell(excel, 1, 1).Put("Value", "fresh");
  EXPECT_EQ(excel.Get("ActiveWorkBook").Get("Name").ToText(), QStringLiteral("Book1"));
  frontEnd_->answers = {SaveChoice::Save};
  frontEnd_->savePath = dir_.Path(QStringLiteral("chosen.xls"));
  excel.Call("Quit");
  EXPECT_TRUE(QFileInfo::exists(*frontEnd_->savePath));
}

TEST_F(Server, ApplicationSheetsFollowsTheActiveWorkbook) {
  const OleVariant excel = CreateOleObject("Excel.Application");
  const QString first = dir_.Path(QStringLiteral("a.xls"));
  NewWorkbookAt(excel, first);
  Cell(excel, 1, 1).Put("Value", "in a");
  NewWorkbookAt(excel, dir_.Path(QStringLiteral("b.xls")));
  EXPECT_TRUE(Cell(excel, 1, 1).Get("Value").IsEmpty());
  excel.Get("Workbooks").Get("Item", {1}).Call("Activate");
  EXPECT_EQ(Cell(excel, 1, 1).Get("Value").ToText(), QStringLiteral("in a"));
}

}  // namespace
