#include "spreadsheet/recalc/FormulaGraph.h"

#include <algorithm>
#include <tuple>

namespace {

constexpr uint32_t kManyRows = 64;     // areas this tall make a column worth copying
constexpr uint32_t kNarrowArea = 16;  // columns; wider areas are read through the sheets
constexpr int32_t kLastRow = 0xFFFF;

int32_t Offset(int32_t stored) { return static_cast<int16_t>(static_cast<uint16_t>(stored)); }

auto RowKey(const RefSpec& r) {
  return std::make_tuple(r.sheetFirst, r.sheetLast, r.invalid, r.rowRelative[0], r.rowRelative[1], r.row[0], r.row[1],
                         r.colRelative[0], r.colRelative[1]);
}

// Neighbouring columns read with the same rows become one reference.
std::vector<RefSpec> Coalesce(std::vector<RefSpec> refs) {
  std::sort(refs.begin(), refs.end(), [](const RefSpec& a, const RefSpec& b) {
    return std::tuple_cat(RowKey(a), std::make_tuple(a.col[0], a.col[1])) <
           std::tuple_cat(RowKey(b), std::make_tuple(b.col[0], b.col[1]));
  });
  std::vector<RefSpec> out;
  for (const RefSpec& ref : refs) {
    if (!out.empty() && RowKey(out.back()) == RowKey(ref) && ref.col[0] <= out.back().col[1] + 1 &&
        out.back().col[0] <= out.back().col[1] && ref.col[0] <= ref.col[1]) {
      out.back().col[1] = std::max(out.back().col[1], ref.col[1]);
      continue;
    }
    out.push_back(ref);
  }
  return out;
}

}  // namespace

FormulaGraph::FormulaGraph(const std::vector<FormulaCell>& formulas, const CalcCells& cells, int sheetCount)
    : formulas_(formulas), cells_(cells), sheetCount_(sheetCount), index_(sheetCount),
      columnReads_(static_cast<size_t>(sheetCount)) {
  std::vector<uint32_t> order;
  for (uint32_t id = 0; id < formulas.size(); ++id) {
    if (formulas[id].alive && formulas[id].program) order.push_back(id);
  }
  std::sort(order.begin(), order.end(), [&formulas](uint32_t a, uint32_t b) {
    const FormulaCell& x = formulas[a];
    const FormulaCell& y = formulas[b];
    return std::tie(x.sheet, x.col, x.row) < std::tie(y.sheet, y.col, y.row);
  });
  std::vector<uint32_t> run;
  const auto flush = [this, &run] {
    if (run.size() < 2 || !AddRun(run)) {
      for (uint32_t id : run) AddSingle(id);
    }
    run.clear();
  };
  for (uint32_t id : order) {
    if (!run.empty()) {
      const FormulaCell& last = formulas[run.back()];
      const FormulaCell& next = formulas[id];
      if (next.sheet != last.sheet || next.col != last.col || next.row != last.row + 1 || next.program != last.program) {
        flush();
      }
    }
    run.push_back(id);
  }
  flush();
}

std::vector<RefSpec> FormulaGraph::References(const FormulaProgram& program) const {
  std::vector<RefSpec> refs;
  std::vector<uint32_t> namesSeen;
  std::vector<std::pair<const FormulaProgram*, int>> pending{{&program, 0}};
  while (!pending.empty()) {
    const auto [next, depth] = pending.back();
    pending.pop_back();
    refs.insert(refs.end(), next->refs.begin(), next->refs.end());
    for (const FormulaNode& node : next->nodes) {
      if (node.kind != NodeKind::Name || depth >= kMaxNameDepth) continue;
      if (std::find(namesSeen.begin(), namesSeen.end(), node.payload) != namesSeen.end()) continue;
      namesSeen.push_back(node.payload);
      if (const FormulaProgram* name = cells_.Name(node.payload)) pending.emplace_back(name, depth + 1);
    }
  }
  return Coalesce(std::move(refs));
}

void FormulaGraph::RemoveFormula(uint32_t id) {
  if (id < runMember_.size() && runMember_[id].first != kGone) {
    const auto [run, row] = runMember_[id];
    runs_[run].ids[row] = kGone;
    runMember_[id] = {kGone, kGone};
    return;
  }
  index_.Remove(id);
}

