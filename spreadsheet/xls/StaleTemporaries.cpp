#include "spreadsheet/xls/StaleTemporaries.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QRegularExpression>

#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString kMarker = QStringLiteral(".cfwsave-");

// Left over: ours by name and owner, unlocked, and quiet for a while.
bool LeftOver(const QString& path) {
  const QByteArray name = QFile::encodeName(path);
  const int fd = open(name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat info {};
  bool stale = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_uid == geteuid() &&
               std::time(nullptr) - info.st_mtime >= StaleTemporaries::kQuietBeforeRemoval.count() &&
               flock(fd, LOCK_EX | LOCK_NB) == 0;  // a save in progress holds it
  // Removed while locked, so no save can take it up in between.
  if (stale) stale = unlink(name.constData()) == 0;
  close(fd);
  return stale;
}

}  // namespace

namespace StaleTemporaries {

QString TemplateFor(const QString& target) {
  const QFileInfo info(target);
  return info.absolutePath() + QStringLiteral("/.") + info.fileName() + kMarker + QStringLiteral("XXXXXX");
}

bool IsTemporaryName(const QString& fileName) {
  static const QRegularExpression pattern(QStringLiteral("^\\..+\\.cfwsave-[A-Za-z0-9]{6}$"));
  return pattern.match(fileName).hasMatch();
}

int RemoveIn(const QString& folder) {
  int removed = 0;
  const QDir dir(folder);
  for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
    if (IsTemporaryName(name) && LeftOver(dir.filePath(name))) ++removed;
  }
  return removed;
}

}  // namespace StaleTemporaries
