#include "libreoffice/FormulaSyntax.h"

#include <QRegularExpression>

#include <algorithm>
#include <optional>

namespace {

using Kind = FormulaPiece::Kind;

constexpr int kMaxColumn = 16384;  // XFD
constexpr int kMaxRow = 1048576;

const char* const kErrorValues[] = {"#NULL!", "#DIV/0!", "#VALUE!", "#REF!", "#NAME?", "#NUM!", "#N/A"};

bool IsNameStart(QChar c) { return c.isLetter() || c == u'_' || c == u'\\'; }
bool IsNameChar(QChar c) { return c.isLetterOrNumber() || c == u'_' || c == u'.' || c == u'\\' || c == u'?'; }
bool IsAsciiLetter(QChar c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }
bool IsDigit(QChar c) { return c >= u'0' && c <= u'9'; }

// Reads the formula text into pieces; the shape is checked afterwards.
class Lexer {
 public:
  explicit Lexer(const QString& text) : s_(text) {}

  FormulaReading Read() {
    FormulaReading reading;
    pos_ = 1;  // past the "="
    while (pos_ < s_.size() && reading.fault.isEmpty()) {
      if (!Next(reading)) break;
    }
    return reading;
  }

 private:
  QChar At(int i) const { return i < s_.size() ? s_[i] : QChar(); }

  bool Fail(FormulaReading& reading, const QString& fault, int offset) {
    reading.fault = fault;
    reading.faultOffset = offset;
    return false;
  }

  void Add(FormulaReading& reading, Kind kind, int end) {
    FormulaPiece piece;
    piece.kind = kind;
    piece.offset = pos_;
    piece.text = s_.mid(pos_, end - pos_);
    reading.pieces.push_back(std::move(piece));
    pos_ = end;
  }

  bool Next(FormulaReading& reading) {
    const QChar c = s_[pos_];
    if (c.isSpace()) {
      int end = pos_;
      while (end < s_.size() && s_[end].isSpace()) ++end;
      Add(reading, Kind::Blank, end);
      return true;
    }
    if (c == u'"') return Text(reading);
    if (c == u'#') return ErrorValue(reading);
    if (c == u'\'') return QuotedReference(reading);
    if (c == u'{') return Fail(reading, QStringLiteral("arrays of constants ({...}) are not taken"), pos_);
    if (c == u'[') return Fail(reading, QStringLiteral("references to other workbooks are not taken"), pos_);
    if (IsNameStart(c) || c == u'$' || IsDigit(c) || c == u'.') return Word(reading);
    static const char* const operators[] = {"<>", "<=", ">=", "+", "-", "*", "/", "^", "&", "=", "<", ">", "%", ":"};
    for (const char* op : operators) {
      const QLatin1String symbol(op);
      if (QStringView(s_).mid(pos_).startsWith(symbol)) {
        Add(reading, Kind::Operator, pos_ + static_cast<int>(symbol.size()));
        return true;
      }
    }
    if (c == u'(' || c == u')' || c == u',') {
      // A comma's meaning depends on where it stands: the check decides.
      Add(reading, c == u'(' ? Kind::Open : c == u')' ? Kind::Close : Kind::Separator, pos_ + 1);
      return true;
    }
    return Fail(reading, QStringLiteral("\"%1\" cannot stand in a formula").arg(c), pos_);
  }

  bool Text(FormulaReading& reading) {
    int i = pos_ + 1;
    for (;;) {
      if (i >= s_.size()) return Fail(reading, QStringLiteral("the text that begins here is not closed with \""), pos_);
      if (s_[i] == u'"') {
        if (At(i + 1) != u'"') break;
        ++i;
      }
      ++i;
    }
    Add(reading, Kind::Text, i + 1);
    return true;
  }

  bool ErrorValue(FormulaReading& reading) {
    for (const char* value : kErrorValues) {
      const QLatin1String name(value);
      if (QStringView(s_).mid(pos_).startsWith(name, Qt::CaseInsensitive)) {
        Add(reading, Kind::Error, pos_ + static_cast<int>(name.size()));
        reading.pieces.back().text = reading.pieces.back().text.toUpper();
        return true;
      }
    }
    return Fail(reading, QStringLiteral("this is not an error value (#N/A, #DIV/0!, #VALUE!, #REF!, #NAME?, #NUM!, #NULL!)"),
                pos_);
  }

