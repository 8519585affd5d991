#include "spreadsheet/Workbook.h"

#include "spreadsheet/AtomicFile.h"
#include "spreadsheet/BlankWorkbook.h"
#include "spreadsheet/Calculation.h"
#include "spreadsheet/XlsWriter.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

namespace {

QString Shown(const QString& path) { return QDir::toNativeSeparators(path); }

}  // namespace

Workbook::~Workbook() = default;

std::unique_ptr<Workbook> Workbook::FromParts(std::unique_ptr<WorkbookParts> parts, CompoundDocument document,
                                              const QString& displayName) {
  try {
    ReadWorkbookStream(*parts);
  } catch (const Biff::StreamError& e) {
    throw WorkbookError(QStringLiteral("Cannot open \"%1\": %2.").arg(displayName, e.Message()));
  }
  if (parts->sheets.empty()) {
    throw WorkbookError(QStringLiteral("Cannot open \"%1\": the workbook has no sheets.").arg(displayName));
  }
  std::unique_ptr<Workbook> book(new Workbook);
  book->calc_ = std::make_unique<Calculation>(*parts);
  book->parts_ = std::move(parts);
  book->document_ = std::move(document);
  return book;
}

std::unique_ptr<Workbook> Workbook::Open(const QString& path) {
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
  std::unique_ptr<Workbook> book = FromParts(std::move(parts), std::move(document), Shown(absolute));
  book->path_ = absolute;
  return book;
}

std::unique_ptr<Workbook> Workbook::FromMemory(const uint8_t* data, size_t size) {
  auto parts = std::make_unique<WorkbookParts>();
  CompoundDocument document;
  try {
    document = CompoundFile::ReadMemory(data, size, parts->stream);
  } catch (const Biff::StreamError& e) {
    throw WorkbookError(QStringLiteral("Cannot open the workbook: %1.").arg(e.Message()));
  }
  return FromParts(std::move(parts), std::move(document), QStringLiteral("(memory)"));
}

std::unique_ptr<Workbook> Workbook::CreateBlank() {
  auto parts = std::make_unique<WorkbookParts>();
  parts->stream = BlankWorkbookStream();
  return FromParts(std::move(parts), CompoundFile::NewDocument(), QStringLiteral("(new workbook)"));
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
  parts_->recalculateOnLoad = NeedsRecalculationOnLoad();
  try {
    AtomicFile file(absolute);
    CompoundFile::Write(file.Stream(), absolute, document_,
                        [this](Biff::ByteSink& sink) { WriteWorkbookStream(*parts_, sink); });
    file.Commit();
  } catch (const SaveError& e) {
    throw WorkbookError(e.Message());
  } catch (const Biff::StreamError& e) {
    throw WorkbookError(QStringLiteral("Cannot save \"%1\": %2.").arg(Shown(absolute), e.Message()));
  }
  path_ = absolute;
  dirty_ = false;
}

void Workbook::WriteStream(Biff::ByteSink& sink) const {
  parts_->recalculateOnLoad = NeedsRecalculationOnLoad();
  WriteWorkbookStream(*parts_, sink);
}

// Stored results the server does not vouch for went stale only if a cell changed.
bool Workbook::NeedsRecalculationOnLoad() const {
  const bool written = std::any_of(parts_->sheets.begin(), parts_->sheets.end(),
                                   [](const auto& sheet) { return !sheet->Written().empty(); });
  return written && calc_->HasKeptResults();
}

std::vector<CellPosition> Workbook::TakeChangedResults() { return calc_->TakeChangedResults(); }

void Workbook::Save() {
  if (path_.isEmpty()) throw WorkbookError(QStringLiteral("Cannot save \"%1\": it has no file yet; use SaveAs.").arg(Name()));
  SaveAs(path_);
}
