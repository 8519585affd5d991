#include "libreoffice/CalcObjects.h"

#include "automation/CellEntry.h"
#include "automation/DispatchHelpers.h"

#include <QDir>

namespace {

using InstanceRef = std::shared_ptr<CalcInstance>;
using BookRef = CalcInstance::BookRef;

constexpr int32_t kMaxRows = 1048576;
constexpr int32_t kMaxColumns = 16384;
constexpr int kMaxCellText = 32767;

std::shared_ptr<IDispatchObject> WorkbookObject(InstanceRef instance, BookRef book);
std::shared_ptr<IDispatchObject> SheetItem(const InstanceRef& instance, const BookRef& book, const QString& member,
                                           const OleVariant& which);

class RangeObject : public IDispatchObject {
 public:
  RangeObject(InstanceRef instance, BookRef book, int sheet, int32_t row, int32_t col)
      : instance_(std::move(instance)), book_(std::move(book)), sheet_(sheet), row_(row), col_(col) {}

  OleVariant Invoke(const QString& member, CallKind kind, const std::vector<OleVariant>& args) override {
    static const MemberTable members{"Value", "Value2", "Row", "Column"};
    const int id = members.Find(member);
    if (id < 0) Dispatch::UnknownMember(QStringLiteral("Range"), member);
    if (kind == CallKind::Put && id > 1) Dispatch::WrongCallKind(QStringLiteral("Range"), member);
    if (id == 2) return row_ + 1;
    if (id == 3) return col_ + 1;
    if (kind == CallKind::Put) {
      Dispatch::ExpectArgs(member, args, 1);
      instance_->Put(book_, sheet_, row_, col_, Stored(member, args[0]));
      return {};
    }
    Dispatch::ExpectArgs(member, args, 0);
    instance_->BeginCall();
    const CalcBridge::Cell cell = instance_->Get(*book_, sheet_, row_, col_);
    if (const double* number = std::get_if<double>(&cell)) return *number;
    if (const QString* text = std::get_if<QString>(&cell)) return *text;
    return {};
  }

 private:
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
  BookRef book_;
  int sheet_;
  int32_t row_;
  int32_t col_;
};

class SheetObject : public IDispatchObject {
 public:
  SheetObject(InstanceRef instance, BookRef book, int index)
      : instance_(std::move(instance)), book_(std::move(book)), index_(index) {}

  OleVariant Invoke(const QString& member, CallKind kind, const std::vector<OleVariant>& args) override {
    static const MemberTable members{"Cells", "Protect", "Unprotect", "ProtectionMode", "ProtectContents", "Index"};
    const int id = members.Find(member);
    if (id < 0) Dispatch::UnknownMember(QStringLiteral("Worksheet"), member);
    if (kind == CallKind::Put) Dispatch::WrongCallKind(QStringLiteral("Worksheet"), member);
    if (id == 0) return Cells(member, args);  // no office call: cell objects are made here
    instance_->BeginCall();
    switch (id) {
      case 1:
        // A password would have to be kept in the file; none is taken rather
        // than one silently ignored.
        if (!args.empty()) throw EOleError(QStringLiteral("Protect takes no password or options here"));
        instance_->SetProtected(*book_, index_, true);
        return {};
      case 2:
        Dispatch::ExpectArgs(member, args, 0, 1);
        instance_->SetProtected(*book_, index_, false);
        return {};
      case 3:
      case 4:
        Dispatch::ExpectArgs(member, args, 0);
        return instance_->Protected(*book_, index_);
      default:
        Dispatch::ExpectArgs(member, args, 0);
        return index_ + 1;
    }
  }

 private:
  OleVariant Cells(const QString& member, const std::vector<OleVariant>& args) {
    Dispatch::ExpectArgs(member, args, 2);
    instance_->CheckOpen(*book_);
    const int32_t row = Dispatch::IntArg(member, args, 0);
    const int32_t col = Dispatch::IntArg(member, args, 1);
    if (row < 1 || row > kMaxRows) {
      throw EOleError(QStringLiteral("Cells: row %1 is outside the sheet (1 to %2)").arg(row).arg(kMaxRows));
    }
    if (col < 1 || col > kMaxColumns) {
      throw EOleError(QStringLiteral("Cells: column %1 is outside the sheet (1 to %2)").arg(col).arg(kMaxColumns));
    }
    return OleVariant(std::shared_ptr<IDispatchObject>(
        std::make_shared<RangeObject>(instance_, book_, index_, row - 1, col - 1)));
  }

