#include "scoring/ScoringLayout.h"

#include "scoring/CellNames.h"

#include <algorithm>

using CellNames::AreaName;
using CellNames::CellName;
using CellNames::SheetPrefix;

namespace {

enum Summary {
  kStudents, kMean, kDeviation, kHighest, kLowest, kKr20, kSem,
  kQuestionCount, kSumScores, kSumSquares, kVariance, kSumPq, kGroupSize, kUpperCut, kLowerCut, kUpperCount, kLowerCount,
};

// Scores: the score is column C.
constexpr int kScoreColumn = 3;
// Items: the per-question columns.
enum ItemColumn { kNumber = 1, kColumn, kKeyValue, kPoints, kDifficulty, kDiscrimination, kPointBiserial, kCheck, kBlank, kDouble, kFirstBubble };
static_assert(kBlank == ScoringLayout::kBlankColumn);
constexpr int kBubbles = 6;
constexpr int kCheckFromStudents = 20;  // a negative correlation means little in a smaller class

SheetCell Value(int row, int column, OleVariant value) { return {row, column, std::move(value), false}; }
SheetCell Formula(int row, int column, const QString& text) { return {row, column, text, true}; }

}  // namespace

QStringList KeyLabels() {
  return {QStringLiteral("Student ID from column"), QStringLiteral("Student ID to column"), QStringLiteral("Total points"),
          QStringLiteral("Bubble mode"), QStringLiteral("Statistics reach row"), QStringLiteral("Questions")};
}

QStringList ScoresHeaders(MarkMode mode) {
  QStringList headers{QStringLiteral("Row"),     QStringLiteral("Student ID"), QStringLiteral("Score"),
                      QStringLiteral("Percent"), QStringLiteral("Correct"),    QStringLiteral("Blank")};
  if (mode == MarkMode::Multiple) headers << QStringLiteral("Double");
  return headers;
}

QStringList ItemsHeaders(MarkMode mode) {
  QStringList headers{QStringLiteral("Question"),       QStringLiteral("Column"),         QStringLiteral("Key"),
                      QStringLiteral("Points"),         QStringLiteral("Difficulty"),     QStringLiteral("Discrimination"),
                      QStringLiteral("Point-biserial"), QStringLiteral("Check"),          QStringLiteral("Blank")};
  if (mode == MarkMode::Single) return headers;
  headers << QStringLiteral("Double");
  for (int bubble = 1; bubble <= kBubbles; ++bubble) headers << QString::number(bubble);
  return headers;
}

QStringList SummaryLabels() {
  return {QStringLiteral("Students"), QStringLiteral("Mean"), QStringLiteral("Standard deviation"), QStringLiteral("Highest"),
          QStringLiteral("Lowest"), QStringLiteral("KR-20"), QStringLiteral("Standard error of measurement"),
          QStringLiteral("Questions"), QStringLiteral("Sum of scores"), QStringLiteral("Sum of squared scores"),
          QStringLiteral("Variance"), QStringLiteral("Sum of p(1-p)"), QStringLiteral("Group size (27 %)"),
          QStringLiteral("Upper group from score"), QStringLiteral("Lower group to score"),
          QStringLiteral("Upper group students"), QStringLiteral("Lower group students")};
}

QString ModeName(MarkMode mode) { return mode == MarkMode::Multiple ? QStringLiteral("Multiple") : QStringLiteral("Single"); }

int CapacityFor(int rows) {
  // The Scores row of sheet 1's row r is row r + 1: the last row of a worksheet bounds both.
  constexpr int kLastDataRow = 65535;
  return std::min(kLastDataRow, rows + std::max(100, rows / 2));
}

ScoringLayout::ScoringLayout(AnswerKey key, QString dataSheet) : key_(std::move(key)), dataSheet_(std::move(dataSheet)) {}

