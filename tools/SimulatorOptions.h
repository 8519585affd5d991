#pragma once
// The machine-simulator program's command line.

#include "tools/MachineSimulator.h"

#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace machine_sim {

class UsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

struct SimulatorOptions {
  SimulatorConfig config;
  std::string settingsFile;        // --settings
  std::optional<int> port;         // --port
  std::string expectFile;          // --expect
  bool verbose = false;
  bool showHelp = false;
};

// Throws UsageError with a message that names the offending option.
// Reads the sheet file given with --sheets.
SimulatorOptions ParseSimulatorOptions(const std::vector<std::string>& args);

std::string SimulatorUsage();

// C-style escapes in a text given on the command line or stdin: \r \n \t,
// a doubled backslash and \xHH. Throws UsageError for an unfinished or unknown escape.
std::string DecodeEscapes(std::string_view text);

}  // namespace machine_sim
