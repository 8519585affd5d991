#include "spreadsheet/recalc/Calculation.h"

#include "spreadsheet/recalc/CalcCells.h"
#include "spreadsheet/recalc/FormulaGraph.h"
#include "spreadsheet/recalc/FormulaLoader.h"

#include <algorithm>

namespace {

// Columns read this much (in cells, summed over the formulas) get a dense
// copy, as long as the copies stay within the budget.
constexpr uint64_t kCopyThreshold = 256;
constexpr uint64_t kCopyBudgetCells = uint64_t{4} << 20;

// Tarjan's strongly connected components without recursion. Components
// come out readers first.
std::vector<std::vector<uint32_t>> Components(size_t count, const std::vector<uint32_t>& starts,
                                              const std::vector<uint32_t>& edges) {
  constexpr uint32_t kUnseen = UINT32_MAX;
  std::vector<uint32_t> order(count, kUnseen);
  std::vector<uint32_t> low(count, 0);
  std::vector<bool> onStack(count, false);
  std::vector<uint32_t> stack;
  std::vector<std::pair<uint32_t, uint32_t>> calls;  // node, next edge
  std::vector<std::vector<uint32_t>> components;
  uint32_t next = 0;
  for (uint32_t root = 0; root < count; ++root) {
    if (order[root] != kUnseen) continue;
    calls.emplace_back(root, starts[root]);
    order[root] = low[root] = next++;
    stack.push_back(root);
    onStack[root] = true;
    while (!calls.empty()) {
      auto& [node, edge] = calls.back();
      if (edge < starts[node + 1]) {
        const uint32_t to = edges[edge++];
        if (order[to] == kUnseen) {
          order[to] = low[to] = next++;
          stack.push_back(to);
          onStack[to] = true;
          calls.emplace_back(to, starts[to]);
        } else if (onStack[to]) {
          low[node] = std::min(low[node], order[to]);
        }
        continue;
      }
      const uint32_t done = node;
      calls.pop_back();
      if (!calls.empty()) low[calls.back().first] = std::min(low[calls.back().first], low[done]);
      if (low[done] == order[done]) {
        std::vector<uint32_t> component;
        uint32_t member = 0;
        do {
          member = stack.back();
          stack.pop_back();
          onStack[member] = false;
          component.push_back(member);
        } while (member != done);
        components.push_back(std::move(component));
      }
    }
  }
  return components;
}

}  // namespace

// Everything the recalculation needs, read from the workbook on first use.
class Calculation::Engine {
 public:
  explicit Engine(WorkbookParts& parts);

  void CellChanged(uint16_t sheet, uint32_t row, uint16_t col);
  void Recalculate(const std::vector<uint32_t>& roots, bool everything);

  WorkbookParts& parts;
  std::vector<FormulaCell> formulas;
  CalcCells cells;
  std::unique_ptr<FormulaGraph> graph;
  FormulaEvaluator evaluator;
  QStringList outside;
  std::vector<CellPosition> changed;
  size_t evaluations = 0;

 private:
  void ChooseCopies();
  bool Evaluate(uint32_t id);

  std::vector<uint32_t> stamp_;  // per formula: the recalculation that last reached it
  std::vector<uint32_t> local_;  // per formula: its place in that recalculation
  uint32_t epoch_ = 0;
};

Calculation::Engine::Engine(WorkbookParts& workbook) : parts(workbook), cells(workbook, formulas), evaluator(cells) {
  LoadedFormulas loaded = LoadFormulas(parts);
  formulas = std::move(loaded.cells);
  cells.SetNames(std::move(loaded.names));
  outside = std::move(loaded.outside);
  for (uint32_t id = 0; id < formulas.size(); ++id) cells.AddFormula(id);
  graph = std::make_unique<FormulaGraph>(formulas, cells, static_cast<int>(parts.sheets.size()));
  ChooseCopies();
  cells.BuildCopies();
  stamp_.assign(formulas.size(), 0);
  local_.assign(formulas.size(), 0);
}

void Calculation::Engine::ChooseCopies() {
  struct Candidate {
    uint64_t reads;
    uint16_t sheet;
    uint16_t col;
  };
  std::vector<Candidate> candidates;
  const auto& reads = graph->ColumnReads();
  for (size_t sheet = 0; sheet < reads.size(); ++sheet) {
    for (size_t col = 0; col < reads[sheet].size(); ++col) {
      if (reads[sheet][col] >= kCopyThreshold) {
        candidates.push_back({reads[sheet][col], static_cast<uint16_t>(sheet), static_cast<uint16_t>(col)});
      }
    }
  }
  std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) { return a.reads > b.reads; });
  uint64_t budget = kCopyBudgetCells;
  for (const Candidate& c : candidates) {
    const uint64_t rows = parts.sheets[c.sheet]->RowExtent();
    if (rows > budget) continue;
    budget -= rows;
    cells.KeepCopy(c.sheet, c.col);
  }
}

