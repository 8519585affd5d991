// Formula text: read into tokens (with the operand classes and jumps other
// programs rely on), printed back as the application shows it, and the
// refusals with their place and reason.

#include "FormulaTestKit.h"
#include "spreadsheet/formula/text/FormulaParser.h"
#include "spreadsheet/formula/text/FormulaPrinter.h"

#include <gtest/gtest.h>

#include <random>

namespace {

using namespace FormulaKit;

class FormulaText : public ::testing::Test {
 protected:
  FormulaText() {
    DefinedName rate;
    rate.name = QStringLiteral("Rate");
    links_.names.push_back(rate);
    DefinedName local;  // a name of the second sheet only
    local.name = QStringLiteral("Local");
    local.sheet = 2;
    links_.names.push_back(local);
  }

  FormulaTokens Parse(const QString& text, int ownSheet = 0) {
    FormulaScope scope{sheets_, links_, ownSheet};
    return ParseFormula(text, scope);
  }
  std::optional<QString> Print(const FormulaTokens& tokens, const CellPosition& at = {}) const {
    return PrintFormula(tokens.tokens, tokens.extra, at, PrintScope{sheets_, links_});
  }
  QString RoundTrip(const QString& text) {
    const std::optional<QString> printed = Print(Parse(text));
    return printed ? *printed : QStringLiteral("<not printed>");
  }
  FormulaTextError Refusal(const QString& text) {
    try {
      Parse(text);
    } catch (const FormulaTextError& e) {
      return e;
    }
    ADD_FAILURE() << "accepted: " << text.toStdString();
    return {};
  }
  // The formula's result in a workbook of cells (sheets 0..2).
  Value Evaluate(const QString& text, MapCells& cells, const CellPosition& at = {}) {
    const FormulaTokens tokens = Parse(text, at.sheet);
    FormulaEnvironment env;
    for (const ExternSheet& entry : links_.sheets) {
      env.externSheets.push_back({FormulaEnvironment::SheetRun::Book::Own, entry.first, entry.last});
    }
    const std::optional<Biff::Bytes> relative = Ptg::RelativeForm(tokens.tokens, at);
    EXPECT_TRUE(relative);
    const DecodedFormula decoded = DecodeFormula(*relative, tokens.extra, env);
    EXPECT_TRUE(decoded.program) << decoded.outside.toStdString();
    if (!decoded.program) return Value::Error(ErrorCode::Name);
    FormulaEvaluator evaluator(cells);
    return evaluator.Evaluate(*decoded.program, at);
  }

