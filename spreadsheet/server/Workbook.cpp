#include "spreadsheet/server/Workbook.h"

#include "spreadsheet/encryption/SecretMemory.h"
#include "spreadsheet/encryption/WorkbookEncryption.h"
#include "spreadsheet/recalc/Calculation.h"
#include "spreadsheet/server/FormulaCells.h"
#include "spreadsheet/server/SheetList.h"
#include "spreadsheet/xls/AtomicFile.h"
#include "spreadsheet/xls/BlankWorkbook.h"
#include "spreadsheet/xls/XlsWriter.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

QString Shown(const QString& path) { return QDir::toNativeSeparators(path); }

// Streams that an encrypted workbook keeps plain whatever its method: with
// nothing else in the file, a save may give the workbook a new salt.
bool IsPlainCompanion(const CompoundEntry& entry) {
  static const QList<QByteArray> names{"\x01" "CompObj", "\x01" "Ole", "\x05" "SummaryInformation",
                                       "\x05" "DocumentSummaryInformation"};
  return !entry.storage && names.contains(entry.name);
}

// The default password first, as the spreadsheet application does, then
// whatever the user gives until one fits or they give up.
std::unique_ptr<WorkbookEncryption> Unlock(WorkbookParts& parts, const QString& displayName,
                                           const PasswordSource& askPassword) {
  std::unique_ptr<WorkbookEncryption> encryption = WorkbookEncryption::Find(parts.stream);
  if (!encryption) return nullptr;
  bool opened = encryption->Unlock(kDefaultWorkbookPassword);
  for (bool again = false; !opened; again = true) {
    std::optional<QString> password = askPassword ? askPassword(QFileInfo(displayName).fileName(), again) : std::nullopt;
    if (!password) {
      throw WorkbookError(
          QStringLiteral("Cannot open \"%1\": it is protected with a password to open, and none was given.").arg(displayName));
    }
    opened = encryption->Unlock(*password);
    WipeText(*password);
  }
  encryption->Decrypt(parts.stream);
  parts.decrypted = true;
  return encryption;
}

}  // namespace

Workbook::~Workbook() = default;

std::unique_ptr<Workbook> Workbook::FromParts(std::unique_ptr<WorkbookParts> parts, CompoundDocument document,
                                              const QString& displayName, const PasswordSource& askPassword) {
  std::unique_ptr<WorkbookEncryption> encryption;
  try {
    encryption = Unlock(*parts, displayName, askPassword);
    ReadWorkbookStream(*parts);
  } catch (const Biff::StreamError& e) {
    throw WorkbookError(QStringLiteral("Cannot open \"%1\": %2.").arg(displayName, e.Message()));
  }
  if (parts->sheets.empty()) {
    throw WorkbookError(QStringLiteral("Cannot open \"%1\": the workbook has no sheets.").arg(displayName));
  }
  std::unique_ptr<Workbook> book(new Workbook);
  book->parts_ = std::move(parts);
  book->StartCalculation();
  book->encryption_ = std::move(encryption);
  book->document_ = std::move(document);
  return book;
}

std::unique_ptr<Workbook> Workbook::Open(const QString& path, const PasswordSource& askPassword) {
  const QString absolute = QFileInfo(path).absoluteFilePath();
  const QFileInfo info(absolute);
  if (!info.exists()) throw WorkbookError(QStringLiteral("Cannot open \"%1\": the file does not exist.").arg(Shown(absolute)));
  if (info.isDir()) throw WorkbookError(QStringLiteral("Cannot open \"%1\": it is a folder.").arg(Shown(absolute)));
  auto parts = std::make_unique<WorkbookParts>();
  CompoundDocument document;
  try {
    document = CompoundFile::Read(absolute, parts->stream);
  } catch (const Biff::StreamError& e) {
    throw WorkbookError(QStringLiteral("Cannot open \"%1\": %2.").arg(Shown(absolute), e.Message()));
  }
  std::unique_ptr<Workbook> book = FromParts(std::move(parts), std::move(document), Shown(absolute), askPassword);
  book->path_ = absolute;
  return book;
}

std::unique_ptr<Workbook> Workbook::FromMemory(const uint8_t* data, size_t size, const PasswordSource& askPassword) {
  auto parts = std::make_unique<WorkbookParts>();
  CompoundDocument document;
  try {
    document = CompoundFile::ReadMemory(data, size, parts->stream);
  } catch (const Biff::StreamError& e) {
    throw WorkbookError(QStringLiteral("Cannot open the workbook: %1.").arg(e.Message()));
  }
  return FromParts(std::move(parts), std::move(document), QStringLiteral("(memory)"), askPassword);
}

