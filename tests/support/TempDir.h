#pragma once
// A scratch folder per test, removed afterwards.
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

class TempDir {
 public:
  TempDir() : dir_(QDir::tempPath() + "/cfw-test-XXXXXX") {}
  QString Path(const QString& name = {}) const { return name.isEmpty() ? dir_.path() : dir_.filePath(name); }
  QByteArray Read(const QString& name) const {
    QFile f(Path(name));
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
  }
  void Write(const QString& name, const QByteArray& data) const {
    QFile f(Path(name));
    if (f.open(QIODevice::WriteOnly)) f.write(data);
  }

 private:
  QTemporaryDir dir_;
};
