#include "automation/CellEntry.h"

#include <QString>

#include <charconv>
#include <cmath>
#include <string>

namespace {

bool IsDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

// Moves past a run of digits; returns how many there were.
qsizetype SkipDigits(QStringView text, qsizetype& at) {
  const qsizetype start = at;
  while (at < text.size() && IsDigit(text[at])) ++at;
  return at - start;
}

}  // namespace

std::optional<double> NumberFromEntry(QStringView text) {
  qsizetype begin = 0;
  qsizetype end = text.size();
  while (begin < end && text[begin] == QLatin1Char(' ')) ++begin;
  while (end > begin && text[end - 1] == QLatin1Char(' ')) --end;
  const QStringView body = text.sliced(begin, end - begin);

  qsizetype at = 0;
  if (at < body.size() && (body[at] == QLatin1Char('+') || body[at] == QLatin1Char('-'))) ++at;
  qsizetype digits = SkipDigits(body, at);
  if (at < body.size() && body[at] == QLatin1Char('.')) {
    ++at;
    digits += SkipDigits(body, at);
  }
  if (digits == 0) return std::nullopt;
  if (at < body.size() && (body[at] == QLatin1Char('e') || body[at] == QLatin1Char('E'))) {
    ++at;
    if (at < body.size() && (body[at] == QLatin1Char('+') || body[at] == QLatin1Char('-'))) ++at;
    if (SkipDigits(body, at) == 0) return std::nullopt;
  }
  if (at != body.size()) return std::nullopt;

  // Only ASCII is left. from_chars reads it whatever the locale says the
  // decimal point is; it takes no "+".
  const std::string ascii = body.toString().toStdString();
  const size_t skip = ascii[0] == '+' ? 1 : 0;
  double value = 0;
  const std::from_chars_result read = std::from_chars(ascii.data() + skip, ascii.data() + ascii.size(), value);
  if (read.ec != std::errc() || read.ptr != ascii.data() + ascii.size() || !std::isfinite(value)) return std::nullopt;
  return value == 0 ? 0.0 : value;  // "-0" is stored as 0, as typed
}
