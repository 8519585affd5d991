#pragma once
// The error values of cells ("#DIV/0!", "#N/A"...): formulas compute with
// them, and the writer stores them as formula results, so they belong to
// neither.

#include <QString>
#include <QStringView>

#include <cstdint>
#include <optional>

// The error values, with the codes the file format gives them.
enum class ErrorCode : uint8_t {
  Null = 0x00,
  Div0 = 0x07,
  Value = 0x0F,
  Ref = 0x17,
  Name = 0x1D,
  Num = 0x24,
  NA = 0x2A,
};

// The error's name as shown ("#DIV/0!"); a code the format does not know
// reads as "#N/A".
QString ErrorName(ErrorCode code);
// The code of a known error byte, or nullopt.
std::optional<ErrorCode> ErrorFromByte(uint8_t byte);
std::optional<ErrorCode> ErrorFromName(QStringView name);
