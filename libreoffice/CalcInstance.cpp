#include "libreoffice/CalcInstance.h"

#include "automation/OleVariant.h"
#include "libreoffice/CalcOffice.h"
#include "libreoffice/FormulaSyntax.h"
#include "uikit/WorkbookQuestions.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QTimer>

#include <algorithm>

namespace {

using CalcBridge::Cell;
using CalcBridge::Office;

// Calc's sheet size (rows), and how much of a column one read brings.
constexpr int32_t kMaxRows = 1048576;
// A first read is small (most are a row's check or its read-back); reading on
// down a column doubles each block, so the first-empty-row search over 65,000
// rows takes about eleven calls.
constexpr int32_t kFirstBlock = 64;
constexpr int32_t kLargestBlock = 65536;

}  // namespace

CalcInstance::CalcInstance() : office_(CalcOffice::Shared()) {}

CalcInstance::~CalcInstance() {
  // Dropping the last reference ends the instance like Quit: unsaved work
  // is offered for saving, never dropped unasked.
  try {
    Quit();
  } catch (...) {
    // Nothing may leave a destructor; the office has gone, with it the documents.
  }
}

void CalcInstance::BeginCall() {
  RaiseWhatWaits();
  Flush();
}

void CalcInstance::RaiseWhatWaits() {
  ThrowIfEnded();
  if (deferredFailure_) std::rethrow_exception(std::exchange(deferredFailure_, nullptr));
}

void CalcInstance::ThrowIfEnded() const {
  if (ended_) throw EOleError(QStringLiteral("The spreadsheet application has quit; it can no longer be used"));
}

void CalcInstance::CheckOpen(const Book& book) const {
  ThrowIfEnded();
  if (book.closed) throw EOleError(QStringLiteral("The workbook has been closed; it can no longer be used"));
}

CalcInstance::BookRef CalcInstance::Active() const {
  BookRef active = active_.lock();
  return active && !active->closed ? active : nullptr;
}

CalcInstance::BookRef CalcInstance::Add() {
  BeginCall();
  const bool hidden = !visible_;
  auto book = std::make_shared<Book>();
  book->name = QStringLiteral("Book%1").arg(++untitled_);
  book->id = office_->Get<int>(
      CalcOffice::Bound::File, [hidden](Office& office) { return office.NewDocument(hidden); }, book->name);
  books_.push_back(book);
  active_ = book;
  return book;
}

CalcInstance::BookRef CalcInstance::Open(const QString& path) {
  BeginCall();
  const QFileInfo info(path);
  const QString absolute = info.absoluteFilePath();
  for (const BookRef& book : books_) {
    if (!book->closed && book->path == absolute) {
      active_ = book;  // already open here: it becomes the active one again
      return book;
    }
  }
  const std::optional<CalcFormat> format = FormatForPath(absolute);
  if (!format) {
    throw EOleError(QStringLiteral("'%1' is not a workbook for LibreOffice Calc here: it opens .xlsx, .ods and .xls files")
                        .arg(info.fileName()));
  }
  CheckWorkbookFile(absolute, *format);
  if (!info.isWritable()) {
    throw EOleError(QStringLiteral("'%1' is read-only (the file cannot be written), so no rows can be written to it")
                        .arg(info.fileName()));
  }
  CalcBridge::LoadOptions options;
  options.path = absolute;
  options.filter = FilterFor(*format);
  options.hidden = !visible_;
  auto book = std::make_shared<Book>();
  book->path = absolute;
  book->format = *format;
  book->name = info.fileName();
  for (;;) {
    try {
      book->id = office_->Get<int>(
          CalcOffice::Bound::File, [options](Office& office) { return office.LoadDocument(options); }, book->name);
      break;
    } catch (const CalcBridge::PasswordNeeded& needed) {
      options.password = WorkbookQuestions::AskPassword(book->name, needed.afterWrong);
      if (!options.password) {
        throw EOleError(QStringLiteral("'%1' is protected with a password and was not opened").arg(book->name));
      }
    }
  }
  books_.push_back(book);
  active_ = book;
  return book;
}

void CalcInstance::Save(Book& book) {
  CheckOpen(book);
  if (book.path.isEmpty()) {
    throw EOleError(QStringLiteral("'%1' has not been saved yet; SaveAs gives it a file name").arg(book.name));
  }
  const int id = book.id;
  const QString path = book.path;
  const QString filter = FilterFor(book.format);
  office_->Run(CalcOffice::Bound::File, [id, path, filter](Office& office) { office.Store(id, path, filter); }, book.name);
}

