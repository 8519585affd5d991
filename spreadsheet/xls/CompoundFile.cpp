// GLib's headers use names that Qt defines as macros (signals): they come first.
#include <gsf/gsf.h>

#include "spreadsheet/xls/CompoundFile.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <mutex>

using namespace Biff;

namespace {

constexpr size_t kChunk = 1 << 20;
constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

// libgsf reports damaged files on the log as well; the caller gets the
// reason as an error, so its log lines would only be noise.
void QuietLog(const gchar*, GLogLevelFlags, const gchar*, gpointer) {}

void InitOnce() {
  static std::once_flag once;
  std::call_once(once, [] {
    gsf_init();
    const auto levels = static_cast<GLogLevelFlags>(G_LOG_LEVEL_CRITICAL | G_LOG_LEVEL_WARNING | G_LOG_LEVEL_MESSAGE);
    g_log_set_handler("libgsf:msole", levels, QuietLog, nullptr);
    g_log_set_handler("libgsf", levels, QuietLog, nullptr);
  });
}

// GObject references and GErrors released on every path.
struct GObjectUnref {
  void operator()(gpointer object) const {
    if (object) g_object_unref(object);
  }
};
template <typename T>
using GPtr = std::unique_ptr<T, GObjectUnref>;

struct GErrorHolder {
  GError* error = nullptr;
  ~GErrorHolder() {
    if (error) g_error_free(error);
  }
  QString Text() const { return error ? QString::fromUtf8(error->message) : QStringLiteral("unknown error"); }
};

bool IsStorage(GsfInput* input) { return GSF_IS_INFILE(input) && gsf_infile_num_children(GSF_INFILE(input)) >= 0; }

template <typename Buffer>
void ReadAll(GsfInput* input, gsf_off_t limit, Buffer& out, const char* name) {
  const gsf_off_t size = gsf_input_size(input);
  // A stream cannot be larger than the file it is in.
  if (size < 0 || size > limit) {
    throw StreamError(QStringLiteral("the compound file is damaged (stream \"%1\" is larger than the file)")
                          .arg(QString::fromUtf8(name)));
  }
  out.resize(static_cast<size_t>(size));
  for (gsf_off_t done = 0; done < size;) {
    const size_t take = static_cast<size_t>(std::min<gsf_off_t>(kChunk, size - done));
    if (!gsf_input_read(input, take, reinterpret_cast<guint8*>(out.data()) + done)) {
      throw StreamError(QStringLiteral("the compound file is damaged (stream \"%1\" cannot be read)")
                            .arg(QString::fromUtf8(name)));
    }
    done += static_cast<gsf_off_t>(take);
  }
}

void ReadChildren(GsfInfile* storage, gsf_off_t limit, CompoundEntry& into, int depth) {
  if (depth > 32) throw StreamError(QStringLiteral("the compound file is damaged (storages nested too deep)"));
  const int count = gsf_infile_num_children(storage);
  for (int i = 0; i < count; ++i) {
    GPtr<GsfInput> child(gsf_infile_child_by_index(storage, i));
    if (!child) throw StreamError(QStringLiteral("the compound file is damaged (an entry cannot be opened)"));
    CompoundEntry entry;
    const char* name = gsf_input_name(child.get());
    entry.name = QByteArray(name ? name : "");
    if (IsStorage(child.get())) {
      entry.storage = true;
      GsfInfileMSOle* sub = GSF_INFILE_MSOLE(child.get());
      entry.hasClassId = gsf_infile_msole_get_class_id(sub, entry.classId.data());
      ReadChildren(GSF_INFILE(child.get()), limit, entry, depth + 1);
    } else {
      ReadAll(child.get(), limit, entry.data, entry.name.constData());
    }
    into.children.push_back(std::move(entry));
  }
}

// An OpenDocument file is a zip whose first entry, stored uncompressed, is
// "mimetype" holding the document's media type.
QString OpenDocumentKind(const uint8_t* head, size_t size) {
  constexpr size_t kNameAt = 30;
  static const char kEntry[] = "mimetype";
  static const char kPrefix[] = "application/vnd.oasis.opendocument.";
  const size_t entryLength = sizeof kEntry - 1;
  const size_t prefixLength = sizeof kPrefix - 1;
  if (size < kNameAt || U16(head + 26) != entryLength) return QString();
  const size_t dataAt = kNameAt + entryLength + U16(head + 28);
  if (size < dataAt + prefixLength || std::memcmp(head + kNameAt, kEntry, entryLength) != 0 ||
      std::memcmp(head + dataAt, kPrefix, prefixLength) != 0) {
    return QString();
  }
  size_t end = dataAt + prefixLength;
  while (end < size && head[end] >= 'a' && head[end] <= 'z') ++end;
  return QString::fromLatin1(reinterpret_cast<const char*>(head + dataAt + prefixLength),
                             static_cast<qsizetype>(end - dataAt - prefixLength));
}

// The first bytes of a file that is no compound file say what it is.
QString NotCompoundReason(const uint8_t* head, size_t size) {
  if (size >= 2 && head[0] == 'P' && head[1] == 'K') {
    const QString openDocument = OpenDocumentKind(head, size);
    if (openDocument == QLatin1String("spreadsheet")) {
      return QStringLiteral("it is an OpenDocument spreadsheet (.ods), not an Excel 97-2003 workbook");
    }
    if (!openDocument.isEmpty()) {
      return QStringLiteral("it is an OpenDocument %1, not an Excel 97-2003 workbook").arg(openDocument);
    }
    return QStringLiteral("it is an Excel 2007 or later workbook (.xlsx), not an Excel 97-2003 workbook");
  }
  if (size >= 4 && head[1] <= 0x08 && (head[0] == 0x09) && head[2] >= 4) {
    switch (head[1]) {
      case 0x00: return QStringLiteral("it is an Excel 2.x worksheet (BIFF2), not an Excel 97-2003 workbook");
      case 0x02: return QStringLiteral("it is an Excel 3.0 worksheet (BIFF3), not an Excel 97-2003 workbook");
      case 0x04: return QStringLiteral("it is an Excel 4.0 worksheet (BIFF4), not an Excel 97-2003 workbook");
      default: break;
    }
  }
  if (size == 0) return QStringLiteral("the file is empty");
  return QStringLiteral("it is not an Excel workbook (no compound document signature)");
}

// libgsf reads the siblings of the root directory entry (only a damaged
// file has any) as entries without a parent and never frees them: a leak on
// every open. It ignores them otherwise, so such a file goes to libgsf as a
// copy with those two links cleared. Empty when the file needs no mending.
std::vector<uint8_t> WithoutRootSiblings(GsfInput* input, gsf_off_t fileSize) {
  constexpr gsf_off_t kHeaderSize = 512;
  constexpr gsf_off_t kEntrySize = 128;
  constexpr gsf_off_t kSiblingLinks = 0x44;  // left, then right sibling
  constexpr uint32_t kNoStream = 0xFFFFFFFF;
  uint8_t header[kHeaderSize];
  if (fileSize < kHeaderSize || gsf_input_seek(input, 0, G_SEEK_SET) || !gsf_input_read(input, sizeof header, header) ||
      !std::equal(kSignature, kSignature + sizeof kSignature, header)) {
    return {};
  }
  const unsigned shift = U16(header + 0x1E);
  if (shift < 6 || shift > 30) return {};  // libgsf refuses the file
  // Sectors count from the end of the header's sector; the directory's
  // first sector starts with the root entry.
  const gsf_off_t sectorSize = gsf_off_t{1} << shift;
  const gsf_off_t root = std::max(kHeaderSize, sectorSize) + (gsf_off_t{U32(header + 0x30)} << shift);
  uint8_t links[8];
  if (root + kEntrySize > fileSize || gsf_input_seek(input, root + kSiblingLinks, G_SEEK_SET) ||
      !gsf_input_read(input, sizeof links, links) || (U32(links) == kNoStream && U32(links + 4) == kNoStream)) {
    return {};
  }
  std::vector<uint8_t> copy(static_cast<size_t>(fileSize));
  gsf_input_seek(input, 0, G_SEEK_SET);
  for (gsf_off_t done = 0; done < fileSize;) {
    const size_t take = static_cast<size_t>(std::min<gsf_off_t>(kChunk, fileSize - done));
    if (!gsf_input_read(input, take, copy.data() + done)) return {};
    done += static_cast<gsf_off_t>(take);
  }
  std::fill_n(copy.begin() + root + kSiblingLinks, sizeof links, uint8_t{0xFF});
  return copy;
}

CompoundDocument ReadFrom(GsfInput* source, Bytes& workbook) {
  const gsf_off_t fileSize = gsf_input_size(source);
  const std::vector<uint8_t> mended = WithoutRootSiblings(source, fileSize);
  GPtr<GsfInput> mendedInput(mended.empty() ? nullptr : gsf_input_memory_new(mended.data(), fileSize, FALSE));
  GsfInput* input = mendedInput ? mendedInput.get() : source;
  GErrorHolder error;
  GPtr<GsfInfile> root(gsf_infile_msole_new(input, &error.error));
  if (!root) {
    uint8_t head[128] = {};
    const size_t headSize = static_cast<size_t>(std::min<gsf_off_t>(fileSize, sizeof head));
    gsf_input_seek(input, 0, G_SEEK_SET);
    if (headSize > 0 && gsf_input_read(input, headSize, head) && headSize >= 8 &&
        std::equal(head, head + 8, kSignature)) {
      throw StreamError(QStringLiteral("the compound file is damaged (%1)").arg(error.Text()));
    }
    throw StreamError(NotCompoundReason(head, headSize));
  }
  CompoundDocument document;
  document.root.storage = true;
  document.root.hasClassId = gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(root.get()), document.root.classId.data());

