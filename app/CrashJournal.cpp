#include "app/CrashJournal.h"

#include "settings/StateFolder.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QByteArray kMagic = QByteArrayLiteral("CellfeedWizard crash journal 1");
const QString kSuffix = QStringLiteral(".journal");
constexpr int kFixedFields = 5;  // "S", number, row, time, count

QString ErrorText(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// "The crash journal "<path>" cannot be written (No space left on device)."
[[noreturn]] void Fail(const QString& what, const QString& path, int error,
                       const QString& file = QStringLiteral("The crash journal")) {
  throw JournalError(QStringLiteral("%1 \"%2\" cannot be %3 (%4).")
                         .arg(file, QDir::toNativeSeparators(path), what, ErrorText(error)));
}

QByteArray Escape(const QString& text) {
  QByteArray out;
  for (const char c : text.toUtf8()) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default:
        if (static_cast<unsigned char>(c) < 0x20) {
          out += "\\x" + QByteArray::number(static_cast<unsigned char>(c), 16).rightJustified(2, '0');
        } else {
          out += c;
        }
    }
  }
  return out;
}

std::optional<QString> Unescape(const QByteArray& field) {
  QByteArray out;
  for (qsizetype i = 0; i < field.size(); ++i) {
    if (field[i] != '\\') {
      out += field[i];
      continue;
    }
    if (++i >= field.size()) return std::nullopt;
    switch (field[i]) {
      case '\\': out += '\\'; break;
      case 't': out += '\t'; break;
      case 'n': out += '\n'; break;
      case 'r': out += '\r'; break;
      case 'x': {
        bool ok = false;
        const int code = field.mid(i + 1, 2).toInt(&ok, 16);
        if (!ok || i + 2 >= field.size()) return std::nullopt;
        out += static_cast<char>(code);
        i += 2;
        break;
      }
      default: return std::nullopt;
    }
  }
  return QString::fromUtf8(out);
}

QByteArray HeaderLine(const QString& workbookPath) { return kMagic + '\t' + Escape(workbookPath) + '\n'; }

QByteArray EntryLine(const JournalSheet& sheet) {
  QByteArray line = "S\t" + QByteArray::number(sheet.number) + '\t' + QByteArray::number(sheet.row) + '\t' +
                    QByteArray::number(sheet.scannedAt.toMSecsSinceEpoch()) + '\t' +
                    QByteArray::number(sheet.values.size());
  for (const QString& value : sheet.values) line += '\t' + Escape(value);
  return line + '\n';
}

// "K", time, ID from, ID to, "M" or "S", count, values.
constexpr int kKeyFixedFields = 6;

QByteArray KeyLine(const JournalKey& key) {
  QByteArray line = "K\t" + QByteArray::number(key.scannedAt.toMSecsSinceEpoch()) + '\t' + QByteArray::number(key.idFrom) +
                    '\t' + QByteArray::number(key.idTo) + '\t' + (key.multiple ? "M" : "S") + '\t' +
                    QByteArray::number(key.values.size());
  for (const QString& value : key.values) line += '\t' + Escape(value);
  return line + '\n';
}

std::optional<JournalKey> ParseKey(const QByteArray& line) {
  const QList<QByteArray> fields = line.split('\t');
  if (fields.size() < kKeyFixedFields || fields[0] != "K" || (fields[4] != "M" && fields[4] != "S")) return std::nullopt;
  bool ok[4] = {};
  JournalKey key;
  key.scannedAt = QDateTime::fromMSecsSinceEpoch(fields[1].toLongLong(&ok[0]));
  key.idFrom = fields[2].toInt(&ok[1]);
  key.idTo = fields[3].toInt(&ok[2]);
  key.multiple = fields[4] == "M";
  const int count = fields[5].toInt(&ok[3]);
  if (!std::all_of(std::begin(ok), std::end(ok), [](bool b) { return b; })) return std::nullopt;
  if (count != fields.size() - kKeyFixedFields) return std::nullopt;
  for (qsizetype i = kKeyFixedFields; i < fields.size(); ++i) {
    const std::optional<QString> value = Unescape(fields[i]);
    if (!value) return std::nullopt;
    key.values << *value;
  }
  return key;
}

