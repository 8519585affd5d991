#include "libreoffice/CalcSheetObjects.h"

#include "automation/CellEntry.h"
#include "automation/DispatchHelpers.h"
#include "libreoffice/SheetNames.h"

namespace {

using InstanceRef = std::shared_ptr<CalcInstance>;
using BookRef = CalcInstance::BookRef;

constexpr int32_t kMaxRows = 1048576;
constexpr int32_t kMaxColumns = 16384;
constexpr int kMaxCellText = 32767;
constexpr int kMaxFormula = 8192;  // the application's longest formula

// Where an object's sheet stands: its index when the object was made,
// followed through the sheets added since.
class SheetPlace {
 public:
  SheetPlace(BookRef book, int index) : book_(std::move(book)), index_(index), seen_(book_->insertions.size()) {}

  int Index() {
    index_ = book_->SheetNow(index_, seen_);
    return index_;
  }
  const BookRef& Book() const { return book_; }

 private:
  BookRef book_;
  int index_;
  size_t seen_;
};

class RangeObject : public IDispatchObject {
 public:
  RangeObject(InstanceRef instance, SheetPlace place, int32_t row, int32_t col)
      : instance_(std::move(instance)), place_(std::move(place)), row_(row), col_(col) {}

  OleVariant Invoke(const QString& member, CallKind kind, const std::vector<OleVariant>& args) override {
    static const MemberTable members{"Value", "Value2", "Row", "Column", "Formula"};
    const int id = members.Find(member);
    if (id < 0) Dispatch::UnknownMember(QStringLiteral("Range"), member);
    if (kind == CallKind::Put && (id == 2 || id == 3)) Dispatch::WrongCallKind(QStringLiteral("Range"), member);
    if (id == 2) return row_ + 1;
    if (id == 3) return col_ + 1;
    const BookRef& book = place_.Book();
    const int sheet = place_.Index();
    if (kind == CallKind::Put) {
      Dispatch::ExpectArgs(member, args, 1);
      // Only a Formula put reads "=..." as a formula: a Value put stores it as
      // text, so a scanned value never becomes one.
      if (id == 4 && IsFormula(args[0])) {
        const QString formula = args[0].ToText();
        if (formula.size() > kMaxFormula) {
          throw EOleError(QStringLiteral("Formula: a formula has at most %1 characters, got %2").arg(kMaxFormula).arg(formula.size()));
        }
        instance_->PutFormula(book, sheet, row_, col_, formula);
      } else {
        instance_->Put(book, sheet, row_, col_, Stored(member, args[0]));
      }
      return {};
    }
    Dispatch::ExpectArgs(member, args, 0);
    if (id == 4) return instance_->GetFormula(*book, sheet, row_, col_);
    instance_->BeginCall();
    const CalcBridge::Cell cell = instance_->Get(*book, sheet, row_, col_);
    if (const double* number = std::get_if<double>(&cell)) return *number;
    if (const QString* text = std::get_if<QString>(&cell)) return *text;
    return {};
  }

 private:
  static bool IsFormula(const OleVariant& value) {
    return value.kind() == OleVariant::Kind::Text && value.ToText().startsWith(u'=');
  }

  // What a put stores: the same rule as every server (CellEntry.h).
  static CalcBridge::Cell Stored(const QString& member, const OleVariant& value) {
    switch (value.kind()) {
      case OleVariant::Kind::Empty: return std::monostate{};
      case OleVariant::Kind::Boolean: return value.ToBool() ? 1.0 : 0.0;
      case OleVariant::Kind::Integer:
      case OleVariant::Kind::Double: return value.ToDouble();
      case OleVariant::Kind::Text: {
        const QString text = value.ToText();
        if (text.size() > kMaxCellText) {
          throw EOleError(QStringLiteral("%1: a cell holds at most %2 characters, got %3")
                              .arg(member)
                              .arg(kMaxCellText)
                              .arg(text.size()));
        }
        if (text.isEmpty()) return std::monostate{};
        if (const std::optional<double> number = NumberFromEntry(text)) return *number;
        return text;
      }
      case OleVariant::Kind::Object: break;
    }
    throw EOleError(QStringLiteral("Type mismatch: %1 cannot hold an object").arg(member));
  }