void Calculation::Engine::CellChanged(uint16_t sheet, uint32_t row, uint16_t col) {
  const int64_t written = cells.FormulaAt(sheet, row, col);
  if (written >= 0) {
    // A formula written over: its cell now holds what was written.
    formulas[static_cast<size_t>(written)].alive = false;
    cells.RemoveFormula(static_cast<uint32_t>(written));
  }
  cells.Refresh(sheet, row, col);
  std::vector<uint32_t> roots;
  graph->ForEachReader(sheet, row, col, [this, &roots](uint32_t id) {
    if (formulas[id].alive) roots.push_back(id);
  });
  if (!roots.empty()) Recalculate(roots, false);
}

bool Calculation::Engine::Evaluate(uint32_t id) {
  FormulaCell& f = formulas[id];
  if (!f.program) return false;
  ++evaluations;
  Value result = evaluator.Evaluate(*f.program, {f.sheet, f.row, f.col});
  if (Coerce::SameResult(result, f.value)) return false;
  f.value = std::move(result);
  cells.ResultChanged(id);
  parts.sheets[f.sheet]->SetFormulaResult(f.row, f.col, ToCellValue(f.value));
  changed.push_back({f.sheet, f.row, f.col});
  return true;
}

void Calculation::Engine::Recalculate(const std::vector<uint32_t>& roots, bool everything) {
  ++epoch_;
  std::vector<uint32_t> nodes;
  for (uint32_t id : roots) {
    if (stamp_[id] == epoch_) continue;
    stamp_[id] = epoch_;
    local_[id] = static_cast<uint32_t>(nodes.size());
    nodes.push_back(id);
  }
  const size_t rootCount = nodes.size();
  // Everything the change reaches, with who reads whom.
  std::vector<uint32_t> starts;
  std::vector<uint32_t> edges;
  for (size_t i = 0; i < nodes.size(); ++i) {
    starts.push_back(static_cast<uint32_t>(edges.size()));
    const FormulaCell& f = formulas[nodes[i]];
    graph->ForEachReader(f.sheet, f.row, f.col, [&](uint32_t reader) {
      if (!formulas[reader].alive) return;
      if (stamp_[reader] != epoch_) {
        stamp_[reader] = epoch_;
        local_[reader] = static_cast<uint32_t>(nodes.size());
        nodes.push_back(reader);
      }
      edges.push_back(local_[reader]);
    });
  }
  starts.push_back(static_cast<uint32_t>(edges.size()));

  std::vector<bool> needed(nodes.size(), everything);
  for (size_t i = 0; i < rootCount; ++i) needed[i] = true;
  const std::vector<std::vector<uint32_t>> components = Components(nodes.size(), starts, edges);
  for (auto component = components.rbegin(); component != components.rend(); ++component) {
    const uint32_t node = component->front();
    const auto begin = edges.begin() + starts[node];
    const auto end = edges.begin() + starts[node + 1];
    if (component->size() > 1 || std::find(begin, end, node) != end) {
      for (uint32_t member : *component) formulas[nodes[member]].circular = true;
      continue;
    }
    formulas[nodes[node]].circular = false;
    if (!needed[node] || !Evaluate(nodes[node])) continue;
    for (auto e = begin; e != end; ++e) needed[*e] = true;
  }
}

Calculation::Calculation(WorkbookParts& parts) : parts_(parts) {
  for (size_t s = 0; s < parts.sheets.size(); ++s) {
    const uint16_t sheet = static_cast<uint16_t>(s);
    parts.sheets[s]->SetChangeListener([this, sheet](uint32_t row, uint32_t col) {
      CellChanged(sheet, row, static_cast<uint16_t>(col));
    });
  }
}

Calculation::~Calculation() {
  for (const auto& sheet : parts_.sheets) sheet->SetChangeListener(nullptr);
}

Calculation::Engine& Calculation::Ready() const {
  if (!engine_) engine_ = std::make_unique<Engine>(parts_);
  return *engine_;
}

void Calculation::CellChanged(uint16_t sheet, uint32_t row, uint16_t col) { Ready().CellChanged(sheet, row, col); }

std::vector<CellPosition> Calculation::TakeChangedResults() {
  std::vector<CellPosition> taken;
  if (engine_) taken.swap(engine_->changed);
  return taken;
}

void Calculation::RecalculateEverything() {
  Engine& engine = Ready();
  std::vector<uint32_t> all;
  for (uint32_t id = 0; id < engine.formulas.size(); ++id) {
    if (engine.formulas[id].alive) all.push_back(id);
  }
  engine.Recalculate(all, true);
}

bool Calculation::HasKeptResults() const {
  const auto& formulas = Ready().formulas;
  return std::any_of(formulas.begin(), formulas.end(),
                     [](const FormulaCell& f) { return f.alive && (!f.program || f.circular); });
}

QStringList Calculation::OutsideReasons() const { return Ready().outside; }

size_t Calculation::FormulaCount() const {
  const auto& formulas = Ready().formulas;
  return static_cast<size_t>(std::count_if(formulas.begin(), formulas.end(), [](const FormulaCell& f) { return f.alive; }));
}

size_t Calculation::CircularCount() const {
  const auto& formulas = Ready().formulas;
  return static_cast<size_t>(std::count_if(formulas.begin(), formulas.end(),
                                           [](const FormulaCell& f) { return f.alive && f.circular; }));
}

size_t Calculation::EvaluationCount() const { return engine_ ? engine_->evaluations : 0; }
