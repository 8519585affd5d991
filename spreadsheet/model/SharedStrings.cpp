#include "spreadsheet/model/SharedStrings.h"

#include <algorithm>

using namespace Biff;

namespace {

constexpr uint32_t kProbeIndex = UINT32_MAX;

[[noreturn]] void ThrowCut() { throw StreamError(QStringLiteral("the shared string table is cut short")); }

}  // namespace

// Reads across the SST record and its CONTINUE records. Raw fields run on
// from one record into the next; characters restart with a flags byte.
class SharedStrings::Reader {
 public:
  explicit Reader(const std::vector<ByteView>& parts) : parts_(parts) {}

  bool AtEnd() {
    while (part_ < parts_.size() && pos_ >= parts_[part_].size()) {
      if (part_ + 1 == parts_.size()) return true;
      ++part_;
      pos_ = 0;
    }
    return part_ >= parts_.size();
  }

  void Raw(uint8_t* out, size_t count) {
    while (count > 0) {
      if (AtEnd()) ThrowCut();
      const size_t take = std::min(count, parts_[part_].size() - pos_);
      std::copy_n(parts_[part_].data() + pos_, take, out);
      out += take;
      pos_ += take;
      count -= take;
    }
  }
  // Appends raw bytes to out.
  void Append(std::vector<uint8_t>& out, size_t count) {
    const size_t start = out.size();
    out.resize(start + count);
    Raw(out.data() + start, count);
  }
  uint16_t ReadU16() {
    uint8_t b[2];
    Raw(b, 2);
    return U16(b);
  }
  uint32_t ReadU32() {
    uint8_t b[4];
    Raw(b, 4);
    return U32(b);
  }

  void Chars(size_t count, bool wide, std::u16string& out) {
    while (count > 0) {
      if (pos_ >= parts_[part_].size()) {
        if (part_ + 1 >= parts_.size()) ThrowCut();
        ++part_;
        pos_ = 0;
        uint8_t flags = 0;
        Raw(&flags, 1);
        wide = (flags & 0x01) != 0;
      }
      const ByteView part = parts_[part_];
      const size_t fit = (part.size() - pos_) / (wide ? 2 : 1);
      if (fit == 0) ThrowCut();  // half a character before a record boundary
      const size_t take = std::min(count, fit);
      const uint8_t* p = part.data() + pos_;
      for (size_t i = 0; i < take; ++i) out.push_back(wide ? static_cast<char16_t>(U16(p + 2 * i)) : p[i]);
      pos_ += take * (wide ? 2 : 1);
      count -= take;
    }
  }

 private:
  const std::vector<ByteView>& parts_;
  size_t part_ = 0;
  size_t pos_ = 0;
};

// Lays strings out over SST and CONTINUE records within the record size
// limit and notes where each bucket of strings starts for EXTSST.
class SharedStrings::Emitter {
 public:
  explicit Emitter(ByteSink& sink) : sink_(sink) {}

  size_t Room() const { return kMaxRecordData - record_.size(); }
  void Flush() {
    sink_.WriteRecord(first_ ? kSst : kContinue, record_);
    first_ = false;
    record_.clear();
  }
  void Need(size_t bytes) {
    if (Room() < bytes) Flush();
  }
  // Where the next byte lands: in the stream, and from its record's header.
  size_t StreamPosition() const { return sink_.Position() + kHeaderSize + record_.size(); }
  uint16_t RecordOffset() const { return static_cast<uint16_t>(kHeaderSize + record_.size()); }

  void Put8(uint8_t v) { record_.push_back(v); }
  void Put16(uint16_t v) {
    Put8(static_cast<uint8_t>(v));
    Put8(static_cast<uint8_t>(v >> 8));
  }
  void Put32(uint32_t v) {
    Put16(static_cast<uint16_t>(v));
    Put16(static_cast<uint16_t>(v >> 16));
  }
  void Chars(std::u16string_view text, bool wide) {
    const size_t width = wide ? 2 : 1;
    while (!text.empty()) {
      size_t fit = Room() / width;
      if (fit == 0) {
        Flush();
        Put8(wide ? 0x01 : 0x00);
        fit = Room() / width;
      }
      const size_t take = std::min(fit, text.size());
      for (size_t i = 0; i < take; ++i) {
        if (wide) {
          Put16(text[i]);
        } else {
          Put8(static_cast<uint8_t>(text[i]));
        }
      }
      text.remove_prefix(take);
    }
  }
  void Tail(const uint8_t* bytes, size_t runs, size_t length) {
    // Formatting runs stay whole; the phonetic block may split anywhere.
    for (size_t i = 0; i < runs; ++i) {
      Need(4);
      record_.insert(record_.end(), bytes + 4 * i, bytes + 4 * i + 4);
    }
    size_t done = runs * 4;
    while (done < length) {
      if (Room() == 0) Flush();
      const size_t take = std::min(Room(), length - done);
      record_.insert(record_.end(), bytes + done, bytes + done + take);
      done += take;
    }
  }

 private:
  ByteSink& sink_;
  Bytes record_;
  bool first_ = true;
};

SharedStrings::SharedStrings() = default;
SharedStrings::~SharedStrings() = default;

