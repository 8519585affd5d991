#include "spreadsheet/server/Workbook.h"
#include "tools/xlsdump/XlsDump.h"

#include <gtest/gtest.h>

namespace {

TEST(ColumnLetters, NameColumnsAsTheSpreadsheetDoes) {
  EXPECT_EQ(ColumnLetters(0), QStringLiteral("A"));
  EXPECT_EQ(ColumnLetters(25), QStringLiteral("Z"));
  EXPECT_EQ(ColumnLetters(26), QStringLiteral("AA"));
  EXPECT_EQ(ColumnLetters(65), QStringLiteral("BN"));
  EXPECT_EQ(ColumnLetters(255), QStringLiteral("IV"));
}

TEST(XlsDump, PrintsSheetsAndEveryKindOfCell) {
  const std::unique_ptr<Workbook> book = Workbook::CreateBlank();
  Worksheet& sheet = book->Sheet(0);
  sheet.SetText(0, 0, QStringLiteral("say \"hi\"\n"));
  sheet.SetNumber(0, 1, 15);
  sheet.SetBoolean(1, 65, false);
  sheet.SetProtected(true);
  QString text;
  QTextStream out(&text);
  ASSERT_TRUE(XlsDump::Dump(*book, out));
  out.flush();
  EXPECT_EQ(text, QStringLiteral("Sheet 1: \"Sheet1\" (worksheet, protected)\n"
                                 "  A1: text \"say \\\"hi\\\"\\n\"\n"
                                 "  B1: number 15\n"
                                 "  BN2: boolean FALSE\n"));
  EXPECT_FALSE(XlsDump::Dump(*book, out, 2));
}

}  // namespace
