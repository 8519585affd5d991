#pragma once
// Shared by the spreadsheet tests: a scratch folder per test, fixture copies
// and the independent xlrd/xlwt checks (xlrd_probe.py).

#include "automation/CellEntry.h"

#include "NeededPackages.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace SheetTest {

inline QString FixturesDir() { return QStringLiteral(CFW_FIXTURES_DIR "/xls"); }

// A fresh folder under CFW_TEST_TMP (or the system's), removed afterwards.
class ScratchDir {
 public:
  ScratchDir() {
    const QByteArray root = qgetenv("CFW_TEST_TMP");
    if (!root.isEmpty()) QDir().mkpath(QString::fromLocal8Bit(root));
    dir_ = std::make_unique<QTemporaryDir>(root.isEmpty() ? QDir::tempPath() + QStringLiteral("/sheet-XXXXXX")
                                                          : QString::fromLocal8Bit(root) + QStringLiteral("/sheet-XXXXXX"));
  }
  QString Path(const QString& name) const { return dir_->filePath(name); }
  QString Root() const { return dir_->path(); }
  // Copies a fixture here: fixtures are never written in place.
  QString CopyFixture(const QString& name) const {
    const QString target = Path(name);
    QFile::remove(target);
    EXPECT_TRUE(QFile::copy(FixturesDir() + QLatin1Char('/') + name, target)) << name.toStdString();
    QFile(target).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    return target;
  }

 private:
  std::unique_ptr<QTemporaryDir> dir_;
};

inline QByteArray ReadAll(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return {};
  return file.readAll();
}

struct ProbeResult {
  int exitCode = -1;
  QByteArray out;
  QByteArray err;
};

// Runs xlrd_probe.py with the system python (the one with xlrd 1.2 and xlwt).
inline ProbeResult Probe(const QStringList& args) {
  NeededPackages::Require({"xlrd"});
  if (!args.isEmpty() && (args[0] == QLatin1String("foreign") || args[0] == QLatin1String("book"))) {
    NeededPackages::Require({"xlwt"});
  }
  QProcess process;
  process.setProgram(QStringLiteral("/usr/bin/python3"));
  process.setArguments(QStringList{QStringLiteral(CFW_SOURCE_DIR "/tests/spreadsheet/xlrd_probe.py")} + args);
  process.start();
  process.waitForFinished(120000);
  return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1, process.readAllStandardOutput(),
          process.readAllStandardError()};
}

// A cell of "xlrd_probe.py values" ([row, col, type, value]) as the
// server's Value get reads as text: a number in its plain decimal form.
inline QString CellText(const QJsonArray& cell) {
  return cell[2].toInt() == 2 ? QString::number(cell[3].toDouble(), 'g', 15) : cell[3].toString();
}

// What a text put into a cell reads back as: a text that reads as a number
// comes back as that number's plain decimal form ("007" as "7").
inline QString AsStored(const QString& put) {
  const std::optional<double> number = NumberFromEntry(put);
  return number ? QString::number(*number, 'g', 15) : put;
}

inline QJsonDocument ProbeJson(const QStringList& args) {
  const ProbeResult result = Probe(args);
  EXPECT_EQ(result.exitCode, 0) << result.err.toStdString();
  return QJsonDocument::fromJson(result.out);
}

}  // namespace SheetTest
