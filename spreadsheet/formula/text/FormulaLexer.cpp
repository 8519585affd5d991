#include "spreadsheet/formula/text/FormulaLexer.h"

#include "spreadsheet/formula/text/CellAddress.h"
#include "spreadsheet/model/CellErrors.h"

#include <QRegularExpression>

#include <cmath>

namespace {

bool IsWordStart(QChar c) { return c.isLetter() || c == QLatin1Char('_') || c == QLatin1Char('\\'); }
bool IsWordChar(QChar c) {
  return c.isLetterOrNumber() || c == QLatin1Char('_') || c == QLatin1Char('.') || c == QLatin1Char('\\');
}

class Lexer {
 public:
  Lexer(QStringView text, int offset) : text_(text.toString()), offset_(offset) {}

  std::vector<LexToken> Run();

 private:
  [[noreturn]] void Fail(qsizetype at, const QString& reason) const {
    throw FormulaTextError{offset_ + static_cast<int>(at) + 1, reason};
  }
  QChar At(qsizetype i) const { return i < text_.size() ? text_[i] : QChar(); }
  LexToken Make(LexToken::Kind kind, qsizetype at) const {
    LexToken token;
    token.kind = kind;
    token.position = offset_ + static_cast<int>(at) + 1;
    return token;
  }
  void Text();
  void ErrorConstant();
  void QuotedSheet();
  void Number();
  void Word();
  bool Operator();
  // A reference at pos_ (after a sheet prefix when sheets is set); false
  // when none is there.
  bool Reference(LexToken& token);
  void ReferenceAfterSheet(LexToken token, qsizetype sheetAt);
  bool EndsHere(qsizetype end) const {
    const QChar next = At(end);
    return next.isNull() || (!IsWordChar(next) && next != QLatin1Char('(') && next != QLatin1Char('$'));
  }