  InstanceRef instance_;
  BookRef book_;
  int index_;
};

class SheetsObject : public IDispatchObject {
 public:
  SheetsObject(InstanceRef instance, BookRef book) : instance_(std::move(instance)), book_(std::move(book)) {}

  OleVariant Invoke(const QString& member, CallKind kind, const std::vector<OleVariant>& args) override {
    static const MemberTable members{"Item", "Count"};
    const int id = members.Find(member);
    if (id < 0) Dispatch::UnknownMember(QStringLiteral("Sheets"), member);
    if (kind == CallKind::Put) Dispatch::WrongCallKind(QStringLiteral("Sheets"), member);
    instance_->BeginCall();
    if (id == 1) {
      Dispatch::ExpectArgs(member, args, 0);
      return instance_->SheetCount(*book_);
    }
    Dispatch::ExpectArgs(member, args, 1);
    return SheetItem(instance_, book_, member, args[0]);
  }

 private:
  InstanceRef instance_;
  BookRef book_;
};

class WorkbookObjectImpl : public IDispatchObject {
 public:
  WorkbookObjectImpl(InstanceRef instance, BookRef book) : instance_(std::move(instance)), book_(std::move(book)) {}

  OleVariant Invoke(const QString& member, CallKind kind, const std::vector<OleVariant>& args) override {
    static const MemberTable members{"SaveAs", "Save", "Sheets", "Worksheets", "Name", "FullName", "Saved"};
    const int id = members.Find(member);
    if (id < 0) Dispatch::UnknownMember(QStringLiteral("Workbook"), member);
    if (kind == CallKind::Put) Dispatch::WrongCallKind(QStringLiteral("Workbook"), member);
    instance_->BeginCall();
    instance_->CheckOpen(*book_);
    switch (id) {
      case 0:
        Dispatch::ExpectArgs(member, args, 1, 12);
        instance_->SaveAs(*book_, Dispatch::TextArg(member, args, 0));
        return {};
      case 1:
        Dispatch::ExpectArgs(member, args, 0);
        instance_->Save(*book_);
        return {};
      case 2:
      case 3:
        Dispatch::ExpectArgs(member, args, 0, 1);
        if (args.empty()) return OleVariant(std::shared_ptr<IDispatchObject>(std::make_shared<SheetsObject>(instance_, book_)));
        return SheetItem(instance_, book_, member, args[0]);
      case 4:
        Dispatch::ExpectArgs(member, args, 0);
        return book_->name;
      case 5:
        Dispatch::ExpectArgs(member, args, 0);
        return book_->path.isEmpty() ? book_->name : QDir::toNativeSeparators(book_->path);
      default:
        Dispatch::ExpectArgs(member, args, 0);
        return instance_->Saved(*book_);
    }
  }

  const InstanceRef& Instance() const { return instance_; }
  const BookRef& Book() const { return book_; }

 private:
  InstanceRef instance_;
  BookRef book_;
};

class WorkbooksObject : public IDispatchObject {
 public:
  explicit WorkbooksObject(InstanceRef instance) : instance_(std::move(instance)) {}

  OleVariant Invoke(const QString& member, CallKind kind, const std::vector<OleVariant>& args) override {
    static const MemberTable members{"Add", "Open", "Count", "Item"};
    const int id = members.Find(member);
    if (id < 0) Dispatch::UnknownMember(QStringLiteral("Workbooks"), member);
    if (kind == CallKind::Put) Dispatch::WrongCallKind(QStringLiteral("Workbooks"), member);
    instance_->BeginCall();
    switch (id) {
      case 0:
        Dispatch::ExpectArgs(member, args, 0, 1);
        return WorkbookObject(instance_, instance_->Add());
      case 1:
        // Open(path, UpdateLinks, ReadOnly, ...): only the path matters here.
        Dispatch::ExpectArgs(member, args, 1, 15);
        return WorkbookObject(instance_, instance_->Open(Dispatch::TextArg(member, args, 0)));
      case 2: {
        Dispatch::ExpectArgs(member, args, 0);
        return static_cast<int32_t>(std::count_if(instance_->Books().begin(), instance_->Books().end(),
                                                  [](const BookRef& book) { return !book->closed; }));
      }
      default: {
        Dispatch::ExpectArgs(member, args, 1);
        const int32_t index = Dispatch::IntArg(member, args, 0);
        std::vector<BookRef> open;
        for (const BookRef& book : instance_->Books()) {
          if (!book->closed) open.push_back(book);
        }
        if (index < 1 || static_cast<size_t>(index) > open.size()) {
          throw EOleError(QStringLiteral("Subscript out of range: there is no workbook %1").arg(index));
        }
        return WorkbookObject(instance_, open[static_cast<size_t>(index) - 1]);
      }
    }
  }