  InstanceRef instance_;
  SheetPlace place_;
  int32_t row_;
  int32_t col_;
};

class SheetObject : public IDispatchObject {
 public:
  SheetObject(InstanceRef instance, SheetPlace place) : instance_(std::move(instance)), place_(std::move(place)) {}

  OleVariant Invoke(const QString& member, CallKind kind, const std::vector<OleVariant>& args) override {
    static const MemberTable members{"Cells", "Protect", "Unprotect", "ProtectionMode", "ProtectContents", "Index", "Name"};
    const int id = members.Find(member);
    if (id < 0) Dispatch::UnknownMember(QStringLiteral("Worksheet"), member);
    if (kind == CallKind::Put && id != 6) Dispatch::WrongCallKind(QStringLiteral("Worksheet"), member);
    if (id == 0) return Cells(member, args);  // no office call: cell objects are made here
    instance_->BeginCall();
    CalcInstance::Book& book = *place_.Book();
    const int index = place_.Index();
    switch (id) {
      case 1:
        // A password would have to be kept in the file; none is taken rather
        // than one silently ignored.
        if (!args.empty()) throw EOleError(QStringLiteral("Protect takes no password or options here"));
        instance_->SetProtected(book, index, true);
        return {};
      case 2:
        Dispatch::ExpectArgs(member, args, 0, 1);
        instance_->SetProtected(book, index, false);
        return {};
      case 3:
      case 4:
        Dispatch::ExpectArgs(member, args, 0);
        return instance_->Protected(book, index);
      case 5:
        Dispatch::ExpectArgs(member, args, 0);
        return index + 1;
      default:
        if (kind == CallKind::Put) {
          Dispatch::ExpectArgs(member, args, 1);
          Rename(book, index, Dispatch::TextArg(member, args, 0));
          return {};
        }
        Dispatch::ExpectArgs(member, args, 0);
        return NameOf(book, index);
    }
  }

  SheetPlace& Place() { return place_; }

 private:
  OleVariant Cells(const QString& member, const std::vector<OleVariant>& args) {
    Dispatch::ExpectArgs(member, args, 2);
    instance_->CheckOpen(*place_.Book());
    const int32_t row = Dispatch::IntArg(member, args, 0);
    const int32_t col = Dispatch::IntArg(member, args, 1);
    if (row < 1 || row > kMaxRows) {
      throw EOleError(QStringLiteral("Cells: row %1 is outside the sheet (1 to %2)").arg(row).arg(kMaxRows));
    }
    if (col < 1 || col > kMaxColumns) {
      throw EOleError(QStringLiteral("Cells: column %1 is outside the sheet (1 to %2)").arg(col).arg(kMaxColumns));
    }
    return OleVariant(std::shared_ptr<IDispatchObject>(std::make_shared<RangeObject>(instance_, place_, row - 1, col - 1)));
  }

  QString NameOf(CalcInstance::Book& book, int index) {
    const std::vector<QString> names = instance_->SheetNames(book);
    if (index >= static_cast<int>(names.size())) throw EOleError(QStringLiteral("The sheet is no longer in the workbook"));
    return names[static_cast<size_t>(index)];
  }

  void Rename(CalcInstance::Book& book, int index, const QString& name) {
    const QString current = NameOf(book, index);
    if (current == name) return;
    if (const std::optional<QString> fault = SheetNameFault(name, instance_->SheetNames(book), index)) {
      throw EOleError(QStringLiteral("Name: sheet \"%1\" cannot be named \"%2\": %3").arg(current, name, *fault));
    }
    instance_->RenameSheet(book, index, name);
  }

