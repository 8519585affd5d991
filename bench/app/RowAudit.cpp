#include "bench/app/RowAudit.h"

#include <algorithm>
#include <cmath>

namespace scan_bench {

namespace {

bool SameValues(const QStringList& block, const std::vector<std::string>& expected) {
  if (block.size() != static_cast<qsizetype>(expected.size())) return false;
  for (qsizetype i = 0; i < block.size(); ++i) {
    if (block[i] != QString::fromStdString(expected[static_cast<size_t>(i)])) return false;
  }
  return true;
}

double Milliseconds(Clock::duration d) { return std::chrono::duration<double, std::milli>(d).count(); }

double NearestRank(const std::vector<double>& sorted, double fraction) {
  const auto rank = static_cast<size_t>(std::ceil(fraction * static_cast<double>(sorted.size())));
  return sorted[std::clamp<size_t>(rank, 1, sorted.size()) - 1];
}

}  // namespace

std::vector<QStringList> SheetBlocks(const QStringList& values) {
  std::vector<QStringList> blocks;
  for (qsizetype from = 0; from < values.size(); from += kSheetColumns) blocks.push_back(values.mid(from, kSheetColumns));
  return blocks;
}

AuditResult AuditRows(const std::vector<DeliveredSheet>& delivered, const std::vector<WrittenRow>& rows, int lookahead,
                      int firstRow) {
  AuditResult result;
  result.sheetsDelivered = static_cast<int>(delivered.size());
  result.rowsWritten = static_cast<int>(rows.size());
  size_t next = 0;  // the delivered sheet the next block should be
  for (const WrittenRow& row : rows) {
    RowFinding finding{row.row, static_cast<int>(row.values.size()), {}, 0, row.values.mid(0, 8).join(QLatin1Char('|'))};
    for (const QStringList& block : SheetBlocks(row.values)) {
      const size_t last = std::min(delivered.size(), next + static_cast<size_t>(lookahead) + 1);
      size_t found = next;
      while (found < last && !SameValues(block, delivered[found].expected)) ++found;
      if (found == last) {
        ++result.blocksUnmatched;
        ++finding.unmatchedBlocks;
        continue;
      }
      result.sheetsLost += static_cast<int>(found - next);
      ++result.sheetsMatched;
      finding.sheets.push_back(static_cast<int>(found));
      if (finding.sheets.size() > 1) ++result.sheetsMerged;
      if (firstRow > 0 && row.row != firstRow + static_cast<int>(found)) ++result.sheetsMisplaced;
      if (row.completedAt) {
        result.latencyMs.push_back(Milliseconds(*row.completedAt - delivered[found].deliveredAt));
        result.latencySheet.push_back(static_cast<int>(found));
      }
      next = found + 1;
    }
    if (finding.sheets.size() > 1) ++result.rowsMerged;
    if (finding.sheets.size() != 1 || finding.unmatchedBlocks > 0) result.findings.push_back(finding);
  }
  result.sheetsLost += static_cast<int>(delivered.size() - next);
  return result;
}

Summary Summarise(std::vector<double> samples) {
  Summary s;
  s.count = static_cast<int>(samples.size());
  if (samples.empty()) return s;
  std::sort(samples.begin(), samples.end());
  s.median = NearestRank(samples, 0.5);
  s.p99 = NearestRank(samples, 0.99);
  s.max = samples.back();
  return s;
}

}  // namespace scan_bench