void CalcInstance::SaveAs(Book& book, const QString& path) {
  CheckOpen(book);
  const QFileInfo info(path);
  const std::optional<CalcFormat> format = FormatForPath(path);
  if (!format) {
    throw EOleError(QStringLiteral("SaveAs: '%1' names no workbook format (.xlsx, .ods or .xls)").arg(info.fileName()));
  }
  const int id = book.id;
  const QString absolute = info.absoluteFilePath();
  const QString filter = FilterFor(*format);
  office_->Run(CalcOffice::Bound::File, [id, absolute, filter](Office& office) { office.Store(id, absolute, filter); },
               book.name);
  book.path = absolute;
  book.format = *format;
  book.name = info.fileName();
}

bool CalcInstance::Saved(Book& book) {
  CheckOpen(book);
  const int id = book.id;
  return !office_->Get<bool>(CalcOffice::Bound::Call, [id](Office& office) { return office.Modified(id); }, book.name);
}

int CalcInstance::SheetCount(Book& book) {
  CheckOpen(book);
  // Every Sheets(i) asks it, once per cell as the row search goes: known for
  // this turn of the event loop, as the column blocks are.
  if (book.sheetCount >= 0) return book.sheetCount;
  const int id = book.id;
  book.sheetCount =
      office_->Get<int>(CalcOffice::Bound::Call, [id](Office& office) { return office.SheetCount(id); }, book.name);
  ScheduleTurn();
  return book.sheetCount;
}

bool CalcInstance::Protected(Book& book, int sheet) {
  CheckOpen(book);
  const int id = book.id;
  return office_->Get<bool>(
      CalcOffice::Bound::Call, [id, sheet](Office& office) { return office.Protected(id, sheet); }, book.name);
}

void CalcInstance::SetProtected(Book& book, int sheet, bool on) {
  CheckOpen(book);
  const int id = book.id;
  office_->Run(CalcOffice::Bound::Call, [id, sheet, on](Office& office) { office.SetProtected(id, sheet, on); },
               book.name);
}

std::vector<QString> CalcInstance::SheetNames(Book& book) {
  CheckOpen(book);
  if (book.sheetNames) return *book.sheetNames;
  const int id = book.id;
  book.sheetNames = office_->Get<std::vector<QString>>(
      CalcOffice::Bound::Call, [id](Office& office) { return office.SheetNames(id); }, book.name);
  book.sheetCount = static_cast<int>(book.sheetNames->size());
  ScheduleTurn();
  return *book.sheetNames;
}

int CalcInstance::ActiveSheet(Book& book) {
  BeginCall();
  CheckOpen(book);
  const int id = book.id;
  return office_->Get<int>(CalcOffice::Bound::Call, [id](Office& office) { return office.ActiveSheet(id); }, book.name);
}

void CalcInstance::AddSheet(Book& book, int position, const QString& name) {
  BeginCall();  // a gathered row goes to its sheet before the indices move
  CheckOpen(book);
  const int id = book.id;
  office_->Run(CalcOffice::Bound::Call, [id, position, name](Office& office) { office.InsertSheet(id, position, name); },
               book.name);
  book.insertions.push_back(position);
  if (book.sheetNames && position <= static_cast<int>(book.sheetNames->size())) {
    book.sheetNames->insert(book.sheetNames->begin() + position, name);
    book.sheetCount = static_cast<int>(book.sheetNames->size());
  } else {
    book.sheetNames.reset();
    book.sheetCount = -1;
  }
  blocks_.clear();  // known by sheet index
}

void CalcInstance::RenameSheet(Book& book, int sheet, const QString& name) {
  BeginCall();
  CheckOpen(book);
  const int id = book.id;
  office_->Run(CalcOffice::Bound::Call, [id, sheet, name](Office& office) { office.RenameSheet(id, sheet, name); },
               book.name);
  if (book.sheetNames && sheet < static_cast<int>(book.sheetNames->size())) {
    (*book.sheetNames)[static_cast<size_t>(sheet)] = name;
  } else {
    book.sheetNames.reset();
  }
}

