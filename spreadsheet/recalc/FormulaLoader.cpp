#include "spreadsheet/recalc/FormulaLoader.h"

#include "spreadsheet/formula/FormulaTokens.h"

#include <map>
#include <string>
#include <unordered_map>

using namespace Biff;

namespace {

constexpr size_t kFormulaTokensAt = 22;  // FORMULA: after the result, flags, chain and length
constexpr size_t kSharedTokensAt = 10;   // SHRFMLA: after the range, use count and length
constexpr size_t kNameFixedSize = 14;

struct SharedFormula {
  uint32_t rowFirst = 0, rowLast = 0;
  uint16_t colFirst = 0, colLast = 0;
  ByteView record;
};

// A formula cell read, before its shared formula (which may come later) is known.
struct PendingCell {
  uint32_t row = 0;
  uint16_t col = 0;
  ByteView data;
  Value stored;
  bool writtenOver = false;
};

class Loader {
 public:
  explicit Loader(const WorkbookParts& parts) : parts_(parts), env_(ReadEnvironment(parts)) {}

  LoadedFormulas Run();

 private:
  void ReadNames();
  void ReadSheet(uint16_t sheet);
  void ReadWrittenFormulas(uint16_t sheet);
  void AddCell(uint16_t sheet, const PendingCell& cell, const std::map<std::pair<uint32_t, uint16_t>, SharedFormula>& shared,
               const std::map<std::pair<uint32_t, uint16_t>, const char*>& anchors);
  DecodedFormula Decode(char kind, const Bytes& tokens, ByteView extra);
  void Keep(FormulaCell& cell, const QString& reason);
  bool NameUsable(uint32_t index, int depth);
  bool NamesUsable(const FormulaProgram& program, int depth);

