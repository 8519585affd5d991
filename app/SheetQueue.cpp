#include "app/SheetQueue.h"

#include <algorithm>

namespace {
constexpr std::chrono::milliseconds kEarlyTimer{2};
}  // namespace

qint64 SheetQueue::Add(QStringList values, Clock::time_point now) {
  PendingSheet sheet;
  sheet.number = nextNumber_++;
  sheet.values = std::move(values);
  sheet.scannedAt = QDateTime::currentDateTime();
  sheet.due = now + delay_;
  sheets_.push_back(std::move(sheet));
  return sheets_.back().number;
}

PendingSheet SheetQueue::TakeFront() {
  PendingSheet sheet = std::move(sheets_.front());
  sheets_.pop_front();
  return sheet;
}

bool SheetQueue::FrontDue(Clock::time_point now) const { return !sheets_.empty() && sheets_.front().due <= now + kEarlyTimer; }

std::optional<int> SheetQueue::MsUntilDue(Clock::time_point now) const {
  if (sheets_.empty()) return std::nullopt;
  const auto left = std::chrono::ceil<std::chrono::milliseconds>(sheets_.front().due - now);
  return static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
}