const CalcFunctionNames& CalcInstance::Functions(Book& book) {
  if (functions_.Empty()) {
    const int id = book.id;
    const auto names = office_->Get<std::vector<CalcBridge::FunctionName>>(
        CalcOffice::Bound::Call, [id](Office& office) { return office.FunctionNames(id); }, book.name);
    for (const CalcBridge::FunctionName& name : names) functions_.Add(name.application, name.calc);
  }
  return functions_;
}

std::vector<QString> CalcInstance::DefinedNames(Book& book) {
  if (!book.definedNames) {
    const int id = book.id;
    book.definedNames = office_->Get<std::vector<QString>>(
        CalcOffice::Bound::Call, [id](Office& office) { return office.DefinedNames(id); }, book.name);
    ScheduleTurn();
  }
  return *book.definedNames;
}

QString CalcInstance::CellName(Book& book, int sheet, int32_t row, int32_t col) {
  const std::vector<QString> names = SheetNames(book);
  const QString sheetName = sheet < static_cast<int>(names.size()) ? names[static_cast<size_t>(sheet)]
                                                                     : QStringLiteral("sheet %1").arg(sheet + 1);
  return SheetNameInFormula(sheetName) + QLatin1Char('!') + ColumnLetters(col) + QString::number(row + 1);
}

void CalcInstance::PutFormula(const BookRef& book, int sheet, int32_t row, int32_t col, const QString& formula) {
  BeginCall();  // after the gathered row, in the order the calls came
  CheckOpen(*book);
  CalcFormulaTargets targets;
  targets.sheet = [this, &book](const QString& name) -> std::optional<QString> {
    const std::vector<QString> names = SheetNames(*book);
    for (const QString& known : names) {
      if (known.compare(name, Qt::CaseInsensitive) == 0) return known;
    }
    return std::nullopt;
  };
  targets.name = [this, &book](const QString& name) {
    const std::vector<QString> names = DefinedNames(*book);
    return std::any_of(names.begin(), names.end(),
                       [&name](const QString& known) { return known.compare(name, Qt::CaseInsensitive) == 0; });
  };
  targets.functions = &Functions(*book);
  targets.format = book->format;
  const QString calcFormula = ToCalcGrammar(formula, CellName(*book, sheet, row, col), targets);
  const int id = book->id;
  office_->Run(CalcOffice::Bound::Call,
               [id, sheet, row, col, calcFormula](Office& office) { office.WriteFormula(id, sheet, row, col, calcFormula); },
               book->name);
  blocks_.clear();  // its result, and whatever follows from it
  ScheduleTurn();
}

QString CalcInstance::GetFormula(Book& book, int sheet, int32_t row, int32_t col) {
  BeginCall();
  CheckOpen(book);
  const int id = book.id;
  const QString calcFormula = office_->Get<QString>(
      CalcOffice::Bound::Call, [id, sheet, row, col](Office& office) { return office.ReadFormula(id, sheet, row, col); },
      book.name);
  if (!calcFormula.isEmpty()) return FromCalcGrammar(calcFormula, Functions(book));
  const Cell value = Get(book, sheet, row, col);
  if (const double* number = std::get_if<double>(&value)) return OleVariant(*number).ToText();
  if (const QString* text = std::get_if<QString>(&value)) return *text;
  return {};
}

void CalcInstance::Put(const BookRef& book, int sheet, int32_t row, int32_t col, Cell value) {
  RaiseWhatWaits();  // but no flush: the put joins the gathered row
  CheckOpen(*book);
  if (pending_.book && (pending_.book != book || pending_.sheet != sheet || pending_.row != row)) Flush();
  pending_.book = book;
  pending_.sheet = sheet;
  pending_.row = row;
  pending_.cells[col] = std::move(value);
  // Any formula anywhere may follow from the cell, on other sheets too.
  blocks_.clear();
  ScheduleTurn();
}

void CalcInstance::Flush() {
  if (!pending_.book) return;
  PendingRow row = std::move(pending_);
  pending_ = PendingRow{};
  if (row.book->closed) return;
  // One call per run of neighbouring columns: a gap must not overwrite the
  // cells between with nothing.
  auto cell = row.cells.begin();
  while (cell != row.cells.end()) {
    const int32_t first = cell->first;
    std::vector<Cell> run;
    int32_t next = first;
    while (cell != row.cells.end() && cell->first == next) {
      run.push_back(std::move(cell->second));
      ++cell;
      ++next;
    }
    const int id = row.book->id;
    const int sheet = row.sheet;
    const int32_t r = row.row;
    office_->Run(CalcOffice::Bound::Call,
                 [id, sheet, r, first, run = std::move(run)](Office& office) { office.WriteRow(id, sheet, r, first, run); },
                 row.book->name);
  }
}