  InstanceRef instance_;
  SheetPlace place_;
};

class SheetsObject : public IDispatchObject {
 public:
  SheetsObject(InstanceRef instance, BookRef book) : instance_(std::move(instance)), book_(std::move(book)) {}

  OleVariant Invoke(const QString& member, CallKind kind, const std::vector<OleVariant>& args) override {
    static const MemberTable members{"Item", "Count", "Add"};
    const int id = members.Find(member);
    if (id < 0) Dispatch::UnknownMember(QStringLiteral("Sheets"), member);
    if (kind == CallKind::Put) Dispatch::WrongCallKind(QStringLiteral("Sheets"), member);
    instance_->BeginCall();
    switch (id) {
      case 0:
        Dispatch::ExpectArgs(member, args, 1);
        return CalcSheetObjects::SheetItem(instance_, book_, member, args[0]);
      case 1:
        Dispatch::ExpectArgs(member, args, 0);
        return instance_->SheetCount(*book_);
      default:
        return Add(member, args);
    }
  }

 private:
  // Add(Before, After): a new sheet before or after the one given, or before
  // the sheet Calc's view shows when neither is.
  OleVariant Add(const QString& member, const std::vector<OleVariant>& args) {
    Dispatch::ExpectArgs(member, args, 0, 2);
    const OleVariant none;
    const OleVariant& before = !args.empty() ? args[0] : none;
    const OleVariant& after = args.size() > 1 ? args[1] : none;
    if (!before.IsEmpty() && !after.IsEmpty()) {
      throw EOleError(QStringLiteral("Add: a new sheet goes before one sheet or after one, not both"));
    }
    int position = 0;
    if (!before.IsEmpty()) {
      position = IndexOf(before, QStringLiteral("Before"));
    } else if (!after.IsEmpty()) {
      position = IndexOf(after, QStringLiteral("After")) + 1;
    } else {
      position = instance_->ActiveSheet(*book_);
    }
    instance_->AddSheet(*book_, position, NewSheetName(instance_->SheetNames(*book_)));
    return OleVariant(std::shared_ptr<IDispatchObject>(std::make_shared<SheetObject>(instance_, SheetPlace(book_, position))));
  }

  int IndexOf(const OleVariant& value, const QString& argument) {
    auto* sheet = dynamic_cast<SheetObject*>(value.kind() == OleVariant::Kind::Object ? value.ToObject().get() : nullptr);
    if (!sheet || sheet->Place().Book() != book_) {
      throw EOleError(QStringLiteral("Add: %1 must be a sheet of this workbook").arg(argument));
    }
    return sheet->Place().Index();
  }

  InstanceRef instance_;
  BookRef book_;
};

}  // namespace

namespace CalcSheetObjects {

std::shared_ptr<IDispatchObject> Sheets(InstanceRef instance, BookRef book) {
  return std::make_shared<SheetsObject>(std::move(instance), std::move(book));
}

std::shared_ptr<IDispatchObject> SheetItem(const InstanceRef& instance, const BookRef& book, const QString& member,
                                           const OleVariant& which) {
  if (which.kind() == OleVariant::Kind::Text) {
    const QString name = which.ToText();
    if (const std::optional<int> index = SheetIndex(instance->SheetNames(*book), name)) {
      return std::make_shared<SheetObject>(instance, SheetPlace(book, *index));
    }
    bool isNumber = false;
    name.toInt(&isNumber);
    if (!isNumber) throw EOleError(QStringLiteral("Subscript out of range: there is no sheet \"%1\"").arg(name));
  }
  const int32_t index = Dispatch::IntArg(member, {which}, 0);
  const int count = instance->SheetCount(*book);
  if (index < 1 || index > count) {
    throw EOleError(QStringLiteral("Subscript out of range: there is no sheet %1 (the workbook has %2)").arg(index).arg(count));
  }
  return std::make_shared<SheetObject>(instance, SheetPlace(book, index - 1));
}

}  // namespace CalcSheetObjects
