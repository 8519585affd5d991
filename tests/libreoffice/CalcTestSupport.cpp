#include "CalcTestSupport.h"

#include "libreoffice/LibreOfficeServer.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonDocument>
#include <QProcess>
#include <QThread>

#include <csignal>

ProgramRun RunProgram(const QString& program, const QStringList& args, int timeoutMs,
                      const QStringList& extraEnvironment) {
  QProcess process;
  if (!extraEnvironment.isEmpty()) {
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const QString& entry : extraEnvironment) env.insert(entry.section('=', 0, 0), entry.section('=', 1));
    process.setProcessEnvironment(env);
  }
  process.start(program, args);
  ProgramRun run;
  if (!process.waitForFinished(timeoutMs)) {
    process.kill();
    process.waitForFinished();
    run.err = QStringLiteral("timed out");
    return run;
  }
  run.exitCode = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  run.out = QString::fromUtf8(process.readAllStandardOutput());
  run.err = QString::fromUtf8(process.readAllStandardError());
  return run;
}

QString OpenpyxlRows(const QString& path, int rows, int cols, int sheet) {
  NeededPackages::Require({"openpyxl"});
  const QString script = QStringLiteral(
      "import sys, openpyxl\n"
      "ws = openpyxl.load_workbook(sys.argv[1], read_only=True).worksheets[int(sys.argv[4]) - 1]\n"
      "for r in range(1, int(sys.argv[2]) + 1):\n"
      "    print('|'.join(repr(ws.cell(row=r, column=c).value) for c in range(1, int(sys.argv[3]) + 1)))\n");
  const ProgramRun run = RunProgram(QStringLiteral("/usr/bin/python3"),
                                    {QStringLiteral("-c"), script, path, QString::number(rows), QString::number(cols),
                                     QString::number(sheet)});
  EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
  return run.out;
}

namespace {

// A profile of the suite's own for the offices the tests start as readers
// and makers, kept between runs so that they start quickly.
QString HelperProfile(const char* use) {
  return QStringLiteral(CFW_BINARY_DIR "/test-tmp/libreoffice-state/%1-%2")
      .arg(QCoreApplication::applicationName(), QLatin1String(use));
}

}  // namespace

QString ConvertedCsv(const QString& path) {
  NeededPackages::Require({"soffice"});
  TempDir out;
  const ProgramRun run = RunProgram(
      QStringLiteral("soffice"),
      {QStringLiteral("-env:UserInstallation=file://%1").arg(HelperProfile("reader")), QStringLiteral("--headless"),
       QStringLiteral("--convert-to"), QStringLiteral("csv"), QStringLiteral("--outdir"), out.Path(), path},
      120000);
  EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
  return QString::fromUtf8(out.Read(QFileInfo(path).completeBaseName() + QStringLiteral(".csv")));
}

QString XlrdValues(const QString& path) {
  NeededPackages::Require({"xlrd"});
  const ProgramRun run = RunProgram(QStringLiteral("/usr/bin/python3"),
                                    {QStringLiteral(CFW_SOURCE_DIR "/tests/spreadsheet/xlrd_probe.py"),
                                     QStringLiteral("values"), path});
  EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
  return run.out;
}

