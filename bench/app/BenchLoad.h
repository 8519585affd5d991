#pragma once
// What a loaded run puts beside the scanning path: processes that keep the
// processors busy, and the machine dropping sheets on a schedule of its own
// thread, as a real machine goes on whatever the program is doing.

#include <QProcess>
#include <QString>

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <thread>
#include <vector>

namespace scan_bench {

// Processes that spin on a processor each until this goes.
class CpuHogs {
 public:
  // Runs `program --burn` `count` times.
  CpuHogs(const QString& program, int count);
  ~CpuHogs();
  CpuHogs(const CpuHogs&) = delete;
  CpuHogs& operator=(const CpuHogs&) = delete;
  int Running() const;

 private:
  std::vector<std::unique_ptr<QProcess>> processes_;
};

// The body of a hog: never returns.
[[noreturn]] void Burn();

// Calls `drop` at each offset from the start, on a thread of its own.
class SheetSchedule {
 public:
  using Offsets = std::vector<std::chrono::milliseconds>;
  // `steady` sheets every `interval`, then `burst` sheets spread over `burstWindow`,
  // then `steady` sheets every `interval` again.
  static Offsets SteadyBurstSteady(int steady, std::chrono::milliseconds interval, int burst,
                                   std::chrono::milliseconds burstWindow);

  SheetSchedule(Offsets offsets, std::function<void()> drop);
  ~SheetSchedule();  // stops and joins
  SheetSchedule(const SheetSchedule&) = delete;
  SheetSchedule& operator=(const SheetSchedule&) = delete;

  int Dropped() const { return dropped_.load(); }

 private:
  void Run();

  Offsets offsets_;
  std::function<void()> drop_;
  std::atomic<int> dropped_{0};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace scan_bench