  std::vector<QString> sheets_{QStringLiteral("Sheet1"), QStringLiteral("Key"), QStringLiteral("My Sheet"),
                               QStringLiteral("It's")};
  WorkbookLinks links_;
};

TEST_F(FormulaText, ReadsAndPrintsBackTheApplicationsSyntax) {
  const char* const same[] = {
      "=A1", "=$A$1+B$2*$C3", "=SUM(A1:B2)", "=SUM(A:A)", "=SUM($B:$D)", "=SUM(1:1)", "=SUM($2:$5)",
      "=Key!B1", "='My Sheet'!A1:B9", "='It''s'!A1", "=SUM(Sheet1:Key!A1)", "=1+2*3-4/5^6", "=-A1%",
      "=\"a\"\"b\"&C1", "=TRUE", "=FALSE", "=#N/A", "=#DIV/0!", "=IF(A1>0,B1,C1)", "=IF(A1,,2)",
      "=A1<>B1", "=A1<=B1", "=A1>=B1", "=SUM((A1,B1:B3),C1)", "=SUM(A1:C3 B2:B4)", "=Rate*2", "={1,2;3,4}",
      "=SUMPRODUCT((Sheet1!B2:E2=Key!B1:E1)*Key!B2:E2)", "=CHOOSE(2,\"a\",\"b\",\"c\")", "=1.5E+20+0.001",
      "=(1+2)*3", "=2^-1", "=SUM(A1:INDEX(A1:A9,3))", "=Key!#REF!",
  };
  for (const char* text : same) EXPECT_EQ(RoundTrip(QString::fromUtf8(text)), QString::fromUtf8(text)) << text;
  // What the application changes: function names and sheet names as the
  // workbook has them, areas put in order, numbers in their plain form,
  // blanks between operators dropped.
  const std::pair<const char*, const char*> changed[] = {
      {"=sum(a1:b2)", "=SUM(A1:B2)"},    {"=key!b1", "=Key!B1"},        {"=B3:A1", "=A1:B3"},
      {"=$B$3:A1", "=A1:$B$3"},          {"=.5+1e3", "=0.5+1000"},      {"= A1 + 2 ", "=A1+2"},
      {"=true", "=TRUE"},                {"='Key'!A1", "=Key!A1"},      {"=rate", "=Rate"},
      {"=#n/a", "=#N/A"},                {"=A1:IV1", "=1:1"},           {"=A1:A65536", "=A:A"},
  };
  for (const auto& [typed, shown] : changed) EXPECT_EQ(RoundTrip(QString::fromUtf8(typed)), QString::fromUtf8(shown)) << typed;
}

// The classes other programs evaluate by: a value where a value is taken,
// the reference where a function takes one, arrays inside SUMPRODUCT.
TEST_F(FormulaText, OperandsTakeTheClassTheirPlaceCallsFor) {
  using namespace TokenClass;
  const auto first = [this](const QString& text) { return Parse(text).tokens; };
  EXPECT_EQ(first("=A1+1")[0], kValue | Ptg::kRef);
  EXPECT_EQ(first("=A1:A3")[0], kValue | Ptg::kArea);
  EXPECT_EQ(first("=SUM(A1:A3)")[0], kReference | Ptg::kArea);
  EXPECT_EQ(first("=ROW(A1)")[0], kReference | Ptg::kRef);
  EXPECT_EQ(first("=Rate*2")[0], kValue | Ptg::kName);
  const Biff::Bytes sum = first("=SUMPRODUCT((A1:A5=B1:B5)*C1:C5)");
  EXPECT_EQ(sum[0], kArray | Ptg::kArea);
  EXPECT_EQ(sum[9], kArray | Ptg::kArea);
  EXPECT_EQ(sum[18], Ptg::kEq);
  EXPECT_EQ(sum[19], Ptg::kParen);
  EXPECT_EQ(sum[20], kArray | Ptg::kArea);
  EXPECT_EQ(sum[29], Ptg::kMul);
  EXPECT_EQ(sum[30], kValue | Ptg::kFuncVar);  // SUMPRODUCT itself gives a value
  // A value function inside it reads every cell too, and so does its argument.
  const Biff::Bytes find = first("=SUMPRODUCT(--ISNUMBER(FIND(\"3\",C2:C500)))");
  EXPECT_EQ(find[4], kArray | Ptg::kArea);
  EXPECT_EQ(find[13], kArray | Ptg::kFuncVar);  // FIND
  EXPECT_EQ(find[17], kArray | Ptg::kFunc);     // ISNUMBER
  // Fixed-argument functions are tFunc, the others tFuncVar with their count.
  EXPECT_EQ(first("=ROUND(1,2)")[6], kValue | Ptg::kFunc);
  const Biff::Bytes left = first("=LEFT(\"ab\")");
  EXPECT_EQ(left[5], kValue | Ptg::kFuncVar);
  EXPECT_EQ(left[6], 1);
}

// IF and CHOOSE carry the jumps the application writes after their
// condition and after each argument.
TEST_F(FormulaText, IfAndChooseJumpPastWhatTheyDoNotPick) {
  const Biff::Bytes tokens = Parse(QStringLiteral("=IF(A1,1,22)")).tokens;
  // tRefV(5) tAttrIf(4) tInt(3) tAttrGoto(4) tInt(3) tAttrGoto(4) tFuncVar(4)
  ASSERT_EQ(tokens.size(), 27u);
  EXPECT_EQ(tokens[5], Ptg::kAttr);
  EXPECT_EQ(tokens[6], Ptg::kAttrIf);
  EXPECT_EQ(Biff::U16(tokens.data() + 7), 3 + 4);       // to the FALSE part
  EXPECT_EQ(tokens[13], Ptg::kAttrGoto);
  EXPECT_EQ(Biff::U16(tokens.data() + 14), 3 + 4 + 4 - 1);  // past the call, less one
  EXPECT_EQ(Biff::U16(tokens.data() + 21), 4 - 1);
  EXPECT_EQ(tokens[23] & 0x1F, Ptg::kFuncVar);

  const Biff::Bytes choose = Parse(QStringLiteral("=CHOOSE(A1,1,2)")).tokens;
  // tRefV(5) tAttrChoose(4 + 3*2) tInt tAttrGoto tInt tAttrGoto tFuncVar
  ASSERT_EQ(choose[6], Ptg::kAttrChoose);
  EXPECT_EQ(Biff::U16(choose.data() + 7), 2);
  EXPECT_EQ(Biff::U16(choose.data() + 9), 6);             // first choice: right after the table
  EXPECT_EQ(Biff::U16(choose.data() + 11), 6 + 3 + 4);    // second choice
  EXPECT_EQ(Biff::U16(choose.data() + 13), 6 + 2 * 7);    // the call
  EXPECT_EQ(choose.size(), 5u + 10 + 2 * 7 + 4);
}

TEST_F(FormulaText, ReferencesToOtherSheetsShareOneEntryPerSheetSpan) {
  const QString text = QStringLiteral("=Key!A1+Key!B2:C3+SUM(Sheet1:Key!A1)");
  const FormulaTokens before = Parse(text);
  ASSERT_EQ(links_.sheets.size(), 2u);
  EXPECT_EQ(links_.sheets[0].first, 1);
  EXPECT_EQ(links_.sheets[1].first, 0);
  EXPECT_EQ(links_.sheets[1].last, 1);
  ASSERT_EQ(links_.OwnBook(), 0);
  EXPECT_TRUE(links_.sheetTableChanged);
  Parse(QStringLiteral("=key!Z9"));
  EXPECT_EQ(links_.sheets.size(), 2u);
  // A sheet put before them moves the spans, never what they name.
  links_.SheetInserted(1);
  sheets_.insert(sheets_.begin() + 1, QStringLiteral("New"));
  EXPECT_EQ(Print(before), text);
  EXPECT_EQ(links_.sheets[0].first, 2);
  Parse(QStringLiteral("=Key!A1"));
  EXPECT_EQ(links_.sheets.size(), 2u);
}

TEST_F(FormulaText, PrecedenceAndValuesFollowTheApplication) {
  MapCells cells;
  cells.Set(0, 0, 0, Value::Number(6));
  cells.Set(1, 1, 1, Value::Number(2));
  const auto number = [&](const char* text) {
    const Value v = Evaluate(QString::fromUtf8(text), cells);
    EXPECT_EQ(v.kind, Value::Kind::Number) << text;
    return v.number;
  };
  EXPECT_EQ(number("=-2^2"), 4);
  EXPECT_EQ(number("=2^3^2"), 64);
  EXPECT_EQ(number("=1+2*3"), 7);
  EXPECT_EQ(number("=(1+2)*3"), 9);
  EXPECT_EQ(number("=50%*A1"), 3);
  EXPECT_EQ(number("=A1*Key!B2"), 12);
  EXPECT_EQ(number("=sum(A1,5,key!B2)"), 13);
  EXPECT_EQ(number("=SUMPRODUCT({1,2;3,4}*{1,1;2,2})"), 17);
  EXPECT_EQ(Evaluate(QStringLiteral("=\"a\"\"b\"&1=\"A\"\"B1\""), cells).boolean, true);
}

// Where the corpus cannot vouch for the application's value (Calc gives
// another), its documented one.
TEST_F(FormulaText, NewFunctionsGiveTheApplicationsDocumentedValues) {
  MapCells cells;
  const auto value = [&](const char* text) { return Evaluate(QString::fromUtf8(text), cells); };
  EXPECT_EQ(value("=FIND(\"\",\"abc\")").number, 1);       // an empty text is found where the search starts
  EXPECT_EQ(value("=FIND(\"\",\"abc\",3)").number, 3);
  EXPECT_EQ(value("=FIND(\"a\",\"abc\",0)").error, ErrorCode::Value);
  EXPECT_EQ(value("=SEARCH(\"~*\",\"a*b\")").number, 2);   // ~ takes * literally
  EXPECT_EQ(value("=FLOOR(5,-1)").error, ErrorCode::Num);     // a positive number, a negative multiple
  EXPECT_EQ(value("=CEILING(5,-1)").error, ErrorCode::Num);
  EXPECT_EQ(value("=FLOOR(5,0)").error, ErrorCode::Div0);
  EXPECT_EQ(value("=FLOOR(0,0)").number, 0);
  EXPECT_EQ(value("=SUBSTITUTE(\"aaa\",\"a\",\"b\",0)").error, ErrorCode::Value);
  EXPECT_EQ(value("=SUBSTITUTE(\"aaa\",\"a\",\"b\",4)").text, QStringLiteral("aaa"));
  EXPECT_NEAR(value("=STDEVP(1,2,\"3\",TRUE)").number, 0.82915619758885, 1e-12);  // typed-in "3" and TRUE count
  EXPECT_EQ(value("=VARP(5)").number, 0);
  EXPECT_EQ(value("=CORREL({1,2,3},{1,2})").error, ErrorCode::NA);
  EXPECT_EQ(value("=CORREL({1,1,1},{1,2,3})").error, ErrorCode::Div0);
  // IF inside an array argument picks element by element; outside it, by
  // the formula's row.
  EXPECT_EQ(value("=SUMPRODUCT(IF({1,0,1}=1,{10,20,30},0))").number, 40);
  EXPECT_EQ(value("=SUMPRODUCT(IF({1,0,1}=1,{10,20,30}))").number, 40);
}

TEST_F(FormulaText, RefusalsSayWhereAndWhy) {
  const FormulaTextError open = Refusal(QStringLiteral("=SUM(A1:A3"));
  EXPECT_EQ(open.position, 11);
  EXPECT_EQ(open.reason, QStringLiteral("a closing parenthesis is missing"));
  const FormulaTextError unknown = Refusal(QStringLiteral("=1+FOO(2)"));
  EXPECT_EQ(unknown.position, 4);
  EXPECT_EQ(unknown.reason, QStringLiteral("there is no function FOO"));
  EXPECT_EQ(Refusal(QStringLiteral("=now()")).reason,
            QStringLiteral("NOW is not a function the built-in spreadsheet server evaluates"));
  const FormulaTextError sheet = Refusal(QStringLiteral("=SUM(Nope!A1:A3)"));
  EXPECT_EQ(sheet.position, 6);
  EXPECT_EQ(sheet.reason, QStringLiteral("there is no sheet \"Nope\""));
  EXPECT_EQ(Refusal(QStringLiteral("=Nobody*2")).reason, QStringLiteral("there is no defined name Nobody"));
  EXPECT_EQ(Refusal(QStringLiteral("=Local")).reason, QStringLiteral("there is no defined name Local"));
  EXPECT_NO_THROW(Parse(QStringLiteral("=Local"), 1));
  EXPECT_EQ(Refusal(QStringLiteral("=")).reason, QStringLiteral("there is nothing after the ="));
  EXPECT_EQ(Refusal(QStringLiteral("=1+")).reason, QStringLiteral("the formula ends too soon"));
  EXPECT_EQ(Refusal(QStringLiteral("=(1))")).reason, QStringLiteral("a closing parenthesis has no opening one"));
  EXPECT_EQ(Refusal(QStringLiteral("=\"open")).position, 2);
  EXPECT_EQ(Refusal(QStringLiteral("=ROUND(1)")).reason, QStringLiteral("ROUND takes 2 argument(s), not 1"));
  EXPECT_EQ(Refusal(QStringLiteral("=A1,B1")).position, 4);
  EXPECT_EQ(Refusal(QStringLiteral("={1,2;3}")).position, 8);
  EXPECT_EQ(Refusal(QStringLiteral("=A1*#FOO!")).position, 5);
  EXPECT_TRUE(Refusal(QStringLiteral("=\"") + QString(256, QLatin1Char('x')) + QLatin1Char('"')).reason.contains(QStringLiteral("255")));
  // Nesting is bounded, never the stack.
  EXPECT_EQ(Refusal(QStringLiteral("=") + QString(5000, QLatin1Char('(')) + QLatin1Char('1')).reason,
            QStringLiteral("the formula is nested too deeply"));
  EXPECT_EQ(Refusal(QStringLiteral("=") + QString(5000, QLatin1Char('-')) + QLatin1Char('1')).reason,
            QStringLiteral("the formula is nested too deeply"));
}

// Tokens read from files: shared formulas keep offsets from their cell,
// and formulas name functions the server does not evaluate.
TEST_F(FormulaText, TokensFromFilesPrintForTheirOwnCell) {
  const Rpn shared = Rpn().RefN(0, -1).Int(2).Op(Ptg::kMul);
  const PrintScope scope{sheets_, links_};
  EXPECT_EQ(PrintFormula(shared.Bytes(), {}, {0, 6, 1}, scope), QStringLiteral("=A7*2"));
  EXPECT_EQ(PrintFormula(shared.Bytes(), {}, {0, 9, 3}, scope), QStringLiteral("=C10*2"));
  const Rpn now = Rpn().Func(74).Func(19).Op(Ptg::kAdd);  // NOW()+PI()
  EXPECT_EQ(PrintFormula(now.Bytes(), {}, {}, scope), QStringLiteral("=NOW()+PI()"));
  EXPECT_EQ(PrintFormula(Rpn().Area(0, 0, 4, 0).AttrSum().Bytes(), {}, {}, scope), QStringLiteral("=SUM($A$1:$A$5)"));
  EXPECT_FALSE(PrintFormula(Rpn().Int(1).Op(Ptg::kAdd).Bytes(), {}, {}, scope));  // damaged: an operand short
}

// Whatever text comes, the parser answers with tokens or a refusal, never
// a crash; what it accepts prints to a text that reads back to the same
// tokens.
TEST_F(FormulaText, AnyTextIsReadOrRefusedAndWhatIsReadPrintsBackToItself) {
  const char* const pieces[] = {"A1", "$B$2", "C3:D4", "Key!", "'My Sheet'!", "A:A", "1:2", "SUM(", "if(", "ROUND(",
                                "SUMPRODUCT(", "LEN(", ")", "(", ",", "+", "-", "*", "/", "^", "&", "%", "=", "<>",
                                "<=", " ", "1", "2.5", "\"x\"", "\"\"", "TRUE", "#N/A", "{1,2}", "Rate", ":", "!", "'"};
  std::mt19937 random(11);
  int accepted = 0;
  for (int round = 0; round < 3000; ++round) {
    QString text = QStringLiteral("=");
    const int length = 1 + static_cast<int>(random() % 9);
    for (int i = 0; i < length; ++i) text += QString::fromUtf8(pieces[random() % std::size(pieces)]);
    FormulaTokens tokens;
    try {
      tokens = Parse(text);
    } catch (const FormulaTextError& e) {
      EXPECT_GE(e.position, 1) << text.toStdString();
      EXPECT_LE(e.position, text.size() + 1) << text.toStdString();
      EXPECT_FALSE(e.reason.isEmpty());
      continue;
    }
    ++accepted;
    const std::optional<QString> printed = Print(tokens);
    ASSERT_TRUE(printed) << text.toStdString();
    const FormulaTokens again = Parse(*printed);
    EXPECT_EQ(again.tokens, tokens.tokens) << text.toStdString() << " printed as " << printed->toStdString();
    EXPECT_EQ(again.extra, tokens.extra) << text.toStdString();
  }
  EXPECT_GT(accepted, 100);
}

// Every function the server evaluates is the built-in function of that
// number, written the way the table says.
TEST(FunctionTable, EvaluatedFunctionsAgreeWithTheFileFormatsTable) {
  for (const FunctionInfo& f : EvaluatedFunctions()) {
    EXPECT_EQ(BuiltInFunctionName(f.id), QString::fromLatin1(f.name)) << f.name;
    EXPECT_EQ(BuiltInFunctionFixedArgs(f.id), f.FixedArgs() ? f.minArgs : -1) << f.name;
    EXPECT_EQ(FindFunction(QString::fromLatin1(f.name).toLower()), &f) << f.name;
  }
}

}  // namespace