namespace {

// Runs body with the office's own Python against a headless office of the
// suite's own; body gets `desktop`, `prop` and `args` (the strings given).
ProgramRun RunWithOffice(const QString& body, const QStringList& args) {
  NeededPackages::Require({"uno", "soffice"});
  TempDir work;
  const QString script = QStringLiteral(
      "import json, subprocess, sys, time, uno\n"
      "from com.sun.star.beans import PropertyValue\n"
      "def prop(n, v):\n"
      "    p = PropertyValue(); p.Name = n; p.Value = v; return p\n"
      "profile, args = sys.argv[1], sys.argv[2:]\n"
      "office = subprocess.Popen(['soffice', '-env:UserInstallation=file://' + profile, '--headless',\n"
      "    '--norestore', '--accept=pipe,name=cfwmake%1;urp;'])\n"
      "local = uno.getComponentContext()\n"
      "resolver = local.ServiceManager.createInstanceWithContext('com.sun.star.bridge.UnoUrlResolver', local)\n"
      "for _ in range(240):\n"
      "    try:\n"
      "        ctx = resolver.resolve('uno:pipe,name=cfwmake%1;urp;StarOffice.ComponentContext'); break\n"
      "    except Exception:\n"
      "        time.sleep(0.25)\n"
      "desktop = ctx.ServiceManager.createInstanceWithContext('com.sun.star.frame.Desktop', ctx)\n"
      "try:\n"
      "%2\n"
      "finally:\n"
      "    try:\n"
      "        desktop.terminate()\n"
      "    except Exception:\n"
      "        pass\n"
      "    office.wait(30)\n")
                             .arg(QFileInfo(work.Path()).fileName().remove(QLatin1Char('-')),
                                  QStringLiteral("    ") + QString(body).replace(QLatin1String("\n"), QLatin1String("\n    ")));
  return RunProgram(QStringLiteral("/usr/bin/python3"), QStringList{QStringLiteral("-c"), script, HelperProfile("maker")} + args,
                    120000);
}

}  // namespace

void MakeWithOffice(const QString& out, const QString& filter, const QString& scriptBody, const QString& password) {
  const QString body = QStringLiteral(
                           "out, flt, pw = args\n"
                           "doc = desktop.loadComponentFromURL('private:factory/scalc', '_blank', 0, (prop('Hidden', True),))\n") +
                       scriptBody +
                       QStringLiteral(
                           "\n"
                           "store = [prop('FilterName', flt)]\n"
                           "if pw: store.append(prop('Password', pw))\n"
                           "doc.storeToURL(uno.systemPathToFileUrl(out), tuple(store))\n"
                           "doc.close(True)\n");
  const ProgramRun run = RunWithOffice(body, {out, filter, password});
  ASSERT_EQ(run.exitCode, 0) << run.err.toStdString();
  ASSERT_TRUE(QFile::exists(out));
}

QString GoneMessageOf(const std::function<void()>& call) {
  try {
    call();
  } catch (const EServerGone& e) {
    return e.Message();
  } catch (const EOleError& e) {
    return QStringLiteral("not gone: ") + e.Message();
  }
  return QStringLiteral("no failure");
}

bool ProcessRuns(int64_t pid) { return pid > 0 && ::kill(static_cast<pid_t>(pid), 0) == 0; }

namespace {

// Every thread of the process is in the stopped state ('T'; 't' when traced).
bool AllThreadsStopped(int64_t pid) {
  const QString tasks = QStringLiteral("/proc/%1/task").arg(pid);
  const QStringList threads = QDir(tasks).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
  if (threads.isEmpty()) return false;
  for (const QString& thread : threads) {
    QFile stat(tasks + QLatin1Char('/') + thread + QStringLiteral("/stat"));
    if (!stat.open(QIODevice::ReadOnly)) continue;  // ended meanwhile
    const QByteArray line = stat.readAll();
    // "pid (name) state ...": the name may hold anything, even ") ".
    const qsizetype close = line.lastIndexOf(')');
    const char state = close >= 0 && close + 2 < line.size() ? line[close + 2] : '?';
    if (state != 'T' && state != 't') return false;
  }
  return true;
}

}  // namespace

bool StopLikeAHang(int64_t pid) {
  if (!ProcessRuns(pid) || ::kill(static_cast<pid_t>(pid), SIGSTOP) != 0) return false;
  QElapsedTimer clock;
  clock.start();
  while (!AllThreadsStopped(pid)) {
    if (clock.elapsed() > 10000) return false;
    QThread::msleep(1);
  }
  return true;
}

