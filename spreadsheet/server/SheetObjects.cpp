// The sheet and cell objects of the built-in spreadsheet server.

#include "automation/CellEntry.h"
#include "automation/DispatchHelpers.h"
#include "spreadsheet/server/FormulaCells.h"
#include "spreadsheet/server/ServerObjects.h"

namespace {

constexpr int kMaxCellText = 32767;

class RangeObject : public IDispatchObject {
 public:
  RangeObject(SessionRef session, EntryRef entry, Worksheet* sheet, uint32_t row, uint32_t col)
      : session_(std::move(session)), entry_(std::move(entry)), sheet_(sheet), row_(row), col_(col) {}

  OleVariant Invoke(const QString& member, CallKind kind, const std::vector<OleVariant>& args) override {
    static const MemberTable members{"Value", "Value2", "Formula", "Row", "Column", "Text"};
    enum { kValue, kValue2, kFormula, kRow, kColumn, kText };
    const int id = members.Find(member);
    if (id < 0) Dispatch::UnknownMember(QStringLiteral("Range"), member);
    if (kind == CallKind::Put && id > kFormula) Dispatch::WrongCallKind(QStringLiteral("Range"), member);
    ::Workbook& book = ServerObjects::Live(*session_, *entry_);
    const int index = ServerObjects::SheetIndex(book, sheet_);
    if (id == kRow) return static_cast<int32_t>(row_ + 1);
    if (id == kColumn) return static_cast<int32_t>(col_ + 1);
    if (kind == CallKind::Put) {
      Dispatch::ExpectArgs(member, args, 1);
      const OleVariant& value = args[0];
      // Only a Formula put makes a formula; a scanned value that starts
      // with "=" stays the text it is.
      if (id == kFormula && value.kind() == OleVariant::Kind::Text && value.ToText().startsWith(QLatin1Char('='))) {
        PutFormula(book, index, value.ToText());
      } else {
        Write(book, index, member, value);
      }
      return {};
    }
    Dispatch::ExpectArgs(member, args, 0);
    if (id == kFormula) return book.FormulaText(index, row_, col_);
    const CellValue value = sheet_->Cell(row_, col_);
    switch (value.type) {
      case CellValue::Type::Empty: return {};
      case CellValue::Type::Number: return id == kText ? OleVariant(OleVariant(value.number).ToText()) : OleVariant(value.number);
      case CellValue::Type::Boolean: return id == kText ? OleVariant(value.boolean ? "TRUE" : "FALSE") : OleVariant(value.boolean);
      case CellValue::Type::Text:
      case CellValue::Type::Error: return value.text;
    }
    return {};
  }

 private:
  void PutFormula(::Workbook& book, int index, const QString& text) {
    if (text.size() > kMaxCellText) {
      throw EOleError(QStringLiteral("Formula: a cell holds at most %1 characters, got %2").arg(kMaxCellText).arg(text.size()));
    }
    try {
      book.PutFormula(index, row_, col_, text);
    } catch (const FormulaCellError& e) {
      throw EOleError(e.Message());
    }
    session_->NotifyCellWritten(*entry_, index, row_, col_);
  }

  void Write(::Workbook& book, int index, const QString& member, const OleVariant& value) {
    Worksheet& sheet = *sheet_;
    switch (value.kind()) {
      case OleVariant::Kind::Empty:
        sheet.Clear(row_, col_);
        break;
      case OleVariant::Kind::Boolean:
        sheet.SetBoolean(row_, col_, value.ToBool());
        break;
      case OleVariant::Kind::Integer:
      case OleVariant::Kind::Double:
        sheet.SetNumber(row_, col_, value.ToDouble());
        break;
      case OleVariant::Kind::Text: {
        const QString text = value.ToText();
        if (text.size() > kMaxCellText) {
          throw EOleError(QStringLiteral("%1: a cell holds at most %2 characters, got %3")
                              .arg(member).arg(kMaxCellText).arg(text.size()));
        }
        // An empty text empties the cell; a text that reads as a number
        // is stored as that number (CellEntry says which); any other stays text.
        if (text.isEmpty()) {
          sheet.Clear(row_, col_);
        } else if (const std::optional<double> number = NumberFromEntry(text)) {
          sheet.SetNumber(row_, col_, *number);
        } else {
          sheet.SetText(row_, col_, text);
        }
        break;
      }
      case OleVariant::Kind::Object:
        throw EOleError(QStringLiteral("Type mismatch: %1 cannot hold an object").arg(member));
    }
    book.MarkDirty();
    session_->NotifyCellWritten(*entry_, index, row_, col_);
  }