  // Read everything but the workbook stream into the tree, that one apart.
  const int count = gsf_infile_num_children(root.get());
  bool found = false;
  bool oldBook = false;
  for (int i = 0; i < count; ++i) {
    const char* name = gsf_infile_name_by_index(root.get(), i);
    const QByteArray entryName(name ? name : "");
    if (!found && entryName.compare("Workbook", Qt::CaseInsensitive) == 0) {
      GPtr<GsfInput> child(gsf_infile_child_by_index(root.get(), i));
      if (!child || IsStorage(child.get())) continue;
      ReadAll(child.get(), fileSize, workbook, "Workbook");
      document.workbookIndex = document.root.children.size();
      CompoundEntry placeholder;
      placeholder.name = entryName;
      document.root.children.push_back(std::move(placeholder));
      found = true;
      continue;
    }
    if (entryName.compare("Book", Qt::CaseInsensitive) == 0) oldBook = true;
    CompoundEntry single;
    GPtr<GsfInput> child(gsf_infile_child_by_index(root.get(), i));
    if (!child) throw StreamError(QStringLiteral("the compound file is damaged (an entry cannot be opened)"));
    single.name = entryName;
    if (IsStorage(child.get())) {
      single.storage = true;
      single.hasClassId = gsf_infile_msole_get_class_id(GSF_INFILE_MSOLE(child.get()), single.classId.data());
      ReadChildren(GSF_INFILE(child.get()), fileSize, single, 1);
    } else {
      ReadAll(child.get(), fileSize, single.data, single.name.constData());
    }
    document.root.children.push_back(std::move(single));
  }
  if (!found) {
    if (oldBook) {
      throw StreamError(QStringLiteral("it is an Excel 5.0/95 workbook (BIFF5), not an Excel 97-2003 workbook"));
    }
    throw StreamError(QStringLiteral("it holds no workbook (the compound file has no Workbook stream)"));
  }
  return document;
}

