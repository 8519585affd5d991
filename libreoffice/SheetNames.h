#pragma once
// Sheet names as the spreadsheet application allows them, and the name a new
// sheet gets. Names are compared without regard to case, as the application does.

#include <QString>

#include <optional>
#include <vector>

// Why name cannot be given to the sheet at index own (-1 for a new sheet)
// among names: empty, longer than 31 characters, holding one of [ ] * ? / \ :,
// beginning or ending with an apostrophe, or used by another sheet. Nothing
// when it can.
std::optional<QString> SheetNameFault(const QString& name, const std::vector<QString>& names, int own);
// "Sheet<n>" for a new sheet: n counts on from the number of sheets plus one
// to the first name not used.
QString NewSheetName(const std::vector<QString>& names);
// The index of the sheet named name, without regard to case.
std::optional<int> SheetIndex(const std::vector<QString>& names, const QString& name);