void SharedStrings::Load(const std::vector<ByteView>& parts) {
  if (parts.empty() || parts.front().size() < 8) ThrowCut();
  totalReferences_ = U32(parts.front().data());
  const uint32_t unique = U32(parts.front().data() + 4);
  std::vector<ByteView> body = parts;
  body.front() = body.front().subspan(8);
  Reader reader(body);
  std::u16string text;
  std::vector<uint8_t> tail;
  // Some writers announce more strings than they store: keep what is there.
  for (uint32_t i = 0; i < unique && !reader.AtEnd(); ++i) {
    const uint16_t length = reader.ReadU16();
    uint8_t flags = 0;
    reader.Raw(&flags, 1);
    const uint16_t runs = (flags & 0x08) ? reader.ReadU16() : 0;
    const uint32_t extLength = (flags & 0x04) ? reader.ReadU32() : 0;
    text.clear();
    reader.Chars(length, (flags & 0x01) != 0, text);
    tail.clear();
    reader.Append(tail, size_t{runs} * 4 + extLength);
    AddEntry(text, tail.data(), static_cast<uint32_t>(tail.size()), runs);
  }
  loadedCount_ = entries_.size();
  lookup_.reset();
}

void SharedStrings::AddEntry(std::u16string_view text, const uint8_t* tail, uint32_t tailLength, uint16_t runs) {
  Entry entry;
  entry.start = static_cast<uint32_t>(chars_.size());
  entry.length = static_cast<uint32_t>(text.size());
  entry.tailStart = static_cast<uint32_t>(tails_.size());
  entry.tailLength = tailLength;
  entry.runs = runs;
  entry.wide = std::any_of(text.begin(), text.end(), [](char16_t c) { return c > 0xFF; });
  chars_.insert(chars_.end(), text.begin(), text.end());
  tails_.insert(tails_.end(), tail, tail + tailLength);
  entries_.push_back(entry);
}

std::u16string_view SharedStrings::View(uint32_t index) const {
  if (index == kProbeIndex) return probe_;
  const Entry& entry = entries_[index];
  return {chars_.data() + entry.start, entry.length};
}

QString SharedStrings::Text(uint32_t index) const {
  if (index >= entries_.size()) return QString();
  const std::u16string_view view = View(index);
  return QString(reinterpret_cast<const QChar*>(view.data()), static_cast<qsizetype>(view.size()));
}

size_t SharedStrings::Hash::operator()(uint32_t index) const {
  size_t hash = 1469598103934665603ull;
  for (char16_t c : table->View(index)) hash = (hash ^ c) * 1099511628211ull;
  return hash;
}

bool SharedStrings::Equal::operator()(uint32_t a, uint32_t b) const { return table->View(a) == table->View(b); }

void SharedStrings::BuildLookup() {
  lookup_ = std::make_unique<std::unordered_set<uint32_t, Hash, Equal>>(entries_.size() * 2 + 16, Hash{this},
                                                                        Equal{this});
  // The first of equal strings wins, as later lookups should find it.
  for (uint32_t i = 0; i < entries_.size(); ++i) lookup_->insert(i);
}

uint32_t SharedStrings::Intern(const QString& text) {
  if (!lookup_) BuildLookup();
  probe_.assign(reinterpret_cast<const char16_t*>(text.utf16()), static_cast<size_t>(text.size()));
  const auto found = lookup_->find(kProbeIndex);
  if (found != lookup_->end()) return *found;
  AddEntry(probe_, nullptr, 0, 0);
  const uint32_t index = static_cast<uint32_t>(entries_.size() - 1);
  lookup_->insert(index);
  return index;
}

void SharedStrings::Write(ByteSink& sink) const {
  const size_t count = entries_.size();
  const size_t perBucket = std::max<size_t>(8, (count + 127) / 128);
  std::vector<std::pair<uint32_t, uint16_t>> buckets;
  Emitter out(sink);
  out.Put32(totalReferences_);
  out.Put32(static_cast<uint32_t>(count));
  for (size_t i = 0; i < count; ++i) {
    const Entry& entry = entries_[i];
    const size_t extLength = entry.tailLength - size_t{entry.runs} * 4;
    const size_t header = 3 + (entry.runs ? 2 : 0) + (extLength ? 4 : 0);
    // A string's header and its first character share one record.
    out.Need(header + (entry.length ? (entry.wide ? 2 : 1) : 0));
    if (i % perBucket == 0) buckets.emplace_back(static_cast<uint32_t>(out.StreamPosition()), out.RecordOffset());
    out.Put16(static_cast<uint16_t>(entry.length));
    out.Put8(static_cast<uint8_t>((entry.wide ? 0x01 : 0) | (extLength ? 0x04 : 0) | (entry.runs ? 0x08 : 0)));
    if (entry.runs) out.Put16(entry.runs);
    if (extLength) out.Put32(static_cast<uint32_t>(extLength));
    out.Chars(View(static_cast<uint32_t>(i)), entry.wide);
    out.Tail(tails_.data() + entry.tailStart, entry.runs, entry.tailLength);
  }
  out.Flush();

  Bytes ext(2 + 8 * buckets.size());
  PutU16(ext.data(), static_cast<uint16_t>(perBucket));
  for (size_t b = 0; b < buckets.size(); ++b) {
    PutU32(ext.data() + 2 + 8 * b, buckets[b].first);
    PutU16(ext.data() + 6 + 8 * b, buckets[b].second);
    PutU16(ext.data() + 8 + 8 * b, 0);
  }
  sink.WriteRecord(kExtSst, ext);
}
