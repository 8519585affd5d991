#pragma once
// The OLE2 compound file around a workbook stream, through libgsf. Reading
// keeps every other stream and storage in memory so that a save can write
// them back unchanged; the workbook stream itself is read into its own
// buffer and written back through a callback, in pieces, as it is made.

#include "spreadsheet/model/BiffRecords.h"

#include <QByteArray>
#include <QString>

#include <array>
#include <cstdio>
#include <functional>
#include <vector>

struct CompoundEntry {
  QByteArray name;  // as stored, UTF-8 (leading control characters included)
  bool storage = false;
  bool hasClassId = false;
  std::array<uint8_t, 16> classId{};
  QByteArray data;  // a stream's bytes
  std::vector<CompoundEntry> children;
};

struct CompoundDocument {
  CompoundEntry root;
  // root.children[workbookIndex] stands for the workbook stream, whose
  // bytes are kept apart.
  size_t workbookIndex = 0;
};

namespace CompoundFile {

// Throws Biff::StreamError saying why the file is not a workbook that can
// be read (no compound file, an older Excel format, a damaged container...).
CompoundDocument Read(const QString& path, Biff::Bytes& workbook);
CompoundDocument ReadMemory(const uint8_t* data, size_t size, Biff::Bytes& workbook);

// A document holding only a workbook stream, for a new workbook.
CompoundDocument NewDocument();

// Writes the document into file, calling writeWorkbook to produce the
// workbook stream. Throws Biff::StreamError when the output fails.
void Write(FILE* file, const QString& displayName, const CompoundDocument& document,
           const std::function<void(Biff::ByteSink&)>& writeWorkbook);

}  // namespace CompoundFile
