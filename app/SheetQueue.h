#pragma once
// Decoded sheets waiting for the row writer, in arrival order. The machine
// sends one record per sheet, so each queued sheet becomes a row of its own,
// however close together the records came; each is due a fixed delay after
// its record arrived.

#include <QDateTime>
#include <QStringList>

#include <chrono>
#include <cstddef>
#include <deque>
#include <optional>

struct PendingSheet {
  qint64 number = 0;     // counts the sheets of the run, from 1
  QStringList values;    // column 1 first
  QDateTime scannedAt;   // wall-clock time of arrival, for the user
  std::chrono::steady_clock::time_point due;
  int failedWrites = 0;  // passing failures so far
  bool journaled = false;
  int row = 0;           // chosen at its first attempt (0: none yet); retries keep it
};

class SheetQueue {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr std::chrono::milliseconds kDefaultDelay{500};

  void SetDelay(std::chrono::milliseconds delay) { delay_ = delay; }
  std::chrono::milliseconds Delay() const { return delay_; }

  // Queues one sheet, due Delay() after now; returns its number.
  qint64 Add(QStringList values, Clock::time_point now);

  bool Empty() const { return sheets_.empty(); }
  std::size_t Size() const { return sheets_.size(); }
  const std::deque<PendingSheet>& Sheets() const { return sheets_; }
  PendingSheet& Front() { return sheets_.front(); }
  PendingSheet TakeFront();
  void Clear() { sheets_.clear(); }

  // The first sheet is due by now (a timer may fire a millisecond early).
  bool FrontDue(Clock::time_point now) const;
  // Whole milliseconds until the first sheet is due, 0 when it is; nullopt when empty.
  std::optional<int> MsUntilDue(Clock::time_point now) const;

 private:
  std::deque<PendingSheet> sheets_;
  std::chrono::milliseconds delay_ = kDefaultDelay;
  qint64 nextNumber_ = 1;
};
