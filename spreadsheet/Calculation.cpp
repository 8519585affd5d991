#include "spreadsheet/Calculation.h"

#include "spreadsheet/FormulaLoader.h"

#include <algorithm>
#include <tuple>

namespace {

// Columns read this much (in cells, summed over the formulas) get a dense
// copy, as long as the copies stay within the budget.
constexpr uint64_t kCopyThreshold = 256;
constexpr uint64_t kCopyBudgetCells = uint64_t{4} << 20;
constexpr uint32_t kNarrowArea = 16;  // columns; wider areas are read through the sheets
constexpr int kMaxNameDepth = 32;

// Neighbouring cells of one row read by one formula become one area.
std::vector<Area> Coalesce(std::vector<Area> areas) {
  std::sort(areas.begin(), areas.end(), [](const Area& a, const Area& b) {
    return std::tie(a.sheetFirst, a.sheetLast, a.rowFirst, a.rowLast, a.colFirst, a.colLast) <
           std::tie(b.sheetFirst, b.sheetLast, b.rowFirst, b.rowLast, b.colFirst, b.colLast);
  });
  std::vector<Area> out;
  for (const Area& a : areas) {
    if (!out.empty()) {
      Area& last = out.back();
      if (last.sheetFirst == a.sheetFirst && last.sheetLast == a.sheetLast && last.rowFirst == a.rowFirst &&
          last.rowLast == a.rowLast && a.colFirst <= last.colLast + 2u) {
        last.colLast = std::max(last.colLast, a.colLast);
        continue;
      }
    }
    out.push_back(a);
  }
  return out;
}

// Tarjan's strongly connected components without recursion. Components
// come out dependents first.
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

Calculation::Calculation(WorkbookParts& parts)
    : parts_(parts), cells_(parts, formulas_), index_(static_cast<int>(parts.sheets.size())), evaluator_(cells_) {
  LoadedFormulas loaded = LoadFormulas(parts);
  formulas_ = std::move(loaded.cells);
  cells_.SetNames(std::move(loaded.names));
  outside_ = std::move(loaded.outside);
  stamp_.assign(formulas_.size(), 0);
  local_.assign(formulas_.size(), 0);

  std::vector<std::vector<uint64_t>> reads(parts.sheets.size());
  for (uint32_t id = 0; id < formulas_.size(); ++id) {
    cells_.AddFormula(id);
    for (const Area& area : Precedents(formulas_[id])) {
      index_.Add(id, area);
      if (area.Cols() > kNarrowArea) continue;
      for (uint32_t sheet = area.sheetFirst; sheet <= area.sheetLast && sheet < reads.size(); ++sheet) {
        if (reads[sheet].size() <= area.colLast) reads[sheet].resize(area.colLast + 1u);
        for (uint32_t col = area.colFirst; col <= area.colLast; ++col) reads[sheet][col] += area.Rows();
      }
    }
  }
  ChooseCopies(reads);
  cells_.BuildCopies();

  for (size_t s = 0; s < parts.sheets.size(); ++s) {
    const uint16_t sheet = static_cast<uint16_t>(s);
    parts.sheets[s]->SetChangeListener([this, sheet](uint32_t row, uint32_t col) {
      CellChanged(sheet, row, static_cast<uint16_t>(col));
    });
  }
  std::vector<uint32_t> all(formulas_.size());
  for (uint32_t id = 0; id < all.size(); ++id) all[id] = id;
  Recalculate(all, true);
  changed_.clear();  // nothing to announce about a workbook just opened
}

Calculation::~Calculation() {
  for (const auto& sheet : parts_.sheets) sheet->SetChangeListener(nullptr);
}

bool Calculation::HasKeptResults() const {
  return std::any_of(formulas_.begin(), formulas_.end(),
                     [](const FormulaCell& f) { return f.alive && (!f.program || f.circular); });
}

size_t Calculation::CircularCount() const {
  return static_cast<size_t>(std::count_if(formulas_.begin(), formulas_.end(),
                                           [](const FormulaCell& f) { return f.alive && f.circular; }));
}

std::vector<CellPosition> Calculation::TakeChangedResults() {
  std::vector<CellPosition> taken;
  taken.swap(changed_);
  return taken;
}

void Calculation::ChooseCopies(const std::vector<std::vector<uint64_t>>& reads) {
  struct Candidate {
    uint64_t reads;
    uint16_t sheet;
    uint16_t col;
  };
  std::vector<Candidate> candidates;
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
    const uint64_t rows = parts_.sheets[c.sheet]->RowExtent();
    if (rows > budget) continue;
    budget -= rows;
    cells_.KeepCopy(c.sheet, c.col);
  }
}