// A failed write, with what the system said about it.
[[noreturn]] void ThrowWriteFailure() {
  const int error = errno ? errno : EIO;
  throw StreamError(QStringLiteral("writing the file failed (%1)").arg(QString::fromLocal8Bit(std::strerror(error))));
}

// Hands the workbook stream to libgsf as it is made.
class GsfSink : public ByteSink {
 public:
  explicit GsfSink(GsfOutput* output) : output_(output) {}
  void Write(const uint8_t* data, size_t size) override {
    if (size == 0) return;
    errno = 0;
    if (!gsf_output_write(output_, size, data)) ThrowWriteFailure();
    position_ += size;
  }

 private:
  GsfOutput* output_;
};

void CloseChild(GsfOutput* child) {
  errno = 0;
  if (!gsf_output_close(child)) ThrowWriteFailure();
}

void WriteEntries(GsfOutfile* storage, const CompoundEntry& entry, const CompoundDocument* document,
                  const std::function<void(ByteSink&)>* writeWorkbook) {
  for (size_t i = 0; i < entry.children.size(); ++i) {
    const CompoundEntry& child = entry.children[i];
    GPtr<GsfOutput> out(gsf_outfile_new_child(storage, child.name.constData(), child.storage));
    if (!out) throw StreamError(QStringLiteral("writing the compound file failed"));
    try {
      if (document && i == document->workbookIndex) {
        GsfSink sink(out.get());
        (*writeWorkbook)(sink);
      } else if (child.storage) {
        if (child.hasClassId) gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(out.get()), child.classId.data());
        WriteEntries(GSF_OUTFILE(out.get()), child, nullptr, nullptr);
      } else if (!child.data.isEmpty()) {
        errno = 0;
        if (!gsf_output_write(out.get(), static_cast<size_t>(child.data.size()),
                              reinterpret_cast<const guint8*>(child.data.constData()))) {
          ThrowWriteFailure();
        }
      }
    } catch (...) {
      gsf_output_close(out.get());  // libgsf frees only closed outputs quietly
      throw;
    }
    CloseChild(out.get());
  }
}

}  // namespace

