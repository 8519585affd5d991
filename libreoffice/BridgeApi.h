#pragma once
// What the UNO plugin offers the program: an office reached over a pipe, its
// documents by number, and whole rows and column blocks of cells. Plain types
// only, so the program itself never needs LibreOffice's headers or libraries.
// Every member is called on one worker thread; the program bounds the wait.

#include <QString>

#include <cstdint>
#include <optional>
#include <stdexcept>
#include <variant>
#include <vector>

// The plugin is built with hidden symbols; the failures it throws must still
// be caught as the same types by the program.
#define CFW_CALC_BRIDGE_VISIBLE __attribute__((visibility("default")))

namespace CalcBridge {

// Raised to the plugin's exported entry point so program and plugin agree.
constexpr int kInterfaceVersion = 3;

// An empty cell, a number or a text. A formula cell reads as its result.
using Cell = std::variant<std::monostate, double, QString>;

// The document is no longer open (its window was closed, or the office
// ended); what() says which.
class CFW_CALC_BRIDGE_VISIBLE Gone : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The office refused or failed the call; what() is a message for the user (UTF-8).
class CFW_CALC_BRIDGE_VISIBLE Failure : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Loading needs a password to open; afterWrong when the one given did not open it.
class CFW_CALC_BRIDGE_VISIBLE PasswordNeeded : public std::runtime_error {
 public:
  PasswordNeeded(bool wrong) : std::runtime_error("password needed"), afterWrong(wrong) {}  // NOLINT
  bool afterWrong;
};

// A function's name in the spreadsheet application and in Calc's grammar.
struct FunctionName {
  QString application;
  QString calc;
};

struct LoadOptions {
  QString path;     // absolute
  QString filter;   // the office's import filter name
  bool hidden = true;
  std::optional<QString> password;
};

class Office {
 public:
  virtual ~Office() = default;

  // Connects to the office listening on the pipe; false while nobody answers
  // there yet. programDir holds the office's fundamentalrc.
  virtual bool Connect(const QString& programDir, const QString& pipeName) = 0;
  // One round trip that changes nothing: the office still answers.
  virtual void Ping() = 0;
  // A new empty spreadsheet document, or a file loaded with an explicit filter.
  // Loading refuses documents the office would open read-only.
  virtual int NewDocument(bool hidden) = 0;
  virtual int LoadDocument(const LoadOptions& options) = 0;
  virtual void Store(int doc, const QString& path, const QString& filter) = 0;
  virtual void Show(int doc, bool shown) = 0;
  virtual bool Shown(int doc) = 0;
  virtual int SheetCount(int doc) = 0;
  // Cells of one row from firstCol on, in one call (0-based positions).
  virtual void WriteRow(int doc, int sheet, int32_t row, int32_t firstCol, const std::vector<Cell>& cells) = 0;
  // count cells of a column from firstRow down, in one call.
  virtual std::vector<Cell> ReadColumn(int doc, int sheet, int32_t col, int32_t firstRow, int32_t count) = 0;
  virtual bool Protected(int doc, int sheet) = 0;
  virtual void SetProtected(int doc, int sheet, bool on) = 0;
  virtual bool Modified(int doc) = 0;
  // The sheets' names in their order, and the one the document's view shows.
  virtual std::vector<QString> SheetNames(int doc) = 0;
  virtual int ActiveSheet(int doc) = 0;
  // A new empty sheet at position (0-based); the sheets from there move on.
  virtual void InsertSheet(int doc, int position, const QString& name) = 0;
  virtual void RenameSheet(int doc, int sheet, const QString& name) = 0;
  // The names defined in the document, for all of it or for one sheet.
  virtual std::vector<QString> DefinedNames(int doc) = 0;
  // Calc's functions (the document lends the office's function tables).
  virtual std::vector<FunctionName> FunctionNames(int doc) = 0;
  // A formula in Calc's own grammar into one cell, in one call; and a
  // formula cell's formula in that grammar (empty for a cell without one).
  virtual void WriteFormula(int doc, int sheet, int32_t row, int32_t col, const QString& formula) = 0;
  virtual QString ReadFormula(int doc, int sheet, int32_t row, int32_t col) = 0;
  // Closes the document as its window's close box would, without questions.
  virtual void Close(int doc) = 0;
  // Ends the office (asked once our documents are closed).
  virtual void Terminate() = 0;
  // Calls that crossed the bridge, and those that moved cell data.
  virtual uint64_t RemoteCalls() const = 0;
  virtual uint64_t DataCalls() const = 0;
};

}  // namespace CalcBridge

// The plugin's one entry point: a new office connection, or nullptr when the
// program and the plugin disagree on the interface.
using CfwCalcBridgeCreate = CalcBridge::Office* (*)(int interfaceVersion);
#define CFW_CALC_BRIDGE_ENTRY "cfw_calc_bridge_create"
