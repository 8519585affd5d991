#include "libreoffice/OfficeProfile.h"

#include "automation/OleVariant.h"
#include "settings/StateFolder.h"

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QTemporaryDir>

const OfficeProfile& OfficeProfile::ForThisRun() {
  // Made on the program's thread, where the office is started.
  static const std::unique_ptr<OfficeProfile> profile(new OfficeProfile);
  return *profile;
}

OfficeProfile::OfficeProfile() {
  const QString shared = UserStateFolder() + QStringLiteral("/office-profile");
  QDir().mkpath(UserStateFolder());
  auto lock = std::make_unique<QLockFile>(shared + QStringLiteral(".cfwlock"));
  if (lock->tryLock(0)) {
    lock_ = std::move(lock);
    folder_ = shared;
    return;
  }
  own_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/cellfeedwizard-office-XXXXXX"));
  if (!own_->isValid()) throw EServerUnavailable(QStringLiteral("No folder for LibreOffice's settings could be made"));
  folder_ = own_->path();
}

OfficeProfile::~OfficeProfile() = default;

void OfficeProfile::ClearStaleLock() const {
  if (lock_) QFile::remove(folder_ + QStringLiteral("/.lock"));
}
