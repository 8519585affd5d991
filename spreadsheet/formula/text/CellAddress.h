#pragma once
// Cell addresses and sheet names as formula text writes them: "B3",
// "$B$3", "A:A", "1:1", "Sheet1!", "'My Sheet'!".

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

namespace CellAddress {

constexpr uint32_t kLastRow = 0xFFFF;
constexpr uint32_t kLastCol = 0xFF;

// The column of letters "A".."IV" (0-based), or nullopt.
std::optional<uint32_t> ColumnOf(QStringView letters);
QString Column(uint32_t col);  // "A" for 0

// "$B$3" for row 2, column 1 with both marks.
QString Cell(uint32_t row, uint32_t col, bool rowAbsolute, bool colAbsolute);

// Whether a sheet name must be quoted in a reference: anything but letters,
// digits, "_" and "." (not leading with a digit), and names that read as a
// cell or as R1C1.
bool NeedsQuotes(QStringView sheet);
// "Sheet1" or "'My Sheet'" (an apostrophe inside doubled).
QString SheetPrefix(QStringView sheet);

}  // namespace CellAddress
