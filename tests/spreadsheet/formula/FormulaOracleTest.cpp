// Formula results against an outside oracle: workbooks made by Calc, opened
// through the server as the main window opens them, changed through Value
// put, and every formula's result compared through Value get.

#include "FormulaCorpus.h"
#include "SpreadsheetTestSupport.h"
#include "automation/ComObj.h"
#include "spreadsheet/server/SpreadsheetServer.h"

#include <QRegularExpression>

#include <algorithm>

namespace {

using SheetTest::ScratchDir;

std::string Report(const std::vector<std::string>& failures) {
  std::string out = std::to_string(failures.size()) + " formula(s) differ:\n";
  for (size_t i = 0; i < failures.size() && i < 60; ++i) out += "  " + failures[i] + "\n";
  if (failures.size() > 60) out += "  ...\n";
  return out;
}

class FormulaOracle : public ::testing::TestWithParam<std::string> {
 protected:
  void SetUp() override {
    RegisterSpreadsheetServer();
    book_ = Corpus::Load(QString::fromStdString(GetParam()));
    excel_ = CreateOleObject("Excel.Application");
    const QString path = dir_.Path(book_.file);
    ASSERT_TRUE(QFile::copy(Corpus::Dir() + QLatin1Char('/') + book_.file, path));
    QFile(path).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    excel_.Get("Workbooks").Call("Open", {path, false});
  }
  void TearDown() override {
    excel_.Get("ActiveWorkBook").Call("Close", {false});
    excel_.Call("Quit");
  }