  // 'Sheet name'!A1 or 'First:Last'!A1
  bool QuotedReference(FormulaReading& reading) {
    int i = pos_ + 1;
    QString sheets;
    for (;;) {
      if (i >= s_.size()) return Fail(reading, QStringLiteral("the sheet name that begins here is not closed with '"), pos_);
      if (s_[i] == u'\'') {
        if (At(i + 1) != u'\'') break;
        ++i;
      }
      sheets += s_[i];
      ++i;
    }
    if (At(i + 1) != u'!') return Fail(reading, QStringLiteral("a sheet name in quotes must be followed by \"!\""), i + 1);
    const int colon = static_cast<int>(sheets.indexOf(u':'));
    return SheetReference(reading, colon < 0 ? sheets : sheets.left(colon), colon < 0 ? QString() : sheets.mid(colon + 1),
                          i + 2);
  }

  bool SheetReference(FormulaReading& reading, const QString& first, const QString& last, int addressStart) {
    const int length = AddressLength(addressStart);
    if (length == 0) return Fail(reading, QStringLiteral("a cell reference must follow the sheet name"), addressStart);
    Add(reading, Kind::Reference, addressStart + length);
    FormulaPiece& piece = reading.pieces.back();
    piece.firstSheet = first;
    piece.lastSheet = last;
    piece.address = s_.mid(addressStart, length);
    return true;
  }

  // A name, a function, TRUE/FALSE, a reference (with an unquoted sheet
  // name or none) or a number.
  bool Word(FormulaReading& reading) {
    if (const std::optional<int> bang = UnquotedSheets()) {
      const QString sheets = s_.mid(pos_, *bang - pos_);
      const int colon = static_cast<int>(sheets.indexOf(u':'));
      return SheetReference(reading, colon < 0 ? sheets : sheets.left(colon), colon < 0 ? QString() : sheets.mid(colon + 1),
                            *bang + 1);
    }
    if (const int length = AddressLength(pos_)) {
      Add(reading, Kind::Reference, pos_ + length);
      reading.pieces.back().address = reading.pieces.back().text;
      return true;
    }
    const QChar c = s_[pos_];
    if (IsDigit(c) || c == u'.') return Number(reading);
    if (!IsNameStart(c)) return Fail(reading, QStringLiteral("\"$\" must begin a cell reference here"), pos_);
    int end = pos_ + 1;
    while (end < s_.size() && IsNameChar(s_[end])) ++end;
    const QString word = s_.mid(pos_, end - pos_);
    if (At(end) == u'(') {
      Add(reading, Kind::Function, end);
    } else if (word.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0 ||
               word.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) == 0) {
      Add(reading, Kind::Boolean, end);
    } else {
      Add(reading, Kind::Name, end);
    }
    return true;
  }

  bool Number(FormulaReading& reading) {
    int i = pos_;
    int digits = 0;
    const auto digitsFrom = [&] {
      for (; IsDigit(At(i)); ++i) ++digits;
    };
    digitsFrom();
    if (At(i) == u'.') {
      ++i;
      digitsFrom();
    }
    if (digits == 0) return Fail(reading, QStringLiteral("this is not a number"), pos_);
    if ((At(i) == u'e' || At(i) == u'E')) {
      int e = i + 1;
      if (At(e) == u'+' || At(e) == u'-') ++e;
      if (!IsDigit(At(e))) return Fail(reading, QStringLiteral("the number's exponent has no digits"), i);
      while (IsDigit(At(e))) ++e;
      i = e;
    }
    Add(reading, Kind::Number, i);
    return true;
  }

  // The "!" after Sheet or First:Last at the current place, if there is one.
  std::optional<int> UnquotedSheets() const {
    int i = pos_;
    for (int part = 0; part < 2; ++part) {
      if (i >= s_.size() || !IsNameStart(s_[i])) return std::nullopt;
      while (i < s_.size() && IsNameChar(s_[i]) && s_[i] != u'?') ++i;
      if (At(i) == u'!') return i;
      if (At(i) != u':' || part == 1) return std::nullopt;
      ++i;
    }
    return std::nullopt;
  }

