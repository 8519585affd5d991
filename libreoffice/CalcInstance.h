#pragma once
// One application instance of the LibreOffice server: the workbooks it
// opened in the shared office, which one is active, and the two things that
// keep the bridge's per-call cost off each cell: the row being written
// (gathered, then sent in one call) and blocks of columns read ahead.
// Lives on the program's thread; the automation objects hold it.

#include "libreoffice/BridgeApi.h"
#include "libreoffice/CalcFormula.h"
#include "libreoffice/WorkbookFormat.h"

#include <QObject>
#include <QString>

#include <exception>
#include <map>
#include <memory>
#include <optional>
#include <vector>

class CalcOffice;

class CalcInstance {
 public:
  struct Book {
    int id = 0;          // the document's number in the office
    QString path;        // empty until saved
    CalcFormat format = CalcFormat::Xls;
    QString name;        // file name, or "Book<n>"
    bool closed = false;
    int sheetCount = -1;  // known until the event loop's next turn; -1: ask the office
    std::optional<std::vector<QString>> sheetNames;    // the same
    std::optional<std::vector<QString>> definedNames;  // the same
    std::vector<int> insertions;  // where sheets were added, in order

    // Where the sheet at index stands now, when seen of the insertions had
    // been made; seen moves on. Sheet objects follow their sheet so.
    int SheetNow(int index, size_t& seen) const {
      for (; seen < insertions.size(); ++seen) {
        if (insertions[seen] <= index) ++index;
      }
      return index;
    }
  };
  using BookRef = std::shared_ptr<Book>;

  CalcInstance();   // throws EServerUnavailable
  ~CalcInstance();  // as Quit: unsaved changes are asked about
  CalcInstance(const CalcInstance&) = delete;
  CalcInstance& operator=(const CalcInstance&) = delete;

  // Every call but a put starts here: refuses on a quit instance, raises a
  // failure left by a flush on the timer, and sends the gathered row.
  void BeginCall();
  // A book of this instance that is still open (EOleError otherwise).
  void CheckOpen(const Book& book) const;
  // A quit instance refuses; a failure of a row sent on the timer is raised now.
  void RaiseWhatWaits();
  void ThrowIfEnded() const;

  BookRef Add();
  BookRef Open(const QString& path);
  BookRef Active() const;
  const std::vector<BookRef>& Books() const { return books_; }
  void Save(Book& book);
  void SaveAs(Book& book, const QString& path);
  bool Saved(Book& book);
  int SheetCount(Book& book);
  bool Protected(Book& book, int sheet);
  void SetProtected(Book& book, int sheet, bool on);
  // Rows and columns 0-based.
  void Put(const BookRef& book, int sheet, int32_t row, int32_t col, CalcBridge::Cell value);
  CalcBridge::Cell Get(Book& book, int sheet, int32_t row, int32_t col);
  // Sheets: names in order, the one Calc's view shows, a new one at
  // position (0-based), a new name (checked by the caller).
  std::vector<QString> SheetNames(Book& book);
  int ActiveSheet(Book& book);
  void AddSheet(Book& book, int position, const QString& name);
  void RenameSheet(Book& book, int sheet, const QString& name);
  // A formula in the application's syntax into a cell (EOleError naming the
  // cell, the formula and the place when it is refused), and a cell's
  // formula in that syntax, or its value as text when it has none.
  void PutFormula(const BookRef& book, int sheet, int32_t row, int32_t col, const QString& formula);
  QString GetFormula(Book& book, int sheet, int32_t row, int32_t col);
  bool Visible() const { return visible_; }
  void SetVisible(bool visible);
  void Quit();
  bool Ended() const { return ended_; }
  // For the test knob that closes a window as the user does.
  void CloseInOffice(Book& book);
  bool ShownInOffice(Book& book);

 private:
  struct PendingRow {
    BookRef book;
    int sheet = 0;
    int32_t row = 0;
    std::map<int32_t, CalcBridge::Cell> cells;  // by column
  };
  struct Block {
    int book = 0;
    int sheet = 0;
    int32_t col = 0;
    int32_t firstRow = 0;
    std::vector<CalcBridge::Cell> cells;
  };

  void Flush();
  void FlushOnTimer();
  void ScheduleTurn();
  void AskAndClose(Book& book);
  const CalcFunctionNames& Functions(Book& book);
  std::vector<QString> DefinedNames(Book& book);
  QString CellName(Book& book, int sheet, int32_t row, int32_t col);

  std::shared_ptr<CalcOffice> office_;
  std::vector<BookRef> books_;
  std::weak_ptr<Book> active_;
  PendingRow pending_;
  std::vector<Block> blocks_;
  CalcFunctionNames functions_;  // the office's, asked once
  std::exception_ptr deferredFailure_;  // from a flush on the timer, for the next call
  QObject turnContext_;                 // the timers' context: they die with the instance
  bool turnScheduled_ = false;
  bool visible_ = false;
  bool ended_ = false;
  bool quitting_ = false;
  int untitled_ = 0;
};
