#include "spreadsheet/recalc/RecalcEngine.h"

#include "spreadsheet/formula/FormulaTokens.h"
#include "spreadsheet/recalc/FormulaLoader.h"
#include "spreadsheet/recalc/StrongComponents.h"

#include <algorithm>

namespace {

// Columns read this much (in cells, summed over the formulas) get a dense
// copy, as long as the copies stay within the budget.
constexpr uint64_t kCopyThreshold = 256;
constexpr uint64_t kCopyBudgetCells = uint64_t{4} << 20;

}  // namespace

RecalcEngine::RecalcEngine(WorkbookParts& parts)
    : parts_(parts), cells_(parts, formulas_), evaluator_(cells_), copyBudget_(kCopyBudgetCells) {
  LoadedFormulas loaded = LoadFormulas(parts_);
  formulas_ = std::move(loaded.cells);
  cells_.SetNames(std::move(loaded.names));
  outside_ = std::move(loaded.outside);
  for (uint32_t id = 0; id < formulas_.size(); ++id) cells_.AddFormula(id);
  graph_ = std::make_unique<FormulaGraph>(formulas_, cells_, static_cast<int>(parts_.sheets.size()));
  stamp_.assign(formulas_.size(), 0);
  local_.assign(formulas_.size(), 0);
  isPending_.assign(formulas_.size(), false);
  ChooseCopies();
}

void RecalcEngine::ChooseCopies() {
  if (!graph_->TakeReadsGrew()) return;
  struct Candidate {
    uint64_t reads;
    uint16_t sheet;
    uint16_t col;
  };
  std::vector<Candidate> candidates;
  const auto& reads = graph_->ColumnReads();
  for (size_t sheet = 0; sheet < reads.size(); ++sheet) {
    for (size_t col = 0; col < reads[sheet].size(); ++col) {
      const auto s = static_cast<uint16_t>(sheet);
      const auto c = static_cast<uint16_t>(col);
      if (reads[sheet][col] >= kCopyThreshold && !cells_.HasCopy(s, c)) candidates.push_back({reads[sheet][col], s, c});
    }
  }
  std::sort(candidates.begin(), candidates.end(), [](const Candidate& a, const Candidate& b) { return a.reads > b.reads; });
  for (const Candidate& c : candidates) {
    const uint64_t rows = parts_.sheets[c.sheet]->RowExtent();
    if (rows > copyBudget_) continue;
    copyBudget_ -= rows;
    cells_.KeepCopy(c.sheet, c.col);
  }
  cells_.BuildCopies();
}

void RecalcEngine::Wait(uint32_t id) {
  if (isPending_[id]) return;
  isPending_[id] = true;
  pending_.push_back(id);
}

void RecalcEngine::CellChanged(uint16_t sheet, uint32_t row, uint16_t col) {
  const int64_t before = cells_.FormulaAt(sheet, row, col);
  if (before >= 0) Remove(static_cast<uint32_t>(before));
  if (parts_.sheets[sheet]->WrittenFormulaAt(row, col)) AddWritten(sheet, row, col);
  cells_.Refresh(sheet, row, col);
  graph_->ForEachReader(sheet, row, col, [this](uint32_t id) {
    if (formulas_[id].alive) Wait(id);
  });
}

// A formula written over: its cell now holds what was written, and its
// number serves the next formula put.
void RecalcEngine::Remove(uint32_t id) {
  FormulaCell& f = formulas_[id];
  cells_.RemoveFormula(id);
  graph_->RemoveFormula(id);
  f.alive = false;
  f.program = nullptr;
  f.value = Value();
  freeIds_.push_back(id);
}

