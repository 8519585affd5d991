#pragma once
// The recent-files list: full paths, oldest first, no two equal without regard
// to letter case. Unbounded during a run; the ten newest are stored at exit.

#include <QString>
#include <QStringList>

class IniFile;

class RecentFileList {
 public:
  static constexpr int kStoredEntries = 10;

  // Moves a path that is already listed (in any letter case) to the end, with
  // the spelling given now; appends a new one.
  void Add(const QString& path);
  const QStringList& Paths() const { return paths_; }
  int Count() const { return static_cast<int>(paths_.size()); }

  // Reads "FEED" Recent0..Recent9 in rising order; empty entries are skipped.
  void Load(const IniFile& ini);
  // Drops the oldest entries until at most ten remain.
  void TrimToStored();
  // Writes entry i as "Recent<i>" under "FEED"; keys beyond the last are left alone.
  void Store(IniFile& ini) const;
  // The same for the ten newest entries, leaving the list as it is: so that
  // a run that ends without its shutdown steps still has its recent files.
  void StoreNewest(IniFile& ini) const;

 private:
  QStringList paths_;
};
