#include "tools/PortMapping.h"

#include "settings/IniFile.h"

#include <stdexcept>

namespace machine_sim {

void WritePortMapping(const std::string& settingsFile, int port, const std::string& devicePath) {
  if (port < kFirstMappedPort || port > kLastMappedPort)
    throw std::invalid_argument("the port number must be 1-24, not " + std::to_string(port));
  IniFile ini(QString::fromStdString(settingsFile));
  // The device first: PortNo must never name a port that does not lead here.
  ini.WriteString(QStringLiteral("Ports"), QStringLiteral("COM%1").arg(port), QString::fromStdString(devicePath));
  ini.WriteInteger(QStringLiteral("Main"), QStringLiteral("PortNo"), port);
}

}  // namespace machine_sim
