#include "tools/SheetPattern.h"

#include <fstream>
#include <sstream>

namespace machine_sim {

namespace {

bool IsBlankChar(char c) { return c == ' ' || c == '\t' || c == '\r'; }

ColumnMarks ParseField(std::string_view field) {
  ColumnMarks marks = kNoMarks;
  bool explicitBlank = false;
  for (char c : field) {
    if (IsBlankChar(c)) continue;
    if (c == '-' && !explicitBlank && marks == kNoMarks) {
      explicitBlank = true;
      continue;
    }
    if (c < '1' || c > '6' || explicitBlank)
      throw SheetFormatError("column \"" + std::string(field) + "\" is not a set of bubble digits 1-6");
    marks |= BubbleBit(c - '0');
  }
  return marks;
}

bool IsSkippedLine(std::string_view line) {
  const auto first = line.find_first_not_of(" \t\r");
  return first == std::string_view::npos || line[first] == '#';
}

}  // namespace

ColumnMarks BubbleBit(int bubble) {
  if (bubble < 1 || bubble > kBubbleCount) throw std::out_of_range("bubble number out of range");
  return static_cast<ColumnMarks>(0x20 >> (bubble - 1));
}

std::string MarkedDigits(ColumnMarks marks) {
  std::string digits;
  for (int bubble = 1; bubble <= kBubbleCount; ++bubble)
    if (marks & BubbleBit(bubble)) digits += static_cast<char>('0' + bubble);
  return digits;
}

Sheet ParseSheetPattern(std::string_view pattern) {
  if (IsSkippedLine(pattern)) throw SheetFormatError("empty sheet pattern");
  Sheet sheet;
  std::size_t start = 0;
  while (true) {
    const std::size_t comma = pattern.find(',', start);
    const std::string_view field = pattern.substr(start, comma == std::string_view::npos ? pattern.npos : comma - start);
    sheet.columns.push_back(ParseField(field));
    if (comma == std::string_view::npos) break;
    start = comma + 1;
  }
  return sheet;
}

std::string FormatSheetPattern(const Sheet& sheet) {
  std::string text;
  for (std::size_t i = 0; i < sheet.columns.size(); ++i) {
    if (i > 0) text += ',';
    text += MarkedDigits(sheet.columns[i]);
  }
  // A lone blank column would read as an empty line; spell it out.
  return sheet.columns.size() == 1 && text.empty() ? "-" : text;
}

std::vector<Sheet> ParseSheetList(std::string_view text) {
  std::vector<Sheet> sheets;
  std::size_t start = 0;
  int lineNumber = 0;
  while (start <= text.size()) {
    const std::size_t end = std::min(text.find('\n', start), text.size());
    const std::string_view line = text.substr(start, end - start);
    ++lineNumber;
    if (!IsSkippedLine(line)) {
      try {
        sheets.push_back(ParseSheetPattern(line));
      } catch (const SheetFormatError& e) {
        throw SheetFormatError("line " + std::to_string(lineNumber) + ": " + e.what());
      }
    }
    start = end + 1;
  }
  return sheets;
}

std::vector<Sheet> LoadSheetFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) throw SheetFormatError("cannot read sheet file " + path);
  std::ostringstream content;
  content << in.rdbuf();
  try {
    std::vector<Sheet> sheets = ParseSheetList(content.str());
    if (sheets.empty()) throw SheetFormatError("no sheets in it");
    return sheets;
  } catch (const SheetFormatError& e) {
    throw SheetFormatError(path + ": " + e.what());
  }
}

}  // namespace machine_sim
