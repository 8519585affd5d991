// LEN LEFT RIGHT MID CONCATENATE TRIM UPPER LOWER EXACT VALUE REPT FIND SEARCH SUBSTITUTE

#include "spreadsheet/formula/CellCriteria.h"
#include "spreadsheet/formula/functions/FunctionSupport.h"

#include <cmath>

using namespace FunctionSupport;

namespace {

constexpr qsizetype kMaxText = 32767;

// The digits of a whole number, and its sign: LEN over a column of answers
// makes no text of each.
int WholeNumberLength(double number) {
  int length = number < 0 ? 1 : 0;
  for (double n = std::fabs(number); n >= 1; n = std::floor(n / 10)) ++length;
  return std::max(length, number < 0 ? 2 : 1);
}

Value Len(FunctionCall& call) {
  const Value arg = Scalar(call, 0);
  if (arg.kind == Value::Kind::Number && std::fabs(arg.number) < 1e15 && std::trunc(arg.number) == arg.number) {
    return Value::Number(WholeNumberLength(arg.number));
  }
  const Value text = TextArg(call, 0);
  if (text.IsError()) return text;
  return Value::Number(static_cast<double>(text.text.size()));
}

// LEFT and RIGHT: count defaults to 1; a negative count is #VALUE!.
template <bool fromLeft>
Value Side(FunctionCall& call) {
  const Value text = TextArg(call, 0);
  if (text.IsError()) return text;
  const Value count = IntegerArg(call, 1, 1);
  if (count.IsError()) return count;
  if (count.number < 0) return Value::Error(ErrorCode::Value);
  const qsizetype n = static_cast<qsizetype>(std::min<double>(count.number, static_cast<double>(text.text.size())));
  return Value::Text(fromLeft ? text.text.left(n) : text.text.right(n));
}

Value Mid(FunctionCall& call) {
  const Value text = TextArg(call, 0);
  if (text.IsError()) return text;
  const Value start = IntegerArg(call, 1, 1);
  if (start.IsError()) return start;
  const Value count = IntegerArg(call, 2, 0);
  if (count.IsError()) return count;
  if (start.number < 1 || count.number < 0) return Value::Error(ErrorCode::Value);
  if (start.number > static_cast<double>(text.text.size())) return Value::Text(QString());
  const qsizetype from = static_cast<qsizetype>(start.number) - 1;
  const qsizetype n = static_cast<qsizetype>(std::min<double>(count.number, static_cast<double>(text.text.size() - from)));
  return Value::Text(text.text.mid(from, n));
}

Value Concatenate(FunctionCall& call) {
  QString joined;
  for (size_t i = 0; i < call.Count(); ++i) {
    const Value text = TextArg(call, i);
    if (text.IsError()) return text;
    joined += text.text;
    if (joined.size() > kMaxText) return Value::Error(ErrorCode::Value);
  }
  return Value::Text(joined);
}

// Leading and trailing spaces go, runs of spaces inside become one; other
// white space stays.
Value Trim(FunctionCall& call) {
  const Value text = TextArg(call, 0);
  if (text.IsError()) return text;
  QString out;
  out.reserve(text.text.size());
  bool pendingSpace = false;
  for (const QChar c : text.text) {
    if (c == QLatin1Char(' ')) {
      pendingSpace = !out.isEmpty();
      continue;
    }
    if (pendingSpace) out += QLatin1Char(' ');
    pendingSpace = false;
    out += c;
  }
  return Value::Text(out);
}

template <bool upper>
Value ChangeCase(FunctionCall& call) {
  const Value text = TextArg(call, 0);
  if (text.IsError()) return text;
  return Value::Text(upper ? text.text.toUpper() : text.text.toLower());
}

Value Exact(FunctionCall& call) {
  const Value a = TextArg(call, 0);
  if (a.IsError()) return a;
  const Value b = TextArg(call, 1);
  if (b.IsError()) return b;
  return Value::Boolean(a.text == b.text);
}

// VALUE: a number, or a text that reads as one; an empty cell is 0.
Value ValueOf(FunctionCall& call) {
  const Value arg = Scalar(call, 0);
  switch (arg.kind) {
    case Value::Kind::Number:
    case Value::Kind::Error: return arg;
    case Value::Kind::Empty: return Value::Number(0);
    case Value::Kind::Text: {
      const std::optional<double> number = Coerce::NumberFromText(arg.text);
      return number ? Value::Number(*number) : Value::Error(ErrorCode::Value);
    }
    default: return Value::Error(ErrorCode::Value);
  }
}

Value Rept(FunctionCall& call) {
  const Value text = TextArg(call, 0);
  if (text.IsError()) return text;
  const Value times = IntegerArg(call, 1, 0);
  if (times.IsError()) return times;
  if (times.number < 0 || static_cast<double>(text.text.size()) * times.number > kMaxText) {
    return Value::Error(ErrorCode::Value);
  }
  return Value::Text(text.text.repeated(static_cast<qsizetype>(times.number)));
}

// FIND (case matters, no wildcards) and SEARCH (any case, * ? and ~):
// where the text is first found from start on, counting from 1; not found,
// or a start before 1 or past the text, is #VALUE!. An empty text to find
// is found at the start.
template <bool wildcards>
Value Locate(FunctionCall& call) {
  const Value needle = TextArg(call, 0);
  if (needle.IsError()) return needle;
  const Value haystack = TextArg(call, 1);
  if (haystack.IsError()) return haystack;
  const Value start = IntegerArg(call, 2, 1);
  if (start.IsError()) return start;
  const qsizetype length = haystack.text.size();
  if (start.number < 1 || start.number > static_cast<double>(length + 1)) return Value::Error(ErrorCode::Value);
  const qsizetype from = static_cast<qsizetype>(start.number) - 1;
  if (needle.text.isEmpty()) return start;
  if (!wildcards) {
    const qsizetype at = haystack.text.indexOf(needle.text, from, Qt::CaseSensitive);
    return at < 0 ? Value::Error(ErrorCode::Value) : Value::Number(static_cast<double>(at + 1));
  }
  const QString prefix = needle.text + QLatin1Char('*');
  for (qsizetype at = from; at < length; ++at) {
    if (WildcardMatch(prefix, QStringView(haystack.text).mid(at))) return Value::Number(static_cast<double>(at + 1));
  }
  return Value::Error(ErrorCode::Value);
}

// SUBSTITUTE(text, old, new, [which]): every occurrence of old, or only
// the which-th; an empty old changes nothing.
Value Substitute(FunctionCall& call) {
  const Value text = TextArg(call, 0);
  if (text.IsError()) return text;
  const Value old = TextArg(call, 1);
  if (old.IsError()) return old;
  const Value replacement = TextArg(call, 2);
  if (replacement.IsError()) return replacement;
  double which = 0;
  if (call.Has(3)) {
    const Value n = IntegerArg(call, 3, 0);
    if (n.IsError()) return n;
    if (n.number < 1) return Value::Error(ErrorCode::Value);
    which = n.number;
  }
  if (old.text.isEmpty()) return text;
  QString out;
  qsizetype from = 0;
  double seen = 0;
  for (qsizetype at = text.text.indexOf(old.text); at >= 0; at = text.text.indexOf(old.text, at + old.text.size())) {
    ++seen;
    if (which != 0 && seen != which) continue;
    out += QStringView(text.text).mid(from, at - from);
    out += replacement.text;
    from = at + old.text.size();
    if (which != 0) break;
  }
  out += QStringView(text.text).mid(from);
  if (out.size() > kMaxText) return Value::Error(ErrorCode::Value);
  return Value::Text(out);
}

}  // namespace

void Functions::AddText(std::vector<FunctionInfo>& table) {
  table.push_back({32, "LEN", 1, 1, "V", &Len, true});
  table.push_back({115, "LEFT", 1, 2, "V", &Side<true>, true});
  table.push_back({116, "RIGHT", 1, 2, "V", &Side<false>, true});
  table.push_back({31, "MID", 3, 3, "V", &Mid, true});
  table.push_back({336, "CONCATENATE", 1, 30, "V", &Concatenate, true});
  table.push_back({118, "TRIM", 1, 1, "V", &Trim, true});
  table.push_back({113, "UPPER", 1, 1, "V", &ChangeCase<true>, true});
  table.push_back({112, "LOWER", 1, 1, "V", &ChangeCase<false>, true});
  table.push_back({117, "EXACT", 2, 2, "V", &Exact, true});
  table.push_back({33, "VALUE", 1, 1, "V", &ValueOf, true});
  table.push_back({30, "REPT", 2, 2, "V", &Rept, true});
  table.push_back({124, "FIND", 2, 3, "V", &Locate<false>, true});
  table.push_back({82, "SEARCH", 2, 3, "V", &Locate<true>, true});
  table.push_back({120, "SUBSTITUTE", 3, 4, "V", &Substitute, true});
}
