#include "libreoffice/CalcObjects.h"

#include "automation/DispatchHelpers.h"
#include "libreoffice/CalcSheetObjects.h"

#include <QDir>

namespace {

using InstanceRef = std::shared_ptr<CalcInstance>;
using BookRef = CalcInstance::BookRef;

std::shared_ptr<IDispatchObject> WorkbookObject(InstanceRef instance, BookRef book);

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
        if (args.empty()) return OleVariant(CalcSheetObjects::Sheets(instance_, book_));
        return CalcSheetObjects::SheetItem(instance_, book_, member, args[0]);
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
        if (args.empty()) return OleVariant(CalcSheetObjects::Sheets(instance_, active));
        return CalcSheetObjects::SheetItem(instance_, active, member, args[0]);
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

}  // namespace

namespace CalcObjects {

std::shared_ptr<IDispatchObject> Application() { return std::make_shared<ApplicationObject>(); }

std::pair<std::shared_ptr<CalcInstance>, CalcInstance::BookRef> WorkbookOf(const OleVariant& workbook) {
  const auto* object = dynamic_cast<const WorkbookObjectImpl*>(workbook.ToObject().get());
  if (!object) return {};
  return {object->Instance(), object->Book()};
}

}  // namespace CalcObjects
