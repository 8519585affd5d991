#include "spreadsheet/server/ServerObjects.h"

#include "automation/CellEntry.h"
#include "automation/DispatchHelpers.h"
#include "spreadsheet/formula/FormulaProgram.h"

#include <QDir>
#include <QFileInfo>

namespace {

constexpr int kMaxCellText = 32767;

class WorkbooksObject : public IDispatchObject {
 public:
  explicit WorkbooksObject(SessionRef session) : session_(std::move(session)) {}

  OleVariant Invoke(const QString& member, CallKind kind, const std::vector<OleVariant>& args) override {
    static const MemberTable members{"Add", "Open", "Count", "Item"};
    const int id = members.Find(member);
    if (id < 0) Dispatch::UnknownMember(QStringLiteral("Workbooks"), member);
    if (kind == CallKind::Put) Dispatch::WrongCallKind(QStringLiteral("Workbooks"), member);
    session_->ThrowIfEnded();
    switch (id) {
      case 0: {
        Dispatch::ExpectArgs(member, args, 0, 1);
        std::unique_ptr<::Workbook> book = ::Workbook::CreateBlank();
        book->SetUntitledNumber(session_->NextUntitledNumber());
        return ServerObjects::Workbook(session_, session_->Add(std::move(book)));
      }
      case 1: {
        // Open(path, UpdateLinks, ReadOnly, ...): only the path matters here.
        Dispatch::ExpectArgs(member, args, 1, 15);
        const QString path = QFileInfo(Dispatch::TextArg(member, args, 0)).absoluteFilePath();
        if (EntryRef open = session_->Find(path)) {
          session_->Activate(*open);  // already open here: it becomes the active one again
          return ServerObjects::Workbook(session_, std::move(open));
        }
        session_->SettleOtherCopies(path);
        try {
          return ServerObjects::Workbook(session_, session_->Add(SpreadsheetSession::ReadWorkbook(path)));
        } catch (const WorkbookError& e) {
          throw EOleError(e.Message());
        }
      }
      case 2:
        Dispatch::ExpectArgs(member, args, 0);
        return static_cast<int32_t>(session_->Entries().size());
      default: {
        Dispatch::ExpectArgs(member, args, 1);
        const int32_t index = Dispatch::IntArg(member, args, 0);
        const auto& entries = session_->Entries();
        if (index < 1 || static_cast<size_t>(index) > entries.size()) {
          throw EOleError(QStringLiteral("Subscript out of range: there is no workbook %1").arg(index));
        }
        return ServerObjects::Workbook(session_, entries[static_cast<size_t>(index) - 1]);
      }
    }
  }

 private:
  SessionRef session_;
};

class WorkbookObject : public IDispatchObject {
 public:
  WorkbookObject(SessionRef session, EntryRef entry) : session_(std::move(session)), entry_(std::move(entry)) {}

  OleVariant Invoke(const QString& member, CallKind kind, const std::vector<OleVariant>& args) override {
    static const MemberTable members{"SaveAs", "Save", "Sheets", "Worksheets", "Name",
                                     "FullName", "Saved", "Close", "Activate"};
    const int id = members.Find(member);
    if (id < 0) Dispatch::UnknownMember(QStringLiteral("Workbook"), member);
    if (kind == CallKind::Put) Dispatch::WrongCallKind(QStringLiteral("Workbook"), member);
    ::Workbook& book = ServerObjects::Live(*session_, *entry_);
    try {
      switch (id) {
        case 0:
          Dispatch::ExpectArgs(member, args, 1, 12);
          book.SaveAs(Dispatch::TextArg(member, args, 0));
          session_->NotifyWorkbookChanged(*entry_);
          return {};
        case 1:
          Dispatch::ExpectArgs(member, args, 0);
          book.Save();
          return {};
        case 2:
        case 3:
          Dispatch::ExpectArgs(member, args, 0, 1);
          if (args.empty()) return ServerObjects::Sheets(session_, entry_);
          return ServerObjects::SheetItem(session_, entry_, member, args[0]);
        case 4:
          Dispatch::ExpectArgs(member, args, 0);
          return book.Name();
        case 5:
          Dispatch::ExpectArgs(member, args, 0);
          return book.Path().isEmpty() ? book.Name() : QDir::toNativeSeparators(book.Path());
        case 6:
          Dispatch::ExpectArgs(member, args, 0);
          return !book.Dirty();
        case 7:
          // Close([SaveChanges]): without the argument unsaved changes are
          // kept by refusing, never dropped silently.
          Dispatch::ExpectArgs(member, args, 0, 3);
          if (!args.empty() && Dispatch::BoolArg(member, args, 0)) book.Save();
          if (args.empty() && book.Dirty()) {
            throw EOleError(QStringLiteral("Close refused: \"%1\" has unsaved changes; pass SaveChanges").arg(book.Name()));
          }
          session_->Close(*entry_);
          return {};
        default:
          Dispatch::ExpectArgs(member, args, 0);
          session_->Activate(*entry_);
          return {};
      }
    } catch (const WorkbookError& e) {
      throw EOleError(e.Message());
    }
  }

