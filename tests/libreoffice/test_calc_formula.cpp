// Formula texts between the application's syntax and Calc's grammar, with
// no office: the corpus both ways against the oracle's own translation, the
// refusals with their places, and sheet names.
#include "automation/OleVariant.h"
#include "libreoffice/CalcFormula.h"
#include "libreoffice/FormulaSyntax.h"
#include "libreoffice/SheetNames.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>

#include <gtest/gtest.h>

namespace {

QStringList CorpusFormulas() {
  QStringList formulas;
  const QDir dir(QStringLiteral(CFW_FIXTURES_DIR "/formulas"));
  for (const QString& name : dir.entryList({QStringLiteral("*.json")})) {
    if (name == u"overrides.json") continue;
    QFile file(dir.filePath(name));
    EXPECT_TRUE(file.open(QIODevice::ReadOnly));
    for (const QJsonValue& f : QJsonDocument::fromJson(file.readAll()).object()[QStringLiteral("formulas")].toArray()) {
      formulas << f.toObject()[QStringLiteral("formula")].toString();
    }
  }
  return formulas;
}

// The oracle's own translation (the one the corpus was made with), written
// with every sheet quoted as ours writes it.
QStringList OracleTranslations(const QStringList& formulas) {
  QProcess python;
  python.setWorkingDirectory(QStringLiteral(CFW_FIXTURES_DIR "/formulas"));
  python.start(QStringLiteral("/usr/bin/python3"),
               {QStringLiteral("-c"),
                QStringLiteral("import sys, json, re, oracle_syntax\n"
                               "def quoted(m):\n"
                               "    name = m.group(1)\n"
                               "    return \"$'%s'.\" % name if not name.startswith(\"'\") else '$' + name + '.'\n"
                               "for f in json.load(sys.stdin):\n"
                               "    t = oracle_syntax.to_libreoffice(f)\n"
                               "    print(re.sub(r\"\\$('(?:[^']|'')+'|[A-Za-z_][\\w]*)\\.\", quoted, t))\n")});
  python.write(QJsonDocument(QJsonArray::fromStringList(formulas)).toJson());
  python.closeWriteChannel();
  EXPECT_TRUE(python.waitForFinished(30000));
  EXPECT_EQ(python.exitCode(), 0) << python.readAllStandardError().toStdString();
  return QString::fromUtf8(python.readAllStandardOutput()).split(u'\n', Qt::SkipEmptyParts);
}

CalcFunctionNames SomeFunctions() {
  CalcFunctionNames names;
  for (const char* name : {"SUM", "IF", "INDEX", "SUMPRODUCT", "LOG10", "TRUE", "FALSE"}) names.Add(name, name);
  names.Add("PDURATION", "DURATION");
  names.Add("COUPDAYS", "COM.SUN.STAR.SHEET.ADDIN.ANALYSIS.GETCOUPDAYS");
  return names;
}

// A workbook with the sheets Sheet1, Key and "My Sheet" and the name Scores.
struct Book {
  CalcFunctionNames functions = SomeFunctions();
  CalcFormulaTargets targets;
  Book() {
    targets.sheet = [](const QString& name) -> std::optional<QString> {
      for (const char* sheet : {"Sheet1", "Key", "My Sheet", "It's"}) {
        if (name.compare(QLatin1String(sheet), Qt::CaseInsensitive) == 0) return QString::fromUtf8(sheet);
      }
      return std::nullopt;
    };
    targets.name = [](const QString& name) { return name.compare(QLatin1String("scores"), Qt::CaseInsensitive) == 0; };
    targets.functions = &functions;
  }
  QString ToCalc(const QString& formula) const { return ToCalcGrammar(formula, QStringLiteral("Sheet1!B2"), targets); }
  QString Refusal(const QString& formula) const {
    try {
      ToCalc(formula);
    } catch (const EOleError& e) {
      return e.Message();
    }
    return {};
  }
};

}  // namespace

TEST(CalcFormula, EveryCorpusFormulaReadsAsTheOracleWritesItAndComesBackAsWritten) {
  const QStringList formulas = CorpusFormulas();
  ASSERT_GT(formulas.size(), 400);
  const QStringList oracle = OracleTranslations(formulas);
  ASSERT_EQ(oracle.size(), formulas.size());
  CalcFormulaTargets any;  // every sheet, name and function taken as it is written
  const CalcFunctionNames same;
  for (qsizetype i = 0; i < formulas.size(); ++i) {
    SCOPED_TRACE(formulas[i].toStdString());
    const QString calc = ToCalcGrammar(formulas[i], QStringLiteral("A1"), any);
    EXPECT_EQ(calc, oracle[i]);
    EXPECT_EQ(FromCalcGrammar(calc, same), formulas[i]);
  }
}

