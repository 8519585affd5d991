#pragma once
// The application's reading of a sheet record, written here from its rules and
// independently of the simulator's encoder: the record ends at the first "E",
// the header at the first "~", the last data byte is column 1; multiple-bubble
// mode reads bits 5..0 as bubbles 1..6, single mode takes the byte itself; an
// empty value or "B" becomes " ".

#include <string>
#include <string_view>
#include <vector>

inline std::vector<std::string> DecodeRecordAsApplication(std::string_view buffer, bool multipleMode) {
  std::string_view body = buffer.substr(0, buffer.find('E'));
  if (const auto tilde = body.find('~'); tilde != std::string_view::npos) body = body.substr(tilde + 1);
  std::vector<std::string> values;
  for (auto it = body.rbegin(); it != body.rend(); ++it) {
    const auto byte = static_cast<unsigned char>(*it);
    std::string value;
    if (multipleMode) {
      for (int bit = 5; bit >= 0; --bit)
        if (byte & (1u << bit)) value += static_cast<char>('1' + (5 - bit));
    } else {
      value = std::string(1, static_cast<char>(byte));
    }
    values.push_back(value.empty() || value == "B" ? " " : value);
  }
  return values;
}

// What the row writer makes of the values: padded with " " up to column 66.
inline std::vector<std::string> PadRow(std::vector<std::string> values) {
  while (values.size() < 66) values.emplace_back(" ");
  return values;
}