std::vector<Area> Calculation::Precedents(const FormulaCell& cell) const {
  std::vector<Area> areas;
  if (!cell.program) return areas;
  const CellPosition at{cell.sheet, cell.row, cell.col};
  const int sheets = static_cast<int>(parts_.sheets.size());
  std::vector<uint32_t> namesSeen;
  // Each program once: its own references, then those of the names it uses.
  std::vector<std::pair<const FormulaProgram*, int>> pending{{cell.program.get(), 0}};
  while (!pending.empty()) {
    const auto [program, depth] = pending.back();
    pending.pop_back();
    for (const RefSpec& ref : program->refs) {
      Area area;
      if (ResolveRef(ref, at, sheets, area)) areas.push_back(area);
    }
    for (const FormulaNode& node : program->nodes) {
      if (node.kind != NodeKind::Name || depth >= kMaxNameDepth) continue;
      if (std::find(namesSeen.begin(), namesSeen.end(), node.payload) != namesSeen.end()) continue;
      namesSeen.push_back(node.payload);
      if (const FormulaProgram* name = cells_.Name(node.payload)) {
        pending.emplace_back(name, depth + 1);
      }
    }
  }
  return Coalesce(std::move(areas));
}

void Calculation::CellChanged(uint16_t sheet, uint32_t row, uint16_t col) {
  const int64_t written = cells_.FormulaAt(sheet, row, col);
  if (written >= 0) {
    // A formula written over: its cell now holds what was written.
    formulas_[static_cast<size_t>(written)].alive = false;
    cells_.RemoveFormula(static_cast<uint32_t>(written));
  }
  cells_.Refresh(sheet, row, col);
  std::vector<uint32_t> roots;
  index_.ForEachReader(sheet, row, col, [this, &roots](uint32_t id) {
    if (formulas_[id].alive) roots.push_back(id);
  });
  if (!roots.empty()) Recalculate(roots, false);
}

bool Calculation::Evaluate(uint32_t id) {
  FormulaCell& f = formulas_[id];
  if (!f.program) return false;
  ++evaluations_;
  Value result = evaluator_.Evaluate(*f.program, {f.sheet, f.row, f.col});
  if (Coerce::SameResult(result, f.value)) return false;
  f.value = std::move(result);
  cells_.ResultChanged(id);
  parts_.sheets[f.sheet]->SetFormulaResult(f.row, f.col, ToCellValue(f.value));
  changed_.push_back({f.sheet, f.row, f.col});
  return true;
}

void Calculation::Recalculate(const std::vector<uint32_t>& roots, bool everything) {
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
    const FormulaCell& f = formulas_[nodes[i]];
    index_.ForEachReader(f.sheet, f.row, f.col, [&](uint32_t reader) {
      if (!formulas_[reader].alive) return;
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
    const bool readsItself = std::find(edges.begin() + starts[node], edges.begin() + starts[node + 1], node) !=
                             edges.begin() + starts[node + 1];
    if (component->size() > 1 || readsItself) {
      for (uint32_t member : *component) formulas_[nodes[member]].circular = true;
      continue;
    }
    formulas_[nodes[node]].circular = false;
    if (!needed[node] || !Evaluate(nodes[node])) continue;
    for (uint32_t e = starts[node]; e < starts[node + 1]; ++e) needed[edges[e]] = true;
  }
}