std::vector<SheetCell> ScoringLayout::KeySheet(int capacity) const {
  std::vector<SheetCell> cells;
  for (const Question& question : key_.Questions()) {
    cells.push_back(Value(KeyRows::kKey, question.column, question.key));
    cells.push_back(Value(KeyRows::kPoints, question.column, 1));
    cells.push_back(Value(KeyRows::kQuestionNumber, question.column, question.number));
  }
  const QStringList labels = KeyLabels();
  for (int i = 0; i < labels.size(); ++i) cells.push_back(Value(KeyRows::kIdFrom + i, 1, labels[i]));
  cells.push_back(Value(KeyRows::kIdFrom, 2, key_.IdFrom()));
  cells.push_back(Value(KeyRows::kIdTo, 2, key_.IdTo()));
  const QString points = key_.Questions().empty()
                             ? QStringLiteral("0")
                             : QStringLiteral("SUM(%1)").arg(AreaName(KeyRows::kPoints, key_.FirstQuestionColumn(),
                                                                       KeyRows::kPoints, key_.LastQuestionColumn()));
  cells.push_back(Formula(KeyRows::kTotalPoints, 2, QLatin1Char('=') + points));
  cells.push_back(Value(KeyRows::kMode, 2, ModeName(key_.Mode())));
  cells.push_back(Value(KeyRows::kCapacity, 2, capacity));
  cells.push_back(Value(KeyRows::kQuestions, 2, static_cast<int32_t>(key_.Questions().size())));
  return cells;
}

std::vector<SheetCell> ScoringLayout::ScoresHeaderRow() const {
  std::vector<SheetCell> cells;
  const QStringList headers = ScoresHeaders(key_.Mode());
  for (int i = 0; i < headers.size(); ++i) cells.push_back(Value(1, i + 1, headers[i]));
  return cells;
}

QString ScoringLayout::Answers(int dataRow) const {
  return SheetPrefix(dataSheet_) + AreaName(dataRow, key_.FirstQuestionColumn(), dataRow, key_.LastQuestionColumn());
}

std::vector<SheetCell> ScoringLayout::ScoresRow(int dataRow) const {
  const int row = dataRow + 1;
  std::vector<SheetCell> cells{Value(row, 1, dataRow)};
  if (key_.HasIdColumns()) {
    QStringList parts;
    for (int column = key_.IdFrom(); column <= key_.IdTo(); ++column) parts << SheetPrefix(dataSheet_) + CellName(dataRow, column);
    cells.push_back(Formula(row, 2, QStringLiteral("=SUBSTITUTE(%1,\" \",\"\")").arg(parts.join(QLatin1Char('&')))));
  } else {
    cells.push_back(Value(row, 2, OleVariant()));
  }
  if (key_.Questions().empty()) return cells;
  const QString keyPrefix = SheetPrefix(kKeySheet);
  const int first = key_.FirstQuestionColumn();
  const int last = key_.LastQuestionColumn();
  const QString keys = keyPrefix + AreaName(KeyRows::kKey, first, KeyRows::kKey, last);
  const QString points = keyPrefix + AreaName(KeyRows::kPoints, first, KeyRows::kPoints, last);
  const QString total = keyPrefix + CellName(KeyRows::kTotalPoints, 2);
  const QString answers = Answers(dataRow);
  const QString isQuestion = QStringLiteral("(%1<>\"\")").arg(keys);
  const QString score = CellName(row, kScoreColumn, false, false);
  cells.push_back(Formula(row, 3, QStringLiteral("=SUMPRODUCT((%1=%2)*%3)").arg(answers, keys, points)));
  cells.push_back(Formula(row, 4, QStringLiteral("=IF(%1=0,\"\",100*%2/%1)").arg(total, score)));
  cells.push_back(Formula(row, 5, QStringLiteral("=SUMPRODUCT((%1=%2)*%3)").arg(answers, keys, isQuestion)));
  cells.push_back(Formula(row, 6, QStringLiteral("=SUMPRODUCT((%1=\" \")*%2)").arg(answers, isQuestion)));
  if (key_.Mode() == MarkMode::Multiple) {
    cells.push_back(Formula(row, 7, QStringLiteral("=SUMPRODUCT((LEN(%1)>1)*%2)").arg(answers, isQuestion)));
  }
  return cells;
}