 private:
  SessionRef session_;
  EntryRef entry_;
};

class SheetsObject : public IDispatchObject {
 public:
  SheetsObject(SessionRef session, EntryRef entry) : session_(std::move(session)), entry_(std::move(entry)) {}

  OleVariant Invoke(const QString& member, CallKind kind, const std::vector<OleVariant>& args) override {
    static const MemberTable members{"Item", "Count"};
    const int id = members.Find(member);
    if (id < 0) Dispatch::UnknownMember(QStringLiteral("Sheets"), member);
    if (kind == CallKind::Put) Dispatch::WrongCallKind(QStringLiteral("Sheets"), member);
    if (id == 1) {
      Dispatch::ExpectArgs(member, args, 0);
      return ServerObjects::Live(*session_, *entry_).SheetCount();
    }
    Dispatch::ExpectArgs(member, args, 1);
    return ServerObjects::SheetItem(session_, entry_, member, args[0]);
  }

 private:
  SessionRef session_;
  EntryRef entry_;
};

class RangeObject : public IDispatchObject {
 public:
  RangeObject(SessionRef session, EntryRef entry, int sheet, uint32_t row, uint32_t col)
      : session_(std::move(session)), entry_(std::move(entry)), sheet_(sheet), row_(row), col_(col) {}

  OleVariant Invoke(const QString& member, CallKind kind, const std::vector<OleVariant>& args) override {
    static const MemberTable members{"Value", "Value2", "Row", "Column", "Text"};
    const int id = members.Find(member);
    if (id < 0) Dispatch::UnknownMember(QStringLiteral("Range"), member);
    if (kind == CallKind::Put && id > 1) Dispatch::WrongCallKind(QStringLiteral("Range"), member);
    ::Workbook& book = ServerObjects::Live(*session_, *entry_);
    Worksheet& sheet = book.Sheet(sheet_);
    if (id == 2) return static_cast<int32_t>(row_ + 1);
    if (id == 3) return static_cast<int32_t>(col_ + 1);
    if (kind == CallKind::Put && id <= 1) {
      Dispatch::ExpectArgs(member, args, 1);
      Write(book, sheet, member, args[0]);
      return {};
    }
    Dispatch::ExpectArgs(member, args, 0);
    const CellValue value = sheet.Cell(row_, col_);
    switch (value.type) {
      case CellValue::Type::Empty: return {};
      case CellValue::Type::Number: return id == 4 ? OleVariant(OleVariant(value.number).ToText()) : OleVariant(value.number);
      case CellValue::Type::Boolean: return id == 4 ? OleVariant(value.boolean ? "TRUE" : "FALSE") : OleVariant(value.boolean);
      case CellValue::Type::Text:
      case CellValue::Type::Error: return value.text;
    }
    return {};
  }

 private:
  void Write(::Workbook& book, Worksheet& sheet, const QString& member, const OleVariant& value) {
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
    session_->NotifyCellWritten(*entry_, sheet_, row_, col_);
    for (const CellPosition& changed : book.TakeChangedResults()) {
      session_->NotifyResultChanged(*entry_, changed.sheet, changed.row, changed.col);
    }
  }

  SessionRef session_;
  EntryRef entry_;
  int sheet_;
  uint32_t row_;
  uint32_t col_;
};

class SheetObject : public IDispatchObject {
 public:
  SheetObject(SessionRef session, EntryRef entry, int index)
      : session_(std::move(session)), entry_(std::move(entry)), index_(index) {}

