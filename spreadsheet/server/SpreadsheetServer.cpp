#include "spreadsheet/server/SpreadsheetServer.h"

#include "automation/ComObj.h"
#include "automation/DispatchHelpers.h"
#include "spreadsheet/formula/FormulaProgram.h"
#include "spreadsheet/server/ServerObjects.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>

namespace {

std::shared_ptr<ServerFrontEnd>& FrontEnd() {
  static std::shared_ptr<ServerFrontEnd> frontEnd;
  return frontEnd;
}

// Every live session, so that opening a file can reach other instances that
// hold it with unsaved changes. Sessions live and die on the user-interface
// thread only, so the list needs no lock.
std::vector<SpreadsheetSession*>& LiveSessions() {
  static std::vector<SpreadsheetSession*> sessions;
  return sessions;
}

class ApplicationObject : public IDispatchObject {
 public:
  ApplicationObject() : session_(std::make_shared<SpreadsheetSession>()) {}
  OleVariant Invoke(const QString& member, CallKind kind, const std::vector<OleVariant>& args) override {
    static const MemberTable members{"Visible", "Workbooks", "ActiveWorkbook", "Sheets",
                                     "Worksheets", "Save", "Quit", "Name"};
    const int id = members.Find(member);
    if (id < 0) Dispatch::UnknownMember(QStringLiteral("Application"), member);
    if (kind == CallKind::Put && id != 0) Dispatch::WrongCallKind(QStringLiteral("Application"), member);
    if (id != 7) session_->ThrowIfEnded();
    switch (id) {
      case 0:
        if (kind == CallKind::Put) {
          Dispatch::ExpectArgs(member, args, 1);
          session_->SetVisible(Dispatch::BoolArg(member, args, 0));
          return {};
        }
        Dispatch::ExpectArgs(member, args, 0);
        return session_->Visible();
      case 1:
        Dispatch::ExpectArgs(member, args, 0);
        return ServerObjects::Workbooks(session_);
      case 2: {
        Dispatch::ExpectArgs(member, args, 0);
        EntryRef active = session_->ActiveEntry();
        if (!active) return {};  // no workbook: an unset reference, as the real one gives
        return ServerObjects::Workbook(session_, std::move(active));
      }
      case 3:
      case 4: {
        Dispatch::ExpectArgs(member, args, 0, 1);
        EntryRef active = session_->ActiveEntry();
        if (!active) throw EOleError(QStringLiteral("%1 failed: no workbook is open").arg(member));
        if (args.empty()) return ServerObjects::Sheets(session_, std::move(active));
        return ServerObjects::SheetItem(session_, std::move(active), member, args[0]);
      }
      case 5: {
        Dispatch::ExpectArgs(member, args, 0);
        EntryRef active = session_->ActiveEntry();
        if (!active) throw EOleError(QStringLiteral("Save failed: no workbook is open"));
        return ServerObjects::Workbook(session_, std::move(active)).get()->Invoke(member, CallKind::Method, args);
      }
      case 6:
        Dispatch::ExpectArgs(member, args, 0);
        session_->Quit();
        return {};
      default:
        Dispatch::ExpectArgs(member, args, 0);
        return QStringLiteral("CellfeedWizard Spreadsheet");
    }
  }

 private:
  SessionRef session_;
};

}  // namespace

void SetServerFrontEnd(std::shared_ptr<ServerFrontEnd> frontEnd) { FrontEnd() = std::move(frontEnd); }

std::shared_ptr<IDispatchObject> CreateSpreadsheetApplication() { return std::make_shared<ApplicationObject>(); }

void RegisterSpreadsheetServer() {
  RegisterAutomationServer(QStringLiteral("Excel.Application"), &CreateSpreadsheetApplication);
}

SpreadsheetSession::SpreadsheetSession() { LiveSessions().push_back(this); }

SpreadsheetSession::~SpreadsheetSession() {
  // Dropping the last reference ends the session like Quit: unsaved work is
  // offered for saving, never dropped unasked.
  if (!ended_) Quit();
  std::erase(LiveSessions(), this);
}

void SpreadsheetSession::SettleOtherCopies(const QString& absolutePath) const {
  for (SpreadsheetSession* other : LiveSessions()) {
    if (other == this || other->ended_) continue;
    const std::shared_ptr<Entry> entry = other->Find(absolutePath);
    if (!entry || !entry->book->Dirty()) continue;
    other->SaveBeforeEnd(*entry->book);
    // Declined: the other instance keeps its copy, but the file is the truth now.
    entry->book->ForgetUnsavedChanges();
  }
}

std::unique_ptr<Workbook> SpreadsheetSession::ReadWorkbook(const QString& absolutePath) {
  return Workbook::Open(absolutePath, [](const QString& fileName, bool again) -> std::optional<QString> {
    const std::shared_ptr<ServerFrontEnd> frontEnd = FrontEnd();
    if (!frontEnd) return std::nullopt;  // nobody to ask
    return frontEnd->AskPassword(fileName, again);
  });
}