std::optional<JournalSheet> ParseEntry(const QByteArray& line) {
  const QList<QByteArray> fields = line.split('\t');
  if (fields.size() < kFixedFields || fields[0] != "S") return std::nullopt;
  bool ok[4] = {};
  JournalSheet sheet;
  sheet.number = fields[1].toLongLong(&ok[0]);
  sheet.row = fields[2].toInt(&ok[1]);
  sheet.scannedAt = QDateTime::fromMSecsSinceEpoch(fields[3].toLongLong(&ok[2]));
  const int count = fields[4].toInt(&ok[3]);
  if (!std::all_of(std::begin(ok), std::end(ok), [](bool b) { return b; })) return std::nullopt;
  if (count != fields.size() - kFixedFields) return std::nullopt;
  for (qsizetype i = kFixedFields; i < fields.size(); ++i) {
    const std::optional<QString> value = Unescape(fields[i]);
    if (!value) return std::nullopt;
    sheet.values << *value;
  }
  return sheet;
}

// Writes all of data; false with errno set on failure.
bool WriteAll(int fd, const QByteArray& data) {
  const char* p = data.constData();
  qsizetype left = data.size();
  while (left > 0) {
    const ssize_t n = write(fd, p, static_cast<size_t>(left));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    left -= n;
  }
  return true;
}

// The folder entry of a new or renamed file is durable only once the folder is synced.
void SyncFolder(const QString& folder) {
  const int dir = open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir < 0) return;
  fsync(dir);
  close(dir);
}

void EnsureFolder() {
  const QString folder = CrashJournal::Folder();
  if (QFileInfo(folder).isDir()) return;
  // Sheets are personal data: the folder is the user's alone.
  if (!QDir().mkpath(folder)) Fail(QStringLiteral("made"), folder, errno ? errno : EACCES, QStringLiteral("The state folder"));
  QFile::setPermissions(folder, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
}

QByteArray CsvField(const QString& value) {
  QByteArray text = value.toUtf8();
  if (!text.contains(',') && !text.contains('"') && !text.contains('\n') && !text.contains('\r') &&
      (text.isEmpty() || (text.front() != ' ' && text.back() != ' '))) {
    return text;
  }
  return '"' + text.replace('"', "\"\"") + '"';
}

}  // namespace

QString CrashJournal::Folder() { return UserStateFolder(); }

QString CrashJournal::PathFor(const QString& workbookPath) {
  const QString absolute = QFileInfo(workbookPath).absoluteFilePath();
  const QByteArray digest = QCryptographicHash::hash(absolute.toUtf8(), QCryptographicHash::Sha256).toHex().left(16);
  return QDir(Folder()).filePath(QFileInfo(absolute).fileName() + '.' + QString::fromLatin1(digest) + kSuffix);
}

QStringList CrashJournal::AllJournals() {
  const QFileInfoList found = QDir(Folder()).entryInfoList({QStringLiteral("*") + kSuffix}, QDir::Files | QDir::Hidden,
                                                           QDir::Time | QDir::Reversed);
  QStringList paths;
  for (const QFileInfo& info : found) paths << info.absoluteFilePath();
  return paths;
}

std::optional<JournalContents> CrashJournal::Read(const QString& journalPath) {
  QFile file(journalPath);
  if (!file.open(QIODevice::ReadOnly)) return std::nullopt;
  const QByteArray data = file.readAll();
  QList<QByteArray> lines = data.split('\n');
  lines.removeLast();  // what follows the last line end: empty, or a line cut short
  if (lines.isEmpty()) return std::nullopt;
  const QList<QByteArray> header = lines.front().split('\t');
  if (header.size() != 2 || header[0] != kMagic) return std::nullopt;
  const std::optional<QString> workbook = Unescape(header[1]);
  if (!workbook) return std::nullopt;
  JournalContents contents{*workbook, {}};
  for (qsizetype i = 1; i < lines.size(); ++i) {
    if (std::optional<JournalKey> key = ParseKey(lines[i])) {
      contents.key = std::move(key);  // the last one laid out counts
      continue;
    }
    const std::optional<JournalSheet> sheet = ParseEntry(lines[i]);
    if (sheet) contents.sheets.push_back(*sheet);  // a damaged line costs that sheet only
  }
  return contents;
}

