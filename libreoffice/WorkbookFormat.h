#pragma once
// Which workbook formats LibreOffice Calc is driven with, by file name, the
// office's filter for each, and the check that a file's content can be what
// its name says before the office is asked to load it (so nothing is ever
// silently imported as text).

#include <QString>

#include <optional>

enum class CalcFormat { Xls, Xlsx, Ods };

// By the name's extension, without regard to case; nothing for any other.
std::optional<CalcFormat> FormatForPath(const QString& path);
// The office's filter name, for loading and storing.
QString FilterFor(CalcFormat format);
// The file-dialog filter ("label|pattern|...") of the formats.
QString CalcFileFilter();

// Throws EOleError naming the file when it is missing, empty, or its first
// bytes are not those of the format (a zip for .xlsx and .ods; a compound
// file for .xls, and for .xlsx protected with a password).
void CheckWorkbookFile(const QString& path, CalcFormat format);
