// Workbooks saved and opened through Calc, read back by independent readers.
#include "libreoffice/LibreOfficeServer.h"

#include "CalcTestSupport.h"

TEST_F(CalcTest, AnXlsxSavedThroughCalcReadsBackInOpenpyxlWithNumbersAsNumbers) {
  const OleVariant book = AddSaved("grades.xlsx");
  const OleVariant sheet = Sheet1();
  WriteRow(sheet, 1, {"Name", "Score", "Code"});
  WriteRow(sheet, 2, {"Anna", "17", "0042x"});
  book.Call("Save");
  EXPECT_EQ(OpenpyxlRows(dir.Path("grades.xlsx"), 2, 3), "'Name'|'Score'|'Code'\n'Anna'|17|'0042x'\n");
}