  const WorkbookParts& parts_;
  FormulaEnvironment env_;
  LoadedFormulas out_;
  std::unordered_map<std::string, DecodedFormula> decoded_;  // by kind, tokens and extra data
  std::vector<int8_t> nameUsable_;                            // -1 unknown, 0 no, 1 yes
};

Value StoredResult(ByteView data) {
  const uint8_t* result = data.data() + 6;
  if (U16(result + 6) != 0xFFFF) return Value::Number(F64(result));
  switch (result[0]) {
    case 1: return Value::Boolean(result[2] != 0);
    case 2: return Value::Error(ErrorFromByte(result[2]).value_or(ErrorCode::NA));
    case 3: return Value::Text(QString());
    default: return Value::Text(QString());  // the STRING record after it says which
  }
}

LoadedFormulas Loader::Run() {
  ReadNames();
  for (size_t s = 0; s < parts_.sheets.size(); ++s) {
    if (parts_.sheets[s]->SheetKind() == Worksheet::Kind::Worksheet) ReadSheet(static_cast<uint16_t>(s));
  }
  return std::move(out_);
}

DecodedFormula Loader::Decode(char kind, const Bytes& tokens, ByteView extra) {
  std::string key(1, kind);
  key.append(reinterpret_cast<const char*>(tokens.data()), tokens.size());
  key.push_back('\0');
  key.append(reinterpret_cast<const char*>(extra.data()), extra.size());
  auto found = decoded_.find(key);
  if (found != decoded_.end()) return found->second;
  DecodedFormula decoded = DecodeFormula(tokens, extra, env_);
  if (decoded.program && !NamesUsable(*decoded.program, 0)) decoded = {nullptr, QStringLiteral("a defined name it cannot evaluate")};
  return decoded_.emplace(std::move(key), std::move(decoded)).first->second;
}

void Loader::ReadNames() {
  RecordCursor cursor(ByteView(parts_.stream), 0);
  Record record;
  std::vector<ByteView> records;
  while (cursor.Position() < parts_.globals.end && cursor.Next(record)) {
    if (record.type == kName) records.push_back(record.data);
  }
  out_.names.resize(records.size());
  nameUsable_.assign(records.size(), -1);
  env_.nameCount = static_cast<uint32_t>(records.size());
  for (size_t i = 0; i < records.size(); ++i) {
    const ByteView data = records[i];
    if (data.size() < kNameFixedSize + 1) continue;
    const size_t length = U16(data.data() + 4);
    const size_t nameBytes = static_cast<size_t>(data[3]) * ((data[kNameFixedSize] & 0x01) ? 2 : 1);
    const size_t tokensAt = kNameFixedSize + 1 + nameBytes;
    if (length == 0 || tokensAt + length > data.size()) continue;
    const Bytes tokens(data.begin() + static_cast<std::ptrdiff_t>(tokensAt),
                       data.begin() + static_cast<std::ptrdiff_t>(tokensAt + length));
    out_.names[i] = DecodeFormula(tokens, data.subspan(tokensAt + length), env_).program;
  }
}

// Whether a name and the names it uses all decoded.
bool Loader::NameUsable(uint32_t index, int depth) {
  if (index == 0 || index > out_.names.size()) return true;  // no such name: #NAME? when evaluated
  int8_t& known = nameUsable_[index - 1];
  if (known >= 0) return known == 1;
  const FormulaProgram* program = out_.names[index - 1].get();
  known = 0;  // a name that uses itself is not usable
  const bool usable = program && depth < 32 && NamesUsable(*program, depth + 1);
  known = usable ? 1 : 0;
  return usable;
}

bool Loader::NamesUsable(const FormulaProgram& program, int depth) {
  for (const FormulaNode& node : program.nodes) {
    if (node.kind == NodeKind::Name && !NameUsable(node.payload, depth)) return false;
  }
  return true;
}

void Loader::Keep(FormulaCell& cell, const QString& reason) {
  cell.program = nullptr;
  ++out_.keptCount;
  if (!out_.outside.contains(reason)) out_.outside << reason;
}

void Loader::ReadSheet(uint16_t sheet) {
  const Worksheet& ws = *parts_.sheets[sheet];
  std::vector<PendingCell> cells;
  std::map<std::pair<uint32_t, uint16_t>, SharedFormula> shared;
  std::map<std::pair<uint32_t, uint16_t>, const char*> anchors;  // array formulas and data tables
  for (const CellSpan& span : ws.Spans()) {
    RecordCursor cursor(ws.Stream(), span.begin);
    Record record;
    while (cursor.Position() < span.end && cursor.Next(record)) {
      const ByteView data = record.data;
      if ((record.type == kFormula || record.type == kFormulaOld) && CellRecords::IsWellFormed(record.type, data)) {
        cells.push_back({U16(data.data()), U16(data.data() + 2), data, StoredResult(data)});
        // What was written there since replaces the formula.
        if (ws.WrittenAt(cells.back().row, cells.back().col)) cells.back().writtenOver = true;
      } else if (record.type == kString && !cells.empty() && cells.back().stored.kind == Value::Kind::Text) {
        cells.back().stored = Value::Text(ReadUnicodeString16(data, 0));
      } else if (record.type == kShrFmla && data.size() >= kSharedTokensAt && !cells.empty()) {
        SharedFormula formula{U16(data.data()), U16(data.data() + 2), data[4], data[5], data};
        shared.emplace(std::make_pair(formula.rowFirst, formula.colFirst), formula);
      } else if ((record.type == kArray || record.type == kTable) && data.size() >= 6) {
        anchors.emplace(std::make_pair(U16(data.data()), static_cast<uint16_t>(data[4])),
                        record.type == kArray ? "an array formula" : "a data table");
      }
    }
  }
  for (const PendingCell& cell : cells) {
    if (!cell.writtenOver) AddCell(sheet, cell, shared, anchors);
  }
  ReadWrittenFormulas(sheet);
}

// Formulas written through the server, in the form a FORMULA record holds them.
void Loader::ReadWrittenFormulas(uint16_t sheet) {
  const Worksheet& ws = *parts_.sheets[sheet];
  for (const auto& [row, cells] : ws.Written()) {
    for (const auto& [col, written] : cells) {
      if (written.kind != WrittenCell::Kind::Formula) continue;
      const WrittenFormula& formula = *ws.WrittenFormulaAt(row, col);
      FormulaCell cell;
      cell.sheet = sheet;
      cell.row = row;
      cell.col = col;
      cell.value = ToFormulaValue(formula.result);
      const std::optional<Bytes> tokens = Ptg::RelativeForm(formula.tokens, {sheet, row, col});
      const DecodedFormula decoded = tokens ? Decode('C', *tokens, formula.extra) : DecodedFormula{nullptr, QStringLiteral("damaged formula tokens")};
      cell.program = decoded.program;
      if (!cell.program) Keep(cell, decoded.outside);
      out_.cells.push_back(std::move(cell));
    }
  }
}

void Loader::AddCell(uint16_t sheet, const PendingCell& pending,
                     const std::map<std::pair<uint32_t, uint16_t>, SharedFormula>& shared,
                     const std::map<std::pair<uint32_t, uint16_t>, const char*>& anchors) {
  FormulaCell cell;
  cell.sheet = sheet;
  cell.row = pending.row;
  cell.col = pending.col;
  // A result worked out since the file was read is the current one.
  const CellValue* current = parts_.sheets[sheet]->FormulaResult(pending.row, pending.col);
  cell.value = current ? ToFormulaValue(*current) : pending.stored;
  const ByteView data = pending.data;
  const size_t length = U16(data.data() + 20);
  const CellPosition at{sheet, cell.row, cell.col};
  if (length == 0 || kFormulaTokensAt + length > data.size()) {
    Keep(cell, QStringLiteral("damaged formula tokens"));
  } else if (data[kFormulaTokensAt] == Ptg::kExp && length == 5) {
    const std::pair<uint32_t, uint16_t> anchor{U16(data.data() + kFormulaTokensAt + 1),
                                               static_cast<uint16_t>(U16(data.data() + kFormulaTokensAt + 3))};
    const auto found = shared.find(anchor);
    if (found != shared.end() && cell.row >= found->second.rowFirst && cell.row <= found->second.rowLast &&
        cell.col >= found->second.colFirst && cell.col <= found->second.colLast) {
      const ByteView record = found->second.record;
      const size_t sharedLength = U16(record.data() + 8);
      if (kSharedTokensAt + sharedLength > record.size()) {
        Keep(cell, QStringLiteral("damaged formula tokens"));
      } else {
        const Bytes tokens(record.begin() + kSharedTokensAt, record.begin() + static_cast<std::ptrdiff_t>(kSharedTokensAt + sharedLength));
        const DecodedFormula decoded = Decode('S', tokens, record.subspan(kSharedTokensAt + sharedLength));
        cell.program = decoded.program;
        if (!cell.program) Keep(cell, decoded.outside);
      }
    } else {
      const auto anchored = anchors.find(anchor);
      Keep(cell, anchored != anchors.end() ? QString::fromLatin1(anchored->second) : QStringLiteral("damaged formula tokens"));
    }
  } else {
    const ByteView rgce = data.subspan(kFormulaTokensAt, length);
    size_t failedAt = 0;
    const std::optional<Bytes> tokens = Ptg::RelativeForm(rgce, at, &failedAt);
    if (!tokens) {
      Keep(cell, QStringLiteral("token 0x%1").arg(rgce[failedAt], 2, 16, QLatin1Char('0')));
    } else {
      const DecodedFormula decoded = Decode('C', *tokens, data.subspan(kFormulaTokensAt + length));
      cell.program = decoded.program;
      if (!cell.program) Keep(cell, decoded.outside);
    }
  }
  out_.cells.push_back(std::move(cell));
}

}  // namespace

FormulaEnvironment ReadEnvironment(const WorkbookParts& parts) {
  using Book = FormulaEnvironment::SheetRun::Book;
  const WorkbookLinks& links = parts.links;
  FormulaEnvironment env;
  for (const ExternSheet& entry : links.sheets) {
    FormulaEnvironment::SheetRun run;
    if (entry.book < links.books.size()) {
      switch (links.books[entry.book].kind) {
        case SupBook::Kind::Own: run.book = Book::Own; break;
        case SupBook::Kind::AddIn: run.book = Book::AddIn; break;
        default: run.book = Book::Other; break;
      }
    }
    if (entry.first >= 0 && entry.last >= 0) {
      run.first = entry.first;
      run.last = entry.last;
    }
    env.externSheets.push_back(run);
  }
  env.nameCount = static_cast<uint32_t>(links.names.size());
  return env;
}

LoadedFormulas LoadFormulas(const WorkbookParts& parts) { return Loader(parts).Run(); }
