// Which files go to Calc in which format, and the check that refuses a file
// whose content cannot be what its name says, before any office sees it.
#include "libreoffice/BridgePlugin.h"
#include "libreoffice/LibreOfficeServer.h"
#include "libreoffice/WorkbookFormat.h"

#include "TempDir.h"

#include <gtest/gtest.h>

namespace {

QString FailureOf(const QString& path, CalcFormat format) {
  try {
    CheckWorkbookFile(path, format);
  } catch (const EOleError& e) {
    return e.Message();
  }
  return {};
}

}  // namespace

TEST(WorkbookFormat, FormatAndFilterFollowTheExtensionWithoutRegardToCase) {
  EXPECT_EQ(FormatForPath("/a/b/Grades.XLSX"), CalcFormat::Xlsx);
  EXPECT_EQ(FormatForPath("scores.ods"), CalcFormat::Ods);
  EXPECT_EQ(FormatForPath("old.Xls"), CalcFormat::Xls);
  EXPECT_FALSE(FormatForPath("notes.csv"));
  EXPECT_FALSE(FormatForPath("noextension"));
  EXPECT_FALSE(FormatForPath("dir.xlsx/file"));
  EXPECT_EQ(FilterFor(CalcFormat::Xlsx), "Calc Office Open XML");
  EXPECT_EQ(FilterFor(CalcFormat::Ods), "calc8");
  EXPECT_EQ(FilterFor(CalcFormat::Xls), "MS Excel 97");
  // The built-in format stays first, as the dialogs default to it.
  EXPECT_TRUE(CalcFileFilter().startsWith("Excel Files (*.xls)|*.xls|"));
}

TEST(WorkbookFormat, DamagedOrMisnamedFilesAreRefusedNamingTheFile) {
  TempDir dir;
  dir.Write("empty.ods", {});
  dir.Write("text.ods", "name;score\nAnna;5\n");
  dir.Write("notzip.xlsx", "<?xml version=\"1.0\"?><workbook/>");
  dir.Write("zip.xls", QByteArray("PK\x03\x04", 4) + QByteArray(100, 'x'));
  EXPECT_TRUE(FailureOf(dir.Path("empty.ods"), CalcFormat::Ods).contains("'empty.ods' is empty"));
  EXPECT_TRUE(FailureOf(dir.Path("text.ods"), CalcFormat::Ods).contains("'text.ods' is not an OpenDocument"));
  EXPECT_TRUE(FailureOf(dir.Path("notzip.xlsx"), CalcFormat::Xlsx).contains("'notzip.xlsx' is not an Excel workbook"));
  EXPECT_TRUE(FailureOf(dir.Path("zip.xls"), CalcFormat::Xls).contains("'zip.xls' is not an Excel 97-2003"));
  EXPECT_TRUE(FailureOf(dir.Path("missing.xlsx"), CalcFormat::Xlsx).contains("could not be found"));
}

TEST(WorkbookFormat, FilesOfTheRightKindPass) {
  TempDir dir;
  const QByteArray compound("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8);
  dir.Write("a.xlsx", QByteArray("PK\x03\x04", 4) + QByteArray(60, '\0'));
  dir.Write("a.ods", QByteArray("PK\x03\x04", 4) + QByteArray(60, '\0'));
  dir.Write("a.xls", compound + QByteArray(500, '\0'));
  dir.Write("protected.xlsx", compound + QByteArray(500, '\0'));  // an encrypted package
  EXPECT_EQ(FailureOf(dir.Path("a.xlsx"), CalcFormat::Xlsx), QString());
  EXPECT_EQ(FailureOf(dir.Path("a.ods"), CalcFormat::Ods), QString());
  EXPECT_EQ(FailureOf(dir.Path("a.xls"), CalcFormat::Xls), QString());
  EXPECT_EQ(FailureOf(dir.Path("protected.xlsx"), CalcFormat::Xlsx), QString());
}

// Without LibreOffice, or without the bridge plugin, making an instance says
// what to install; the program itself goes on.
TEST(WorkbookFormat, WithoutLibreOfficeAnInstanceSaysWhatToInstall) {
  SetLibreOfficeProgramDir("/nonexistent/libreoffice/program");
  try {
    CreateLibreOfficeApplication();
    ADD_FAILURE() << "an instance without LibreOffice";
  } catch (const EServerUnavailable& e) {
    EXPECT_TRUE(e.Message().contains("sudo apt install libreoffice-calc")) << e.Message().toStdString();
  }
  SetLibreOfficeProgramDir({});
  EXPECT_EQ(LibreOfficeProcessId(), -1);
}

TEST(WorkbookFormat, WithoutTheBridgePluginAnInstanceSaysWhatToInstall) {
  BridgePlugin::OverridePath("/nonexistent/libcfw_libreoffice_bridge.so");
  try {
    CreateLibreOfficeApplication();
    ADD_FAILURE() << "an instance without the plugin";
  } catch (const EServerUnavailable& e) {
    EXPECT_TRUE(e.Message().contains("sudo apt install libreoffice-calc")) << e.Message().toStdString();
  }
  BridgePlugin::OverridePath({});
  EXPECT_EQ(LibreOfficeProcessId(), -1);
}
