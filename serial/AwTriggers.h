// The dispatcher's timer, data-match and status triggers and the 55 ms tick
// clock they run on. The program registers none of them itself; they exist
// for callers that want to be told about a string, a time-out or a line
// change on the port.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Library timers count in ticks of 55 ms.
constexpr int32_t kMsPerTick = 55;
constexpr int32_t kMaxTimerTicks = 39045157;

int32_t CurrentTicks();

struct TApdTimer {
  int32_t StartTicks = 0;
  int32_t ExpireTicks = 0;
};
void NewTimer(TApdTimer& timer, int32_t ticks);
bool TimerExpired(const TApdTimer& timer, int32_t now = CurrentTicks());

// Kinds of status trigger; the low three bits of a status trigger's handle.
enum TStatusKind : uint8_t {
  stNotActive = 0,
  stModem = 1,
  stLine = 2,
  stOutBuffFree = 3,
  stOutBuffUsed = 4,
  stOutSent = 5,
};

struct TTimerTrigger {
  uint16_t Handle = 0;
  int32_t Ticks = 0;
  TApdTimer Timer;
  bool Active = false;
};

struct TDataTrigger {
  uint16_t Handle = 0;
  std::string Match;
  bool IgnoreCase = false;
  size_t Matched = 0;  // length of the pattern prefix matched so far
};

struct TStatusTrigger {
  uint16_t Handle = 0;
  uint16_t Value = 0;  // modem or line bits to watch, or a byte count
  bool Active = false;
  bool Hit = false;
};

// What a status trigger looks at.
struct TStatusInputs {
  uint8_t ModemDelta = 0;  // low nibble of the modem-status byte: changed lines
  uint8_t LineErrors = 0;
  uint32_t OutFree = 0;
  uint32_t OutUsed = 0;
  bool BlockWritten = false;
};

// AvailThreshold and every trigger: the set a reopened port carries over.
struct TTriggerSet {
  uint32_t AvailThreshold = 0;
  std::vector<TTimerTrigger> Timers;
  std::vector<TDataTrigger> Data;
  std::vector<TStatusTrigger> Status;
  uint16_t NextId = 1;

  void Clear();
  // Each returns the new handle, or a negative result code.
  int AddTimerTrigger();
  int AddDataTrigger(const std::string& match, bool ignoreCase);
  int AddStatusTrigger(TStatusKind kind);
  int RemoveTrigger(uint16_t handle);
  int SetTimerTrigger(uint16_t handle, int32_t ticks, bool activate);
  int SetStatusTrigger(uint16_t handle, uint16_t value, bool activate);

  // Handle of the first active timer that has run out (made inactive), or 0.
  uint16_t TakeExpiredTimer(int32_t now = CurrentTicks());
  // Handle of the first active status trigger whose condition holds (made
  // inactive and marked hit), or 0.
  uint16_t TakeFiredStatus(const TStatusInputs& in);
  bool AnyStatusHit() const;
  void ClearStatusHits();
  void ResetDataMatches();

 private:
  int NewId();
  bool IdInUse(uint16_t id) const;
};

// Feeds one received byte to a data trigger; true when it completes a match.
bool AdvanceDataMatch(TDataTrigger& trigger, uint8_t byte);