 private:
  InstanceRef instance_;
};

class ApplicationObject : public IDispatchObject {
 public:
  ApplicationObject() : instance_(std::make_shared<CalcInstance>()) {}

  OleVariant Invoke(const QString& member, CallKind kind, const std::vector<OleVariant>& args) override {
    static const MemberTable members{"Visible", "Workbooks", "ActiveWorkbook", "Sheets",
                                     "Worksheets", "Save", "Quit", "Name"};
    const int id = members.Find(member);
    if (id < 0) Dispatch::UnknownMember(QStringLiteral("Application"), member);
    if (kind == CallKind::Put && id != 0) Dispatch::WrongCallKind(QStringLiteral("Application"), member);
    if (id == 7) {
      Dispatch::ExpectArgs(member, args, 0);
      return QStringLiteral("LibreOffice Calc");
    }
    if (id == 6) {
      Dispatch::ExpectArgs(member, args, 0);
      instance_->Quit();
      return {};
    }
    instance_->BeginCall();
    switch (id) {
      case 0:
        if (kind == CallKind::Put) {
          Dispatch::ExpectArgs(member, args, 1);
          instance_->SetVisible(Dispatch::BoolArg(member, args, 0));
          return {};
        }
        Dispatch::ExpectArgs(member, args, 0);
        return instance_->Visible();
      case 1:
        Dispatch::ExpectArgs(member, args, 0);
        return OleVariant(std::shared_ptr<IDispatchObject>(std::make_shared<WorkbooksObject>(instance_)));
      case 2: {
        Dispatch::ExpectArgs(member, args, 0);
        BookRef active = instance_->Active();
        if (!active) return {};  // no workbook: an unset reference
        return WorkbookObject(instance_, std::move(active));
      }
      case 3:
      case 4: {
        Dispatch::ExpectArgs(member, args, 0, 1);
        BookRef active = instance_->Active();
        if (!active) throw EOleError(QStringLiteral("%1 failed: no workbook is open").arg(member));
        if (args.empty()) return OleVariant(std::shared_ptr<IDispatchObject>(std::make_shared<SheetsObject>(instance_, active)));
        return SheetItem(instance_, active, member, args[0]);
      }
      default: {
        Dispatch::ExpectArgs(member, args, 0);
        BookRef active = instance_->Active();
        if (!active) throw EOleError(QStringLiteral("Save failed: no workbook is open"));
        instance_->Save(*active);
        return {};
      }
    }
  }

 private:
  InstanceRef instance_;
};

std::shared_ptr<IDispatchObject> WorkbookObject(InstanceRef instance, BookRef book) {
  return std::make_shared<WorkbookObjectImpl>(std::move(instance), std::move(book));
}

std::shared_ptr<IDispatchObject> SheetItem(const InstanceRef& instance, const BookRef& book, const QString& member,
                                           const OleVariant& which) {
  const int32_t index = Dispatch::IntArg(member, {which}, 0);
  const int count = instance->SheetCount(*book);
  if (index < 1 || index > count) {
    throw EOleError(QStringLiteral("Subscript out of range: there is no sheet %1 (the workbook has %2)").arg(index).arg(count));
  }
  return std::make_shared<SheetObject>(instance, book, index - 1);
}

}  // namespace

namespace CalcObjects {

std::shared_ptr<IDispatchObject> Application() { return std::make_shared<ApplicationObject>(); }

std::pair<std::shared_ptr<CalcInstance>, CalcInstance::BookRef> WorkbookOf(const OleVariant& workbook) {
  const auto* object = dynamic_cast<const WorkbookObjectImpl*>(workbook.ToObject().get());
  if (!object) return {};
  return {object->Instance(), object->Book()};
}

}  // namespace CalcObjects
