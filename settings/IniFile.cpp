#include "settings/IniFile.h"

#include <QFile>
#include <QSaveFile>

#include <optional>
#include <vector>

namespace {

// One physical line of the file, kept byte for byte so untouched lines survive a write.
struct Line {
  QByteArray text;     // without its terminator
  QByteArray ending;   // "\n", "\r\n" or empty for a last line without one
};

std::vector<Line> SplitLines(const QByteArray& data) {
  std::vector<Line> lines;
  qsizetype start = 0;
  while (start < data.size()) {
    qsizetype nl = data.indexOf('\n', start);
    if (nl < 0) {
      lines.push_back({data.mid(start), {}});
      break;
    }
    qsizetype end = nl;
    QByteArray ending = "\n";
    if (end > start && data[end - 1] == '\r') {
      --end;
      ending = "\r\n";
    }
    lines.push_back({data.mid(start, end - start), ending});
    start = nl + 1;
  }
  return lines;
}

std::optional<QByteArray> ReadWholeFile(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  return file.readAll();
}

// "[name]" gives the trimmed name; other lines give nothing.
std::optional<QString> SectionName(const QByteArray& line) {
  const QByteArray t = line.trimmed();
  if (!t.startsWith('[')) return std::nullopt;
  qsizetype close = t.indexOf(']');
  if (close < 0) close = t.size();
  return QString::fromUtf8(t.mid(1, close - 1)).trimmed();
}

struct KeyValue {
  QString key;
  QString value;
};

std::optional<KeyValue> ParseKeyLine(const QByteArray& line) {
  const qsizetype eq = line.indexOf('=');
  if (eq < 0) return std::nullopt;
  const QString key = QString::fromUtf8(line.left(eq)).trimmed();
  if (key.isEmpty() || key.startsWith(';')) return std::nullopt;
  QString value = QString::fromUtf8(line.mid(eq + 1)).trimmed();
  // The profile API drops one pair of matching quotes around a value.
  if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
    value = value.mid(1, value.size() - 2);
  return KeyValue{key, value};
}

bool SameName(const QString& a, const QString& b) { return a.compare(b, Qt::CaseInsensitive) == 0; }

struct Location {
  std::optional<size_t> sectionLine;  // the header line
  std::optional<size_t> keyLine;      // the key line inside it
  size_t lastContentLine = 0;         // last non-blank line of the section
};

Location Locate(const std::vector<Line>& lines, const QString& section, const QString& key) {
  Location loc;
  bool inside = false;
  for (size_t i = 0; i < lines.size(); ++i) {
    if (auto name = SectionName(lines[i].text)) {
      if (inside) break;  // the first matching section is the one used
      inside = SameName(*name, section);
      if (inside) loc.sectionLine = loc.lastContentLine = i;
      continue;
    }
    if (!inside) continue;
    if (!lines[i].text.trimmed().isEmpty()) loc.lastContentLine = i;
    if (auto kv = ParseKeyLine(lines[i].text); kv && SameName(kv->key, key)) {
      loc.keyLine = i;
      break;
    }
  }
  return loc;
}

QByteArray DominantEnding(const std::vector<Line>& lines) {
  for (const Line& l : lines)
    if (!l.ending.isEmpty()) return l.ending;
  return "\n";
}

}  // namespace

ESettingsWriteError::ESettingsWriteError(const QString& fullPath)
    : std::runtime_error(QStringLiteral("Unable to write to %1").arg(fullPath).toStdString()) {}

IniFile::IniFile(QString fullPath) : path_(std::move(fullPath)) {}

QString IniFile::ReadString(const QString& section, const QString& key, const QString& defaultValue) const {
  const auto data = ReadWholeFile(path_);
  if (!data) return defaultValue;
  const std::vector<Line> lines = SplitLines(*data);
  const Location loc = Locate(lines, section, key);
  if (!loc.keyLine) return defaultValue;
  return ParseKeyLine(lines[*loc.keyLine].text)->value.left(kMaxValueLength);
}

int IniFile::ReadInteger(const QString& section, const QString& key, int defaultValue) const {
  int value = 0;
  return ParseProfileInteger(ReadString(section, key, QString()), value) ? value : defaultValue;
}

void IniFile::WriteString(const QString& section, const QString& key, const QString& value) {
  std::vector<Line> lines = SplitLines(ReadWholeFile(path_).value_or(QByteArray()));
  const QByteArray eol = DominantEnding(lines);
  const Location loc = Locate(lines, section, key);
  const QByteArray keyLine = (key + '=' + value).toUtf8();

  if (loc.keyLine) {
    // Keep the key's spelling as the file has it; only the value changes.
    const QByteArray& old = lines[*loc.keyLine].text;
    lines[*loc.keyLine].text = old.left(old.indexOf('=') + 1) + value.toUtf8();
  } else if (loc.sectionLine) {
    Line& after = lines[loc.lastContentLine];
    if (after.ending.isEmpty()) after.ending = eol;
    lines.insert(lines.begin() + static_cast<std::ptrdiff_t>(loc.lastContentLine) + 1, Line{keyLine, eol});
  } else {
    if (!lines.empty()) {
      if (lines.back().ending.isEmpty()) lines.back().ending = eol;
      if (!lines.back().text.trimmed().isEmpty()) lines.push_back({{}, eol});
    }
    lines.push_back({('[' + section + ']').toUtf8(), eol});
    lines.push_back({keyLine, eol});
  }

  QSaveFile out(path_);
  if (!out.open(QIODevice::WriteOnly)) throw ESettingsWriteError(path_);
  for (const Line& l : lines) {
    if (out.write(l.text) != l.text.size() || out.write(l.ending) != l.ending.size()) {
      out.cancelWriting();
      throw ESettingsWriteError(path_);
    }
  }
  if (!out.commit()) throw ESettingsWriteError(path_);
}

void IniFile::WriteInteger(const QString& section, const QString& key, int value) {
  WriteString(section, key, QString::number(value));
}

bool ParseProfileInteger(const QString& text, int& result) {
  QString s = text.trimmed();
  bool negative = false;
  if (s.startsWith('-') || s.startsWith('+')) {
    negative = s.front() == '-';
    s.remove(0, 1);
  }
  int base = 10;
  if (s.startsWith(QLatin1String("0x"), Qt::CaseInsensitive) && s.size() > 2) {
    base = 16;
    s.remove(0, 2);
  } else if (s.startsWith('$')) {
    base = 16;
    s.remove(0, 1);
  }
  if (s.isEmpty()) return false;
  qint64 value = 0;
  for (QChar c : s) {
    const int digit = c.isDigit() ? c.digitValue()
                      : (base == 16 && c.toLower() >= 'a' && c.toLower() <= 'f') ? c.toLower().unicode() - 'a' + 10
                                                                                 : -1;
    if (digit < 0 || digit >= base) return false;
    value = value * base + digit;
    // Hexadecimal may fill all 32 bits; decimal must fit a signed integer.
    if (value > (base == 16 ? 0xFFFFFFFFLL : 0x80000000LL)) return false;
  }
  if (base == 10 && !negative && value > 0x7FFFFFFFLL) return false;
  if (negative) value = -value;
  result = static_cast<int>(static_cast<qint32>(static_cast<quint32>(value)));
  return true;
}
