#pragma once
// What a crash journal holds that its workbook lacks, and putting it back:
// the sheets go in journal order into the first empty rows, never over data,
// also when the workbook changed since the journal was written.

#include "app/CrashJournal.h"
#include "automation/OleVariant.h"

#include <vector>

// The sheets whose values are not in sheet 1 of the workbook (given by its
// sheet collection) at the row they were written into.
std::vector<JournalSheet> SheetsMissingFrom(const OleVariant& workSheets, const std::vector<JournalSheet>& sheets);

// Writes the sheets, in order, each into the next row at or after the first
// row whose column A is empty that is empty in every column it would fill.
// Returns them with the rows they went to. Throws when the sheet runs out of
// rows (the sheets written before stay).
std::vector<JournalSheet> RestoreSheets(const OleVariant& workSheets, std::vector<JournalSheet> sheets);

// Whole sentences for the user about sheets of a workbook.
QString CountOfSheets(int count);  // "1 sheet", "5 sheets"
