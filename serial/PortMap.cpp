#include "serial/PortMap.h"

#include <sys/stat.h>

#include <mutex>

#include "settings/IniFile.h"

namespace {

// Guards the settings path: set by the application, read wherever a port opens.
std::mutex& MapLock() {
  static std::mutex lock;
  return lock;
}

QString& SettingsPath() {
  static QString path;
  return path;
}

}  // namespace

void SetPortMapSettingsFile(const QString& path) {
  std::lock_guard guard(MapLock());
  SettingsPath() = path;
}

std::string DefaultPortDevicePath(int n) {
  if (n < 1 || n > kMaxChoosableComNumber) return {};
  if (n <= 8) return "/dev/ttyS" + std::to_string(n - 1);
  if (n <= 16) return "/dev/ttyUSB" + std::to_string(n - 9);
  if (n <= 24) return "/dev/ttyACM" + std::to_string(n - 17);
  return "/dev/ttyS" + std::to_string(n - 25 + 8);
}

std::string PortDevicePath(int n) {
  const std::string fallback = DefaultPortDevicePath(n);
  if (fallback.empty()) return {};
  QString settings;
  {
    std::lock_guard guard(MapLock());
    settings = SettingsPath();
  }
  if (settings.isEmpty()) return fallback;
  const QString mapped =
      IniFile(settings).ReadString("Ports", QString("COM%1").arg(n), QString()).trimmed();
  return mapped.isEmpty() ? fallback : mapped.toStdString();
}

std::vector<std::string> SerialPortsPresent() {
  std::vector<std::string> present;
  for (int n = 1; n <= kMaxComNumber; ++n) {
    struct stat st {};
    const std::string path = PortDevicePath(n);
    if (::stat(path.c_str(), &st) == 0 && S_ISCHR(st.st_mode)) present.push_back("COM" + std::to_string(n));
  }
  return present;
}