  ScratchDir dir_;
  Corpus::Book book_;
  OleVariant excel_;
};

TEST_P(FormulaOracle, ResultsAsSavedAreReadBack) {
  const std::vector<std::string> failures = Corpus::Compare(excel_, book_, book_.states.front());
  EXPECT_TRUE(failures.empty()) << Report(failures);
}

// The change sets build on each other, as rows arrive one after the other.
TEST_P(FormulaOracle, ResultsFollowEveryChange) {
  ASSERT_GT(book_.states.size(), 1u) << "no change sets";
  for (size_t i = 1; i < book_.states.size(); ++i) {
    const Corpus::State& state = book_.states[i];
    Corpus::Apply(excel_, state);
    const std::vector<std::string> failures = Corpus::Compare(excel_, book_, state);
    EXPECT_TRUE(failures.empty()) << "after \"" << state.name.toStdString() << "\": " << Report(failures);
  }
}

// Saved with the changes and opened again: the file holds the current results.
TEST_P(FormulaOracle, SavedFileHoldsCurrentResults) {
  for (size_t i = 1; i < book_.states.size(); ++i) Corpus::Apply(excel_, book_.states[i]);
  excel_.Get("ActiveWorkBook").Call("Save");
  const OleVariant reader = CreateOleObject("Excel.Application");
  reader.Get("Workbooks").Call("Open", {dir_.Path(book_.file), false});
  const std::vector<std::string> failures = Corpus::Compare(reader, book_, book_.states.back());
  EXPECT_TRUE(failures.empty()) << Report(failures);
  reader.Call("Quit");
}

// The corpus writes formulas as the application shows them, with what Calc
// made it write otherwise: a whole row as A1:IV1, a whole column as
// A1:A65536, function names in the letter case they were typed in.
QString AsShown(const QString& text) {
  static const QRegularExpression wholeRow(QStringLiteral("\\$?A(\\$?\\d+):\\$?IV(\\$?\\d+)"));
  static const QRegularExpression wholeColumn(QStringLiteral("(\\$?[A-Z]{1,2})\\$?1:(\\$?[A-Z]{1,2})\\$?65536"));
  static const QRegularExpression call(QStringLiteral("([A-Za-z][A-Za-z0-9.]*)\\("));
  QString out;
  // Only outside "texts".
  const QStringList pieces = text.split(QLatin1Char('"'));
  for (qsizetype i = 0; i < pieces.size(); ++i) {
    QString piece = pieces[i];
    if (i % 2 == 0) {
      piece.replace(wholeRow, QStringLiteral("\\1:\\2"));
      piece.replace(wholeColumn, QStringLiteral("\\1:\\2"));
      QRegularExpressionMatchIterator calls = call.globalMatch(piece);
      QString upper = piece;
      while (calls.hasNext()) {
        const QRegularExpressionMatch m = calls.next();
        upper.replace(m.capturedStart(1), m.capturedLength(1), m.captured(1).toUpper());
      }
      piece = upper;
    }
    out += (i > 0 ? QStringLiteral("\"") : QString()) + piece;
  }
  return out;
}

// Formulas the corpus changed after writing them: rows deleted below them.
struct Rewritten {
  const char* book;
  const char* cell;
  const char* text;
};
constexpr Rewritten kRewritten[] = {
    {"references", "Summary!B42", "=SUM(Mar!A8:A11)"},  // row 10 of Mar was deleted
};

// A reference to cells that were deleted after the formula was written
// (the corpus's way of making one) reads #REF! wherever it pointed.
bool SameFormula(const QString& book, const QString& cell, const QString& expected, const QString& got) {
  if (expected == got) return true;
  for (const Rewritten& r : kRewritten) {
    if (book == QLatin1String(r.book) && cell == QLatin1String(r.cell)) return got == QLatin1String(r.text);
  }
  if (!got.contains(QStringLiteral("#REF!"))) return false;
  static const QRegularExpression reference(QStringLiteral("(!)\\$?[A-Z]{1,2}\\$?\\d+(:\\$?[A-Z]{1,2}\\$?\\d+)?"));
  QString deleted = expected;
  deleted.replace(reference, QStringLiteral("\\1#REF!"));
  return deleted == got;
}

std::vector<std::string> BookNames() {
  std::vector<std::string> names;
  for (const QString& name : Corpus::BookNames()) names.push_back(name.toStdString());
  return names;
}

// What another reader finds in the saved file: every formula still a
// formula with the tokens it had, and the stored results current.
TEST_P(FormulaOracle, SavedFileKeepsItsFormulasWithCurrentResults) {
  const QJsonObject before = SheetTest::ProbeJson({QStringLiteral("formulas"), dir_.Path(book_.file)}).object();
  ASSERT_EQ(before.size(), static_cast<qsizetype>(book_.formulas.size()));
  for (size_t i = 1; i < book_.states.size(); ++i) Corpus::Apply(excel_, book_.states[i]);
  excel_.Get("ActiveWorkBook").Call("Save");
  const QJsonObject after = SheetTest::ProbeJson({QStringLiteral("formulas"), dir_.Path(book_.file)}).object();
  std::vector<std::string> failures;
  for (const Corpus::Formula& formula : book_.formulas) {
    const QString name = formula.cell.Name();
    const QJsonObject was = before.value(name).toObject();
    const QJsonObject is = after.value(name).toObject();
    if (is.isEmpty()) {
      failures.push_back((name + QStringLiteral(" ") + formula.text + QStringLiteral(": no longer a formula")).toStdString());
      continue;
    }
    if (is.value(QStringLiteral("tokens")) != was.value(QStringLiteral("tokens"))) {
      failures.push_back((name + QStringLiteral(" ") + formula.text + QStringLiteral(": tokens were %1, are %2")
                              .arg(was.value(QStringLiteral("tokens")).toString(), is.value(QStringLiteral("tokens")).toString()))
                             .toStdString());
    }
    const Corpus::Expected& expected = book_.states.back().results.at(name);
    const Corpus::Value stored = Corpus::ParseValue(is.value(QStringLiteral("result")).toObject());
    if (const std::optional<QString> difference = Corpus::Mismatch(expected.value, stored)) {
      failures.push_back((name + QStringLiteral(" ") + formula.text + QStringLiteral(": stored result: ") + *difference)
                             .toStdString());
    }
  }
  EXPECT_TRUE(failures.empty()) << Report(failures);
}

// Formula get gives each formula of the file as the application shows it.
TEST_P(FormulaOracle, FormulaTextsComeBackAsWritten) {
  std::vector<std::string> failures;
  for (const Corpus::Formula& formula : book_.formulas) {
    const QString got = Corpus::CellAt(excel_, formula.cell).Get(QStringLiteral("Formula")).ToText();
    const QString expected = AsShown(formula.text);
    if (!SameFormula(QString::fromStdString(GetParam()), formula.cell.Name(), expected, got)) {
      failures.push_back((formula.cell.Name() + QStringLiteral(": expected ") + expected + QStringLiteral(", got ") + got).toStdString());
    }
  }
  EXPECT_TRUE(failures.empty()) << Report(failures);
}

// Results the file stores as Calc gave them, where the application gives
// another value (the corpus overrides them only from the first change on).
struct Recomputed {
  const char* book;
  const char* state;
  const char* cell;
  const char* error;
};
constexpr Recomputed kRecomputed[] = {
    // RANK of a number that is not among the numbers of the reference.
    {"functions", "as saved", "Calc!B49", "#N/A"},
};

// Every formula taken out and put back as the text Formula get gives, in
// the order the corpus wrote them: the same results as saved and after
// every change set, and the same again from the saved file.
TEST_P(FormulaOracle, FormulasPutAsTextGiveTheSameResultsInEveryState) {
  std::vector<std::pair<Corpus::Cell, QString>> texts;
  for (const Corpus::Formula& formula : book_.formulas) {
    texts.emplace_back(formula.cell, Corpus::CellAt(excel_, formula.cell).Get(QStringLiteral("Formula")).ToText());
  }
  for (const auto& [cell, text] : texts) Corpus::CellAt(excel_, cell).Put(QStringLiteral("Value"), OleVariant());
  for (const auto& [cell, text] : texts) {
    ASSERT_NO_THROW(Corpus::CellAt(excel_, cell).Put(QStringLiteral("Formula"), text)) << text.toStdString();
  }
  for (size_t i = 0; i < book_.states.size(); ++i) {
    Corpus::State state = book_.states[i];
    Corpus::Apply(excel_, state);
    // Worked out anew, a formula gives the application's value where the
    // file stores Calc's.
    for (const Recomputed& r : kRecomputed) {
      if (GetParam() == r.book && state.name == QLatin1String(r.state)) {
        state.results.at(QString::fromLatin1(r.cell)).value = Corpus::Value::Error(QString::fromLatin1(r.error));
      }
    }
    const std::vector<std::string> failures = Corpus::Compare(excel_, book_, state);
    EXPECT_TRUE(failures.empty()) << "after \"" << state.name.toStdString() << "\": " << Report(failures);
  }
  excel_.Get("ActiveWorkBook").Call("Save");
  const OleVariant reader = CreateOleObject("Excel.Application");
  reader.Get("Workbooks").Call("Open", {dir_.Path(book_.file), false});
  const std::vector<std::string> failures = Corpus::Compare(reader, book_, book_.states.back());
  EXPECT_TRUE(failures.empty()) << "read back: " << Report(failures);
  for (const auto& [cell, text] : texts) {
    EXPECT_EQ(Corpus::CellAt(reader, cell).Get(QStringLiteral("Formula")).ToText(), text) << cell.Name().toStdString();
  }
  reader.Call("Quit");
}

INSTANTIATE_TEST_SUITE_P(Corpus, FormulaOracle, ::testing::ValuesIn(BookNames()),
                         [](const ::testing::TestParamInfo<std::string>& info) {
                           std::string name = info.param;
                           std::replace(name.begin(), name.end(), '-', '_');
                           return name;
                         });

// The harness itself: a comparison that never fails would pass everything.
class FormulaOracleHarness : public ::testing::Test {
 protected:
  void SetUp() override { RegisterSpreadsheetServer(); }
  ScratchDir dir_;
};

TEST_F(FormulaOracleHarness, ValuesCompareByTypeAndNumbersWithinTolerance) {
  using Corpus::Value;
  EXPECT_FALSE(Corpus::Mismatch(Value::Number(7), Value::Number(7 * (1 + 1e-12))));
  EXPECT_TRUE(Corpus::Mismatch(Value::Number(7), Value::Number(7.0001)));
  EXPECT_TRUE(Corpus::Mismatch(Value::Number(0), Value::Number(1e-6)));
  EXPECT_TRUE(Corpus::Mismatch(Value::Number(1), Value::Boolean(true)));
  EXPECT_TRUE(Corpus::Mismatch(Value::Number(6), Value::Text(QStringLiteral("6"))));
  EXPECT_TRUE(Corpus::Mismatch(Value::Text(QString()), Value{}));
  EXPECT_TRUE(Corpus::Mismatch(Value::Text(QStringLiteral("a")), Value::Text(QStringLiteral("A"))));
  EXPECT_TRUE(Corpus::Mismatch(Value::Error(QStringLiteral("#N/A")), Value::Text(QStringLiteral("N/A"))));
  EXPECT_TRUE(Corpus::Mismatch(Value::Error(QStringLiteral("#N/A")), Value::Error(QStringLiteral("#REF!"))));
  EXPECT_TRUE(Corpus::Mismatch(Value::Boolean(true), Value::Boolean(false)));
  const std::optional<QString> text = Corpus::Mismatch(Value::Number(2), Value::Error(QStringLiteral("#VALUE!")));
  ASSERT_TRUE(text);
  EXPECT_EQ(*text, QStringLiteral("expected number 2, got error #VALUE!"));
}

TEST_F(FormulaOracleHarness, ValueGetIsReadAsTheCorpusTypes) {
  using Type = Corpus::Value::Type;
  EXPECT_EQ(Corpus::ReadValue(OleVariant()).type, Type::Empty);
  EXPECT_EQ(Corpus::ReadValue(OleVariant(2.5)).number, 2.5);
  EXPECT_EQ(Corpus::ReadValue(OleVariant(int32_t{3})).number, 3.0);
  EXPECT_EQ(Corpus::ReadValue(OleVariant(true)).type, Type::Boolean);
  EXPECT_EQ(Corpus::ReadValue(OleVariant("#DIV/0!")).type, Type::Error);
  EXPECT_EQ(Corpus::ReadValue(OleVariant("#DIV/0")).type, Type::Text);
  EXPECT_EQ(Corpus::ReadValue(OleVariant("")).type, Type::Text);
}

// Every formula is looked at, and a wrong expectation is reported with the
// workbook, sheet, cell, formula and both values.
TEST_F(FormulaOracleHarness, AWrongExpectationIsReportedWithItsPlace) {
  const QStringList names = Corpus::BookNames();
  ASSERT_FALSE(names.isEmpty());
  Corpus::Book book = Corpus::Load(names.front());
  const OleVariant excel = CreateOleObject("Excel.Application");
  const QString path = dir_.Path(book.file);
  ASSERT_TRUE(QFile::copy(Corpus::Dir() + QLatin1Char('/') + book.file, path));
  excel.Get("Workbooks").Call("Open", {path, false});
  Corpus::State state = book.states.front();
  ASSERT_TRUE(Corpus::Compare(excel, book, state).empty());

  // Spoil the first and the last formula's expectation.
  for (const Corpus::Formula* formula : {&book.formulas.front(), &book.formulas.back()}) {
    Corpus::Value& value = state.results.at(formula->cell.Name()).value;
    if (value.type == Corpus::Value::Type::Number) {
      value.number = value.number * 1.001 + 0.5;
    } else {
      value = Corpus::Value::Text(QStringLiteral("spoilt"));
    }
  }
  const std::vector<std::string> failures = Corpus::Compare(excel, book, state);
  ASSERT_EQ(failures.size(), 2u);
  const Corpus::Formula& first = book.formulas.front();
  const QString line = QString::fromStdString(failures.front());
  EXPECT_TRUE(line.startsWith(book.file + QStringLiteral(", as saved: ") + first.cell.Name() + QLatin1Char(' ') +
                              first.text + QStringLiteral(": expected ")))
      << failures.front();
  EXPECT_TRUE(line.contains(QStringLiteral(", got "))) << failures.front();
  excel.Call("Quit");
}

TEST_F(FormulaOracleHarness, TheCorpusIsLargeEnoughToMeanSomething) {
  size_t formulas = 0;
  size_t changes = 0;
  for (const QString& name : Corpus::BookNames()) {
    const Corpus::Book book = Corpus::Load(name);
    formulas += book.formulas.size();
    changes += book.states.size() - 1;
    EXPECT_TRUE(QFileInfo::exists(Corpus::Dir() + QLatin1Char('/') + book.file)) << book.file.toStdString();
    // A change set that moves no result, or a last state equal to the saved
    // one, would let a server that never recalculates pass.
    const auto differ = [&book](const Corpus::State& a, const Corpus::State& b) {
      return std::any_of(book.formulas.begin(), book.formulas.end(), [&](const Corpus::Formula& f) {
        return Corpus::Mismatch(a.results.at(f.cell.Name()).value, b.results.at(f.cell.Name()).value).has_value();
      });
    };
    for (size_t i = 1; i < book.states.size(); ++i) {
      EXPECT_TRUE(differ(book.states[i - 1], book.states[i])) << book.file.toStdString() << ", "
                                                              << book.states[i].name.toStdString();
    }
    EXPECT_TRUE(differ(book.states.front(), book.states.back())) << book.file.toStdString();
  }
  EXPECT_GE(formulas, 90u);
  EXPECT_GE(changes, 4u);
}

}  // namespace
