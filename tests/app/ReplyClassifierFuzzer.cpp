// libFuzzer target: the reply classifier and record decoder over arbitrary
// bytes cut into arbitrary events. Besides crashes and sanitizer reports it
// checks what the main window relies on.
#include "app/SheetRecordDecoder.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const bool scanning = (data[0] & 1) != 0;
  const BubbleMode mode = (data[0] & 2) != 0 ? BubbleMode::Single : BubbleMode::Multiple;
  const size_t chunk = 1 + data[1] % 32;  // bytes per data-available event
  QByteArray buffer;
  for (size_t pos = 2; pos < size; pos += chunk) {
    const size_t n = std::min(chunk, size - pos);
    buffer.append(reinterpret_cast<const char*>(data + pos), static_cast<qsizetype>(n));
    const ReplyOutcome out = ClassifyReplyBuffer(buffer, scanning, mode);
    // Only an unfinished record is ever kept, and it holds no terminator.
    if (!buffer.isEmpty() && (buffer.front() != 'S' || buffer.contains('E'))) std::abort();
    if (!scanning && !out.records.empty()) std::abort();
    for (const QStringList& record : out.records) {
      for (const QString& value : record) {
        if (value.isEmpty() || value == QLatin1String("B")) std::abort();  // a column is never empty
      }
    }
  }
  return 0;
}