CrashJournal::CrashJournal(const QString& workbookPath)
    : workbookPath_(QFileInfo(workbookPath).absoluteFilePath()), filePath_(PathFor(workbookPath)) {}

CrashJournal::~CrashJournal() { Close(); }

void CrashJournal::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

void CrashJournal::OpenForAppend() {
  EnsureFolder();
  const QByteArray path = QFile::encodeName(filePath_);
  fd_ = open(path.constData(), O_WRONLY | O_APPEND | O_CLOEXEC);
  if (fd_ >= 0) return;
  if (errno != ENOENT) Fail(QStringLiteral("opened"), filePath_, errno);
  fd_ = open(path.constData(), O_WRONLY | O_APPEND | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
  if (fd_ < 0) Fail(QStringLiteral("made"), filePath_, errno);
  if (!WriteAll(fd_, HeaderLine(workbookPath_))) {
    const int error = errno;
    Close();
    unlink(path.constData());
    Fail(QStringLiteral("written"), filePath_, error);
  }
  SyncFolder(Folder());
}

void CrashJournal::Append(const JournalSheet& sheet) { AppendLine(EntryLine(sheet)); }

void CrashJournal::Append(const JournalKey& key) { AppendLine(KeyLine(key)); }

void CrashJournal::AppendLine(const QByteArray& line) {
  const auto start = std::chrono::steady_clock::now();
  if (fd_ < 0) OpenForAppend();
  if (!WriteAll(fd_, line) || fdatasync(fd_) != 0) {
    const int error = errno;
    Close();  // reopened at the next sheet: a passing failure costs no more than this one
    Fail(QStringLiteral("written"), filePath_, error);
  }
  appendTimesMs_.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
}

void CrashJournal::Replace(const std::vector<JournalSheet>& sheets, const std::optional<JournalKey>& key) {
  Close();
  EnsureFolder();
  QByteArray data = HeaderLine(workbookPath_);
  if (key) data += KeyLine(*key);
  for (const JournalSheet& sheet : sheets) data += EntryLine(sheet);
  QByteArray temporary = QFile::encodeName(filePath_ + QStringLiteral(".XXXXXX"));
  const int fd = mkostemp(temporary.data(), O_CLOEXEC);
  if (fd < 0) Fail(QStringLiteral("written"), filePath_, errno);
  fchmod(fd, 0600);
  const bool written = WriteAll(fd, data) && fdatasync(fd) == 0;
  const int error = errno;
  close(fd);
  if (!written || rename(temporary.constData(), QFile::encodeName(filePath_).constData()) != 0) {
    const int failure = written ? errno : error;
    unlink(temporary.constData());
    Fail(QStringLiteral("written"), filePath_, failure);
  }
  SyncFolder(Folder());
}

void CrashJournal::Retire() {
  Close();
  if (unlink(QFile::encodeName(filePath_).constData()) != 0 && errno != ENOENT) {
    Fail(QStringLiteral("removed"), filePath_, errno);
  }
}

void AppendSheetsCsv(const QString& csvPath, const std::vector<JournalSheet>& sheets) {
  EnsureFolder();
  const int fd = open(QFile::encodeName(csvPath).constData(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
  const QString file = QStringLiteral("The file of kept sheets");
  if (fd < 0) Fail(QStringLiteral("made"), csvPath, errno, file);
  QByteArray data;
  for (const JournalSheet& sheet : sheets) {
    QList<QByteArray> fields;
    for (const QString& value : sheet.values) fields << CsvField(value);
    data += fields.join(',') + "\r\n";
  }
  const bool written = WriteAll(fd, data) && fdatasync(fd) == 0;
  const int error = errno;
  close(fd);
  if (!written) Fail(QStringLiteral("written"), csvPath, error, file);
  SyncFolder(QFileInfo(csvPath).absolutePath());
}

QString KeptSheetsPath(const QString& workbookPath, const QString& what) {
  return QDir(CrashJournal::Folder()).filePath(QFileInfo(workbookPath).fileName() + ' ' + what + QStringLiteral(".csv"));
}
