#include "spreadsheet/encryption/SecretMemory.h"

#include <cstring>

void WipeBytes(void* data, size_t size) {
  // explicit_bzero is not optimised away even when the memory dies right after.
  if (size > 0) explicit_bzero(data, size);
}

void WipeText(QString& text) {
  if (!text.isEmpty()) WipeBytes(text.data(), static_cast<size_t>(text.size()) * sizeof(QChar));
  text.clear();
}