std::unique_ptr<Workbook> Workbook::CreateBlank() {
  auto parts = std::make_unique<WorkbookParts>();
  parts->stream = BlankWorkbookStream();
  return FromParts(std::move(parts), CompoundFile::NewDocument(), QStringLiteral("(new workbook)"), {});
}

QString Workbook::Name() const {
  return path_.isEmpty() ? QStringLiteral("Book%1").arg(untitledNumber_) : QFileInfo(path_).fileName();
}

void Workbook::SaveAs(const QString& path) {
  if (path.trimmed().isEmpty()) throw WorkbookError(QStringLiteral("Cannot save the workbook: no file name was given."));
  const QString absolute = QFileInfo(path).absoluteFilePath();
  if (QFileInfo(absolute).isDir()) {
    throw WorkbookError(QStringLiteral("Cannot save \"%1\": it is a folder.").arg(Shown(absolute)));
  }
  try {
    AtomicFile file(absolute);
    CompoundFile::Write(file.Stream(), absolute, document_, [this](Biff::ByteSink& sink) { WriteStoredStream(sink); });
    file.Commit();
  } catch (const SaveError& e) {
    throw WorkbookError(e.Message());
  } catch (const Biff::StreamError& e) {
    throw WorkbookError(QStringLiteral("Cannot save \"%1\": %2.").arg(Shown(absolute), e.Message()));
  }
  path_ = absolute;
  dirty_ = false;
}

// Stored results the server does not vouch for went stale only if a cell changed.
bool Workbook::NeedsRecalculationOnLoad() const {
  const bool written = std::any_of(parts_->sheets.begin(), parts_->sheets.end(),
                                   [](const auto& sheet) { return !sheet->Written().empty(); });
  return written && calc_->HasKeptResults();
}

std::vector<CellPosition> Workbook::TakeChangedResults() { return calc_->TakeChangedResults(); }

void Workbook::StartCalculation() {
  calc_ = std::make_unique<Calculation>(*parts_);
  calc_->SetResultListener(resultListener_);
}

void Workbook::Settle() { calc_->Settle(); }

void Workbook::SetResultListener(std::function<void(const std::vector<CellPosition>&)> listener) {
  resultListener_ = std::move(listener);
  calc_->SetResultListener(resultListener_);
}

int Workbook::IndexOf(const Worksheet* sheet) const {
  for (size_t i = 0; i < parts_->sheets.size(); ++i) {
    if (parts_->sheets[i].get() == sheet) return static_cast<int>(i);
  }
  return -1;
}

void Workbook::AddSheet(int position) {
  // The calculation knows the sheets by number: it is made anew for the
  // new order, from results worked out first.
  calc_->Settle();
  calc_.reset();
  SheetList::Insert(*parts_, position, SheetList::NewName(*parts_));
  StartCalculation();
  dirty_ = true;
}

QString Workbook::SheetNameProblem(int index, const QString& name) const {
  return SheetList::NameProblem(*parts_, index, name);
}

void Workbook::RenameSheet(int index, const QString& name) {
  Worksheet& sheet = Sheet(index);
  if (sheet.Name() == name) return;
  sheet.SetName(name);
  dirty_ = true;
}

void Workbook::PutFormula(int sheet, uint32_t row, uint32_t col, const QString& text) {
  FormulaCells::Put(*parts_, sheet, row, col, text);
  dirty_ = true;
}

QString Workbook::FormulaText(int sheet, uint32_t row, uint32_t col) const {
  return FormulaCells::Text(*parts_, sheet, row, col);
}

void Workbook::WriteStoredStream(Biff::ByteSink& sink) {
  calc_->Settle();
  parts_->recalculateOnLoad = NeedsRecalculationOnLoad();
  if (!encryption_) {
    WriteWorkbookStream(*parts_, sink);
    return;
  }
  // Other streams may be encrypted with the key of the old salt (revision
  // logs, pivot caches, CryptoAPI's encrypted properties): they keep it.
  const std::unique_ptr<WorkbookEncryption::Sink> encrypting = encryption_->Encrypting(sink, OtherStreamsArePlain());
  WriteWorkbookStream(*parts_, *encrypting);
  encrypting->Finish();
}

bool Workbook::OtherStreamsArePlain() const {
  const auto& children = document_.root.children;
  for (size_t i = 0; i < children.size(); ++i) {
    if (i != document_.workbookIndex && !IsPlainCompanion(children[i])) return false;
  }
  return true;
}

std::optional<EncryptionMethod> Workbook::Encryption() const {
  if (!encryption_) return std::nullopt;
  return encryption_->Method();
}

void Workbook::ForgetPassword() {
  if (encryption_) encryption_->Forget();
}

void Workbook::Save() {
  if (path_.isEmpty()) throw WorkbookError(QStringLiteral("Cannot save \"%1\": it has no file yet; use SaveAs.").arg(Name()));
  SaveAs(path_);
}
