#include "serial/AwTriggers.h"

#include <algorithm>
#include <cctype>
#include <chrono>

#include "serial/AdExcept.h"

int32_t CurrentTicks() {
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                      std::chrono::steady_clock::now().time_since_epoch())
                      .count();
  return static_cast<int32_t>((ms / kMsPerTick) & 0x7FFFFFFF);
}

void NewTimer(TApdTimer& timer, int32_t ticks) {
  ticks = std::clamp(ticks, 0, kMaxTimerTicks);
  timer.StartTicks = CurrentTicks();
  timer.ExpireTicks = timer.StartTicks + ticks;
}

bool TimerExpired(const TApdTimer& timer, int32_t now) {
  if (now > timer.ExpireTicks) return true;
  // The clock wrapped below the start.
  return now < timer.StartTicks && timer.ExpireTicks < now + kMaxTimerTicks;
}

void TTriggerSet::Clear() {
  AvailThreshold = 0;
  Timers.clear();
  Data.clear();
  Status.clear();
}

bool TTriggerSet::IdInUse(uint16_t id) const {
  auto same = [id](const auto& t) { return t.Handle == id; };
  auto sameStatus = [id](const TStatusTrigger& t) { return (t.Handle >> 3) == id; };
  return std::any_of(Timers.begin(), Timers.end(), same) ||
         std::any_of(Data.begin(), Data.end(), same) ||
         std::any_of(Status.begin(), Status.end(), sameStatus);
}

int TTriggerSet::NewId() {
  // Ids fit in 13 bits so a status handle (id << 3 | kind) fits in 16.
  for (int tries = 0; tries < 0x1FFF; ++tries) {
    const uint16_t id = NextId;
    NextId = static_cast<uint16_t>(NextId >= 0x1FFF ? 1 : NextId + 1);
    if (!IdInUse(id)) return id;
  }
  return ecode::NoMoreTriggers;
}

int TTriggerSet::AddTimerTrigger() {
  const int id = NewId();
  if (id < 0) return id;
  TTimerTrigger t;
  t.Handle = static_cast<uint16_t>(id);
  Timers.push_back(t);
  return id;
}

int TTriggerSet::AddDataTrigger(const std::string& match, bool ignoreCase) {
  if (match.empty() || match.size() > 21) return ecode::TriggerTooLong;
  const int id = NewId();
  if (id < 0) return id;
  TDataTrigger t;
  t.Handle = static_cast<uint16_t>(id);
  t.Match = match;
  t.IgnoreCase = ignoreCase;
  Data.push_back(t);
  return id;
}

int TTriggerSet::AddStatusTrigger(TStatusKind kind) {
  if (kind < stModem || kind > stOutSent) return ecode::BadArgument;
  const int id = NewId();
  if (id < 0) return id;
  TStatusTrigger t;
  t.Handle = static_cast<uint16_t>((id << 3) | kind);
  Status.push_back(t);
  return t.Handle;
}

int TTriggerSet::RemoveTrigger(uint16_t handle) {
  auto drop = [handle](auto& list) {
    const auto before = list.size();
    std::erase_if(list, [handle](const auto& t) { return t.Handle == handle; });
    return list.size() != before;
  };
  if (drop(Timers) || drop(Data) || drop(Status)) return 0;
  return ecode::BadTriggerHandle;
}

int TTriggerSet::SetTimerTrigger(uint16_t handle, int32_t ticks, bool activate) {
  for (TTimerTrigger& t : Timers) {
    if (t.Handle != handle) continue;
    t.Ticks = ticks;
    t.Active = activate;
    if (activate) NewTimer(t.Timer, ticks);
    return 0;
  }
  return ecode::BadTriggerHandle;
}

int TTriggerSet::SetStatusTrigger(uint16_t handle, uint16_t value, bool activate) {
  for (TStatusTrigger& t : Status) {
    if (t.Handle != handle) continue;
    t.Value = value;
    t.Active = activate;
    return 0;
  }
  return ecode::BadTriggerHandle;
}

uint16_t TTriggerSet::TakeExpiredTimer(int32_t now) {
  for (TTimerTrigger& t : Timers) {
    if (t.Active && TimerExpired(t.Timer, now)) {
      t.Active = false;
      return t.Handle;
    }
  }
  return 0;
}

namespace {
bool StatusHolds(const TStatusTrigger& t, const TStatusInputs& in) {
  switch (t.Handle & 7) {
    case stModem: return (in.ModemDelta & t.Value) != 0;
    case stLine: return (in.LineErrors & t.Value) != 0;
    case stOutBuffFree: return in.OutFree >= t.Value;
    case stOutBuffUsed: return in.OutUsed <= t.Value;
    case stOutSent: return in.BlockWritten;
    default: return false;
  }
}
}  // namespace

uint16_t TTriggerSet::TakeFiredStatus(const TStatusInputs& in) {
  for (TStatusTrigger& t : Status) {
    if (t.Active && StatusHolds(t, in)) {
      t.Active = false;
      t.Hit = true;
      return t.Handle;
    }
  }
  return 0;
}

bool TTriggerSet::AnyStatusHit() const {
  return std::any_of(Status.begin(), Status.end(), [](const TStatusTrigger& t) { return t.Hit; });
}

void TTriggerSet::ClearStatusHits() {
  for (TStatusTrigger& t : Status) t.Hit = false;
}

void TTriggerSet::ResetDataMatches() {
  for (TDataTrigger& t : Data) t.Matched = 0;
}

namespace {
bool SameChar(const TDataTrigger& t, uint8_t a, uint8_t b) {
  if (t.IgnoreCase) return std::toupper(a) == std::toupper(b);
  return a == b;
}
}  // namespace

bool AdvanceDataMatch(TDataTrigger& t, uint8_t byte) {
  const auto& m = t.Match;
  // Longest prefix of the pattern that ends the text seen so far plus byte.
  size_t k = std::min(t.Matched + 1, m.size());
  for (; k > 0; --k) {
    // Candidate: pattern[0..k) must equal pattern[matched-k+1 .. matched) + byte.
    bool ok = SameChar(t, static_cast<uint8_t>(m[k - 1]), byte);
    for (size_t i = 0; ok && i + 1 < k; ++i) {
      ok = SameChar(t, static_cast<uint8_t>(m[i]),
                    static_cast<uint8_t>(m[t.Matched - (k - 1) + i]));
    }
    if (ok) break;
  }
  t.Matched = k;
  if (k == m.size()) {
    t.Matched = 0;
    return true;
  }
  return false;
}