  SessionRef session_;
  EntryRef entry_;
  Worksheet* sheet_;
  uint32_t row_;
  uint32_t col_;
};

class SheetObject : public IDispatchObject {
 public:
  SheetObject(SessionRef session, EntryRef entry, Worksheet* sheet)
      : session_(std::move(session)), entry_(std::move(entry)), sheet_(sheet) {}

  const SpreadsheetSession::Entry& Entry() const { return *entry_; }
  Worksheet* Sheet() const { return sheet_; }

  OleVariant Invoke(const QString& member, CallKind kind, const std::vector<OleVariant>& args) override {
    static const MemberTable members{"Cells", "Protect", "Unprotect", "ProtectionMode",
                                     "ProtectContents", "Name", "Index"};
    enum { kCells, kProtect, kUnprotect, kProtectionMode, kProtectContents, kName, kIndex };
    const int id = members.Find(member);
    if (id < 0) Dispatch::UnknownMember(QStringLiteral("Worksheet"), member);
    if (kind == CallKind::Put && id != kName) Dispatch::WrongCallKind(QStringLiteral("Worksheet"), member);
    ::Workbook& book = ServerObjects::Live(*session_, *entry_);
    const int index = ServerObjects::SheetIndex(book, sheet_);
    switch (id) {
      case kCells: return Cells(member, args);
      case kProtect:
        // A password would have to be kept in the file; none is taken rather
        // than one silently ignored.
        if (!args.empty()) throw EOleError(QStringLiteral("Protect takes no password or options here"));
        SetProtection(book, true);
        return {};
      case kUnprotect:
        Dispatch::ExpectArgs(member, args, 0, 1);
        SetProtection(book, false);
        return {};
      case kProtectionMode:
      case kProtectContents:
        Dispatch::ExpectArgs(member, args, 0);
        return sheet_->Protected();
      case kName:
        if (kind == CallKind::Put) {
          Dispatch::ExpectArgs(member, args, 1);
          Rename(book, index, Dispatch::TextArg(member, args, 0));
          return {};
        }
        Dispatch::ExpectArgs(member, args, 0);
        return sheet_->Name();
      default:
        Dispatch::ExpectArgs(member, args, 0);
        return index + 1;
    }
  }

 private:
  OleVariant Cells(const QString& member, const std::vector<OleVariant>& args) {
    Dispatch::ExpectArgs(member, args, 2);
    if (sheet_->SheetKind() != Worksheet::Kind::Worksheet) {
      throw EOleError(QStringLiteral("Cells: sheet \"%1\" is not a worksheet").arg(sheet_->Name()));
    }
    const int32_t row = Dispatch::IntArg(member, args, 0);
    const int32_t col = Dispatch::IntArg(member, args, 1);
    if (row < 1 || row > static_cast<int32_t>(Biff::kMaxRows)) {
      throw EOleError(QStringLiteral("Cells: row %1 is outside the sheet (1 to %2)").arg(row).arg(Biff::kMaxRows));
    }
    if (col < 1 || col > static_cast<int32_t>(Biff::kMaxColumns)) {
      throw EOleError(QStringLiteral("Cells: column %1 is outside the sheet (1 to %2)").arg(col).arg(Biff::kMaxColumns));
    }
    return OleVariant(std::shared_ptr<IDispatchObject>(std::make_shared<RangeObject>(
        session_, entry_, sheet_, static_cast<uint32_t>(row - 1), static_cast<uint32_t>(col - 1))));
  }

  void Rename(::Workbook& book, int index, const QString& name) {
    const QString problem = book.SheetNameProblem(index, name);
    if (!problem.isEmpty()) throw EOleError(QStringLiteral("Name: %1").arg(problem));
    book.RenameSheet(index, name);
    session_->NotifySheetsChanged(*entry_);
  }

  void SetProtection(::Workbook& book, bool on) {
    if (sheet_->Protected() == on) return;
    sheet_->SetProtected(on);
    book.MarkDirty();
  }

  SessionRef session_;
  EntryRef entry_;
  Worksheet* sheet_;
};

}  // namespace

namespace ServerObjects {

std::shared_ptr<IDispatchObject> Sheet(SessionRef session, EntryRef entry, Worksheet* sheet) {
  return std::make_shared<SheetObject>(std::move(session), std::move(entry), sheet);
}

Worksheet* SheetOf(const OleVariant& object, const SpreadsheetSession::Entry& entry) {
  const auto* sheet = dynamic_cast<const SheetObject*>(object.ToObject().get());
  return sheet && &sheet->Entry() == &entry ? sheet->Sheet() : nullptr;
}

}  // namespace ServerObjects
