#include "bench/app/BenchLoad.h"

namespace scan_bench {

CpuHogs::CpuHogs(const QString& program, int count) {
  for (int i = 0; i < count; ++i) {
    auto process = std::make_unique<QProcess>();
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    process->start(program, {QStringLiteral("--burn")});
    process->waitForStarted();
    processes_.push_back(std::move(process));
  }
}

CpuHogs::~CpuHogs() {
  for (auto& process : processes_) {
    process->kill();
    process->waitForFinished();
  }
}

int CpuHogs::Running() const {
  int running = 0;
  for (const auto& process : processes_) running += process->state() == QProcess::Running ? 1 : 0;
  return running;
}

void Burn() {
  volatile unsigned long spin = 0;
  for (;;) spin = spin + 1;
}

SheetSchedule::Offsets SheetSchedule::SteadyBurstSteady(int steady, std::chrono::milliseconds interval, int burst,
                                                        std::chrono::milliseconds burstWindow) {
  Offsets offsets;
  for (int i = 0; i < steady; ++i) offsets.push_back(i * interval);
  const std::chrono::milliseconds burstStart = steady * interval;
  for (int i = 0; i < burst; ++i) offsets.push_back(burstStart + (burst > 1 ? i * burstWindow / (burst - 1) : std::chrono::milliseconds(0)));
  const std::chrono::milliseconds after = burstStart + burstWindow + interval;
  for (int i = 0; i < steady; ++i) offsets.push_back(after + i * interval);
  return offsets;
}

SheetSchedule::SheetSchedule(Offsets offsets, std::function<void()> drop)
    : offsets_(std::move(offsets)), drop_(std::move(drop)), thread_([this] { Run(); }) {}

SheetSchedule::~SheetSchedule() {
  stop_ = true;
  thread_.join();
}

void SheetSchedule::Run() {
  const auto start = std::chrono::steady_clock::now();
  for (const std::chrono::milliseconds offset : offsets_) {
    // Short sleeps, so that stopping never waits for a whole interval.
    while (!stop_ && std::chrono::steady_clock::now() < start + offset) std::this_thread::sleep_for(std::chrono::milliseconds(2));
    if (stop_) return;
    drop_();
    ++dropped_;
  }
}

}  // namespace scan_bench
