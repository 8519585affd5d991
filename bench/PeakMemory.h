#pragma once
// The process's own peak resident memory, in KiB (-1 when unknown). VmHWM
// starts afresh with each program, unlike ru_maxrss, which Linux carries over
// from the parent.

#include <QByteArray>
#include <QFile>

inline long PeakKib() {
  QFile status(QStringLiteral("/proc/self/status"));
  if (!status.open(QIODevice::ReadOnly)) return -1;
  for (const QByteArray& line : status.readAll().split('\n')) {
    if (line.startsWith("VmHWM:")) return line.mid(6).trimmed().split(' ').first().toLong();
  }
  return -1;
}
