#pragma once
// The simulator's commands on standard input, one per line, so a trainer can
// drop sheets by pressing Enter and a script can drive the machine.

#include "tools/MachineSimulator.h"

#include <string>
#include <string_view>

namespace machine_sim {

struct ConsoleReply {
  std::string text;     // printed on standard output when not empty
  bool quit = false;    // the program should end (after unplugging)
};

class SimulatorConsole {
 public:
  explicit SimulatorConsole(MachineSimulator& simulator) : simulator_(simulator) {}

  ConsoleReply Execute(std::string_view line);

  static std::string Help();

 private:
  std::string StatusLine() const;

  MachineSimulator& simulator_;
};

}  // namespace machine_sim
