#include "tools/MachineProtocol.h"

#include <clocale>
#include <cstdlib>
#include <stdexcept>

namespace machine_sim {

namespace {

constexpr std::string_view kEightSheetReplies = "bcdeBCDE";
constexpr std::string_view kFourSheetReplies = "BCDE";

// strtod would follow the process locale; the machine always prints a point.
double ParseVersionNumber(std::string_view text) {
  const std::string copy(text);
  const char* begin = copy.c_str();
  char* end = nullptr;
  locale_t c = newlocale(LC_NUMERIC_MASK, "C", static_cast<locale_t>(0));
  const double value = strtod_l(begin, &end, c);
  freelocale(c);
  if (end == begin) return 0;
  for (const char* p = end; *p; ++p)
    if (*p != ' ') return 0;
  return value;
}

}  // namespace

int CalibrationSheetCount(std::string_view firmware) {
  const double version = ParseVersionNumber(firmware);
  return version > 0 && version <= 3.1 ? 4 : 8;
}

char CalibrationProgressReply(int sheets, int n) {
  const std::string_view replies = sheets == 4 ? kFourSheetReplies : kEightSheetReplies;
  if (n < 1 || n > static_cast<int>(replies.size())) throw std::out_of_range("no such calibration sheet");
  return replies[static_cast<std::size_t>(n - 1)];
}

bool IsUsableFirmwareText(std::string_view firmware) {
  if (firmware.empty() || firmware.find("(C)") != std::string_view::npos) return false;
  for (char c : firmware)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) return false;
  return true;
}

MachineProtocol::MachineProtocol(ProtocolSettings settings)
    : settings_(std::move(settings)), mode_(settings_.initialMode) {
  if (!IsUsableFirmwareText(settings_.firmware)) throw std::invalid_argument("unusable firmware version text");
}

std::string MachineProtocol::Receive(char command) {
  switch (command) {
    case '@': return settings_.silentToAttention ? std::string() : settings_.acknowledgement;
    case 'm':
      mode_ = BubbleMode::Multiple;
      modeChosen_ = true;
      return {};
    case 'g':
      mode_ = BubbleMode::Single;
      modeChosen_ = true;
      return {};
    case 'v': return VersionReply();
    case 'c': return StartCalibration();
    case 's': return StoreCalibration();
    default: return {};
  }
}

std::optional<std::string> MachineProtocol::CalibrationSheetDropped() {
  if (phase_ != CalibrationPhase::Running) return std::nullopt;
  ++sheetsDropped_;
  const char reply = CalibrationProgressReply(sheetsRequired_, sheetsDropped_);
  if (sheetsDropped_ == sheetsRequired_) {
    phase_ = CalibrationPhase::Complete;
    resultsHeld_ = true;
  }
  return std::string(1, reply);
}

std::string MachineProtocol::VersionReply() const { return "Version " + settings_.firmware + " (C) 1998 Orvane.\r\n"; }

void MachineProtocol::SetFirmware(std::string firmware) {
  if (!IsUsableFirmwareText(firmware)) throw std::invalid_argument("unusable firmware version text");
  settings_.firmware = std::move(firmware);
}

// "c" always starts afresh: the application sends it again after every
// acknowledgement it gets while prompting, and the machine then begins again.
std::string MachineProtocol::StartCalibration() {
  resultsHeld_ = false;
  sheetsDropped_ = 0;
  if (settings_.calibrationTimesOut) {
    phase_ = CalibrationPhase::Idle;
    return "T";
  }
  phase_ = CalibrationPhase::Running;
  sheetsRequired_ = CalibrationSheetCount(settings_.firmware);
  ++calibrationsStarted_;
  return "A";
}

// Storing ends the calibration session. It needs a finished calibration; a
// failed store loses the results, so the machine must be calibrated again.
std::string MachineProtocol::StoreCalibration() {
  phase_ = CalibrationPhase::Idle;
  if (!resultsHeld_ || settings_.storeFails) {
    resultsHeld_ = false;
    return "F";
  }
  return "G";
}

}  // namespace machine_sim