int ScoringLayout::SummaryLabelColumn() const { return static_cast<int>(ItemsHeaders(key_.Mode()).size()) + 2; }

QString ScoringLayout::Summary(int index) const { return CellName(SummaryRow(index), SummaryLabelColumn() + 1); }

QString ScoringLayout::ItemColumn(int column, int capacity) const {
  return SheetPrefix(dataSheet_) + AreaName(1, column, capacity, column);
}

QString ScoringLayout::ScoresArea(int capacity) const {
  return SheetPrefix(kScoresSheet) + AreaName(2, kScoreColumn, capacity + 1, kScoreColumn);
}

std::vector<SheetCell> ScoringLayout::ItemsSheet(int capacity) const {
  std::vector<SheetCell> cells;
  const QStringList headers = ItemsHeaders(key_.Mode());
  for (int i = 0; i < headers.size(); ++i) cells.push_back(Value(1, i + 1, headers[i]));
  for (const Question& question : key_.Questions()) QuestionRow(cells, question, capacity);
  SummaryCells(cells, capacity);
  return cells;
}

void ScoringLayout::QuestionRow(std::vector<SheetCell>& cells, const Question& question, int capacity) const {
  const int row = question.number + 1;
  const QString column = ItemColumn(question.column, capacity);
  const QString scores = ScoresArea(capacity);
  const QString scored = QStringLiteral("(%1<>\"\")").arg(scores);
  const QString right = QStringLiteral("(%1=%2)").arg(column, CellName(row, kKeyValue, false, true));
  const QString p = CellName(row, kDifficulty, false, true);
  const QString pb = CellName(row, kPointBiserial, false, true);
  const QString n = Summary(kStudents);
  cells.push_back(Value(row, kNumber, question.number));
  cells.push_back(Value(row, kColumn, question.column));
  cells.push_back(Formula(row, kKeyValue, QLatin1Char('=') + SheetPrefix(kKeySheet) + CellName(KeyRows::kKey, question.column)));
  cells.push_back(Formula(row, kPoints, QLatin1Char('=') + SheetPrefix(kKeySheet) + CellName(KeyRows::kPoints, question.column)));
  cells.push_back(Formula(row, kDifficulty, QStringLiteral("=IF(%1=0,\"\",SUMPRODUCT(%2*%3)/%1)").arg(n, right, scored)));
  cells.push_back(Formula(row, kDiscrimination,
                          QStringLiteral("=IF(%1<2,\"\",SUMPRODUCT(%2*%3*(%4>=%5))/%6-SUMPRODUCT(%2*%3*(%4<=%7))/%8)")
                              .arg(n, right, scored, scores, Summary(kUpperCut), Summary(kUpperCount), Summary(kLowerCut),
                                   Summary(kLowerCount))));
  cells.push_back(Formula(row, kPointBiserial,
                          QStringLiteral("=IF(%1<2,\"\",IF(%2*(1-%2)*%3<=0,\"\",(SUMPRODUCT(%4*%5)/%1-%2*%6)/SQRT(%2*(1-%2)*%3)))")
                              .arg(n, p, Summary(kVariance), right, scores, Summary(kMean))));
  cells.push_back(Formula(row, kCheck, QStringLiteral("=IF(%1<%2,\"\",IF(ISNUMBER(%3),IF(%3<0,\"check key\",\"\"),\"\"))")
                                           .arg(n).arg(kCheckFromStudents).arg(pb)));
  // The counts read the question's column alone: an unwritten row is neither
  // blank (" ") nor marked, and keeping the scores out of them spares them the
  // work every new score brings. A multiple-bubble value is " " or the marked
  // bubbles' digits, each once, read as a number: two marks or more make a
  // number above 9, and a bubble is marked when its digit is found.
  cells.push_back(Formula(row, kBlank, QStringLiteral("=COUNTIF(%1,\" \")").arg(column)));
  if (key_.Mode() == MarkMode::Single) return;
  cells.push_back(Formula(row, kDouble, QStringLiteral("=COUNTIF(%1,\">9\")").arg(column)));
  for (int bubble = 1; bubble <= kBubbles; ++bubble) {
    cells.push_back(Formula(row, kFirstBubble + bubble - 1,
                            QStringLiteral("=SUMPRODUCT(ISNUMBER(FIND(\"%2\",%1))*1)").arg(column).arg(bubble)));
  }
}

