// Which server a workbook goes to: .xlsx and .ods to LibreOffice Calc, .xls to
// the built-in server unless the settings say otherwise. The built-in server
// stands in for Calc here (registered under Calc's identifier too), so the
// routing is seen without an office; the bridge's own tests use the real one.
#include "WorkbookHarness.h"
#include "app/SpreadsheetChoice.h"

#include <gtest/gtest.h>

namespace {

class ChoiceTest : public ::testing::Test {
 protected:
  ChoiceTest() { calc = AutomationSpy::Install(kCalcServerProgId, &CreateSpreadsheetApplication); }
  ~ChoiceTest() override { RegisterAutomationServer(kCalcServerProgId, {}); }

  WorkbookHarness h;
  std::shared_ptr<AutomationSpy> calc;
};

TEST(SpreadsheetChoice, ExtensionAndSettingsDecide) {
  TempDir tmp;
  const QString ini = tmp.Path("settings.ini");
  for (const char* path : {"a.xlsx", "a.ODS", "/x/y.Xlsx"}) {
    EXPECT_EQ(ServerForWorkbook(path, ini), kCalcServerProgId) << path;
  }
  for (const char* path : {"a.xls", "a.XLS", "noext", "a.txt"}) {
    EXPECT_EQ(ServerForWorkbook(path, ini), kBuiltInServerProgId) << path;
  }
  tmp.Write("settings.ini", "[MAIN]\nspreadsheet = libreoffice\n");
  EXPECT_EQ(ServerForWorkbook("a.xls", ini), kCalcServerProgId) << "key and value without regard to case";
  tmp.Write("settings.ini", "[Main]\nSpreadsheet=BuiltIn\n");
  EXPECT_EQ(ServerForWorkbook("a.xls", ini), kBuiltInServerProgId);
  EXPECT_EQ(ServerForWorkbook("a.ods", ini), kCalcServerProgId) << "only Calc reads .ods";
  tmp.Write("settings.ini", "[Main]\nSpreadsheet=Gnumeric\n");
  EXPECT_EQ(ServerForWorkbook("a.xls", ini), kBuiltInServerProgId) << "an unknown value keeps the default";

  EXPECT_EQ(WithWorkbookExtension("/a.b/grades"), "/a.b/grades.xls");
  EXPECT_EQ(WithWorkbookExtension("grades.ods"), "grades.ods");
}

TEST_F(ChoiceTest, NewTakesTheServerOfTheChosenExtensionAndANameWithoutOneIsXls) {
  TfrmMain& w = h.StartWindow();
  h.NewWorkbook(h.tmp.Path("marks.xlsx"));
  EXPECT_EQ(calc->instances, 1);
  EXPECT_EQ(h.spy->instances, 0);
  EXPECT_EQ(w.CurrentFile, h.tmp.Path("marks.xlsx"));
  EXPECT_EQ(calc->Count("Visible"), 1);

  h.NewWorkbook(h.tmp.Path("plain"));
  EXPECT_EQ(h.spy->instances, 1) << "the built-in server, for .xls";
  EXPECT_EQ(w.CurrentFile, h.tmp.Path("plain.xls"));
  EXPECT_TRUE(QFile::exists(h.tmp.Path("plain.xls")));

  h.NewWorkbook(h.tmp.Path("more.xls"));
  EXPECT_EQ(h.spy->instances, 1) << "a further .xls workbook goes into the instance held";
  EXPECT_EQ(h.spy->Count("Add"), 2);
  EXPECT_TRUE(h.ui.messages.empty()) << h.ui.Texts().join('|').toStdString();
}

TEST_F(ChoiceTest, OpenGoesToCalcForXlsWhenTheSettingsSaySo) {
  const QString xls = h.tmp.Path("class.xls");
  MakeWorkbook(xls, [](const OleVariant& s) { PutCell(s, 1, 1, "Results"); });
  TfrmMain& w = h.StartWindow();
  w.OpenWorkbook(xls);
  EXPECT_EQ(h.spy->instances, 2) << "the one that made the file, and the open";
  EXPECT_EQ(calc->instances, 0);

  h.WriteSettings("[Main]\nPortNo=3\nSpreadsheet=LibreOffice\n");
  w.OpenWorkbook(xls);
  EXPECT_EQ(calc->instances, 1);
  EXPECT_TRUE(w.ScanningActive);
  EXPECT_EQ(w.CurrentRow, 2);
  EXPECT_TRUE(h.ui.messages.empty()) << h.ui.Texts().join('|').toStdString();
}

TEST_F(ChoiceTest, WithoutCalcOneInformationBoxSaysWhatToInstallAndTheWorkbookStays) {
  const QString xls = h.tmp.Path("class.xls");
  MakeWorkbook(xls, [](const OleVariant&) {});
  RegisterAutomationServer(kCalcServerProgId, []() -> std::shared_ptr<IDispatchObject> {
    throw EServerUnavailable("LibreOffice Calc is not installed.  Install it with: sudo apt install libreoffice-calc");
  });
  TfrmMain& w = h.StartWindow();
  w.OpenWorkbook(xls);
  ASSERT_TRUE(w.ScanningActive);
  const OleVariant app = w.ExcelApp;
  for (const QString& other : {h.tmp.Path("marks.xlsx"), h.tmp.Path("marks.ods")}) {
    h.ui.messages.clear();
    w.OpenWorkbook(other);
    ASSERT_EQ(h.ui.messages.size(), 1u);
    EXPECT_EQ(h.ui.messages[0].kind, MessageKind::Information);
    EXPECT_EQ(h.ui.messages[0].text, QStringLiteral("'%1' cannot be opened: LibreOffice Calc is not installed.  Install it "
                                                    "with: sudo apt install libreoffice-calc")
                                         .arg(other));
    EXPECT_EQ(w.CurrentFile, xls);
    EXPECT_TRUE(w.ScanningActive);
  }
  h.ui.messages.clear();
  h.NewWorkbook(h.tmp.Path("new.ods"));
  ASSERT_EQ(h.ui.messages.size(), 1u);
  EXPECT_EQ(h.ui.messages[0].kind, MessageKind::Information);
  EXPECT_EQ(w.CurrentFile, xls);
  EXPECT_TRUE(w.ExcelApp.ToObject() == app.ToObject());
  h.Tick({"7"});
  EXPECT_EQ(w.CurrentRow, 2) << "scanning went on into the workbook held";
}

}  // namespace