void FormulaGraph::CountReads(const Area& area, uint64_t times) {
  if (area.Rows() < kManyRows || area.Cols() > kNarrowArea) return;
  readsGrew_ = true;
  for (uint32_t sheet = area.sheetFirst; sheet <= area.sheetLast && sheet < columnReads_.size(); ++sheet) {
    std::vector<uint64_t>& reads = columnReads_[sheet];
    if (reads.size() <= area.colLast) reads.resize(area.colLast + 1u);
    for (uint32_t col = area.colFirst; col <= area.colLast; ++col) reads[col] += static_cast<uint64_t>(area.Rows()) * times;
  }
}

void FormulaGraph::AddSingle(uint32_t id) {
  const FormulaCell& f = formulas_[id];
  const CellPosition at{f.sheet, f.row, f.col};
  for (const RefSpec& ref : References(*f.program)) {
    Area area;
    if (!ResolveRef(ref, at, sheetCount_, area)) continue;
    index_.Add(id, area);
    CountReads(area, 1);
  }
}

bool FormulaGraph::AddRun(const std::vector<uint32_t>& ids) {
  const FormulaCell& head = formulas_[ids.front()];
  Run run;
  run.sheet = head.sheet;
  run.col = head.col;
  run.firstRow = head.row;
  run.ids = ids;
  run.refs = References(*head.program);
  const int32_t lastRow = static_cast<int32_t>(run.firstRow + ids.size() - 1);
  // Rows that would wrap past the sheet's edge within the run are read
  // formula by formula instead.
  for (const RefSpec& ref : run.refs) {
    for (int i = 0; i < 2; ++i) {
      if (!ref.rowRelative[i]) continue;
      if (static_cast<int32_t>(run.firstRow) + Offset(ref.row[i]) < 0 || lastRow + Offset(ref.row[i]) > kLastRow) return false;
    }
  }
  const uint32_t index = static_cast<uint32_t>(runs_.size());
  for (const RefSpec& ref : run.refs) {
    Area first;
    Area last;
    if (!ResolveRef(ref, {run.sheet, run.firstRow, run.col}, sheetCount_, first) ||
        !ResolveRef(ref, {run.sheet, static_cast<uint32_t>(lastRow), run.col}, sheetCount_, last)) {
      continue;
    }
    Area all = first;
    all.rowLast = last.rowLast;
    index_.Add(kRunEntry | static_cast<uint32_t>(runRefs_.size()), all);
    runRefs_.push_back({index, ref});
    CountReads(first, ids.size());
  }
  if (runMember_.size() < formulas_.size()) runMember_.resize(formulas_.size(), {kGone, kGone});
  for (uint32_t row = 0; row < run.ids.size(); ++row) runMember_[run.ids[row]] = {index, row};
  runs_.push_back(std::move(run));
  return true;
}

bool FormulaGraph::RowsReading(const Run& run, const RefSpec& ref, uint16_t sheet, uint32_t row, uint16_t col,
                               uint32_t& first, uint32_t& last) const {
  Area at;
  if (!ResolveRef(ref, {run.sheet, run.firstRow, run.col}, sheetCount_, at)) return false;
  if (sheet < at.sheetFirst || sheet > at.sheetLast || col < at.colFirst || col > at.colLast) return false;
  // The rows read by the formula in row f run from low(f) to high(f); both
  // grow with f (no wrapping within a run), so the rows reading row are one
  // stretch, found by halving.
  const auto bounds = [&ref](int64_t f, int64_t& low, int64_t& high) {
    int64_t rows[2];
    for (int i = 0; i < 2; ++i) rows[i] = ref.rowRelative[i] ? f + Offset(ref.row[i]) : (ref.row[i] & kLastRow);
    low = std::min(rows[0], rows[1]);
    high = std::max(rows[0], rows[1]);
  };
  const int64_t begin = run.firstRow;
  const int64_t end = begin + static_cast<int64_t>(run.ids.size()) - 1;
  int64_t low = 0;
  int64_t high = 0;
  // The last f with low(f) <= row.
  int64_t lo = begin;
  int64_t hi = end;
  bounds(begin, low, high);
  if (low > row) return false;
  while (lo < hi) {
    const int64_t mid = lo + (hi - lo + 1) / 2;
    bounds(mid, low, high);
    if (low <= row) lo = mid; else hi = mid - 1;
  }
  const int64_t upTo = lo;
  // The first f with high(f) >= row.
  lo = begin;
  hi = end;
  bounds(end, low, high);
  if (high < row) return false;
  while (lo < hi) {
    const int64_t mid = lo + (hi - lo) / 2;
    bounds(mid, low, high);
    if (high >= row) hi = mid; else lo = mid + 1;
  }
  if (lo > upTo) return false;
  first = static_cast<uint32_t>(lo);
  last = static_cast<uint32_t>(upTo);
  return true;
}