std::shared_ptr<const FormulaProgram> RecalcEngine::Decode(const Biff::Bytes& relative, const Biff::Bytes& extra,
                                                           QString& outside) {
  // One program serves every cell with the same formula in relative form.
  std::string key(relative.begin(), relative.end());
  key.push_back('\0');
  key.append(extra.begin(), extra.end());
  if (const auto known = programs_.find(key); known != programs_.end()) {
    if (std::shared_ptr<const FormulaProgram> program = known->second.lock()) return program;
  }
  DecodedFormula decoded = DecodeFormula(relative, extra, ReadEnvironment(parts_));
  outside = decoded.outside;
  if (!decoded.program) return nullptr;
  programs_[std::move(key)] = decoded.program;
  if (programs_.size() > 2 * programsAtLastSweep_) {
    std::erase_if(programs_, [](const auto& entry) { return entry.second.expired(); });
    programsAtLastSweep_ = std::max<size_t>(64, programs_.size());
  }
  return decoded.program;
}

void RecalcEngine::AddWritten(uint16_t sheet, uint32_t row, uint16_t col) {
  const WrittenFormula& written = *parts_.sheets[sheet]->WrittenFormulaAt(row, col);
  FormulaCell cell;
  cell.sheet = sheet;
  cell.row = row;
  cell.col = col;
  cell.value = ToFormulaValue(written.result);
  QString outside = QStringLiteral("damaged formula tokens");
  if (const std::optional<Biff::Bytes> relative = Ptg::RelativeForm(written.tokens, {sheet, row, col})) {
    cell.program = Decode(*relative, written.extra, outside);
  }
  if (!cell.program && !outside_.contains(outside)) outside_ << outside;
  uint32_t id = 0;
  if (!freeIds_.empty()) {
    id = freeIds_.back();
    freeIds_.pop_back();
    formulas_[id] = std::move(cell);
  } else {
    id = static_cast<uint32_t>(formulas_.size());
    formulas_.push_back(std::move(cell));
    stamp_.push_back(0);
    local_.push_back(0);
    isPending_.push_back(false);
  }
  cells_.AddFormula(id);
  if (formulas_[id].program) graph_->AddFormula(id);
  Wait(id);
}

void RecalcEngine::RecalculatePending() {
  ChooseCopies();
  std::vector<uint32_t> roots;
  roots.swap(pending_);
  for (uint32_t id : roots) isPending_[id] = false;
  std::erase_if(roots, [this](uint32_t id) { return !formulas_[id].alive; });
  if (!roots.empty()) Recalculate(roots, false);
}

void RecalcEngine::RecalculateEverything() {
  ChooseCopies();
  for (uint32_t id : pending_) isPending_[id] = false;
  pending_.clear();
  std::vector<uint32_t> all;
  for (uint32_t id = 0; id < formulas_.size(); ++id) {
    if (formulas_[id].alive) all.push_back(id);
  }
  Recalculate(all, true);
}

bool RecalcEngine::Evaluate(uint32_t id) {
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

void RecalcEngine::Recalculate(const std::vector<uint32_t>& roots, bool everything) {
  // The arrays kept while the formulas are worked out go when it is done.
  struct KeptArrays {
    explicit KeptArrays(FormulaEvaluator& evaluator) : evaluator(evaluator) { evaluator.KeepArrays(true); }
    ~KeptArrays() { evaluator.KeepArrays(false); }
    KeptArrays(const KeptArrays&) = delete;
    KeptArrays& operator=(const KeptArrays&) = delete;
    FormulaEvaluator& evaluator;
  } kept(evaluator_);
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
    graph_->ForEachReader(f.sheet, f.row, f.col, [&](uint32_t reader) {
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
    const auto begin = edges.begin() + starts[node];
    const auto end = edges.begin() + starts[node + 1];
    if (component->size() > 1 || std::find(begin, end, node) != end) {
      for (uint32_t member : *component) formulas_[nodes[member]].circular = true;
      continue;
    }
    formulas_[nodes[node]].circular = false;
    if (!needed[node] || !Evaluate(nodes[node])) continue;
    for (auto e = begin; e != end; ++e) needed[*e] = true;
  }
}
