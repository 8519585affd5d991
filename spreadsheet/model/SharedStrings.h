#pragma once
// The workbook's shared string table (SST): the texts that LABELSST cells
// refer to by index. Strings read from a file keep their formatting runs and
// phonetic data; new texts are appended once each.

#include "spreadsheet/model/BiffRecords.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <unordered_set>
#include <vector>

class SharedStrings {
 public:
  SharedStrings();
  ~SharedStrings();
  SharedStrings(const SharedStrings&) = delete;
  SharedStrings& operator=(const SharedStrings&) = delete;

  // Reads an SST record's data and the data of the CONTINUE records after it.
  // Throws Biff::StreamError when the table is cut short.
  void Load(const std::vector<Biff::ByteView>& parts);

  uint32_t Count() const { return static_cast<uint32_t>(entries_.size()); }
  bool Contains(uint32_t index) const { return index < entries_.size(); }
  // The text at index; empty when the index is out of range (a lenient reader
  // shows such a cell as empty rather than refusing the file).
  QString Text(uint32_t index) const;

  // The index of text, appending it when it is new.
  uint32_t Intern(const QString& text);
  // True once a text was appended since loading.
  bool Grown() const { return entries_.size() > loadedCount_; }

  // Total number of cell references that the SST header announces; kept up
  // to date by the cells that start or stop referring to a string.
  uint32_t TotalReferences() const { return totalReferences_; }
  void AddReferences(int32_t delta) { totalReferences_ = static_cast<uint32_t>(static_cast<int64_t>(totalReferences_) + delta); }

  // Writes SST (+ CONTINUE) and EXTSST records. The sink's position must be
  // the absolute stream position, as EXTSST holds stream offsets.
  void Write(Biff::ByteSink& sink) const;

 private:
  struct Entry {
    uint32_t start = 0;   // in chars_
    uint32_t length = 0;  // characters
    uint32_t tailStart = 0;  // formatting runs and phonetic data, raw, in tails_
    uint32_t tailLength = 0;
    uint16_t runs = 0;       // number of 4-byte formatting runs at the start of the tail
    bool wide = false;       // some character needs two bytes
  };
  struct Hash {
    const SharedStrings* table;
    size_t operator()(uint32_t index) const;
  };
  struct Equal {
    const SharedStrings* table;
    bool operator()(uint32_t a, uint32_t b) const;
  };
  class Reader;
  class Emitter;

  std::u16string_view View(uint32_t index) const;
  void AddEntry(std::u16string_view text, const uint8_t* tail, uint32_t tailLength, uint16_t runs);
  void BuildLookup();

  std::vector<char16_t> chars_;
  std::vector<uint8_t> tails_;
  std::vector<Entry> entries_;
  size_t loadedCount_ = 0;
  uint32_t totalReferences_ = 0;
  // Built on the first Intern: most workbooks are only read.
  std::unique_ptr<std::unordered_set<uint32_t, Hash, Equal>> lookup_;
  std::u16string probe_;  // the text being looked up; index UINT32_MAX refers to it
};