  OleVariant Invoke(const QString& member, CallKind kind, const std::vector<OleVariant>& args) override {
    static const MemberTable members{"Cells", "Protect", "Unprotect", "ProtectionMode",
                                     "ProtectContents", "Name", "Index"};
    const int id = members.Find(member);
    if (id < 0) Dispatch::UnknownMember(QStringLiteral("Worksheet"), member);
    if (kind == CallKind::Put) Dispatch::WrongCallKind(QStringLiteral("Worksheet"), member);
    ::Workbook& book = ServerObjects::Live(*session_, *entry_);
    Worksheet& sheet = book.Sheet(index_);
    switch (id) {
      case 0: return Cells(sheet, member, args);
      case 1:
        // A password would have to be kept in the file; none is taken rather
        // than one silently ignored.
        if (!args.empty()) throw EOleError(QStringLiteral("Protect takes no password or options here"));
        SetProtection(book, sheet, true);
        return {};
      case 2:
        Dispatch::ExpectArgs(member, args, 0, 1);
        SetProtection(book, sheet, false);
        return {};
      case 3:
      case 4:
        Dispatch::ExpectArgs(member, args, 0);
        return sheet.Protected();
      case 5:
        Dispatch::ExpectArgs(member, args, 0);
        return sheet.Name();
      default:
        Dispatch::ExpectArgs(member, args, 0);
        return index_ + 1;
    }
  }

 private:
  OleVariant Cells(Worksheet& sheet, const QString& member, const std::vector<OleVariant>& args) {
    Dispatch::ExpectArgs(member, args, 2);
    if (sheet.SheetKind() != Worksheet::Kind::Worksheet) {
      throw EOleError(QStringLiteral("Cells: sheet \"%1\" is not a worksheet").arg(sheet.Name()));
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
        session_, entry_, index_, static_cast<uint32_t>(row - 1), static_cast<uint32_t>(col - 1))));
  }

  void SetProtection(::Workbook& book, Worksheet& sheet, bool on) {
    if (sheet.Protected() == on) return;
    sheet.SetProtected(on);
    book.MarkDirty();
  }

  SessionRef session_;
  EntryRef entry_;
  int index_;
};

}  // namespace

namespace ServerObjects {

::Workbook& Live(const SpreadsheetSession& session, const SpreadsheetSession::Entry& entry) {
  session.ThrowIfEnded();
  if (entry.closed) throw EOleError(QStringLiteral("The workbook has been closed; it can no longer be used"));
  return *entry.book;
}

std::shared_ptr<IDispatchObject> Workbooks(SessionRef session) {
  return std::make_shared<WorkbooksObject>(std::move(session));
}

std::shared_ptr<IDispatchObject> Workbook(SessionRef session, EntryRef entry) {
  return std::make_shared<WorkbookObject>(std::move(session), std::move(entry));
}

std::shared_ptr<IDispatchObject> Sheets(SessionRef session, EntryRef entry) {
  return std::make_shared<SheetsObject>(std::move(session), std::move(entry));
}

std::shared_ptr<IDispatchObject> SheetItem(SessionRef session, EntryRef entry, const QString& member,
                                           const OleVariant& which) {
  const ::Workbook& book = Live(*session, *entry);
  if (which.kind() == OleVariant::Kind::Text) {
    const QString name = which.ToText();
    for (int i = 0; i < book.SheetCount(); ++i) {
      if (book.Sheet(i).Name().compare(name, Qt::CaseInsensitive) == 0) {
        return std::make_shared<SheetObject>(std::move(session), std::move(entry), i);
      }
    }
    bool isNumber = false;
    name.toInt(&isNumber);
    if (!isNumber) throw EOleError(QStringLiteral("Subscript out of range: there is no sheet \"%1\"").arg(name));
  }
  const int32_t index = Dispatch::IntArg(member, {which}, 0);
  if (index < 1 || index > book.SheetCount()) {
    throw EOleError(QStringLiteral("Subscript out of range: there is no sheet %1 (the workbook has %2)")
                        .arg(index)
                        .arg(book.SheetCount()));
  }
  return std::make_shared<SheetObject>(std::move(session), std::move(entry), index - 1);
}

}  // namespace ServerObjects
