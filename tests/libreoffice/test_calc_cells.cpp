// Cells through the calls against a real Calc: what a put stores (the rule
// all servers share), what a get gives, and what the bridge costs: a row in
// one call, the first-empty-row search over 65,000 rows in a few.
#include "libreoffice/LibreOfficeServer.h"

#include "CalcTestSupport.h"

#include <QElapsedTimer>

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