namespace CompoundFile {

CompoundDocument Read(const QString& path, Bytes& workbook) {
  InitOnce();
  GErrorHolder error;
  GPtr<GsfInput> input(gsf_input_stdio_new(path.toLocal8Bit().constData(), &error.error));
  if (!input) throw StreamError(error.Text());
  return ReadFrom(input.get(), workbook);
}

CompoundDocument ReadMemory(const uint8_t* data, size_t size, Bytes& workbook) {
  InitOnce();
  GPtr<GsfInput> input(gsf_input_memory_new(data, static_cast<gsf_off_t>(size), FALSE));
  if (!input) throw StreamError(QStringLiteral("the file cannot be read"));
  return ReadFrom(input.get(), workbook);
}

CompoundDocument NewDocument() {
  CompoundDocument document;
  document.root.storage = true;
  CompoundEntry workbook;
  workbook.name = "Workbook";
  document.root.children.push_back(std::move(workbook));
  document.workbookIndex = 0;
  return document;
}

void Write(FILE* file, const QString& displayName, const CompoundDocument& document,
           const std::function<void(ByteSink&)>& writeWorkbook) {
  InitOnce();
  GPtr<GsfOutput> sink(gsf_output_stdio_new_FILE(displayName.toLocal8Bit().constData(), file, TRUE));
  if (!sink) throw StreamError(QStringLiteral("the file cannot be written"));
  GPtr<GsfOutfile> root(gsf_outfile_msole_new(sink.get()));
  if (!root) throw StreamError(QStringLiteral("the file cannot be written"));
  try {
    if (document.root.hasClassId) gsf_outfile_msole_set_class_id(GSF_OUTFILE_MSOLE(root.get()), document.root.classId.data());
    WriteEntries(root.get(), document.root, &document, &writeWorkbook);
  } catch (...) {
    // Leave libgsf in a state it can free; the caller drops the half file.
    gsf_output_close(GSF_OUTPUT(root.get()));
    throw;
  }
  errno = 0;
  // Closing the compound file writes its tables and closes the sink with it.
  if (!gsf_output_close(GSF_OUTPUT(root.get()))) ThrowWriteFailure();
}

}  // namespace CompoundFile
