// On a display: Visible shows the workbook in a Calc window, rows appear
// there as they are written, and Quit closes that window.
#include "libreoffice/LibreOfficeServer.h"

#include "CalcTestSupport.h"

TEST_F(CalcTest, VisibleShowsTheWorkbookInACalcWindowWhereRowsArrive) {
  ASSERT_FALSE(qEnvironmentVariableIsEmpty("DISPLAY")) << "runs under Xvfb";
  app.Put("Visible", true);
  const OleVariant book = AddSaved("shown.xlsx");
  EXPECT_TRUE(WorkbookShownInCalc(book));
  WriteRow(Sheet1(), 1, {"Anna", "15"});
  EXPECT_EQ(Sheet1().Get("Cells", {1, 2}).Get("Value").ToDouble(), 15.0);
  // A workbook opened while hidden is shown when Visible is set.
  app.Put("Visible", false);
  const OleVariant second = AddSaved("second.ods");
  EXPECT_FALSE(WorkbookShownInCalc(second));
  app.Put("Visible", true);
  EXPECT_TRUE(WorkbookShownInCalc(second));
  book.Call("Save");
  EXPECT_EQ(OpenpyxlRows(dir.Path("shown.xlsx"), 1, 2), "'Anna'|15\n");
}
