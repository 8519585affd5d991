#include "settings/IniFile.h"
#include "TempDir.h"

#include <gtest/gtest.h>

namespace {

TEST(IniFile, MissingFileSectionOrKeyGivesDefault) {
  TempDir tmp;
  IniFile ini(tmp.Path("none.ini"));
  EXPECT_EQ(ini.ReadString("Main", "PortNo", "dflt"), "dflt");
  EXPECT_EQ(ini.ReadInteger("Main", "PortNo", 7), 7);
  tmp.Write("s.ini", "[Other]\nPortNo=3\n");
  IniFile other(tmp.Path("s.ini"));
  EXPECT_EQ(other.ReadInteger("Main", "PortNo", 0), 0);
  EXPECT_EQ(other.ReadString("Other", "Missing", "x"), "x");
}

TEST(IniFile, SectionsAndKeysMatchWithoutRegardToCase) {
  TempDir tmp;
  tmp.Write("s.ini", "[MAIN]\nportno=4\nScanMode=single\n");
  IniFile ini(tmp.Path("s.ini"));
  EXPECT_EQ(ini.ReadInteger("Main", "PortNo", 0), 4);
  EXPECT_EQ(ini.ReadString("main", "SCANMODE", ""), "single");
  // Writing to "Main" lands under the existing "MAIN" header, not a second one.
  ini.WriteString("Main", "PortNo", "9");
  ini.WriteString("Main", "NewKey", "v");
  EXPECT_EQ(tmp.Read("s.ini"), "[MAIN]\nportno=9\nScanMode=single\nNewKey=v\n");
}

TEST(IniFile, FirstWriteCreatesFileAndLaterWritesReplaceInPlace) {
  TempDir tmp;
  IniFile ini(tmp.Path("s.ini"));
  ini.WriteInteger("Main", "PortNo", 3);
  ini.WriteString("MAIN", "ScanMode", "MULTI");
  ini.WriteString("FEED", "Recent0", "/home/t/a.xls");
  ini.WriteInteger("Main", "PortNo", 12);
  EXPECT_EQ(tmp.Read("s.ini"), "[Main]\nPortNo=12\nScanMode=MULTI\n\n[FEED]\nRecent0=/home/t/a.xls\n");
}

TEST(IniFile, UntouchedLinesSurviveAWriteByteForByte) {
  TempDir tmp;
  const QByteArray original = "; comment\r\n[Ports]\r\nCOM9 = /dev/ttyUSB0\r\n\r\n[Main]\r\nPortNo=1\r\nOdd line\r\n";
  tmp.Write("s.ini", original);
  IniFile ini(tmp.Path("s.ini"));
  EXPECT_EQ(ini.ReadString("Ports", "com9", ""), "/dev/ttyUSB0");
  ini.WriteInteger("Main", "PortNo", 2);
  QByteArray expected = original;
  expected.replace("PortNo=1", "PortNo=2");
  EXPECT_EQ(tmp.Read("s.ini"), expected);
}

TEST(IniFile, ValuesAreTrimmedUnquotedAndCutAt2047Characters) {
  TempDir tmp;
  const QByteArray longValue(3000, 'a');
  tmp.Write("s.ini", "[S]\nq=  \"quoted value\"  \nlong=" + longValue + "\n");
  IniFile ini(tmp.Path("s.ini"));
  EXPECT_EQ(ini.ReadString("S", "q", ""), "quoted value");
  EXPECT_EQ(ini.ReadString("S", "long", "").size(), 2047);
}

TEST(IniFile, FailedWriteRaisesWithFullPathAndLeavesNothingBehind) {
  TempDir tmp;
  // A folder where the file should be: writing must fail even for root.
  QDir(tmp.Path()).mkdir("s.ini");
  IniFile ini(tmp.Path("s.ini"));
  try {
    ini.WriteString("Main", "PortNo", "1");
    FAIL() << "write into a folder succeeded";
  } catch (const ESettingsWriteError& e) {
    EXPECT_EQ(std::string(e.what()), ("Unable to write to " + tmp.Path("s.ini")).toStdString());
  }
  EXPECT_EQ(QDir(tmp.Path()).entryList(QDir::Files).size(), 0) << "no temporary file may remain";
}

TEST(ProfileInteger, DecimalHexAndGarbage) {
  struct Case { const char* text; bool ok; int value; };
  const Case cases[] = {
      {"3", true, 3},        {" 24 ", true, 24},  {"-5", true, -5},       {"0x1A", true, 26},
      {"0X10", true, 16},    {"$ff", true, 255},  {"0xFFFFFFFF", true, -1}, {"abc", false, 0},
      {"3com", false, 0},    {"", false, 0},      {"0x", false, 0},       {"99999999999", false, 0},
      {"2147483647", true, 2147483647},          {"2147483648", false, 0},
  };
  for (const Case& c : cases) {
    int v = 0;
    EXPECT_EQ(ParseProfileInteger(c.text, v), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(v, c.value) << c.text;
    }
  }
}

}  // namespace
