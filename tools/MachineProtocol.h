#pragma once
// The machine's side of the conversation: what it answers to each command byte
// and what it reports when a sheet drops through it during a calibration.
//
// Commands are single bytes: "@" attention (acknowledged with "K"), "m"/"g" the
// bubble mode, "v" the firmware version, "c" start calibrating, "s" store the
// calibration. Anything else is ignored, as the machine ignores line noise.
// This engine does no I/O and keeps no clock; the simulator feeds it.

#include "tools/SheetPattern.h"

#include <optional>
#include <string>
#include <string_view>

namespace machine_sim {

struct ProtocolSettings {
  std::string acknowledgement = "K";
  // The version as the machine prints it in "Version <x> (C) 1998 Orvane.\r\n".
  std::string firmware = "2.5";
  bool silentToAttention = false;    // no answer at all to "@"
  bool calibrationTimesOut = false;  // "c" answers "T" instead of starting
  bool storeFails = false;           // "s" answers "F"
  BubbleMode initialMode = BubbleMode::Multiple;
};

enum class CalibrationPhase {
  Idle,     // no calibration running
  Running,  // "A" sent; waiting for blank sheets
  Complete  // "E" sent; results wait to be stored
};

// Four blank sheets for a firmware above 0 and at most 3.1, otherwise eight. A
// version that does not read as a number counts as 0.
int CalibrationSheetCount(std::string_view firmware);

// The machine's reply after the n-th of `sheets` blank sheets (n from 1):
// "b","c","d","e","B","C","D" then "E" for eight; "B","C","D" then "E" for four.
char CalibrationProgressReply(int sheets, int n);

// Refuses a version text that would break the reply line (line ends, "(C)").
bool IsUsableFirmwareText(std::string_view firmware);

class MachineProtocol {
 public:
  explicit MachineProtocol(ProtocolSettings settings = {});

  // One byte from the application; returns the answer (often empty).
  std::string Receive(char command);

  // A blank sheet dropped while calibrating gives the progress reply; outside a
  // running calibration nothing is returned and the sheet is scanned instead.
  std::optional<std::string> CalibrationSheetDropped();

  std::string VersionReply() const;

  BubbleMode Mode() const { return mode_; }
  // Whether the application has chosen a bubble mode ("m" or "g") yet.
  bool ModeChosen() const { return modeChosen_; }
  CalibrationPhase Phase() const { return phase_; }
  int SheetsRequired() const { return sheetsRequired_; }
  int SheetsDropped() const { return sheetsDropped_; }
  // Counts the calibrations started; a restart by another "c" counts anew.
  unsigned CalibrationsStarted() const { return calibrationsStarted_; }
  const ProtocolSettings& Settings() const { return settings_; }

  void SetSilentToAttention(bool silent) { settings_.silentToAttention = silent; }
  void SetCalibrationTimesOut(bool timesOut) { settings_.calibrationTimesOut = timesOut; }
  void SetStoreFails(bool fails) { settings_.storeFails = fails; }
  // Throws std::invalid_argument for a text refused by IsUsableFirmwareText.
  void SetFirmware(std::string firmware);

 private:
  std::string StartCalibration();
  std::string StoreCalibration();

  ProtocolSettings settings_;
  BubbleMode mode_;
  bool modeChosen_ = false;
  CalibrationPhase phase_ = CalibrationPhase::Idle;
  int sheetsRequired_ = 0;
  int sheetsDropped_ = 0;
  bool resultsHeld_ = false;  // a finished calibration that "s" can store
  unsigned calibrationsStarted_ = 0;
};

}  // namespace machine_sim
