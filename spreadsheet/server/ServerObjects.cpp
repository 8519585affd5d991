#include "spreadsheet/server/ServerObjects.h"

#include "automation/DispatchHelpers.h"

#include <QDir>
#include <QFileInfo>

namespace {

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
    static const MemberTable members{"Item", "Count", "Add"};
    const int id = members.Find(member);
    if (id < 0) Dispatch::UnknownMember(QStringLiteral("Sheets"), member);
    if (kind == CallKind::Put) Dispatch::WrongCallKind(QStringLiteral("Sheets"), member);
    if (id == 1) {
      Dispatch::ExpectArgs(member, args, 0);
      return ServerObjects::Live(*session_, *entry_).SheetCount();
    }
    if (id == 2) return Add(member, args);
    Dispatch::ExpectArgs(member, args, 1);
    return ServerObjects::SheetItem(session_, entry_, member, args[0]);
  }

 private:
  // Add([Before], [After], [Count], [Type]): one new worksheet before the
  // sheet Before or after the sheet After; with neither, before the active
  // sheet, which here is the first. The new sheet comes back.
  OleVariant Add(const QString& member, const std::vector<OleVariant>& args) {
    Dispatch::ExpectArgs(member, args, 0, 4);
    ::Workbook& book = ServerObjects::Live(*session_, *entry_);
    const auto given = [&args](size_t i) { return i < args.size() && !args[i].IsEmpty(); };
    if (given(0) && given(1)) throw EOleError(QStringLiteral("Add: give Before or After, not both"));
    if (given(2) && Dispatch::IntArg(member, args, 2) != 1) {
      throw EOleError(QStringLiteral("Add: this server adds one sheet at a time (Count must be 1)"));
    }
    constexpr int32_t kWorksheetType = -4167;
    if (given(3) && Dispatch::IntArg(member, args, 3) != kWorksheetType) {
      throw EOleError(QStringLiteral("Add: this server adds worksheets only (Type must be -4167)"));
    }
    int position = 0;
    for (size_t i = 0; i < 2; ++i) {
      if (!given(i)) continue;
      const Worksheet* anchor = ServerObjects::SheetOf(args[i], *entry_);
      if (!anchor) {
        throw EOleError(QStringLiteral("Add: %1 must be a sheet of this workbook").arg(i == 0 ? "Before" : "After"));
      }
      position = ServerObjects::SheetIndex(book, anchor) + static_cast<int>(i);
    }
    book.AddSheet(position);
    session_->NotifySheetsChanged(*entry_);
    return ServerObjects::Sheet(session_, entry_, &book.Sheet(position));
  }

  SessionRef session_;
  EntryRef entry_;
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
  ::Workbook& book = Live(*session, *entry);
  if (which.kind() == OleVariant::Kind::Text) {
    const QString name = which.ToText();
    for (int i = 0; i < book.SheetCount(); ++i) {
      if (book.Sheet(i).Name().compare(name, Qt::CaseInsensitive) == 0) {
        return Sheet(std::move(session), std::move(entry), &book.Sheet(i));
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
  return Sheet(std::move(session), std::move(entry), &book.Sheet(index - 1));
}

int SheetIndex(const ::Workbook& book, const Worksheet* sheet) {
  const int index = book.IndexOf(sheet);
  if (index < 0) throw EOleError(QStringLiteral("The sheet is no longer in its workbook"));
  return index;
}

}  // namespace ServerObjects
