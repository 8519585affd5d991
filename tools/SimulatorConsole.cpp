#include "tools/SimulatorConsole.h"

#include "tools/SimulatorOptions.h"

#include <stdexcept>

namespace machine_sim {

namespace {

std::string_view Trim(std::string_view text) {
  const auto first = text.find_first_not_of(" \t\r");
  if (first == std::string_view::npos) return {};
  const auto last = text.find_last_not_of(" \t\r");
  return text.substr(first, last - first + 1);
}

// "on"/"off" and their usual spellings; anything else is refused.
bool ParseSwitch(std::string_view word, bool& value) {
  if (word == "on" || word == "yes" || word == "1") {
    value = true;
    return true;
  }
  if (word == "off" || word == "no" || word == "0") {
    value = false;
    return true;
  }
  return false;
}

const char* PhaseName(CalibrationPhase phase) {
  switch (phase) {
    case CalibrationPhase::Idle: return "idle";
    case CalibrationPhase::Running: return "running";
    case CalibrationPhase::Complete: return "complete";
  }
  return "?";
}

}  // namespace

ConsoleReply SimulatorConsole::Execute(std::string_view line) {
  const std::string_view trimmed = Trim(line);
  const auto space = trimmed.find(' ');
  const std::string word(trimmed.substr(0, space));
  const std::string_view argument = space == std::string_view::npos ? std::string_view() : Trim(trimmed.substr(space));

  if (word == "unplug" || word == "quit" || word == "exit") return {{}, true};
  if (word == "help" || word == "?") return {Help()};
  if (word == "status") return {StatusLine()};
  if (simulator_.Unplugged()) return {"the machine is unplugged"};

  bool on = false;
  try {
    if (word.empty() || word == "drop" || word == "d") {
      simulator_.DropSheet();
    } else if (word == "sheet") {
      simulator_.DropSheet(ParseSheetPattern(argument));
    } else if (word == "noise") {
      simulator_.SendNoise();
    } else if (word == "send") {
      if (argument.empty()) return {"send wants the text to send"};
      simulator_.SendRaw(DecodeEscapes(argument));
    } else if (word == "silent" && ParseSwitch(argument, on)) {
      simulator_.SetSilentToAttention(on);
    } else if (word == "timeout" && ParseSwitch(argument, on)) {
      simulator_.SetCalibrationTimesOut(on);
    } else if (word == "store" && (argument == "ok" || argument == "fail")) {
      simulator_.SetStoreFails(argument == "fail");
    } else if (word == "firmware" && !argument.empty()) {
      simulator_.SetFirmware(std::string(argument));
    } else if (word == "pause" || word == "resume") {
      simulator_.SetPaused(word == "pause");
    } else {
      return {"unknown command \"" + std::string(trimmed) + "\" (type help)"};
    }
  } catch (const std::exception& e) {
    return {std::string(word) + ": " + e.what()};
  }
  return {};
}

std::string SimulatorConsole::StatusLine() const {
  const SimulatorStatus s = simulator_.Status();
  if (s.unplugged) return "unplugged";
  std::string line = std::string("listening=") + (s.listening ? "yes" : "no") +
                     " mode=" + (s.mode == BubbleMode::Multiple ? "multiple" : "single") +
                     (s.modeChosen ? "" : "(default)") + " calibration=" + PhaseName(s.calibration);
  if (s.calibration != CalibrationPhase::Idle) {
    // Appended piece by piece: "(" + a temporary makes GCC 12 at -O3 warn of an
    // overlapping copy that cannot happen.
    line += '(';
    line += std::to_string(s.calibrationSheetsDropped);
    line += '/';
    line += std::to_string(s.calibrationSheetsRequired);
    line += ')';
  }
  line += " sheets=" + std::to_string(s.sheetsDelivered) + "/" + std::to_string(s.sheetsDropped) +
          " received=" + std::to_string(s.receivedBytes) + " sent=" + std::to_string(s.sentBytes) +
          (s.paused ? " paused" : "");
  return line;
}

std::string SimulatorConsole::Help() {
  return R"(commands (one per line):
  (empty line), drop, d   drop a sheet (a blank one while calibrating)
  sheet PATTERN           drop this sheet, e.g. sheet 1,,34,6
  noise                   send a burst of line noise
  send TEXT               send bytes as they are (escapes \r \n \t \\ \xHH)
  silent on|off           stop or resume answering "@"
  timeout on|off          "c" answers T (calibration cannot start) or starts
  store ok|fail           "s" answers G or F
  firmware X              version reported to "v"
  pause, resume           hold or go on with the scheduled sheets
  status                  one line: line, mode, calibration, sheets (delivered/dropped)
  unplug, quit            pull the cable: the device vanishes, the program ends
)";
}

}  // namespace machine_sim
