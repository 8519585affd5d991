// Cells through the calls against a real Calc: what a put stores (the rule
// all servers share), what a get gives, and what the bridge costs: a row in
// one call, the first-empty-row search over 65,000 rows in a few.
#include "automation/ComObj.h"
#include "libreoffice/LibreOfficeServer.h"

#include "CalcTestSupport.h"
#include "EventPump.h"

#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>

TEST_F(CalcTest, PutsKeepNumbersAsNumbersByTheSharedRuleAndGetsReadThemBack) {
  const OleVariant book = app.Get("Workbooks").Get("Add");
  const OleVariant sheet = app.Get("Sheets", {1});
  WriteRow(sheet, 1, {"5", " 7.25 ", "007", "1,5", "1-2", "Anna", "", "1e3", "-.5"});
  EXPECT_EQ(sheet.Get("Cells", {1, 1}).Get("Value").kind(), OleVariant::Kind::Double);
  EXPECT_EQ(sheet.Get("Cells", {1, 1}).Get("Value").ToDouble(), 5.0);
  EXPECT_EQ(sheet.Get("Cells", {1, 2}).Get("Value").ToDouble(), 7.25);
  EXPECT_EQ(sheet.Get("Cells", {1, 3}).Get("Value").ToDouble(), 7.0);
  EXPECT_EQ(sheet.Get("Cells", {1, 4}).Get("Value").kind(), OleVariant::Kind::Text);
  EXPECT_EQ(sheet.Get("Cells", {1, 4}).Get("Value").ToText(), "1,5");
  EXPECT_EQ(sheet.Get("Cells", {1, 5}).Get("Value").ToText(), "1-2");
  EXPECT_EQ(sheet.Get("Cells", {1, 6}).Get("Value").ToText(), "Anna");
  EXPECT_TRUE(sheet.Get("Cells", {1, 7}).Get("Value").IsEmpty());
  EXPECT_EQ(sheet.Get("Cells", {1, 8}).Get("Value").ToDouble(), 1000.0);
  EXPECT_EQ(sheet.Get("Cells", {1, 9}).Get("Value").ToDouble(), -0.5);
  EXPECT_TRUE(sheet.Get("Cells", {2, 1}).Get("Value").IsEmpty());
  // Numbers and booleans put as such; an empty put empties the cell.
  sheet.Get("Cells", {3, 1}).Put("Value", 2.5);
  sheet.Get("Cells", {3, 2}).Put("Value", int32_t{4});
  sheet.Get("Cells", {1, 6}).Put("Value", OleVariant());
  EXPECT_EQ(sheet.Get("Cells", {3, 1}).Get("Value").ToDouble(), 2.5);
  EXPECT_EQ(sheet.Get("Cells", {3, 2}).Get("Value").ToDouble(), 4.0);
  EXPECT_TRUE(sheet.Get("Cells", {1, 6}).Get("Value").IsEmpty());
  EXPECT_EQ(book.Get("Name").ToText(), "Book1");
}

TEST_F(CalcTest, ARowGoesToCalcInOneCallAndIsReadBackInOne) {
  app.Get("Workbooks").Get("Add");
  const OleVariant sheet = Sheet1();
  QStringList row;
  for (int c = 1; c <= 70; ++c) row << QString::number(c * 3);
  sheet.Get("Cells", {1, 1}).Get("Value");  // the sheet is reached once before counting
  const uint64_t before = LibreOfficeDataCalls();
  const uint64_t remoteBefore = LibreOfficeRemoteCalls();
  WriteRow(sheet, 5, row);
  EXPECT_EQ(LibreOfficeDataCalls(), before) << "the puts are gathered until the row is complete";
  EXPECT_EQ(sheet.Get("Cells", {5, 1}).Get("Value").ToDouble(), 3.0);  // as the application checks a row
  EXPECT_EQ(LibreOfficeDataCalls() - before, 3u) << "one call for the row, two (values, formulas) for the read back";
  EXPECT_LE(LibreOfficeRemoteCalls() - remoteBefore, 8u);
  EXPECT_EQ(sheet.Get("Cells", {5, 70}).Get("Value").ToDouble(), 210.0);
  EXPECT_TRUE(sheet.Get("Cells", {5, 71}).Get("Value").IsEmpty());
}

TEST_F(CalcTest, AGatheredRowGoesOutWhenTheEventLoopTurnsAndGapsKeepTheCellsBetween) {
  app.Get("Workbooks").Get("Add");
  const OleVariant sheet = Sheet1();
  WriteRow(sheet, 2, {"keep", "keep", "keep"});
  sheet.Get("Cells", {2, 1}).Get("Value");
  const uint64_t before = LibreOfficeDataCalls();
  sheet.Get("Cells", {3, 1}).Put("Value", "9");
  ProcessEventsFor(50);
  EXPECT_EQ(LibreOfficeDataCalls() - before, 1u) << "sent on the timer, with no further call";
  // Columns 1 and 3 of row 2: two runs, so column 2 keeps what it had.
  sheet.Get("Cells", {2, 1}).Put("Value", "a");
  sheet.Get("Cells", {2, 3}).Put("Value", "c");
  EXPECT_EQ(sheet.Get("Cells", {2, 2}).Get("Value").ToText(), "keep");
  EXPECT_EQ(sheet.Get("Cells", {2, 3}).Get("Value").ToText(), "c");
  EXPECT_EQ(sheet.Get("Cells", {3, 1}).Get("Value").ToDouble(), 9.0);
}

