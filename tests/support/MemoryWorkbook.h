#pragma once
// A workbook in memory behind the late-bound calls, with just the members the
// scoring uses: a sheet collection (Count, Item by number or name, Add after a
// sheet), sheet Name, Cells, and Value / Formula put and get. Formulas are
// kept as text, not evaluated: the tests hand them to LibreOffice for that.
// Every put is counted by sheet, so tests can see what a call wrote.

#include "automation/CellEntry.h"
#include "automation/OleVariant.h"

#include <QStringList>

#include <algorithm>
#include <map>
#include <memory>
#include <stdexcept>
#include <utility>
#include <vector>

struct MemoryCell {
  OleVariant value;
  QString formula;  // "=..." for a formula cell
};

struct MemorySheet {
  QString name;
  std::map<std::pair<int, int>, MemoryCell> cells;  // (row, column)
  int puts = 0;
  bool refusePuts = false;  // every put fails, as on a server that refuses it
  const MemoryCell* At(int row, int column) const {
    const auto it = cells.find({row, column});
    return it == cells.end() ? nullptr : &it->second;
  }
  QString Text(int row, int column) const {
    const MemoryCell* cell = At(row, column);
    return cell ? (cell->formula.isEmpty() ? cell->value.ToText() : cell->formula) : QString();
  }
};

class MemoryWorkbook : public std::enable_shared_from_this<MemoryWorkbook> {
 public:
  explicit MemoryWorkbook(QStringList names = {QStringLiteral("Sheet1")}) {
    for (const QString& name : names) sheets.push_back(std::make_shared<MemorySheet>(MemorySheet{name, {}, 0}));
  }
  // The collection object, as a workbook's Sheets.
  OleVariant Sheets() { return OleVariant(std::shared_ptr<IDispatchObject>(std::make_shared<SheetsObject>(shared_from_this()))); }
  MemorySheet& Sheet(const QString& name) {
    for (auto& sheet : sheets) {
      if (sheet->name == name) return *sheet;
    }
    throw std::runtime_error("no sheet " + name.toStdString());
  }
  // Writes a scanned value as the servers store it: a number when it reads as one.
  void Enter(int row, int column, const QString& text) {
    MemoryCell& cell = sheets.front()->cells[{row, column}];
    const std::optional<double> number = NumberFromEntry(text);
    cell.value = number ? OleVariant(*number) : OleVariant(text);
  }

  std::vector<std::shared_ptr<MemorySheet>> sheets;
  int adds = 0;

 private:
  class CellObject : public IDispatchObject {
   public:
    CellObject(std::shared_ptr<MemorySheet> sheet, int row, int column) : sheet_(std::move(sheet)), row_(row), column_(column) {}
    OleVariant Invoke(const QString& member, CallKind kind, const std::vector<OleVariant>& args) override {
      const bool formula = member.compare(QStringLiteral("Formula"), Qt::CaseInsensitive) == 0;
      if (!formula && member.compare(QStringLiteral("Value"), Qt::CaseInsensitive) != 0) throw EOleError("Unknown name " + member);
      auto& cells = sheet_->cells;
      if (kind != CallKind::Put) {
        const auto it = cells.find({row_, column_});
        if (it == cells.end()) return {};
        return formula && !it->second.formula.isEmpty() ? OleVariant(it->second.formula) : it->second.value;
      }
      if (sheet_->refusePuts) throw EOleError("The server refused the put");
      ++sheet_->puts;
      const OleVariant& value = args.at(0);
      const QString text = value.ToText();
      if (value.IsEmpty() || (value.kind() == OleVariant::Kind::Text && text.isEmpty())) {
        cells.erase({row_, column_});
      } else if (formula && text.startsWith(QLatin1Char('='))) {
        cells[{row_, column_}] = {OleVariant(), text};
      } else if (value.kind() == OleVariant::Kind::Text) {
        const std::optional<double> number = NumberFromEntry(text);
        cells[{row_, column_}] = {number ? OleVariant(*number) : value, {}};
      } else {
        cells[{row_, column_}] = {value, {}};
      }
      return {};
    }

   private:
    std::shared_ptr<MemorySheet> sheet_;
    int row_;
    int column_;
  };

  class SheetObject : public IDispatchObject {
   public:
    SheetObject(std::shared_ptr<MemoryWorkbook> book, std::shared_ptr<MemorySheet> sheet)
        : book_(std::move(book)), sheet_(std::move(sheet)) {}
    OleVariant Invoke(const QString& member, CallKind kind, const std::vector<OleVariant>& args) override {
      if (member.compare(QStringLiteral("Name"), Qt::CaseInsensitive) == 0) {
        if (kind != CallKind::Put) return sheet_->name;
        for (const auto& other : book_->sheets) {
          if (other != sheet_ && other->name.compare(args.at(0).ToText(), Qt::CaseInsensitive) == 0) throw EOleError("name in use");
        }
        sheet_->name = args.at(0).ToText();
        return {};
      }
      if (member.compare(QStringLiteral("Cells"), Qt::CaseInsensitive) != 0) throw EOleError("Unknown name " + member);
      return OleVariant(std::shared_ptr<IDispatchObject>(std::make_shared<CellObject>(sheet_, args.at(0).ToInt(), args.at(1).ToInt())));
    }
    std::shared_ptr<MemorySheet> sheet_ptr() const { return sheet_; }

   private:
    std::shared_ptr<MemoryWorkbook> book_;
    std::shared_ptr<MemorySheet> sheet_;
  };

  class SheetsObject : public IDispatchObject {
   public:
    explicit SheetsObject(std::shared_ptr<MemoryWorkbook> book) : book_(std::move(book)) {}
    OleVariant Invoke(const QString& member, CallKind, const std::vector<OleVariant>& args) override {
      auto& sheets = book_->sheets;
      if (member.compare(QStringLiteral("Count"), Qt::CaseInsensitive) == 0) return static_cast<int32_t>(sheets.size());
      if (member.compare(QStringLiteral("Item"), Qt::CaseInsensitive) == 0) return Wrap(Find(args.at(0)));
      if (member.compare(QStringLiteral("Add"), Qt::CaseInsensitive) != 0) throw EOleError("Unknown name " + member);
      // Add(Before, After): only After is used here.
      const auto* after = dynamic_cast<SheetObject*>(args.at(1).ToObject().get());
      if (!after) throw EOleError("Add needs After");
      auto position = std::find(sheets.begin(), sheets.end(), after->sheet_ptr());
      auto sheet = std::make_shared<MemorySheet>(MemorySheet{QStringLiteral("Sheet%1").arg(sheets.size() + 1), {}, 0});
      sheets.insert(position + 1, sheet);
      ++book_->adds;
      return Wrap(sheet);
    }

   private:
    std::shared_ptr<MemorySheet> Find(const OleVariant& which) const {
      if (which.kind() == OleVariant::Kind::Text) return std::shared_ptr<MemorySheet>(&book_->Sheet(which.ToText()), [](MemorySheet*) {});
      return book_->sheets.at(static_cast<size_t>(which.ToInt() - 1));
    }
    OleVariant Wrap(std::shared_ptr<MemorySheet> sheet) const {
      // A sheet found by name is held through the book's own pointer.
      for (const auto& own : book_->sheets) {
        if (own.get() == sheet.get()) sheet = own;
      }
      return OleVariant(std::shared_ptr<IDispatchObject>(std::make_shared<SheetObject>(book_, sheet)));
    }
    std::shared_ptr<MemoryWorkbook> book_;
  };
};