std::shared_ptr<SpreadsheetSession::Entry> SpreadsheetSession::ActiveEntry() const {
  std::shared_ptr<Entry> active = active_.lock();
  return active && !active->closed ? active : nullptr;
}

Workbook* SpreadsheetSession::ActiveWorkbook() const {
  const std::shared_ptr<Entry> active = ActiveEntry();
  return active ? active->book.get() : nullptr;
}

std::shared_ptr<SpreadsheetSession::Entry> SpreadsheetSession::Add(std::unique_ptr<Workbook> book) {
  auto entry = std::make_shared<Entry>();
  entry->book = std::move(book);
  // Results worked out, whoever asked for them, reach the window. The
  // workbook lives in the entry, so the entry outlives the listener.
  Entry* raw = entry.get();
  entry->book->SetResultListener([this, raw](const std::vector<CellPosition>& changed) {
    for (const CellPosition& at : changed) NotifyResultChanged(*raw, at.sheet, at.row, at.col);
  });
  entries_.push_back(entry);
  Activate(*entry);
  return entry;
}

std::shared_ptr<SpreadsheetSession::Entry> SpreadsheetSession::Find(const QString& absolutePath) const {
  for (const auto& entry : entries_) {
    if (!entry->closed && entry->book->Path() == absolutePath) return entry;
  }
  return nullptr;
}

void SpreadsheetSession::Activate(const Entry& entry) {
  for (const auto& candidate : entries_) {
    if (candidate.get() == &entry) active_ = candidate;
  }
  if (window_) window_->ActiveWorkbookChanged();
}

void SpreadsheetSession::Close(const Entry& entry) {
  const auto found = std::find_if(entries_.begin(), entries_.end(), [&entry](const auto& e) { return e.get() == &entry; });
  if (found == entries_.end()) return;
  const bool wasActive = ActiveEntry().get() == &entry;
  (*found)->closed = true;
  (*found)->book->ForgetPassword();
  entries_.erase(found);
  if (wasActive) {
    if (entries_.empty()) {
      active_.reset();
      if (window_) window_->ActiveWorkbookChanged();
    } else {
      Activate(*entries_.back());
    }
  }
}

void SpreadsheetSession::SetVisible(bool visible) {
  visible_ = visible;
  if (!window_ && visible && FrontEnd()) window_ = FrontEnd()->CreateWindow(*this);
  if (window_) window_->SetShown(visible);
}

void SpreadsheetSession::ThrowIfEnded() const {
  if (ended_) throw EOleError(QStringLiteral("The spreadsheet application has quit; it can no longer be used"));
}

void SpreadsheetSession::NotifyCellWritten(const Entry& entry, int sheet, uint32_t row, uint32_t col) {
  if (!window_ || ActiveEntry().get() != &entry) return;
  window_->CellWritten(sheet, row, col);
  ScheduleSettle();
}

void SpreadsheetSession::NotifyResultChanged(const Entry& entry, int sheet, uint32_t row, uint32_t col) {
  if (window_ && ActiveEntry().get() == &entry) window_->ResultChanged(sheet, row, col);
}

void SpreadsheetSession::NotifySheetsChanged(const Entry& entry) {
  if (window_ && ActiveEntry().get() == &entry) window_->SheetsChanged();
}

// The 66 writes of a row come one after the other within one turn of the
// event loop; the window's formulas are worked out once after them.
void SpreadsheetSession::ScheduleSettle() {
  if (settleScheduled_ || !QCoreApplication::instance()) return;
  settleScheduled_ = true;
  QTimer::singleShot(0, [this, alive = std::weak_ptr<bool>(alive_)] {
    if (alive.expired()) return;
    settleScheduled_ = false;
    if (Workbook* book = ActiveWorkbook()) book->Settle();
  });
}

void SpreadsheetSession::NotifyWorkbookChanged(const Entry& entry) {
  if (window_ && ActiveEntry().get() == &entry) window_->ActiveWorkbookChanged();
}

void SpreadsheetSession::SaveBeforeEnd(Workbook& book) {
  const std::shared_ptr<ServerFrontEnd> frontEnd = FrontEnd();
  if (!frontEnd) return;  // nobody to ask
  while (book.Dirty() && frontEnd->AskSaveChanges(book.Name()) == SaveChoice::Save) {
    try {
      if (book.Path().isEmpty()) {
        const std::optional<QString> path = frontEnd->AskSavePath(book.Name());
        if (!path) continue;  // no file chosen: ask again whether to save
        book.SaveAs(*path);
      } else {
        book.Save();
      }
    } catch (const WorkbookError& e) {
      frontEnd->ShowSaveFailure(e.Message());
    }
  }
}

void SpreadsheetSession::Quit() {
  if (ended_) return;
  ended_ = true;
  for (const auto& entry : entries_) {
    if (!entry->closed) SaveBeforeEnd(*entry->book);
  }
  window_.reset();
  for (const auto& entry : entries_) {
    entry->closed = true;
    entry->book->ForgetPassword();
  }
  entries_.clear();
  active_.reset();
}
