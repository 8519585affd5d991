// The baseline a Qt developer would reach for: Qt 5's QSerialPort with
// readyRead, on the same kind of pseudo-terminal. Prints one line:
// "median_us p99_us max_us received".
#include <QCoreApplication>
#include <QSerialPort>
#include <QTimer>

#include <cstdio>
#include <cstdlib>

#include "LatencyProbe.h"

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const size_t count = argc > 1 ? size_t(std::atol(argv[1])) : 5000;
  const int gapUs = argc > 2 ? std::atoi(argv[2]) : 500;
  bench::Pty pty = bench::OpenPty();
  QSerialPort port;
  port.setPortName(QString::fromStdString(pty.slavePath));
  if (!port.open(QIODevice::ReadWrite)) {
    std::fprintf(stderr, "QSerialPort: %s\n", qPrintable(port.errorString()));
    return 1;
  }
  port.setBaudRate(19200);
  bench::LatencyRun run(pty.master, count, gapUs);
  QObject::connect(&port, &QSerialPort::readyRead, [&] {
    run.Received(size_t(port.readAll().size()));
    if (run.Done()) app.quit();
  });
  QTimer::singleShot(int(count) * gapUs / 1000 + 10000, &app, &QCoreApplication::quit);
  run.Start();
  app.exec();
  const bench::Figures f = run.Finish();
  std::printf("%.1f %.1f %.1f %zu\n", f.medianUs, f.p99Us, f.maxUs, f.received);
  return 0;
}