TEST(CalcFormula, SheetsNamesAndFunctionsAreTakenAsTheWorkbookSpellsThem) {
  const Book book;
  EXPECT_EQ(book.ToCalc("=sum(key!b2:E2,1)"), "=SUM($'Key'.b2:E2;1)");
  EXPECT_EQ(book.ToCalc("=SUMPRODUCT((Sheet1!B2:E2=Key!B1:E1)*Key!B2:E2)"),
            "=SUMPRODUCT(($'Sheet1'.B2:E2=$'Key'.B1:E1)*$'Key'.B2:E2)");
  EXPECT_EQ(book.ToCalc("='My Sheet'!A1:B9+'It''s'!$A$1"), "=$'My Sheet'.A1:B9+$'It''s'.$A$1");
  EXPECT_EQ(book.ToCalc("=SUM(Sheet1:Key!A:A)+SUM('Sheet1:My Sheet'!2:3)"),
            "=SUM($'Sheet1'.A:$'Key'.A)+SUM($'Sheet1'.2:$'My Sheet'.3)");
  EXPECT_EQ(book.ToCalc("=IF(Scores>1,true,FALSE)"), "=IF(Scores>1;TRUE();FALSE())");
  EXPECT_EQ(book.ToCalc("=LOG10(100)+PDURATION(1,2,3)"), "=LOG10(100)+DURATION(1;2;3)");
  EXPECT_EQ(book.ToCalc("=SUM((A1,B2) C1:D4,\"a,b\")"), "=SUM((A1~B2)!C1:D4;\"a,b\")");
  EXPECT_EQ(book.ToCalc("=IF(A1 = 1 ,#n/a,\"\"\"\")"), "=IF(A1 = 1 ;#N/A;\"\"\"\")");
  const CalcFunctionNames functions = SomeFunctions();
  EXPECT_EQ(FromCalcGrammar("=DURATION(1;2;3)+COM.SUN.STAR.SHEET.ADDIN.ANALYSIS.GETCOUPDAYS(1;2;3)", functions),
            "=PDURATION(1,2,3)+COUPDAYS(1,2,3)");
}

// Calc lists its own CEILING and FLOOR under the application's names; they
// round negative numbers the other way, so the application's go to the .XCL pair.
TEST(CalcFormula, CeilingAndFloorAreTheApplicationsWhateverTheOfficeLists) {
  Book book;
  book.functions.Add("CEILING", "CEILING");
  book.functions.Add("FLOOR.XCL", "FLOOR.XCL");
  book.functions.Add("FLOOR", "FLOOR");
  EXPECT_EQ(book.ToCalc("=ceiling(-2.5,2)+FLOOR(-2.5,2)"), "=CEILING.XCL(-2.5;2)+FLOOR.XCL(-2.5;2)");
  EXPECT_EQ(FromCalcGrammar("=CEILING.XCL(-2.5;2)+FLOOR.XCL(-2.5;2)", book.functions), "=CEILING(-2.5,2)+FLOOR(-2.5,2)");
  EXPECT_EQ(ToCalcGrammar("=CEILING(1,2)", QStringLiteral("A1"), CalcFormulaTargets{}), "=CEILING.XCL(1;2)");
}

// What Calc gives back that the corpus never wrote: the forms of its own
// that the application writes otherwise.
TEST(CalcFormula, CalcsOwnFormsReadBackInTheApplicationsSyntax) {
  const CalcFunctionNames same;
  EXPECT_EQ(FromCalcGrammar("=$Feb.#REF!#REF!*2", same), "=Feb!#REF!*2");
  EXPECT_EQ(FromCalcGrammar("=SUM($Jan.A1:$Mar.A1)+$Key.$B$2:$Key.$K$2", same), "=SUM(Jan:Mar!A1)+Key!$B$2:$K$2");
  EXPECT_EQ(FromCalcGrammar("=$'2024'.A1+$'A1'.B2+$'TRUE'.C3+Sheet1.D4", same), "='2024'!A1+'A1'!B2+'TRUE'!C3+Sheet1!D4");
  EXPECT_EQ(FromCalcGrammar("=SUM($'a b'.A1:$c.B2)", same), "=SUM('a b:c'!A1:B2)");
  EXPECT_EQ(FromCalcGrammar("=IF(1;#DIV/0!;\"x;y~z!\")&STDEV.S(A1:A3)", same), "=IF(1,#DIV/0!,\"x;y~z!\")&STDEV.S(A1:A3)");
}

