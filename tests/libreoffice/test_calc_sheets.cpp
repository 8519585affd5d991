// Sheets through the calls against a real Calc: Add before and after a
// sheet, the names a sheet may take, sheets found by name, and cells on
// every sheet; a sheet object stays with its sheet as others are added.
#include "libreoffice/LibreOfficeServer.h"

#include "CalcTestSupport.h"

namespace {

QString FailureOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const EOleError& e) {
    return e.Message();
  }
  return {};
}

QStringList Names(const OleVariant& sheets) {
  QStringList names;
  for (int i = 1; i <= sheets.Get("Count").ToInt(); ++i) names << sheets.Get("Item", {i}).Get("Name").ToText();
  return names;
}

}  // namespace

TEST_F(CalcTest, AddPutsTheNewSheetBeforeOrAfterTheOneGivenAndReturnsIt) {
  const OleVariant book = app.Get("Workbooks").Get("Add");
  const OleVariant sheets = book.Get("Worksheets");
  const OleVariant first = sheets.Get("Item", {1});
  const OleVariant key = sheets.Call("Add", {OleVariant(), first});
  EXPECT_EQ(key.Get("Name").ToText(), "Sheet2");
  key.Put("Name", "Key");
  const OleVariant scores = book.Get("Sheets").Call("Add", {OleVariant(), key});
  scores.Put("Name", "Scores");
  const OleVariant between = sheets.Call("Add", {scores});  // Before only
  EXPECT_EQ(Names(sheets), QStringList({"Sheet1", "Key", "Sheet4", "Scores"}));
  EXPECT_EQ(between.Get("Index").ToInt(), 3);
  EXPECT_EQ(sheets.Get("Count").ToInt(), 4);
  first.Get("Cells", {2, 1}).Put("Value", "before");
  EXPECT_EQ(first.Get("Cells", {2, 1}).Get("Value").ToText(), "before");  // Calc's sheet 1 is known by its place now
  // Neither: before the sheet Calc shows, as the application puts it before the active one.
  const OleVariant front = sheets.Call("Add");
  EXPECT_EQ(Names(sheets), QStringList({"Sheet5", "Sheet1", "Key", "Sheet4", "Scores"}));
  EXPECT_EQ(front.Get("Index").ToInt(), 1);
  // Objects taken before stay with their sheets, cells and all.
  EXPECT_EQ(first.Get("Name").ToText(), "Sheet1");
  EXPECT_EQ(first.Get("Index").ToInt(), 2);
  EXPECT_EQ(scores.Get("Index").ToInt(), 5);
  scores.Get("Cells", {1, 1}).Put("Value", "on Scores");
  first.Get("Cells", {1, 1}).Put("Value", "7");
  EXPECT_EQ(sheets.Get("Item", {"scores"}).Get("Cells", {1, 1}).Get("Value").ToText(), "on Scores");
  EXPECT_EQ(sheets.Get("Item", {"SHEET1"}).Get("Cells", {1, 1}).Get("Value").ToDouble(), 7.0);
  EXPECT_TRUE(sheets.Get("Item", {1}).Get("Cells", {1, 1}).Get("Value").IsEmpty());
  // Calc itself, reading by name, finds each value on its sheet.
  const OleVariant check = front.Get("Cells", {3, 1});
  check.Put("Formula", "=Sheet1!A1&\"|\"&Key!A1&\"|\"&Scores!A1&\"|\"&Sheet5!A1");
  EXPECT_EQ(check.Get("Value").ToText(), "7||on Scores|");

  EXPECT_TRUE(FailureOf([&] { sheets.Call("Add", {first, key}); }).contains("not both"));
  const OleVariant other = app.Get("Workbooks").Get("Add");
  const QString foreign = FailureOf([&] { sheets.Call("Add", {OleVariant(), other.Get("Sheets").Get("Item", {1})}); });
  EXPECT_TRUE(foreign.contains("After must be a sheet of this workbook")) << foreign.toStdString();
  EXPECT_TRUE(FailureOf([&] { sheets.Call("Add", {2}); }).contains("Before must be a sheet"));
  EXPECT_TRUE(FailureOf([&] { sheets.Get("Item", {"Nope"}); }).contains("there is no sheet \"Nope\""));
  EXPECT_TRUE(FailureOf([&] { sheets.Get("Item", {9}); }).contains("there is no sheet 9 (the workbook has 5)"));
  EXPECT_EQ(book.Get("Sheets", {"key"}).Get("Name").ToText(), "Key");
  EXPECT_EQ(Names(sheets).size(), 5);
}

TEST_F(CalcTest, ASheetTakesOnlyANameTheApplicationAllowsAndFormulasFollowItsNewName) {
  app.Get("Workbooks").Get("Add");
  const OleVariant sheets = app.Get("ActiveWorkbook").Get("Sheets");
  const OleVariant key = sheets.Call("Add", {OleVariant(), sheets.Get("Item", {1})});
  key.Put("Name", "Key");
  key.Get("Cells", {1, 1}).Put("Value", "4");
  const OleVariant total = Sheet1().Get("Cells", {1, 2});
  total.Put("Formula", "=Key!A1*2");
  const struct {
    QString name;
    const char* why;
  } refused[] = {{"", "cannot be empty"},
                 {QString(32, u'k'), "at most 31"},
                 {"a/b", "holds \"/\""},
                 {"Q[1]", "holds \"[\""},
                 {"what?", "holds \"?\""},
                 {"SHEET1", "already has a sheet named \"Sheet1\""},
                 {"'x'", "apostrophe"}};
  for (const auto& r : refused) {
    const QString message = FailureOf([&] { key.Put("Name", r.name); });
    EXPECT_TRUE(message.startsWith("Name: sheet \"Key\" cannot be named")) << message.toStdString();
    EXPECT_TRUE(message.contains(QString::fromUtf8(r.why))) << message.toStdString();
  }
  EXPECT_EQ(key.Get("Name").ToText(), "Key");
  key.Put("Name", "KEY");  // its own name in other letters
  key.Put("Name", "Answer key");
  EXPECT_EQ(Names(sheets), QStringList({"Sheet1", "Answer key"}));
  EXPECT_EQ(total.Get("Formula").ToText(), "='Answer key'!A1*2");
  EXPECT_EQ(total.Get("Value").ToDouble(), 8.0);
}
