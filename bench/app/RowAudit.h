#pragma once
// Holds what the workbook ended up with against what the machine delivered:
// every sheet should have a row of its own, in delivery order, with exactly
// the values the machine's record stands for. A row that holds more than one
// sheet (the writer merged records that piled up) or a sheet that never got a
// row is counted, never glossed over.

#include <QStringList>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace scan_bench {

using Clock = std::chrono::steady_clock;

inline constexpr int kSheetColumns = 66;

// A sheet whose last byte the machine has written, and when.
struct DeliveredSheet {
  std::vector<std::string> expected;  // column 1 first, padded to 66 with " "
  Clock::time_point deliveredAt;
};

// A row of the workbook as the writer left it, with every value it holds
// (a merged row holds 66 values per sheet), and when the writer finished it.
struct WrittenRow {
  int row = 0;
  QStringList values;
  std::optional<Clock::time_point> completedAt;  // unset: no tick was seen finishing it
};

// A row that is not one whole sheet: several sheets, or values that match none.
struct RowFinding {
  int row = 0;
  int values = 0;
  std::vector<int> sheets;  // the delivered sheets found in it (0-based)
  int unmatchedBlocks = 0;
  QString firstValues;      // the start of the row, to show what landed there
};

struct AuditResult {
  int sheetsDelivered = 0;
  int rowsWritten = 0;
  int sheetsMatched = 0;   // found whole, in order
  int sheetsLost = 0;      // delivered, never found in any row
  int sheetsMerged = 0;    // found, but sharing a row with the sheet before
  int sheetsMisplaced = 0; // found whole, but not in the row its place in delivery order gives
  int rowsMerged = 0;      // rows holding more than one sheet
  int blocksUnmatched = 0; // 66-value blocks that match no delivered sheet
  // Per matched sheet, in delivery order: its row's completion minus its delivery.
  std::vector<double> latencyMs;
  // The index of the delivered sheet each matched latency belongs to.
  std::vector<int> latencySheet;
  std::vector<RowFinding> findings;
};

// Cuts a row's values into blocks of 66 (the last one may be shorter).
std::vector<QStringList> SheetBlocks(const QStringList& values);

// Walks the rows in order and finds each block among the delivered sheets,
// looking at most `lookahead` sheets past the next expected one: what is
// skipped over is lost. The n-th delivered sheet (from 0) belongs in row
// firstRow + n; one found elsewhere is misplaced (firstRow 0: not checked).
AuditResult AuditRows(const std::vector<DeliveredSheet>& delivered, const std::vector<WrittenRow>& rows,
                      int lookahead = 64, int firstRow = 0);

struct Summary {
  int count = 0;
  double median = 0;
  double p99 = 0;
  double max = 0;
};

// Nearest-rank median and 99th percentile.
Summary Summarise(std::vector<double> samples);

}  // namespace scan_bench
