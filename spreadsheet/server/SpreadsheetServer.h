#pragma once
// The built-in spreadsheet server, registered as "Excel.Application": an
// application object with its workbooks, sheets and cells behind late-bound
// calls. Each CreateOleObject makes a new instance (a session); it ends on
// Quit or when the last reference into it is dropped, asking first about
// unsaved changes. Opening a file that another live instance holds with
// unsaved changes asks about those first, so the file read is the newest.
//
// Member names as the automation interface knows them:
//   application: Visible (get/put), Workbooks, ActiveWorkbook, Sheets / Worksheets
//                (collection, or Sheets(i) of the active workbook), Save, Quit, Name
//   workbooks:   Add, Open(path, ...), Count, Item(i)
//   workbook:    SaveAs(path), Save, Sheets / Worksheets, Name, FullName, Saved, Close([save])
//   sheets:      Item(i or name), Count, Add([Before], [After], [Count], [Type])
//   sheet:       Cells(row, col), Protect, Unprotect, ProtectionMode, ProtectContents,
//                Name (get/put), Index
//   cell:        Value / Value2 (get/put), Formula (get/put), Row, Column, Text
// A Value put of text that reads as a number stores the number (the rule is
// in CellEntry.h), and any other text as text, "=" in front or not; a Value
// get gives a number cell's number (whose text is its plain decimal form,
// "6"), a text, a boolean, or for an error value its name as text ("#N/A").
// A formula cell gives its current result: formulas are recalculated after
// writes (see Calculation.h). A Formula put of text that starts with "="
// stores a formula in the application's English syntax (see
// FormulaParser.h), any other put is a Value put; a Formula get gives the
// formula's text, or the value as text for a cell without one.
// Writes through these calls are accepted on a protected sheet, as with
// protection for the user interface only: protection guards the file for its
// users, never a row the application writes.

#include "automation/OleVariant.h"
#include "spreadsheet/server/Workbook.h"

#include <QString>

#include <memory>
#include <optional>
#include <vector>

class SpreadsheetSession;

// The server's window for one session, made by the front end.
class ServerWindow {
 public:
  virtual ~ServerWindow() = default;
  virtual void SetShown(bool shown) = 0;
  // The active workbook changed, was renamed, or a different one became active.
  virtual void ActiveWorkbookChanged() = 0;
  // A sheet of the active workbook was added or renamed.
  virtual void SheetsChanged() = 0;
  // A cell of a sheet of the active workbook was written (all 0-based).
  virtual void CellWritten(int sheet, uint32_t row, uint32_t col) = 0;
  // A formula's result there changed because of a write elsewhere.
  virtual void ResultChanged(int sheet, uint32_t row, uint32_t col) = 0;
};

enum class SaveChoice { Save, DontSave };

// What the server shows to a user. The widget library installs one; without
// it, Visible only records the flag and nothing is asked.
class ServerFrontEnd {
 public:
  virtual ~ServerFrontEnd() = default;
  virtual std::unique_ptr<ServerWindow> CreateWindow(SpreadsheetSession& session) = 0;
  // Asked when a session ends with unsaved changes, once per changed workbook.
  virtual SaveChoice AskSaveChanges(const QString& workbookName) = 0;
  // A workbook that was never stored needs a file to be saved to.
  virtual std::optional<QString> AskSavePath(const QString& workbookName) = 0;
  // A save asked for at the end failed; the user is asked again afterwards.
  virtual void ShowSaveFailure(const QString& message) = 0;
  // A workbook is protected with a password to open: the password, or
  // nothing when the user cancels. afterWrong: the one given before did not
  // open it, which the user is told first.
  virtual std::optional<QString> AskPassword(const QString& fileName, bool afterWrong) = 0;
};

void SetServerFrontEnd(std::shared_ptr<ServerFrontEnd> frontEnd);

// Registers the server as "Excel.Application".
void RegisterSpreadsheetServer();
// A new application instance, as the registered factory makes it.
std::shared_ptr<IDispatchObject> CreateSpreadsheetApplication();

// One running instance: read access for the window.
class SpreadsheetSession {
 public:
  SpreadsheetSession();
  ~SpreadsheetSession();  // ends the session: asks about unsaved changes
  SpreadsheetSession(const SpreadsheetSession&) = delete;
  SpreadsheetSession& operator=(const SpreadsheetSession&) = delete;

  Workbook* ActiveWorkbook() const;
  bool Visible() const { return visible_; }
  bool Ended() const { return ended_; }

  // Used by the automation objects.
  struct Entry;  // one open workbook
  std::shared_ptr<Entry> Add(std::unique_ptr<Workbook> book);
  std::shared_ptr<Entry> Find(const QString& absolutePath) const;
  void Activate(const Entry& entry);
  void Close(const Entry& entry);
  const std::vector<std::shared_ptr<Entry>>& Entries() const { return entries_; }
  std::shared_ptr<Entry> ActiveEntry() const;
  void SetVisible(bool visible);
  void Quit();
  void ThrowIfEnded() const;
  // A write: the window shows it, and the results it changes are worked
  // out at the next turn of the event loop (or when read, whichever first).
  void NotifyCellWritten(const Entry& entry, int sheet, uint32_t row, uint32_t col);
  void NotifyResultChanged(const Entry& entry, int sheet, uint32_t row, uint32_t col);
  void NotifyWorkbookChanged(const Entry& entry);
  void NotifySheetsChanged(const Entry& entry);
  int NextUntitledNumber() { return ++untitledCount_; }
  // Before absolutePath is read: other live sessions holding it with unsaved
  // changes ask whether to save them now.
  void SettleOtherCopies(const QString& absolutePath) const;
  // Reads a workbook; a password to open is asked of the user.
  static std::unique_ptr<Workbook> ReadWorkbook(const QString& absolutePath);

 private:
  void SaveBeforeEnd(Workbook& book);
  void ScheduleSettle();

  std::vector<std::shared_ptr<Entry>> entries_;
  std::weak_ptr<Entry> active_;
  std::unique_ptr<ServerWindow> window_;
  bool visible_ = false;
  bool ended_ = false;
  bool settleScheduled_ = false;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);  // what a scheduled settle checks first
  int untitledCount_ = 0;
};

struct SpreadsheetSession::Entry {
  std::unique_ptr<Workbook> book;
  bool closed = false;
};
