#pragma once
// A workbook held by the spreadsheet server: its sheets, its file, and
// whether it changed since it was last stored. Opening reads the whole .xls;
// saving writes it back keeping every part nobody changed.
// It ties the parts below together (the model, the file, the password and
// the formulas), so it sits with the server.

#include "spreadsheet/encryption/FilePass.h"
#include "spreadsheet/xls/CompoundFile.h"
#include "spreadsheet/xls/XlsReader.h"

#include <QString>

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <vector>

class Calculation;
struct CellPosition;

class WorkbookEncryption;

// A workbook that cannot be opened or saved; the message names the file
// and says why.
class WorkbookError : public std::runtime_error {
 public:
  explicit WorkbookError(const QString& message) : std::runtime_error(message.toStdString()) {}
  QString Message() const { return QString::fromUtf8(what()); }
};

// Asked for the password of a workbook protected with a password to open
// when the default one does not open it: the next password to try, or
// nothing when the user gives up. `again` says the one before did not fit.
using PasswordSource = std::function<std::optional<QString>(const QString& fileName, bool again)>;

class Workbook {
 public:
  // Reads the file; throws WorkbookError naming the file and the reason.
  static std::unique_ptr<Workbook> Open(const QString& path, const PasswordSource& askPassword = {});
  // From the bytes of a file in memory (the fuzzer's way in); throws WorkbookError.
  static std::unique_ptr<Workbook> FromMemory(const uint8_t* data, size_t size, const PasswordSource& askPassword = {});
  // A new workbook with one empty sheet "Sheet1", not yet stored anywhere.
  static std::unique_ptr<Workbook> CreateBlank();

  ~Workbook();
  Workbook(const Workbook&) = delete;
  Workbook& operator=(const Workbook&) = delete;

  // Full path of the file; empty until first saved.
  const QString& Path() const { return path_; }
  // The file name, or "Book<n>" for a workbook never saved.
  QString Name() const;

  int SheetCount() const { return static_cast<int>(parts_->sheets.size()); }
  Worksheet& Sheet(int index) { return *parts_->sheets.at(static_cast<size_t>(index)); }
  const Worksheet& Sheet(int index) const { return *parts_->sheets.at(static_cast<size_t>(index)); }
  // Where the sheet is in the order now, or -1 when it is not this workbook's.
  int IndexOf(const Worksheet* sheet) const;

  // A new empty worksheet at position (0 .. SheetCount()), named "Sheet<n>"
  // as the application names it. The sheets after it move up one.
  void AddSheet(int position);
  // Why name cannot be sheet index's name, or empty when it can.
  QString SheetNameProblem(int index, const QString& name) const;
  // A name SheetNameProblem has nothing against. Formulas that refer to the
  // sheet show the new name.
  void RenameSheet(int index, const QString& name);

  // Formula text in a cell (see FormulaCells.h): put throws
  // FormulaCellError and leaves the cell as it was.
  void PutFormula(int sheet, uint32_t row, uint32_t col, const QString& text);
  QString FormulaText(int sheet, uint32_t row, uint32_t col) const;

  // Unsaved changes. Set by every change made through the server.
  bool Dirty() const { return dirty_; }
  void MarkDirty() { dirty_ = true; }
  // The user chose not to save: no longer counted as unsaved.
  void ForgetUnsavedChanges() { dirty_ = false; }

  // Writes to path (a temporary file beside it, then renamed over it) and
  // makes it the workbook's file. Throws WorkbookError; a failed save leaves
  // the file at path as it was.
  void SaveAs(const QString& path);
  // Writes to the workbook's own file; throws WorkbookError when it has none.
  void Save();

  void SetUntitledNumber(int number) { untitledNumber_ = number; }

  // How the file is protected with a password to open; saving keeps it so.
  std::optional<EncryptionMethod> Encryption() const;
  // Wipes the password from memory: the workbook is closed.
  void ForgetPassword();

  // The workbook stream as a save stores it (without the compound file):
  // encrypted again when it was.
  void WriteStoredStream(Biff::ByteSink& sink);

  // The formulas: their results are kept current as cells change.
  Calculation& Formulas() { return *calc_; }
  const Calculation& Formulas() const { return *calc_; }
  // The formula cells whose results changed since the last call.
  std::vector<CellPosition> TakeChangedResults();
  // Works out the formulas that wait after changes (reads of formula cells
  // and saves do it themselves); the listener hears of the results that
  // changed.
  void Settle();
  void SetResultListener(std::function<void(const std::vector<CellPosition>&)> listener);

 private:
  Workbook() = default;
  bool NeedsRecalculationOnLoad() const;
  static std::unique_ptr<Workbook> FromParts(std::unique_ptr<WorkbookParts> parts, CompoundDocument document,
                                            const QString& displayName, const PasswordSource& askPassword);
  bool OtherStreamsArePlain() const;
  void StartCalculation();

  std::unique_ptr<WorkbookParts> parts_;
  std::unique_ptr<Calculation> calc_;  // refers into parts_
  std::unique_ptr<WorkbookEncryption> encryption_;
  std::function<void(const std::vector<CellPosition>&)> resultListener_;
  CompoundDocument document_;
  QString path_;
  bool dirty_ = false;
  int untitledNumber_ = 1;
};
