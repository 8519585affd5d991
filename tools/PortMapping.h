#pragma once
// Tells the application where the simulated machine is: the settings file's
// "Ports" section maps COM<n> to the device, and "PortNo" under "Main" makes n
// the machine's port. Other keys of the file are left as they are.

#include <string>

namespace machine_sim {

inline constexpr int kFirstMappedPort = 1;
inline constexpr int kLastMappedPort = 24;

// Creates or updates the INI file. Throws std::invalid_argument for a port
// outside 1..24 and the settings store's error when the file cannot be written.
void WritePortMapping(const std::string& settingsFile, int port, const std::string& devicePath);

}  // namespace machine_sim
