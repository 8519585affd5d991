#pragma once
// Runs a benchmark's measuring side in a process of its own (so its memory
// and timing start afresh) and reads the JSON object it prints last.

#include <QByteArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QStringList>

inline QJsonObject RunChild(const QString& program, const QStringList& args) {
  QProcess process;
  process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  process.start(program, args);
  process.waitForFinished(-1);
  const QByteArray out = process.readAllStandardOutput().trimmed();
  return QJsonDocument::fromJson(out.mid(out.lastIndexOf('\n') + 1)).object();
}
