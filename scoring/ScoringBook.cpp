#include "scoring/ScoringBook.h"

#include <QSet>

#include <algorithm>

namespace {

constexpr int kSheetColumns = 256;  // the columns of an .xls worksheet: the key cannot reach past them
constexpr int kDoubleColumn = 7;    // Scores' "Double", multiple-bubble mode only

OleVariant Cell(const OleVariant& sheet, int row, int column) { return sheet.Get(QStringLiteral("Cells"), {row, column}); }

QString CellText(const OleVariant& sheet, int row, int column) { return Cell(sheet, row, column).Get(QStringLiteral("Value")).ToText(); }

void Put(const OleVariant& sheet, const SheetCell& cell) {
  Cell(sheet, cell.row, cell.column).Put(cell.formula ? QStringLiteral("Formula") : QStringLiteral("Value"), cell.value);
}

void PutAll(const OleVariant& sheet, const std::vector<SheetCell>& cells) {
  for (const SheetCell& cell : cells) Put(sheet, cell);
}

// Empties the cells of `old` that `now` does not write.
void ClearLeftovers(const OleVariant& sheet, const std::vector<SheetCell>& old, const std::vector<SheetCell>& now) {
  QSet<qint64> written;
  const auto position = [](const SheetCell& cell) { return (static_cast<qint64>(cell.row) << 16) | cell.column; };
  for (const SheetCell& cell : now) written.insert(position(cell));
  for (const SheetCell& cell : old) {
    if (!written.contains(position(cell))) Put(sheet, {cell.row, cell.column, OleVariant(), false});
  }
}

OleVariant FindSheet(const OleVariant& sheets, const QString& name) {
  const int count = sheets.Get(QStringLiteral("Count")).ToInt();
  for (int i = 1; i <= count; ++i) {
    OleVariant sheet = sheets.Get(QStringLiteral("Item"), {i});
    if (sheet.Get(QStringLiteral("Name")).ToText().compare(name, Qt::CaseInsensitive) == 0) return sheet;
  }
  return {};
}

// Whether a sheet of that name holds what this program lays out there.
bool IsScoringSheet(const OleVariant& sheet, const QString& name) {
  if (name == kKeySheet) return CellText(sheet, KeyRows::kIdFrom, 1) == KeyLabels().front();
  if (name == kScoresSheet) return CellText(sheet, 1, 1) == QLatin1String("Row") && CellText(sheet, 1, 3) == QLatin1String("Score");
  return CellText(sheet, 1, 1) == QLatin1String("Question") && CellText(sheet, 1, 5) == QLatin1String("Difficulty");
}

QString DataSheetName(const OleVariant& sheets) { return sheets.Get(QStringLiteral("Item"), {1}).Get(QStringLiteral("Name")).ToText(); }

std::optional<AnswerKey> ReadKey(const OleVariant& keySheet) {
  const auto number = [&](int row) { return Cell(keySheet, row, 2).Get(QStringLiteral("Value")).ToInt(); };
  const int idFrom = number(KeyRows::kIdFrom);
  const int idTo = number(KeyRows::kIdTo);
  const int questions = number(KeyRows::kQuestions);
  const MarkMode mode = CellText(keySheet, KeyRows::kMode, 2) == ModeName(MarkMode::Single) ? MarkMode::Single : MarkMode::Multiple;
  QStringList values;
  int found = 0;
  for (int column = 1; column <= kSheetColumns && found < questions; ++column) {
    const OleVariant marker = Cell(keySheet, KeyRows::kQuestionNumber, column).Get(QStringLiteral("Value"));
    if (marker.kind() != OleVariant::Kind::Double && marker.kind() != OleVariant::Kind::Integer) continue;
    while (values.size() < column) values << kUnmarked;
    values[column - 1] = CellText(keySheet, KeyRows::kKey, column);
    ++found;
  }
  while (values.size() < idTo) values << kUnmarked;
  AnswerKey key(values, idFrom, idTo, mode);
  if (static_cast<int>(key.Questions().size()) != questions) return std::nullopt;  // the key was emptied by hand
  return key;
}

}  // namespace

int RowsHeld(const OleVariant& workSheets) {
  const OleVariant sheet = workSheets.Get(QStringLiteral("Item"), {1});
  int row = 1;
  while (row <= 65536 && !CellText(sheet, row, 1).isEmpty()) ++row;
  return row - 1;
}

ScoringBook::ScoringBook(OleVariant workSheets, ScoringLayout layout, int capacity)
    : workSheets_(std::move(workSheets)), layout_(std::move(layout)), capacity_(capacity) {}

ScoringBook ScoringBook::LayOut(const OleVariant& workSheets, const AnswerKey& key, int rowsHeld) {
  for (const QString& name : {kKeySheet, kScoresSheet, kItemsSheet}) {
    const OleVariant sheet = FindSheet(workSheets, name);
    if (!sheet.IsEmpty() && !IsScoringSheet(sheet, name)) {
      throw EScoring(QStringLiteral("The workbook already has a sheet named \"%1\" that this program did not lay out.  "
                                    "Rename that sheet, then lay out the scoring again.")
                         .arg(name));
    }
  }
  const std::optional<ScoringBook> previous = Reopen(workSheets);
  ScoringBook book(workSheets, ScoringLayout(key, DataSheetName(workSheets)), CapacityFor(rowsHeld));
  book.LayOutAll(rowsHeld, previous);
  return book;
}