  // Length of "$A$1", "A1:B2", "A:C" or "2:5" at i, when one stands there
  // whole (not the start of a longer name or a function's name).
  int AddressLength(int i) const {
    int end = Cell(i);
    if (end > 0 && At(end) == u':') {
      const int second = Cell(end + 1);
      if (second > 0) end = second;
    }
    if (end <= 0) {
      const int firstColumn = Column(i);
      if (firstColumn > 0 && At(firstColumn) == u':') end = Column(firstColumn + 1);
    }
    if (end <= 0) {
      const int firstRow = Row(i);
      if (firstRow > 0 && At(firstRow) == u':') end = Row(firstRow + 1);
    }
    if (end <= 0) return 0;
    if (end < s_.size() && (IsNameChar(s_[end]) || s_[end] == u'(' || s_[end] == u'$')) return 0;
    return end - i;
  }

  int Column(int i) const {
    if (At(i) == u'$') ++i;
    int value = 0;
    int letters = 0;
    while (i < s_.size() && IsAsciiLetter(s_[i]) && letters < 4) {
      value = value * 26 + (s_[i].toUpper().unicode() - u'A' + 1);
      ++i;
      ++letters;
    }
    if (letters == 0 || letters > 3 || value > kMaxColumn) return -1;
    return i;
  }

  int Row(int i) const {
    if (At(i) == u'$') ++i;
    qint64 value = 0;
    int digits = 0;
    while (i < s_.size() && IsDigit(s_[i]) && digits < 8) {
      value = value * 10 + (s_[i].unicode() - u'0');
      ++i;
      ++digits;
    }
    if (digits == 0 || value < 1 || value > kMaxRow || (i < s_.size() && IsDigit(s_[i]))) return -1;
    return i;
  }

  int Cell(int i) const {
    const int column = Column(i);
    return column > 0 ? Row(column) : -1;
  }

  const QString& s_;
  int pos_ = 1;
};

// Checks the pieces' order: an operand wherever one is expected, a
// parenthesis closed for each opened; marks the commas and blanks that are
// operators.
class ShapeCheck {
 public:
  explicit ShapeCheck(FormulaReading& reading) : r_(reading) {}

  void Run(int textLength) {
    auto& pieces = r_.pieces;
    for (size_t i = 0; i < pieces.size() && r_.fault.isEmpty(); ++i) {
      FormulaPiece& piece = pieces[i];
      if (piece.kind == Kind::Blank) {
        if (expectOperator_) Blank(i);
        continue;
      }
      if (expectOperator_) {
        AfterOperand(piece);
      } else {
        BeforeOperand(piece);
      }
      justOpenedCall_ = piece.kind == Kind::Open && !frames_.empty() && frames_.back().call;
      if (piece.kind == Kind::Separator && !frames_.empty() && frames_.back().call) justOpenedCall_ = true;
    }
    if (!r_.fault.isEmpty()) return;
    if (pieces.empty() || std::all_of(pieces.begin(), pieces.end(), [](const FormulaPiece& p) { return p.kind == Kind::Blank; })) {
      Fail(QStringLiteral("the formula is empty"), textLength);
    } else if (!frames_.empty()) {
      Fail(QStringLiteral("the \"(\" at character %1 is not closed").arg(frames_.back().offset + 1), textLength);
    } else if (!expectOperator_) {
      Fail(QStringLiteral("the formula ends where an operand is expected"), textLength);
    }
  }

 private:
  struct Frame {
    bool call = false;  // a function's arguments, or plain parentheses
    int offset = 0;
  };

  static bool StartsOperand(Kind kind) {
    return kind == Kind::Number || kind == Kind::Text || kind == Kind::Boolean || kind == Kind::Error ||
           kind == Kind::Reference || kind == Kind::Name || kind == Kind::Function || kind == Kind::Open;
  }
  static bool RefersToCells(Kind kind) {
    return kind == Kind::Reference || kind == Kind::Name || kind == Kind::Function || kind == Kind::Open;
  }

  void Fail(const QString& fault, int offset) {
    r_.fault = fault;
    r_.faultOffset = offset;
  }

