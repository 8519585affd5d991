#include "app/RecentFiles.h"

#include "settings/IniFile.h"

namespace {
const QString kSection = QStringLiteral("FEED");
QString KeyFor(int index) { return QStringLiteral("Recent%1").arg(index); }
}  // namespace

void RecentFileList::Add(const QString& path) {
  for (qsizetype i = 0; i < paths_.size(); ++i) {
    if (paths_[i].compare(path, Qt::CaseInsensitive) == 0) {
      paths_.removeAt(i);
      break;
    }
  }
  paths_.append(path);
}

void RecentFileList::Load(const IniFile& ini) {
  for (int n = 0; n < kStoredEntries; ++n) {
    const QString path = ini.ReadString(kSection, KeyFor(n), QString());
    if (!path.isEmpty()) Add(path);
  }
}

void RecentFileList::TrimToStored() {
  while (paths_.size() > kStoredEntries) paths_.removeFirst();
}

void RecentFileList::Store(IniFile& ini) const {
  for (int i = 0; i < Count(); ++i) ini.WriteString(kSection, KeyFor(i), paths_[i]);
}
