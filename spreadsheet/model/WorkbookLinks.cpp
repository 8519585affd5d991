#include "spreadsheet/model/WorkbookLinks.h"

int WorkbookLinks::OwnBook() const {
  for (size_t i = 0; i < books.size(); ++i) {
    if (books[i].kind == SupBook::Kind::Own) return static_cast<int>(i);
  }
  return -1;
}

uint16_t WorkbookLinks::SheetSpan(int first, int last) {
  int own = OwnBook();
  for (size_t i = 0; own >= 0 && i < sheets.size(); ++i) {
    const ExternSheet& entry = sheets[i];
    if (entry.book == own && entry.first == first && entry.last == last) return static_cast<uint16_t>(i);
  }
  if (own < 0) {
    SupBook book;
    book.kind = SupBook::Kind::Own;
    books.push_back(book);
    own = static_cast<int>(books.size() - 1);
    ownBookAdded = true;
  }
  sheets.push_back({static_cast<uint16_t>(own), first, last});
  sheetTableChanged = true;
  return static_cast<uint16_t>(sheets.size() - 1);
}

void WorkbookLinks::SheetInserted(int at) {
  const int own = OwnBook();
  for (ExternSheet& entry : sheets) {
    if (entry.book != own) continue;
    bool moved = false;
    if (entry.first >= at) {
      ++entry.first;
      moved = true;
    }
    if (entry.last >= at) {
      ++entry.last;
      moved = true;
    }
    sheetTableChanged = sheetTableChanged || moved;
  }
  for (DefinedName& name : names) {
    if (name.sheet > at) ++name.sheet;
  }
}

uint32_t WorkbookLinks::FindName(QStringView text, int sheet) const {
  uint32_t global = 0;
  for (size_t i = 0; i < names.size(); ++i) {
    if (names[i].name.compare(text, Qt::CaseInsensitive) != 0) continue;
    if (names[i].sheet == sheet + 1) return static_cast<uint32_t>(i + 1);
    if (names[i].sheet == 0 && global == 0) global = static_cast<uint32_t>(i + 1);
  }
  return global;
}

QString BuiltInNameText(uint8_t code) {
  static const char* const kNames[] = {"Consolidate_Area", "Auto_Open",      "Auto_Close",      "Extract",
                                       "Database",         "Criteria",       "Print_Area",      "Print_Titles",
                                       "Recorder",         "Data_Form",      "Auto_Activate",   "Auto_Deactivate",
                                       "Sheet_Title",      "_FilterDatabase"};
  return code < std::size(kNames) ? QString::fromLatin1(kNames[code]) : QString();
}
