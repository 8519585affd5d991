#include "spreadsheet/recalc/Calculation.h"

#include "spreadsheet/recalc/RecalcEngine.h"

#include <algorithm>

Calculation::Calculation(WorkbookParts& parts) : parts_(parts) {
  for (size_t s = 0; s < parts.sheets.size(); ++s) {
    const uint16_t sheet = static_cast<uint16_t>(s);
    parts.sheets[s]->SetChangeListener([this, sheet](uint32_t row, uint32_t col) {
      CellChanged(sheet, row, static_cast<uint16_t>(col));
    });
    parts.sheets[s]->SetPendingResults(this);
  }
}

Calculation::~Calculation() {
  for (const auto& sheet : parts_.sheets) {
    sheet->SetChangeListener(nullptr);
    sheet->SetPendingResults(nullptr);
  }
}

RecalcEngine& Calculation::Ready() const {
  if (!engine_) engine_ = std::make_unique<RecalcEngine>(parts_);
  return *engine_;
}

void Calculation::CellChanged(uint16_t sheet, uint32_t row, uint16_t col) {
  RecalcEngine& engine = Ready();
  engine.CellChanged(sheet, row, col);
  pending_ = engine.HasPending();
}

void Calculation::Settle() {
  // Reads while working out must not settle again: the flag goes first.
  pending_ = false;
  if (!engine_ || !engine_->HasPending()) return;
  engine_->RecalculatePending();
  if (resultListener_ && !engine_->Changed().empty()) resultListener_(TakeChangedResults());
}

std::vector<CellPosition> Calculation::TakeChangedResults() {
  std::vector<CellPosition> taken;
  if (engine_) taken.swap(engine_->Changed());
  return taken;
}

void Calculation::RecalculateEverything() {
  pending_ = false;
  Ready().RecalculateEverything();
  if (resultListener_ && !engine_->Changed().empty()) resultListener_(TakeChangedResults());
}

// Which formulas are circular is known once what waits is worked out.
bool Calculation::HasKeptResults() const {
  const_cast<Calculation*>(this)->Settle();
  const auto& formulas = Ready().Formulas();
  return std::any_of(formulas.begin(), formulas.end(),
                     [](const FormulaCell& f) { return f.alive && (!f.program || f.circular); });
}

QStringList Calculation::OutsideReasons() const { return Ready().Outside(); }

size_t Calculation::FormulaCount() const {
  const auto& formulas = Ready().Formulas();
  return static_cast<size_t>(std::count_if(formulas.begin(), formulas.end(), [](const FormulaCell& f) { return f.alive; }));
}

size_t Calculation::CircularCount() const {
  const_cast<Calculation*>(this)->Settle();
  const auto& formulas = Ready().Formulas();
  return static_cast<size_t>(std::count_if(formulas.begin(), formulas.end(),
                                           [](const FormulaCell& f) { return f.alive && f.circular; }));
}

size_t Calculation::EvaluationCount() const { return engine_ ? engine_->Evaluations() : 0; }