QJsonObject RecalculatedCells(const QString& path) {
  const QString body = QStringLiteral(
      "doc = desktop.loadComponentFromURL(uno.systemPathToFileUrl(args[0]), '_blank', 0, (prop('Hidden', True),))\n"
      "doc.calculateAll()\n"
      "cells = {}\n"
      "for sheet in doc.Sheets:\n"
      "    cursor = sheet.createCursor(); cursor.gotoEndOfUsedArea(False)\n"
      "    end = cursor.getRangeAddress()\n"
      "    for r in range(end.EndRow + 1):\n"
      "        for c in range(end.EndColumn + 1):\n"
      "            cell = sheet.getCellByPosition(c, r)\n"
      "            kind = cell.getType().value\n"
      "            if kind == 'EMPTY': continue\n"
      "            name = cell.AbsoluteName.split('.', 1)[1].replace('$', '')\n"
      "            cells[sheet.Name + '!' + name] = {'type': kind, 'value': cell.getValue(), 'text': cell.getString(),\n"
      "                                              'error': cell.getError()}\n"
      "doc.close(True)\n"
      "print(json.dumps(cells))\n");
  const ProgramRun run = RunWithOffice(body, {path});
  EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
  return QJsonDocument::fromJson(run.out.toUtf8()).object();
}

QJsonObject OpenpyxlFormulas(const QString& path) {
  NeededPackages::Require({"openpyxl"});
  const QString script = QStringLiteral(
      "import sys, json, openpyxl\n"
      "wb = openpyxl.load_workbook(sys.argv[1])\n"
      "print(json.dumps({'sheets': wb.sheetnames, 'cells': {ws.title + '!' + c.coordinate: c.value\n"
      "    for ws in wb.worksheets for row in ws.iter_rows() for c in row if c.value is not None}}))\n");
  const ProgramRun run = RunProgram(QStringLiteral("/usr/bin/python3"), {QStringLiteral("-c"), script, path});
  EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
  return QJsonDocument::fromJson(run.out.toUtf8()).object();
}

QString ConvertedBy(const QString& path, const QString& format) {
  NeededPackages::Require({"soffice"});
  TempDir out;
  const ProgramRun run = RunProgram(
      QStringLiteral("soffice"),
      {QStringLiteral("-env:UserInstallation=file://%1").arg(HelperProfile("reader")), QStringLiteral("--headless"),
       QStringLiteral("--convert-to"), format, QStringLiteral("--outdir"), out.Path(), path},
      120000);
  EXPECT_EQ(run.exitCode, 0) << run.err.toStdString();
  const QString converted = QFileInfo(path).absolutePath() + QLatin1Char('/') + QFileInfo(path).completeBaseName() +
                            QStringLiteral(" converted.") + format;
  QFile::remove(converted);
  QFile::copy(out.Path(QFileInfo(path).completeBaseName() + QLatin1Char('.') + format), converted);
  return converted;
}

void CalcTest::SetUpTestSuite() {
  // The office's profile lives in the build tree, kept between runs; a
  // suite run as a child by a test gets the folder that test gives it.
  const QByteArray state = qEnvironmentVariableIsSet("CFW_CALC_TEST_STATE")
                               ? qgetenv("CFW_CALC_TEST_STATE")
                               : QByteArray(CFW_BINARY_DIR "/test-tmp/libreoffice-state");
  qputenv("XDG_STATE_HOME", state);
  QDir().mkpath(QString::fromLocal8Bit(state));
}

void CalcTest::SetUp() { app = OleVariant(CreateLibreOfficeApplication()); }

void CalcTest::TearDown() {
  // Unsaved work is not kept by the tests.
  for (int i = 0; i < 20; ++i) responder.answers.push_back(Answer::DontSave);
  try {
    app.Call("Quit");
  } catch (const EOleError&) {
  }
  app = OleVariant();
}

OleVariant CalcTest::AddSaved(const QString& name) {
  const OleVariant book = app.Get("Workbooks").Get("Add");
  book.Call("SaveAs", {dir.Path(name)});
  return book;
}

void CalcTest::WriteRow(const OleVariant& sheet, int row, const QStringList& values) {
  for (int c = 0; c < values.size(); ++c) sheet.Get("Cells", {row, c + 1}).Put("Value", values[c]);
}
