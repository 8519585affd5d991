#include "spreadsheet/formula/CellCriteria.h"

#include <cstring>
#include <vector>

namespace {

struct PatternChar {
  QChar ch;
  bool any = false;   // *
  bool one = false;   // ?
};

std::vector<PatternChar> Compile(QStringView pattern) {
  std::vector<PatternChar> out;
  for (qsizetype i = 0; i < pattern.size(); ++i) {
    const QChar c = pattern[i];
    if (c == QLatin1Char('~') && i + 1 < pattern.size()) {
      out.push_back({pattern[++i].toCaseFolded()});
    } else if (c == QLatin1Char('*')) {
      out.push_back({c, true, false});
    } else if (c == QLatin1Char('?')) {
      out.push_back({c, false, true});
    } else {
      out.push_back({c.toCaseFolded()});
    }
  }
  return out;
}

bool HasWildcards(QStringView text) {
  return text.contains(QLatin1Char('*')) || text.contains(QLatin1Char('?')) || text.contains(QLatin1Char('~'));
}

}  // namespace

bool WildcardMatch(QStringView patternText, QStringView text) {
  const std::vector<PatternChar> pattern = Compile(patternText);
  size_t p = 0;
  qsizetype t = 0;
  size_t starP = SIZE_MAX;
  qsizetype starT = 0;
  while (t < text.size()) {
    if (p < pattern.size() && !pattern[p].any && (pattern[p].one || pattern[p].ch == text[t].toCaseFolded())) {
      ++p;
      ++t;
    } else if (p < pattern.size() && pattern[p].any) {
      starP = p++;
      starT = t;
    } else if (starP != SIZE_MAX) {
      p = starP + 1;
      t = ++starT;
    } else {
      return false;
    }
  }
  while (p < pattern.size() && pattern[p].any) ++p;
  return p == pattern.size();
}

CellCriterion::CellCriterion(const Value& criteria) {
  if (criteria.kind != Value::Kind::Text) {
    operand_ = criteria.kind == Value::Kind::Empty || criteria.kind == Value::Kind::Missing ? Value::Text(QString()) : criteria;
    matchesEmpty_ = operand_.kind == Value::Kind::Text;
    return;
  }
  QStringView rest(criteria.text);
  bool explicitEqual = false;
  static const std::pair<const char*, Op> kPrefixes[] = {{"<=", Op::LessEqual}, {">=", Op::GreaterEqual},
                                                         {"<>", Op::NotEqual},  {"<", Op::Less},
                                                         {">", Op::Greater},    {"=", Op::Equal}};
  for (const auto& [prefix, op] : kPrefixes) {
    if (rest.startsWith(QLatin1String(prefix))) {
      op_ = op;
      explicitEqual = op == Op::Equal;
      rest = rest.sliced(static_cast<qsizetype>(std::strlen(prefix)));
      break;
    }
  }
  if (rest.isEmpty()) {
    operand_ = Value::Text(QString());
    emptyOnly_ = explicitEqual;
    matchesEmpty_ = op_ == Op::Equal;
    return;
  }
  if (const std::optional<double> number = Coerce::NumberFromText(rest)) {
    operand_ = Value::Number(*number);
  } else if (rest.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0 ||
             rest.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) == 0) {
    operand_ = Value::Boolean(rest.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0);
  } else if (const std::optional<ErrorCode> error = ErrorFromName(rest)) {
    operand_ = Value::Error(*error);
  } else {
    operand_ = Value::Text(rest.toString());
    wildcard_ = (op_ == Op::Equal || op_ == Op::NotEqual) && HasWildcards(rest);
  }
  matchesEmpty_ = op_ == Op::NotEqual;
}

bool CellCriterion::Compare(int order) const {
  switch (op_) {
    case Op::Less: return order < 0;
    case Op::LessEqual: return order <= 0;
    case Op::Greater: return order > 0;
    case Op::GreaterEqual: return order >= 0;
    default: return order == 0;
  }
}

bool CellCriterion::MatchesNumber(double x) const {
  if (operand_.kind != Value::Kind::Number) return op_ == Op::NotEqual;
  if (op_ == Op::Equal || op_ == Op::NotEqual) return (x == operand_.number) == (op_ == Op::Equal);
  return Compare(x < operand_.number ? -1 : (x > operand_.number ? 1 : 0));
}

bool CellCriterion::Matches(const Value& cell) const {
  if (cell.kind == Value::Kind::Empty) return matchesEmpty_;
  if (op_ == Op::Equal || op_ == Op::NotEqual) {
    bool equal = false;
    switch (operand_.kind) {
      case Value::Kind::Number:
        if (cell.kind == Value::Kind::Number) {
          equal = cell.number == operand_.number;
        } else if (cell.kind == Value::Kind::Text) {
          const std::optional<double> number = Coerce::NumberFromText(cell.text);
          equal = number && *number == operand_.number;
        }
        break;
      case Value::Kind::Text:
        if (cell.kind == Value::Kind::Text) {
          equal = emptyOnly_ ? false
                  : wildcard_ ? WildcardMatch(operand_.text, cell.text)
                              : cell.text.compare(operand_.text, Qt::CaseInsensitive) == 0;
        }
        break;
      case Value::Kind::Boolean: equal = cell.kind == Value::Kind::Boolean && cell.boolean == operand_.boolean; break;
      case Value::Kind::Error: equal = cell.kind == Value::Kind::Error && cell.error == operand_.error; break;
      default: break;
    }
    return op_ == Op::Equal ? equal : !equal;
  }
  // The order comparisons only look at cells of the operand's type.
  if (cell.kind != operand_.kind || cell.IsError()) return false;
  return Compare(Coerce::Compare(cell, operand_));
}