  QString text_;
  int offset_;
  qsizetype pos_ = 0;
  std::vector<LexToken> tokens_;
};

std::vector<LexToken> Lexer::Run() {
  while (pos_ < text_.size()) {
    const QChar c = text_[pos_];
    if (c.isSpace()) {
      const qsizetype start = pos_;
      while (pos_ < text_.size() && text_[pos_].isSpace()) ++pos_;
      tokens_.push_back(Make(LexToken::Kind::Blank, start));
    } else if (c == QLatin1Char('"')) {
      Text();
    } else if (c == QLatin1Char('#')) {
      ErrorConstant();
    } else if (c == QLatin1Char('\'')) {
      QuotedSheet();
    } else if (c.isDigit() || (c == QLatin1Char('.') && At(pos_ + 1).isDigit())) {
      LexToken token = Make(LexToken::Kind::Reference, pos_);
      if (!Reference(token)) Number();
    } else if (c == QLatin1Char('$')) {
      LexToken token = Make(LexToken::Kind::Reference, pos_);
      if (!Reference(token)) Fail(pos_, QStringLiteral("a $ must stand before a column or a row of a reference"));
    } else if (IsWordStart(c)) {
      Word();
    } else if (!Operator()) {
      Fail(pos_, QStringLiteral("the character %1 has no meaning here").arg(c));
    }
  }
  tokens_.push_back(Make(LexToken::Kind::End, pos_));
  return std::move(tokens_);
}

void Lexer::Text() {
  LexToken token = Make(LexToken::Kind::Text, pos_);
  const qsizetype start = pos_++;
  for (;;) {
    if (pos_ >= text_.size()) Fail(start, QStringLiteral("a text is not closed: its second \" is missing"));
    if (text_[pos_] == QLatin1Char('"')) {
      if (At(pos_ + 1) != QLatin1Char('"')) break;
      ++pos_;  // "" stands for one "
    }
    token.text += text_[pos_++];
  }
  ++pos_;
  tokens_.push_back(std::move(token));
}

void Lexer::ErrorConstant() {
  static const char* const kNames[] = {"#NULL!", "#DIV/0!", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#N/A"};
  for (const char* name : kNames) {
    const QLatin1String candidate(name);
    if (QStringView(text_).mid(pos_).startsWith(candidate, Qt::CaseInsensitive)) {
      LexToken token = Make(LexToken::Kind::Error, pos_);
      token.error = static_cast<uint8_t>(*ErrorFromName(QString(candidate)));
      pos_ += candidate.size();
      tokens_.push_back(std::move(token));
      return;
    }
  }
  Fail(pos_, QStringLiteral("there is no error value of that name (#NULL!, #DIV/0!, #VALUE!, #REF!, #NAME?, #NUM!, #N/A)"));
}

void Lexer::QuotedSheet() {
  const qsizetype start = pos_++;
  QString name;
  for (;;) {
    if (pos_ >= text_.size()) Fail(start, QStringLiteral("a quoted sheet name is not closed: its second ' is missing"));
    if (text_[pos_] == QLatin1Char('\'')) {
      if (At(pos_ + 1) != QLatin1Char('\'')) break;
      ++pos_;
    }
    name += text_[pos_++];
  }
  ++pos_;
  if (At(pos_) != QLatin1Char('!')) Fail(pos_, QStringLiteral("a quoted sheet name must be followed by ! and a reference"));
  ++pos_;
  LexToken token = Make(LexToken::Kind::Reference, start);
  token.reference.hasSheet = true;
  // A sheet name cannot hold ":", so one here separates the first and last sheet.
  const qsizetype colon = name.indexOf(QLatin1Char(':'));
  token.reference.sheetFirst = colon < 0 ? name : name.left(colon);
  token.reference.sheetLast = colon < 0 ? QString() : name.mid(colon + 1);
  ReferenceAfterSheet(std::move(token), start);
}

void Lexer::ReferenceAfterSheet(LexToken token, qsizetype sheetAt) {
  if (QStringView(text_).mid(pos_).startsWith(QLatin1String("#REF!"), Qt::CaseInsensitive)) {
    token.reference.kind = ReferenceText::Kind::Deleted;
    pos_ += 5;
    tokens_.push_back(std::move(token));
    return;
  }
  if (!Reference(token)) {
    Fail(pos_, QStringLiteral("a cell reference must follow %1!").arg(text_.mid(sheetAt, pos_ - sheetAt - 1)));
  }
}

void Lexer::Number() {
  static const QRegularExpression number(QStringLiteral("[0-9]*(\\.[0-9]*)?([eE][+-]?[0-9]+)?"));
  const QRegularExpressionMatch m = number.match(text_, pos_, QRegularExpression::NormalMatch,
                                                 QRegularExpression::AnchorAtOffsetMatchOption);
  LexToken token = Make(LexToken::Kind::Number, pos_);
  bool ok = false;
  token.number = m.captured(0).toDouble(&ok);
  if (!ok || !std::isfinite(token.number)) Fail(pos_, QStringLiteral("%1 is not a number a cell can hold").arg(m.captured(0)));
  pos_ += m.capturedLength(0);
  if (IsWordChar(At(pos_))) Fail(pos_, QStringLiteral("a number cannot run on into letters"));
  tokens_.push_back(std::move(token));
}

void Lexer::Word() {
  const qsizetype start = pos_;
  qsizetype end = pos_;
  while (end < text_.size() && IsWordChar(text_[end])) ++end;
  const QString word = text_.mid(start, end - start);
  LexToken token = Make(LexToken::Kind::Reference, start);
  if (At(end) == QLatin1Char('!')) {
    token.reference.hasSheet = true;
    token.reference.sheetFirst = word;
    pos_ = end + 1;
    ReferenceAfterSheet(std::move(token), start);
    return;
  }
  if (At(end) == QLatin1Char(':') && IsWordStart(At(end + 1))) {
    qsizetype second = end + 1;
    while (second < text_.size() && IsWordChar(text_[second])) ++second;
    if (At(second) == QLatin1Char('!')) {
      token.reference.hasSheet = true;
      token.reference.sheetFirst = word;
      token.reference.sheetLast = text_.mid(end + 1, second - end - 1);
      pos_ = second + 1;
      ReferenceAfterSheet(std::move(token), start);
      return;
    }
  }
  if (At(end) == QLatin1Char('(')) {
    token.kind = LexToken::Kind::Function;
    token.text = word;
    pos_ = end;
    tokens_.push_back(std::move(token));
    return;
  }
  if (Reference(token)) return;
  token.kind = LexToken::Kind::Name;
  token.text = word;
  pos_ = end;
  tokens_.push_back(std::move(token));
}

bool Lexer::Operator() {
  static const char* const kTwo[] = {"<>", "<=", ">="};
  for (const char* op : kTwo) {
    if (QStringView(text_).mid(pos_).startsWith(QLatin1String(op))) {
      LexToken token = Make(LexToken::Kind::Operator, pos_);
      token.text = QLatin1String(op);
      pos_ += 2;
      tokens_.push_back(std::move(token));
      return true;
    }
  }
  const QChar c = text_[pos_];
  LexToken::Kind kind = LexToken::Kind::Operator;
  switch (c.unicode()) {
    case u'+': case u'-': case u'*': case u'/': case u'^': case u'&': case u'%': case u'=': case u'<': case u'>':
      break;
    case u':': kind = LexToken::Kind::Colon; break;
    case u',': kind = LexToken::Kind::Comma; break;
    case u';': kind = LexToken::Kind::Semicolon; break;
    case u'(': kind = LexToken::Kind::Open; break;
    case u')': kind = LexToken::Kind::Close; break;
    case u'{': kind = LexToken::Kind::OpenBrace; break;
    case u'}': kind = LexToken::Kind::CloseBrace; break;
    default: return false;
  }
  LexToken token = Make(kind, pos_);
  token.text = c;
  ++pos_;
  tokens_.push_back(std::move(token));
  return true;
}

bool Lexer::Reference(LexToken& token) {
  static const QRegularExpression area(
      QStringLiteral("(\\$?)([A-Za-z]{1,2})(\\$?)([0-9]{1,5}):(\\$?)([A-Za-z]{1,2})(\\$?)([0-9]{1,5})"));
  static const QRegularExpression cell(QStringLiteral("(\\$?)([A-Za-z]{1,2})(\\$?)([0-9]{1,5})"));
  static const QRegularExpression columns(QStringLiteral("(\\$?)([A-Za-z]{1,2}):(\\$?)([A-Za-z]{1,2})"));
  static const QRegularExpression rows(QStringLiteral("(\\$?)([0-9]{1,5}):(\\$?)([0-9]{1,5})"));
  const auto match = [this](const QRegularExpression& re) {
    const QRegularExpressionMatch m =
        re.match(text_, pos_, QRegularExpression::NormalMatch, QRegularExpression::AnchorAtOffsetMatchOption);
    return m.hasMatch() && EndsHere(m.capturedEnd(0)) ? m : QRegularExpressionMatch();
  };
  const auto row = [](const QString& digits, uint32_t& out) {
    const uint32_t value = digits.toUInt();
    if (value < 1 || value > CellAddress::kLastRow + 1) return false;
    out = value - 1;
    return true;
  };
  const auto col = [](const QString& letters, uint32_t& out) {
    const std::optional<uint32_t> value = CellAddress::ColumnOf(letters);
    if (value) out = *value;
    return value.has_value();
  };
  const auto dollar = [](const QRegularExpressionMatch& m, int group) { return !m.captured(group).isEmpty(); };
  ReferenceText& ref = token.reference;
  QRegularExpressionMatch m;
  if ((m = match(area)).hasMatch()) {
    ref.kind = ReferenceText::Kind::Area;
    for (int i = 0; i < 2; ++i) {
      if (!col(m.captured(2 + 4 * i), ref.col[i]) || !row(m.captured(4 + 4 * i), ref.row[i])) return false;
      ref.colAbsolute[i] = dollar(m, 1 + 4 * i);
      ref.rowAbsolute[i] = dollar(m, 3 + 4 * i);
    }
  } else if ((m = match(columns)).hasMatch()) {
    ref.kind = ReferenceText::Kind::Columns;
    for (int i = 0; i < 2; ++i) {
      if (!col(m.captured(2 + 2 * i), ref.col[i])) return false;
      ref.colAbsolute[i] = dollar(m, 1 + 2 * i);
    }
  } else if ((m = match(rows)).hasMatch()) {
    ref.kind = ReferenceText::Kind::Rows;
    for (int i = 0; i < 2; ++i) {
      if (!row(m.captured(2 + 2 * i), ref.row[i])) return false;
      ref.rowAbsolute[i] = dollar(m, 1 + 2 * i);
    }
  } else if ((m = match(cell)).hasMatch()) {
    ref.kind = ReferenceText::Kind::Cell;
    if (!col(m.captured(2), ref.col[0]) || !row(m.captured(4), ref.row[0])) return false;
    ref.colAbsolute[0] = dollar(m, 1);
    ref.rowAbsolute[0] = dollar(m, 3);
  } else {
    return false;
  }
  pos_ = m.capturedEnd(0);
  tokens_.push_back(token);
  return true;
}

}  // namespace

std::vector<LexToken> LexFormula(QStringView text, int offset) { return Lexer(text, offset).Run(); }
