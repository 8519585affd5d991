// Serial port numbers (COM1, COM2, ...) to Linux device paths.
//
// Defaults: COM1-COM8 /dev/ttyS0-7, COM9-COM16 /dev/ttyUSB0-7, COM17-COM24
// /dev/ttyACM0-7; COM25-COM50 (offered only by the port-choice dialog) go on
// with /dev/ttyS8 upwards. The settings file's section "Ports" may name a
// path for any number ("COM9=/dev/ttyUSB0").
#pragma once

#include <QString>

#include <string>
#include <vector>

constexpr int kMaxComNumber = 24;         // numbers the program stores
constexpr int kMaxChoosableComNumber = 50;  // numbers the port-choice dialog probes

// The application names its settings file at start; empty = defaults only.
void SetPortMapSettingsFile(const QString& path);

// The device path for COM<n>; empty when n is outside 1..50.
std::string PortDevicePath(int comNumber);
// The path the defaults give COM<n>, ignoring the settings file.
std::string DefaultPortDevicePath(int comNumber);

// "COM<n>" for every n in 1..24 whose mapped path is a character device now.
std::vector<std::string> SerialPortsPresent();