TEST_F(CalcTest, TheFirstEmptyRowOfA65000RowSheetIsFoundInAFewCalls) {
  NeededPackages::Require({"openpyxl"});
  const QString path = dir.Path("big.xlsx");
  const ProgramRun made = RunProgram(
      "/usr/bin/python3",
      {"-c",
       "import sys, openpyxl\n"
       "wb = openpyxl.Workbook(write_only=True); ws = wb.create_sheet()\n"
       "for r in range(1, 65001): ws.append([r, 'name %d' % r, r % 7])\n"
       "wb.save(sys.argv[1])\n",
       path});
  ASSERT_EQ(made.exitCode, 0) << made.err.toStdString();
  QElapsedTimer clock;
  clock.start();
  app.Get("Workbooks").Call("Open", {path, false});
  const qint64 openMs = clock.restart();
  const uint64_t before = LibreOfficeDataCalls();
  const uint64_t remoteBefore = LibreOfficeRemoteCalls();
  int row = 1;
  // As the program searches: the sheet taken afresh from the application for every cell.
  while (!app.Get("Sheets", {1}).Get("Cells", {row, 1}).Get("Value").IsEmpty()) ++row;
  const qint64 searchMs = clock.elapsed();
  EXPECT_EQ(row, 65001);
  EXPECT_LE(LibreOfficeDataCalls() - before, 12u);
  EXPECT_LE(LibreOfficeRemoteCalls() - remoteBefore, 60u) << "a few per block; the sheets are counted once, not once per row";
  RecordProperty("open_ms", static_cast<int>(openMs));
  RecordProperty("first_empty_row_ms", static_cast<int>(searchMs));
  std::printf("open of 65,000 rows: %lld ms; first empty row: %lld ms in %llu calls\n", static_cast<long long>(openMs),
              static_cast<long long>(searchMs), static_cast<unsigned long long>(LibreOfficeDataCalls() - before));
  const OleVariant sheet = Sheet1();
  // Rows written after it land after it, each as the application writes it:
  // column A checked empty, 66 puts, the first cell read back.
  QStringList values;
  for (int c = 1; c <= 66; ++c) values << QString::number(c);
  std::vector<qint64> rowNs;
  for (int r = row; r < row + 300; ++r) {
    QElapsedTimer rowClock;
    rowClock.start();
    ASSERT_TRUE(sheet.Get("Cells", {r, 1}).Get("Value").IsEmpty());
    WriteRow(sheet, r, values);
    ASSERT_EQ(sheet.Get("Cells", {r, 1}).Get("Value").ToDouble(), 1.0);
    rowNs.push_back(rowClock.nsecsElapsed());
    ProcessEventsFor(0);
  }
  std::sort(rowNs.begin(), rowNs.end());
  std::printf("300 rows of 66 cells: median %.2f ms, p99 %.2f ms\n", static_cast<double>(rowNs[150]) / 1e6,
              static_cast<double>(rowNs[296]) / 1e6);
  EXPECT_EQ(sheet.Get("Cells", {65300, 66}).Get("Value").ToDouble(), 66.0);
  clock.restart();
  app.Call("Save");
  std::printf("save of 65,300 rows: %lld ms\n", static_cast<long long>(clock.elapsed()));
  EXPECT_EQ(OpenpyxlRows(path, 1, 2), "1|'name 1'\n");
}

TEST_F(CalcTest, UnknownMembersAreNamedAndAQuitInstanceRefusesClearly) {
  app.Get("Workbooks").Get("Add");
  const OleVariant sheet = Sheet1();
  try {
    sheet.Get("Cells", {1, 1}).Get("NumberFormat");
    ADD_FAILURE();
  } catch (const EOleError& e) {
    EXPECT_TRUE(e.Message().contains("\"NumberFormat\"")) << e.Message().toStdString();
  }
  EXPECT_THROW(app.Get("Calculate"), EOleError);
  EXPECT_THROW(sheet.Get("Cells", {0, 1}), EOleError);
  EXPECT_EQ(app.Get("workbooks").Get("count").ToInt(), 1);  // names without regard to case
  RegisterLibreOfficeServer();
  EXPECT_EQ(CreateOleObject("libreoffice.calc").Get("Name").ToText(), "LibreOffice Calc");
  app.Call("Quit");
  try {
    sheet.Get("Cells", {1, 1}).Get("Value");
    ADD_FAILURE();
  } catch (const EOleError& e) {
    EXPECT_TRUE(e.Message().contains("has quit")) << e.Message().toStdString();
  }
}

TEST_F(CalcTest, ProtectAndUnprotectActOnSheetOneAndRowsStillGoIn) {
  app.Get("Workbooks").Get("Add");
  const OleVariant sheet = Sheet1();
  EXPECT_FALSE(sheet.Get("ProtectionMode").ToBool());
  sheet.Call("Protect");
  EXPECT_TRUE(sheet.Get("ProtectionMode").ToBool());
  // Saving during scanning protects the sheet while rows go on arriving.
  WriteRow(sheet, 1, {"after", "7"});
  EXPECT_EQ(sheet.Get("Cells", {1, 2}).Get("Value").ToDouble(), 7.0);
  EXPECT_TRUE(sheet.Get("ProtectionMode").ToBool());
  sheet.Call("Unprotect");
  EXPECT_FALSE(sheet.Get("ProtectionMode").ToBool());
}