  void BeforeOperand(FormulaPiece& piece) {
    switch (piece.kind) {
      case Kind::Operator:
        if (piece.text == u'+' || piece.text == u'-') return;  // a sign
        Fail(QStringLiteral("an operand is missing before \"%1\"").arg(piece.text), piece.offset);
        return;
      case Kind::Function:
        previousFunction_ = true;  // its "(" follows at once and opens its arguments
        return;
      case Kind::Open:
        frames_.push_back({previousFunction_, piece.offset});
        previousFunction_ = false;
        return;
      case Kind::Close:
      case Kind::Separator:
        // An argument left out: "IF(A1,,2)", "SUM()".
        if (justOpenedCall_) {
          if (piece.kind == Kind::Close) Close(piece);
          return;
        }
        Fail(QStringLiteral("an operand is missing before \"%1\"").arg(piece.text), piece.offset);
        return;
      default:
        expectOperator_ = true;
        lastRefersToCells_ = RefersToCells(piece.kind);
        return;
    }
  }

  void AfterOperand(FormulaPiece& piece) {
    if (piece.kind == Kind::Operator) {
      if (piece.text != u'%') expectOperator_ = false;
      lastRefersToCells_ = false;
      return;
    }
    if (piece.kind == Kind::Close) {
      Close(piece);
      return;
    }
    if (piece.kind == Kind::Separator) {
      if (frames_.empty()) {
        Fail(QStringLiteral("\",\" stands outside a function's arguments"), piece.offset);
        return;
      }
      if (!frames_.back().call) piece.kind = Kind::Union;
      expectOperator_ = false;
      return;
    }
    Fail(QStringLiteral("an operator is missing before this"), piece.offset);
  }

  void Close(const FormulaPiece& piece) {
    if (frames_.empty()) {
      Fail(QStringLiteral("this \")\" has no \"(\" before it"), piece.offset);
      return;
    }
    frames_.pop_back();
    expectOperator_ = true;
    lastRefersToCells_ = true;  // a function (INDEX) or a group may give cells
  }

  // Blanks after an operand: an intersection when cells stand on both sides.
  void Blank(size_t i) {
    auto& pieces = r_.pieces;
    size_t next = i + 1;
    while (next < pieces.size() && pieces[next].kind == Kind::Blank) ++next;
    if (next >= pieces.size() || !StartsOperand(pieces[next].kind)) return;
    if (!lastRefersToCells_ || !RefersToCells(pieces[next].kind)) {
      Fail(QStringLiteral("an operator is missing before this"), pieces[next].offset);
      return;
    }
    pieces[i].kind = Kind::Intersection;
    expectOperator_ = false;
  }

  FormulaReading& r_;
  std::vector<Frame> frames_;
  bool expectOperator_ = false;
  bool lastRefersToCells_ = false;
  bool justOpenedCall_ = false;
  bool previousFunction_ = false;
};

}  // namespace

FormulaReading ReadFormula(const QString& formula) {
  FormulaReading reading = Lexer(formula).Read();
  if (!reading.fault.isEmpty()) return reading;
  ShapeCheck check(reading);
  check.Run(static_cast<int>(formula.size()));
  return reading;
}

QString SheetNameInFormula(const QString& name) {
  static const QRegularExpression plain(QStringLiteral(R"(^[A-Za-z_\\][A-Za-z0-9_.]*$)"));
  // Names that would read as a cell (A1, R1C1), a boolean or a number need quotes.
  static const QRegularExpression cellLike(QStringLiteral(R"(^(?:[A-Za-z]{1,3}\d+|[Rr]\d*(?:[Cc]\d*)?|[Cc]\d*)$)"));
  const bool needsQuotes = !plain.match(name).hasMatch() || cellLike.match(name).hasMatch() ||
                           name.compare(QLatin1String("TRUE"), Qt::CaseInsensitive) == 0 ||
                           name.compare(QLatin1String("FALSE"), Qt::CaseInsensitive) == 0;
  if (!needsQuotes) return name;
  QString quoted = name;
  quoted.replace(QLatin1String("'"), QLatin1String("''"));
  return QLatin1Char('\'') + quoted + QLatin1Char('\'');
}

QString ColumnLetters(int column) {
  QString letters;
  for (int n = column + 1; n > 0; n = (n - 1) / 26) letters.prepend(QChar(u'A' + (n - 1) % 26));
  return letters;
}