void ScoringBook::LayOutAll(int rowsHeld, const std::optional<ScoringBook>& previous) {
  OleVariant after = workSheets_.Get(QStringLiteral("Item"), {1});
  std::map<QString, OleVariant> sheets;
  for (const QString& name : {kKeySheet, kScoresSheet, kItemsSheet}) {
    OleVariant sheet = FindSheet(workSheets_, name);
    if (sheet.IsEmpty()) {
      sheet = workSheets_.Call(QStringLiteral("Add"), {OleVariant(), after});
      sheet.Put(QStringLiteral("Name"), name);
    }
    sheets[name] = after = sheet;
  }
  const std::vector<SheetCell> keyCells = layout_.KeySheet(capacity_);
  const std::vector<SheetCell> itemCells = layout_.ItemsSheet(capacity_);
  if (previous) {
    const ScoringLayout& old = previous->layout_;
    ClearLeftovers(sheets[kKeySheet], old.KeySheet(previous->capacity_), keyCells);
    ClearLeftovers(sheets[kItemsSheet], old.ItemsSheet(previous->capacity_), itemCells);
    if (old.Key().Mode() == MarkMode::Multiple && layout_.Key().Mode() == MarkMode::Single) {
      for (int row = 1; row <= std::max(rowsHeld, previous->capacity_) + 1; ++row) {
        Put(sheets[kScoresSheet], {row, kDoubleColumn, OleVariant(), false});
      }
    }
  }
  PutAll(sheets[kKeySheet], keyCells);
  PutAll(sheets[kScoresSheet], layout_.ScoresHeaderRow());
  // Scores before statistics: each statistic is then worked out once, not once per row.
  for (int row = 1; row <= rowsHeld; ++row) PutAll(sheets[kScoresSheet], layout_.ScoresRow(row));
  PutAll(sheets[kItemsSheet], itemCells);
}

std::optional<ScoringBook> ScoringBook::Reopen(const OleVariant& workSheets) {
  std::map<QString, OleVariant> sheets;
  for (const QString& name : {kKeySheet, kScoresSheet, kItemsSheet}) {
    OleVariant sheet = FindSheet(workSheets, name);
    if (sheet.IsEmpty() || !IsScoringSheet(sheet, name)) return std::nullopt;
    sheets[name] = sheet;
  }
  const std::optional<AnswerKey> key = ReadKey(sheets[kKeySheet]);
  if (!key) return std::nullopt;
  const int capacity = Cell(sheets[kKeySheet], KeyRows::kCapacity, 2).Get(QStringLiteral("Value")).ToInt();
  return ScoringBook(workSheets, ScoringLayout(*key, DataSheetName(workSheets)), std::max(capacity, 1));
}

void ScoringBook::FollowDataSheetName() {
  const QString name = DataSheetName(workSheets_);
  if (name != layout_.DataSheet()) layout_ = ScoringLayout(layout_.Key(), name);
}

void ScoringBook::RowWritten(int row) {
  FollowDataSheetName();
  PutAll(workSheets_.Get(QStringLiteral("Item"), {kScoresSheet}), layout_.ScoresRow(row));
  if (row > capacity_) {
    capacity_ = CapacityFor(row);
    WriteStatistics();
  }
}

void ScoringBook::CatchUp(int rowsHeld) {
  FollowDataSheetName();
  const OleVariant scores = workSheets_.Get(QStringLiteral("Item"), {kScoresSheet});
  for (int row = 1; row <= rowsHeld; ++row) {
    if (CellText(scores, row + 1, 1).isEmpty()) PutAll(scores, layout_.ScoresRow(row));
  }
  if (rowsHeld > capacity_) {
    capacity_ = CapacityFor(rowsHeld);
    WriteStatistics();
  } else if (!StatisticsInTheirLatestForm()) {
    WriteStatistics();
  }
}

// A workbook scored by an earlier version counts blanks, double marks and
// bubbles with formulas that give the same figures at a higher cost: they
// are written again in the form laid out now.
bool ScoringBook::StatisticsInTheirLatestForm() const {
  if (layout_.Key().Questions().empty()) return true;
  const OleVariant items = workSheets_.Get(QStringLiteral("Item"), {kItemsSheet});
  const QString blanks = Cell(items, 2, ScoringLayout::kBlankColumn).Get(QStringLiteral("Formula")).ToText();
  return blanks.startsWith(QLatin1String("=COUNTIF("), Qt::CaseInsensitive);
}

void ScoringBook::WriteStatistics() {
  const OleVariant key = workSheets_.Get(QStringLiteral("Item"), {kKeySheet});
  Put(key, {KeyRows::kCapacity, 2, capacity_, false});
  PutAll(workSheets_.Get(QStringLiteral("Item"), {kItemsSheet}), layout_.ItemsSheet(capacity_));
}

std::map<int, QString> ScoringBook::ReadStudentIds(int rowsHeld) const {
  std::map<int, QString> ids;
  const AnswerKey& key = layout_.Key();
  if (!key.HasIdColumns()) return ids;
  const OleVariant sheet = workSheets_.Get(QStringLiteral("Item"), {1});
  for (int row = 1; row <= rowsHeld; ++row) {
    QStringList values;
    for (int column = 1; column <= key.IdTo(); ++column) {
      values << (column < key.IdFrom() ? QString() : CellText(sheet, row, column));
    }
    const QString id = key.StudentId(values);
    if (!id.isEmpty()) ids[row] = id;
  }
  return ids;
}