Cell CalcInstance::Get(Book& book, int sheet, int32_t row, int32_t col) {
  CheckOpen(book);
  int32_t count = kFirstBlock;
  for (const Block& block : blocks_) {
    if (block.book != book.id || block.sheet != sheet || block.col != col) continue;
    const int32_t end = block.firstRow + static_cast<int32_t>(block.cells.size());
    if (row >= block.firstRow && row < end) return block.cells[static_cast<size_t>(row - block.firstRow)];
    // Reading on down the column: each block twice the last.
    if (row == end) count = std::min(kLargestBlock, static_cast<int32_t>(block.cells.size()) * 2);
  }
  count = std::min(count, kMaxRows - row);
  const int id = book.id;
  Block block{id, sheet, col, row, {}};
  block.cells = office_->Get<std::vector<Cell>>(
      CalcOffice::Bound::Call,
      [id, sheet, col, row, count](Office& office) { return office.ReadColumn(id, sheet, col, row, count); }, book.name);
  if (block.cells.empty()) return {};
  blocks_.push_back(std::move(block));
  ScheduleTurn();
  return blocks_.back().cells.front();
}

void CalcInstance::ScheduleTurn() {
  if (turnScheduled_ || !QCoreApplication::instance()) return;
  turnScheduled_ = true;
  // What was read may have changed in Calc by the next turn of the event
  // loop; a gathered row goes out then at the latest.
  QTimer::singleShot(0, &turnContext_, [this] {
    turnScheduled_ = false;
    blocks_.clear();
    for (const BookRef& book : books_) {
      book->sheetCount = -1;
      book->sheetNames.reset();
      book->definedNames.reset();
    }
    FlushOnTimer();
  });
}

void CalcInstance::FlushOnTimer() {
  if (ended_) return;
  try {
    Flush();
  } catch (...) {
    deferredFailure_ = std::current_exception();  // raised by the next call, never dropped
  }
}

void CalcInstance::SetVisible(bool visible) {
  visible_ = visible;
  if (office_->Headless()) return;  // no windows here: it works hidden
  for (const BookRef& book : books_) {
    if (book->closed) continue;
    const int id = book->id;
    office_->Run(CalcOffice::Bound::Call, [id, visible](Office& office) { office.Show(id, visible); }, book->name);
  }
}

void CalcInstance::AskAndClose(Book& book) {
  const int id = book.id;
  try {
    while (!office_->Get<bool>(CalcOffice::Bound::Call, [id](Office& office) { return !office.Modified(id); }, book.name) &&
           WorkbookQuestions::AskSaveChanges(book.name)) {
      try {
        if (book.path.isEmpty()) {
          const std::optional<QString> path = WorkbookQuestions::AskSavePath(CalcFileFilter(), QStringLiteral("xls"));
          if (!path) continue;  // no file chosen: ask again whether to save
          SaveAs(book, *path);
        } else {
          Save(book);
        }
      } catch (const EServerGone&) {
        throw;
      } catch (const EOleError& e) {
        WorkbookQuestions::ShowSaveFailure(e.Message());
      }
    }
    office_->Run(CalcOffice::Bound::Call, [id](Office& office) { office.Close(id); }, book.name);
  } catch (const EOleError&) {
    // Gone already (window closed, office ended): nothing is left to close.
  }
  book.closed = true;
}

void CalcInstance::Quit() {
  if (ended_ || quitting_) return;
  quitting_ = true;  // the questions below may run nested event loops
  try {
    Flush();
  } catch (const EOleError&) {
    // The office refused or has gone; the program keeps its own record of rows.
  }
  deferredFailure_ = nullptr;
  blocks_.clear();
  for (const BookRef& book : books_) {
    if (!book->closed) AskAndClose(*book);
  }
  ended_ = true;
  books_.clear();
  active_.reset();
}

void CalcInstance::CloseInOffice(Book& book) {
  BeginCall();
  const int id = book.id;
  office_->Run(CalcOffice::Bound::Call, [id](Office& office) { office.Close(id); }, book.name);
}

bool CalcInstance::ShownInOffice(Book& book) {
  BeginCall();
  const int id = book.id;
  return office_->Get<bool>(CalcOffice::Bound::Call, [id](Office& office) { return office.Shown(id); }, book.name);
}
