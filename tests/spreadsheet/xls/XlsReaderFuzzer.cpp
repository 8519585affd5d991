// libFuzzer target for the .xls reader: any bytes either open as a workbook
// or are refused with a WorkbookError. What opens must also survive a write
// with a changed cell, and the stream a save stores must read back, through
// decryption with the same password when the workbook was encrypted.

#include "spreadsheet/encryption/WorkbookEncryption.h"
#include "spreadsheet/server/Workbook.h"
#include "spreadsheet/xls/XlsReader.h"

#include <cstdlib>

namespace {

// Besides the default password, the one the encrypted seeds were made with.
const QString kSeedPassword = QStringLiteral("Klasse7b");

// Decrypts a stream this program stored, with whichever password opened the original.
void DecryptOwnStream(WorkbookParts& parts) {
  std::unique_ptr<WorkbookEncryption> encryption = WorkbookEncryption::Find(parts.stream);
  if (!encryption) return;
  if (!encryption->Unlock(kDefaultWorkbookPassword) && !encryption->Unlock(kSeedPassword)) std::abort();
  encryption->Decrypt(parts.stream);
  parts.decrypted = true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::unique_ptr<Workbook> book;
  const PasswordSource seedPassword = [](const QString&, bool again) -> std::optional<QString> {
    if (again) return std::nullopt;
    return kSeedPassword;
  };
  try {
    book = Workbook::FromMemory(data, size, seedPassword);
  } catch (const WorkbookError&) {
    return 0;
  }
  size_t cells = 0;
  for (int i = 0; i < book->SheetCount(); ++i) {
    book->Sheet(i).ForEachCell([&cells](uint32_t, uint32_t, const CellValue&) { ++cells; });
  }
  for (int i = 0; i < book->SheetCount(); ++i) {
    Worksheet& sheet = book->Sheet(i);
    if (sheet.SheetKind() != Worksheet::Kind::Worksheet) continue;
    sheet.SetText(static_cast<uint32_t>(cells % 70), 1, QStringLiteral("fuzz"));
    sheet.SetProtected(!sheet.Protected());
    break;
  }
  WorkbookParts again;
  Biff::BufferSink sink;
  book->WriteStoredStream(sink);
  again.stream = std::move(sink.Buffer());
  try {
    const bool encrypted = WorkbookEncryption::Find(again.stream) != nullptr;
    if (encrypted != book->Encryption().has_value()) std::abort();  // a save keeps the protection as it was
    DecryptOwnStream(again);
    ReadWorkbookStream(again);
  } catch (const Biff::StreamError&) {
    std::abort();  // a stream we wrote ourselves must always read back
  }
  return 0;
}