void ScoringLayout::SummaryCells(std::vector<SheetCell>& cells, int capacity) const {
  const int labelColumn = SummaryLabelColumn();
  const QStringList labels = SummaryLabels();
  for (int i = 0; i < labels.size(); ++i) cells.push_back(Value(SummaryRow(i), labelColumn, labels[i]));
  const QString scores = ScoresArea(capacity);
  const QString n = Summary(kStudents);
  const QString k = Summary(kQuestionCount);
  const QString var = Summary(kVariance);
  const QString kr = Summary(kKr20);
  const int lastItemRow = static_cast<int>(key_.Questions().size()) + 1;
  const QString difficulties = AreaName(2, kDifficulty, std::max(2, lastItemRow), kDifficulty);
  const auto put = [&](int index, const QString& text) { cells.push_back(Formula(SummaryRow(index), labelColumn + 1, text)); };
  const auto unlessEmpty = [&](const QString& text) { return QStringLiteral("=IF(%1=0,\"\",%2)").arg(n, text); };
  put(kStudents, QStringLiteral("=COUNT(%1)").arg(scores));
  put(kMean, unlessEmpty(QStringLiteral("%1/%2").arg(Summary(kSumScores), n)));
  put(kDeviation, unlessEmpty(QStringLiteral("SQRT(%1)").arg(var)));
  put(kHighest, unlessEmpty(QStringLiteral("MAX(%1)").arg(scores)));
  put(kLowest, unlessEmpty(QStringLiteral("MIN(%1)").arg(scores)));
  put(kKr20, QStringLiteral("=IF(OR(%1<2,%2<2),\"\",IF(%3<=0,\"\",%2/(%2-1)*(1-%4/%3)))").arg(n, k, var, Summary(kSumPq)));
  put(kSem, QStringLiteral("=IF(ISNUMBER(%1),IF(%1<=1,%2*SQRT(1-%1),\"\"),\"\")").arg(kr, Summary(kDeviation)));
  put(kQuestionCount, QStringLiteral("=COUNT(%1)").arg(AreaName(2, kNumber, std::max(2, lastItemRow), kNumber)));
  put(kSumScores, QStringLiteral("=SUM(%1)").arg(scores));
  put(kSumSquares, QStringLiteral("=SUMSQ(%1)").arg(scores));
  put(kVariance, unlessEmpty(QStringLiteral("(%1*%2-%3^2)/%1^2").arg(n, Summary(kSumSquares), Summary(kSumScores))));
  put(kSumPq, unlessEmpty(QStringLiteral("SUMPRODUCT(%1*(1-%1))").arg(difficulties)));
  put(kGroupSize, unlessEmpty(QStringLiteral("ROUNDUP(27*%1/100,0)").arg(n)));
  put(kUpperCut, unlessEmpty(QStringLiteral("LARGE(%1,%2)").arg(scores, Summary(kGroupSize))));
  put(kLowerCut, unlessEmpty(QStringLiteral("SMALL(%1,%2)").arg(scores, Summary(kGroupSize))));
  put(kUpperCount, unlessEmpty(QStringLiteral("SUMPRODUCT((%1<>\"\")*(%1>=%2))").arg(scores, Summary(kUpperCut))));
  put(kLowerCount, unlessEmpty(QStringLiteral("SUMPRODUCT((%1<>\"\")*(%1<=%2))").arg(scores, Summary(kLowerCut))));
}