TEST(CalcFormula, AFormulaThatDoesNotReadIsRefusedNamingTheCellTheFormulaAndThePlace) {
  const Book book;
  struct Case {
    const char* formula;
    int character;
    const char* why;
  };
  const Case cases[] = {
      {"=SUM(A1", 8, "the \"(\" at character 5 is not closed"},
      {"=SUM(A1))", 9, "has no \"(\""},
      {"=1+", 4, "ends where an operand is expected"},
      {"=", 2, "the formula is empty"},
      {"=\"abc", 2, "not closed"},
      {"=1 2", 4, "an operator is missing"},
      {"=A1+*2", 5, "an operand is missing before \"*\""},
      {"=#OOPS!", 2, "not an error value"},
      {"=Key!+1", 6, "a cell reference must follow"},
      {"='Key", 2, "not closed"},
      {"={1,2}", 2, "arrays of constants"},
      {"=A1,B1", 4, "outside a function's arguments"},
      {"=SUM(1;2)", 7, "\";\" cannot stand"},
      {"=FOO(1)", 2, "there is no function FOO"},
      {"=1+Nope!A1", 4, "there is no sheet \"Nope\""},
      {"=Sheet1:Nope!A1", 2, "there is no sheet \"Nope\""},
      {"=NoName*2", 2, "there is no name \"NoName\""},
      {"=XFE1", 2, "there is no name \"XFE1\""},
      {"=1.5E", 5, "exponent has no digits"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.formula);
    const QString message = book.Refusal(c.formula);
    EXPECT_TRUE(message.startsWith(QStringLiteral("The formula \"%1\" for Sheet1!B2 cannot be taken: at character %2, ")
                                       .arg(QString::fromUtf8(c.formula))
                                       .arg(c.character)))
        << message.toStdString();
    EXPECT_TRUE(message.contains(QString::fromUtf8(c.why))) << message.toStdString();
  }
  // Shapes the application takes, that a simpler reading might refuse.
  for (const char* fine : {"=IF(A1,,2)", "=SUM()", "=-+-A1%%", "=(((1)))", "=A1:B2 B1:C3", "=INDEX(A1:B2,1,1):B3",
                           "=1e3+.5+5.", "=SUM( A1 , B1 )", "=\"\"", "=Key!A1:B2 Key!B1"}) {
    EXPECT_EQ(book.Refusal(fine).toStdString(), "") << fine;
  }
}

TEST(SheetNames, NamesTheApplicationRefusesAreRefusedWithTheReason) {
  const std::vector<QString> names{"Sheet1", "Key", "Sheet3"};
  EXPECT_FALSE(SheetNameFault("Scores", names, -1));
  EXPECT_FALSE(SheetNameFault("KEY", names, 1)) << "its own name in other letters";
  EXPECT_FALSE(SheetNameFault(QString(31, u'x'), names, -1));
  EXPECT_TRUE(SheetNameFault("", names, -1)->contains("cannot be empty"));
  EXPECT_TRUE(SheetNameFault(QString(32, u'x'), names, -1)->contains("at most 31"));
  for (const QChar bad : QStringView(u"[]*?/\\:")) {
    const std::optional<QString> fault = SheetNameFault(QStringLiteral("a%1b").arg(bad), names, -1);
    ASSERT_TRUE(fault);
    EXPECT_TRUE(fault->contains(QStringLiteral("holds \"%1\"").arg(bad))) << fault->toStdString();
  }
  EXPECT_TRUE(SheetNameFault("'quoted", names, -1)->contains("apostrophe"));
  EXPECT_TRUE(SheetNameFault("key", names, 0)->contains("already has a sheet named \"Key\""));
  EXPECT_EQ(NewSheetName({"Sheet1"}), "Sheet2");
  EXPECT_EQ(NewSheetName({"Sheet1", "Key", "Sheet3"}), "Sheet4");
  EXPECT_EQ(NewSheetName({"sheet2", "Key"}), "Sheet3");
  EXPECT_EQ(SheetIndex(names, "sheet3"), 2);
  EXPECT_EQ(SheetNameInFormula("Key"), "Key");
  EXPECT_EQ(SheetNameInFormula("My Sheet"), "'My Sheet'");
  EXPECT_EQ(SheetNameInFormula("R1C1"), "'R1C1'");
  EXPECT_EQ(SheetNameInFormula("It's"), "'It''s'");
  EXPECT_EQ(ColumnLetters(0), "A");
  EXPECT_EQ(ColumnLetters(25), "Z");
  EXPECT_EQ(ColumnLetters(26), "AA");
  EXPECT_EQ(ColumnLetters(16383), "XFD");
}
