// Delivery latency from a byte written at the far end of a pseudo-terminal
// to the code that receives it, side by side with two baselines measured
// in the same run:
//   - the floor: a bare poll() + read() loop on the port;
//   - Qt 5's QSerialPort with readyRead (a separate program, run from here);
//   - our dispatcher, with the data-available handler on its own thread;
//   - the port component's OnTriggerAvail on the user-interface thread,
//     the path the application uses.
// Then the CPU time of an open idle port over 10 s.
//
//   serial_latency_bench [count=5000] [gap_us=500]
#include <poll.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>

#include <QApplication>
#include <QTemporaryDir>
#include <QTextStream>
#include <QTimer>
#include <QFile>

#include "LatencyProbe.h"
#include "serial/AdPort.h"
#include "serial/AwPosix.h"
#include "serial/PortMap.h"

namespace {

bench::Figures FloorRun(size_t count, int gapUs) {
  bench::Pty pty = bench::OpenPty();
  const int fd = open(pty.slavePath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
  termios raw{};
  tcgetattr(fd, &raw);
  cfmakeraw(&raw);
  tcsetattr(fd, TCSANOW, &raw);
  bench::LatencyRun run(pty.master, count, gapUs);
  run.Start();
  const int64_t deadline = bench::NowNs() + int64_t(count) * gapUs * 1000 + 10'000'000'000;
  uint8_t buffer[4096];
  while (!run.Done() && bench::NowNs() < deadline) {
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) continue;
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n > 0) run.Received(size_t(n));
  }
  const bench::Figures f = run.Finish();
  close(fd);
  close(pty.master);
  return f;
}

// Reads exactly Count bytes per notification, as the program's handlers do.
class ReadingTarget : public INotifyTarget {
 public:
  ReadingTarget(TApdBaseDispatcher& d, bench::LatencyRun& run) : d_(d), run_(run) {}
  bool Deliver(uint16_t code, uint32_t count, uint32_t, std::chrono::milliseconds) override {
    if (code != TriggerAvailMsg) return true;
    uint8_t b;
    size_t got = 0;
    for (uint32_t i = 0; i < count; ++i) got += d_.ReadByte(b) == 0 ? 1 : 0;
    run_.Received(got);
    return true;
  }

 private:
  TApdBaseDispatcher& d_;
  bench::LatencyRun& run_;
};

bench::Figures DispatcherRun(size_t count, int gapUs) {
  bench::Pty pty = bench::OpenPty();
  auto d = std::make_unique<TApdPosixDispatcher>(nullptr);
  if (d->OpenDevice(pty.slavePath, 19200, 3, 4096, 4096, 1, 8, parNone) != 0) {
    std::fprintf(stderr, "open failed\n");
    return {};
  }
  bench::LatencyRun run(pty.master, count, gapUs);
  ReadingTarget target(*d, run);
  d->SetAvailThreshold(1);
  d->AddWindowHandler(&target);
  d->UpdateNotifyFlags(1);
  run.Start();
  const int64_t deadline = bench::NowNs() + int64_t(count) * gapUs * 1000 + 10'000'000'000;
  while (!run.Done() && bench::NowNs() < deadline) usleep(10'000);
  const bench::Figures f = run.Finish();
  d.reset();
  close(pty.master);
  return f;
}

bench::Figures ComponentRun(size_t count, int gapUs) {
  bench::Pty pty = bench::OpenPty();
  QTemporaryDir dir;
  const QString settings = dir.filePath("bench.ini");
  {
    QFile f(settings);
    f.open(QIODevice::WriteOnly);
    QTextStream(&f) << "[Ports]\nCOM9=" << QString::fromStdString(pty.slavePath) << "\n";
  }
  SetPortMapSettingsFile(settings);
  bench::LatencyRun run(pty.master, count, gapUs);
  {
    TApdComPort port;
    port.SetComNumber(9);
    port.SetBufferFull(3686);
    port.SetBufferResume(409);
    port.SetUseEventWord(false);
    port.SetOnTriggerAvail([&run](TApdCustomComPort& cp, uint16_t n) {
      for (uint16_t i = 0; i < n; ++i) cp.ReadChar();
      run.Received(n);
      if (run.Done()) QCoreApplication::quit();
    });
    port.WriteString("");
    QTimer::singleShot(int(count) * gapUs / 1000 + 10000, [] { QCoreApplication::quit(); });
    run.Start();
    QCoreApplication::exec();
  }
  SetPortMapSettingsFile(QString());
  close(pty.master);
  return run.Finish();
}

bool Qt5Run(size_t count, int gapUs, bench::Figures& f) {
  const std::string cmd = std::string(CFW_QT5_BASELINE) + " " + std::to_string(count) + " " +
                          std::to_string(gapUs);
  FILE* p = popen(cmd.c_str(), "r");
  if (!p) return false;
  const int got = std::fscanf(p, "%lf %lf %lf %zu", &f.medianUs, &f.p99Us, &f.maxUs, &f.received);
  return pclose(p) == 0 && got == 4;
}

double CpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) / 1e9;
}

void IdleRun() {
  bench::Pty pty = bench::OpenPty();
  TApdPosixDispatcher d(nullptr);
  if (d.OpenDevice(pty.slavePath, 19200, 3, 4096, 4096, 1, 8, parNone) != 0) return;
  const double cpu0 = CpuSeconds();
  sleep(10);
  const double used = CpuSeconds() - cpu0;
  std::printf("idle open port: %.1f ms CPU over 10 s = %.3f %% of one core\n", used * 1000,
              used / 10.0 * 100.0);
  d.CloseDevice();
  close(pty.master);
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  const size_t count = argc > 1 ? size_t(std::atol(argv[1])) : 5000;
  const int gapUs = argc > 2 ? std::atoi(argv[2]) : 500;
  std::printf("%zu single-byte messages, %d us apart, pseudo-terminal at 19200 8N1\n", count, gapUs);
  std::printf("%-34s %8s %8s %9s %7s\n", "receiver", "med(us)", "p99(us)", "max(us)", "got");
  bench::PrintFigures("poll()+read() floor", FloorRun(count, gapUs));
  bench::Figures qt5;
  if (Qt5Run(count, gapUs, qt5)) {
    bench::PrintFigures("Qt 5 QSerialPort readyRead", qt5);
  } else {
    std::printf("%-34s (failed to run %s)\n", "Qt 5 QSerialPort readyRead", CFW_QT5_BASELINE);
  }
  bench::PrintFigures("dispatcher, handler on its thread", DispatcherRun(count, gapUs));
  bench::PrintFigures("component OnTriggerAvail, UI thread", ComponentRun(count, gapUs));
  IdleRun();
  return 0;
}
