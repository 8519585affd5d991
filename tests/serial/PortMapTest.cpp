#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <algorithm>

#include "PtyPair.h"
#include "serial/PortMap.h"

namespace {

class PortMapTest : public ::testing::Test {
 protected:
  void TearDown() override { SetPortMapSettingsFile(QString()); }

  QString WriteSettings(const QString& text) {
    const QString path = dir.filePath("Settings.ini");
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(text.toUtf8());
    return path;
  }
  QTemporaryDir dir;
};

}  // namespace

TEST_F(PortMapTest, DefaultsCoverTheThreeDeviceFamiliesAndTheDialogRange) {
  EXPECT_EQ(PortDevicePath(1), "/dev/ttyS0");
  EXPECT_EQ(PortDevicePath(8), "/dev/ttyS7");
  EXPECT_EQ(PortDevicePath(9), "/dev/ttyUSB0");
  EXPECT_EQ(PortDevicePath(16), "/dev/ttyUSB7");
  EXPECT_EQ(PortDevicePath(17), "/dev/ttyACM0");
  EXPECT_EQ(PortDevicePath(24), "/dev/ttyACM7");
  EXPECT_EQ(PortDevicePath(25), "/dev/ttyS8");
  EXPECT_EQ(PortDevicePath(50), "/dev/ttyS33");
  EXPECT_EQ(PortDevicePath(0), "");
  EXPECT_EQ(PortDevicePath(51), "");
}

TEST_F(PortMapTest, SettingsSectionOverridesWithoutRegardToCase) {
  SetPortMapSettingsFile(WriteSettings("[ports]\ncom9=/dev/serial/by-id/scanner\nCOM3= \n"));
  EXPECT_EQ(PortDevicePath(9), "/dev/serial/by-id/scanner");
  EXPECT_EQ(PortDevicePath(3), "/dev/ttyS2");  // blank value: the default
  EXPECT_EQ(PortDevicePath(10), "/dev/ttyUSB1");
  SetPortMapSettingsFile(QString());
  EXPECT_EQ(PortDevicePath(9), "/dev/ttyUSB0");
}

TEST_F(PortMapTest, PresentPortsAreTheMappedCharacterDevices) {
  PtyPair pty;
  const QString plainFile = dir.filePath("not-a-device");
  QFile(plainFile).open(QIODevice::WriteOnly);
  SetPortMapSettingsFile(WriteSettings(QString("[Ports]\nCOM5=%1\nCOM6=%2\nCOM7=/dev/cfw-missing\n")
                                           .arg(QString::fromStdString(pty.Path()), plainFile)));
  const auto present = SerialPortsPresent();
  auto has = [&](const char* name) { return std::find(present.begin(), present.end(), name) != present.end(); };
  EXPECT_TRUE(has("COM5"));
  EXPECT_FALSE(has("COM6"));
  EXPECT_FALSE(has("COM7"));
  // Unplugged: the device node goes away and so does the port.
  pty.CloseMaster();
  const auto after = SerialPortsPresent();
  EXPECT_EQ(std::find(after.begin(), after.end(), "COM5"), after.end());
}
