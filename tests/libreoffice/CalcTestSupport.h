#pragma once
// What the suites against a real office share: one office per test binary
// (kept in a state folder under the build tree, so the user's own is never
// touched), an application instance per test, and independent readers of
// what was saved: openpyxl for .xlsx, xlrd for .xls, LibreOffice's own
// conversion (with a profile of its own) for .ods.

#include "automation/OleVariant.h"

#include "NeededPackages.h"
#include "RecordingResponder.h"
#include "TempDir.h"

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <functional>

#include <gtest/gtest.h>

#include <ostream>

// Texts in the suites' failure messages as texts.
inline void PrintTo(const QString& text, std::ostream* out) { *out << '"' << text.toStdString() << '"'; }

struct ProgramRun {
  int exitCode = -1;
  QString out;
  QString err;
};
ProgramRun RunProgram(const QString& program, const QStringList& args, int timeoutMs = 60000,
                      const QStringList& extraEnvironment = {});

// Sheet 1 of an .xlsx as openpyxl reads it: one line per row, cells as
// Python's repr joined by "|" (None for empty), for rows 1..rows, columns 1..cols.
QString OpenpyxlRows(const QString& path, int rows, int cols, int sheet = 1);
// Sheet 1 of a workbook as LibreOffice converts it to CSV (separate profile).
QString ConvertedCsv(const QString& path);
// Sheet 1 of an .xls as xlrd reads it: JSON of [row, col, ctype, value].
QString XlrdValues(const QString& path);
// Makes a workbook with LibreOffice from a Python-UNO script body that gets
// `doc` (a new Calc document) and stores it to `out` with `filter`.
void MakeWithOffice(const QString& out, const QString& filter, const QString& scriptBody,
                    const QString& password = {});
// Every cell of a workbook as LibreOffice finds it after recalculating the
// file (separate office): "Sheet!A1" -> {type (VALUE, TEXT, FORMULA), value,
// text (as shown), error (Calc's code, 0 for none)}.
QJsonObject RecalculatedCells(const QString& path);
// An .xlsx as openpyxl reads it: {"sheets": [names], "cells": {"Sheet!A1":
// value, formulas as their text}}.
QJsonObject OpenpyxlFormulas(const QString& path);
// The workbook converted by LibreOffice to format ("xlsx", "xls"), written
// beside it as "<name> converted.<format>"; its path.
QString ConvertedBy(const QString& path, const QString& format);

// The message of the EServerGone that call throws; "not gone: ..." for
// another failure, "no failure" when it throws nothing.
QString GoneMessageOf(const std::function<void()>& call);
// Whether the process exists (a stopped one does; one that was reaped not).
bool ProcessRuns(int64_t pid);
// Stops the process as a hang would, and returns once the kernel has stopped
// every thread of it (false when that took over 10 s). kill() returns before
// that: a thread not yet stopped still answers calls, on a busy machine for
// tens of milliseconds.
bool StopLikeAHang(int64_t pid);

class CalcTest : public ::testing::Test {
 public:
  static void SetUpTestSuite();

 protected:
  void SetUp() override;
  void TearDown() override;
  // A workbook added and saved as name in the scratch folder.
  OleVariant AddSaved(const QString& name);
  OleVariant Sheet1() const { return app.Get("Sheets", {1}); }
  void WriteRow(const OleVariant& sheet, int row, const QStringList& values);

  TempDir dir;
  RecordingResponder responder;
  OleVariant app;
};
