// The machine's answers, the calibration exchange, and how output is shaped.

#include "tools/LineShaper.h"
#include "tools/MachineProtocol.h"

#include <gtest/gtest.h>

#include <set>

using namespace machine_sim;

namespace {

// Feeds a command string and returns all the answers, concatenated.
std::string Say(MachineProtocol& machine, std::string_view commands) {
  std::string answers;
  for (char c : commands) answers += machine.Receive(c);
  return answers;
}

// Drops sheets until the calibration stops answering; returns the replies.
std::string DropUntilDone(MachineProtocol& machine) {
  std::string replies;
  while (auto reply = machine.CalibrationSheetDropped()) replies += *reply;
  return replies;
}

ProtocolSettings Firmware(std::string version) {
  ProtocolSettings settings;
  settings.firmware = std::move(version);
  return settings;
}

TEST(MachineProtocol, AnswersAttentionAndVersionAndIgnoresTheRest) {
  MachineProtocol machine;
  EXPECT_EQ(Say(machine, "@"), "K");
  EXPECT_EQ(Say(machine, "v"), "Version 2.5 (C) 1998 Orvane.\r\n");
  EXPECT_EQ(Say(machine, "xyz\r\n?S~E"), "");
  EXPECT_EQ(machine.Phase(), CalibrationPhase::Idle);

  ProtocolSettings quiet;
  quiet.silentToAttention = true;
  quiet.acknowledgement = "{\r\n";
  MachineProtocol silent(quiet);
  EXPECT_EQ(Say(silent, "@@"), "");
  EXPECT_EQ(Say(silent, "v"), "Version 2.5 (C) 1998 Orvane.\r\n");  // only "@" goes unanswered
  silent.SetSilentToAttention(false);
  EXPECT_EQ(Say(silent, "@"), "{\r\n");
}

TEST(MachineProtocol, RemembersTheBubbleMode) {
  ProtocolSettings settings;
  settings.initialMode = BubbleMode::Single;
  MachineProtocol machine(settings);
  EXPECT_EQ(machine.Mode(), BubbleMode::Single);
  EXPECT_FALSE(machine.ModeChosen());
  EXPECT_EQ(Say(machine, "@m"), "K");
  EXPECT_EQ(machine.Mode(), BubbleMode::Multiple);
  EXPECT_TRUE(machine.ModeChosen());
  Say(machine, "g");
  EXPECT_EQ(machine.Mode(), BubbleMode::Single);
}

TEST(MachineProtocol, SheetCountFollowsTheFirmwareVersion) {
  for (const char* four : {"3.1", "2.5", "0.01", " 3.1", "3.10"}) EXPECT_EQ(CalibrationSheetCount(four), 4) << four;
  for (const char* eight : {"0", "-1", "3.11", "4.0", "x.y", "2,5", "nan", ""})
    EXPECT_EQ(CalibrationSheetCount(eight), 8) << eight;
}

TEST(MachineProtocol, EightSheetCalibrationThenStore) {
  MachineProtocol machine(Firmware("4.0"));
  EXPECT_FALSE(machine.CalibrationSheetDropped()) << "no calibration yet: a sheet is scanned";
  EXPECT_EQ(Say(machine, "@"), "K");
  EXPECT_EQ(Say(machine, "c"), "A");
  EXPECT_EQ(machine.SheetsRequired(), 8);
  // "@" in between (the dialog sends one whenever it is activated) changes nothing.
  EXPECT_EQ(*machine.CalibrationSheetDropped(), "b");
  EXPECT_EQ(Say(machine, "@"), "K");
  EXPECT_EQ(DropUntilDone(machine), "cdeBCDE");
  EXPECT_EQ(machine.Phase(), CalibrationPhase::Complete);
  EXPECT_EQ(machine.SheetsDropped(), 8);
  EXPECT_EQ(Say(machine, "@s"), "KG");
  EXPECT_EQ(machine.Phase(), CalibrationPhase::Idle);
  EXPECT_EQ(Say(machine, "s"), "G") << "stored results can be stored again";
}

TEST(MachineProtocol, FourSheetCalibration) {
  MachineProtocol machine(Firmware("3.1"));
  EXPECT_EQ(Say(machine, "c"), "A");
  EXPECT_EQ(DropUntilDone(machine), "BCDE");
  EXPECT_EQ(Say(machine, "s"), "G");
}

TEST(MachineProtocol, StartTimesOutOrStoreFails) {
  ProtocolSettings settings;
  settings.calibrationTimesOut = true;
  MachineProtocol machine(settings);
  EXPECT_EQ(Say(machine, "c"), "T");
  EXPECT_EQ(machine.Phase(), CalibrationPhase::Idle);
  EXPECT_FALSE(machine.CalibrationSheetDropped());
  EXPECT_EQ(Say(machine, "s"), "F") << "nothing to store";

  machine.SetCalibrationTimesOut(false);
  machine.SetStoreFails(true);
  EXPECT_EQ(Say(machine, "c"), "A");
  DropUntilDone(machine);
  EXPECT_EQ(Say(machine, "s"), "F");
  machine.SetStoreFails(false);
  EXPECT_EQ(Say(machine, "s"), "F") << "a failed store loses the results: calibrate again";
}

TEST(MachineProtocol, AnotherStartBeginsAgainAndStoreEndsTheSession) {
  MachineProtocol machine(Firmware("2.5"));
  Say(machine, "c");
  machine.CalibrationSheetDropped();
  machine.CalibrationSheetDropped();
  EXPECT_EQ(Say(machine, "c"), "A");
  EXPECT_EQ(machine.SheetsDropped(), 0);
  EXPECT_EQ(machine.CalibrationsStarted(), 2u);
  EXPECT_EQ(*machine.CalibrationSheetDropped(), "B");
  // A store in the middle fails and ends the calibration.
  EXPECT_EQ(Say(machine, "s"), "F");
  EXPECT_FALSE(machine.CalibrationSheetDropped());
}

TEST(MachineProtocol, FirmwareTextMustFitTheVersionLine) {
  for (const char* bad : {"", "2.5\r\n", "1 (C) 2", "\x01"}) {
    EXPECT_FALSE(IsUsableFirmwareText(bad));
    EXPECT_THROW(MachineProtocol{Firmware(bad)}, std::invalid_argument);
  }
  MachineProtocol machine;
  machine.SetFirmware("junk");
  EXPECT_EQ(Say(machine, "v"), "Version junk (C) 1998 Orvane.\r\n");
  Say(machine, "c");
  EXPECT_EQ(machine.SheetsRequired(), 8);
  EXPECT_THROW(machine.SetFirmware("a\nb"), std::invalid_argument);
}

TEST(LineShaper, SplitKeepsEveryByteInOrder) {
  ShapeSettings settings;
  settings.maxPieces = 5;
  settings.maxGap = std::chrono::milliseconds(9);
  LineShaper shaper(settings, 3);
  const std::string message = "S0001~abcdefghijE\r\n";
  std::set<std::size_t> counts;
  for (int i = 0; i < 200; ++i) {
    const auto pieces = shaper.Split(message);
    ASSERT_GE(pieces.size(), 1u);
    ASSERT_LE(pieces.size(), 5u);
    counts.insert(pieces.size());
    std::string joined;
    for (std::size_t k = 0; k < pieces.size(); ++k) {
      ASSERT_FALSE(pieces[k].bytes.empty());
      joined += pieces[k].bytes;
      if (k == 0) {
        EXPECT_EQ(pieces[k].gapBefore.count(), 0);
      } else {
        EXPECT_GE(pieces[k].gapBefore.count(), 1);
        EXPECT_LE(pieces[k].gapBefore.count(), 9);
      }
    }
    EXPECT_EQ(joined, message);
  }
  EXPECT_EQ(counts.size(), 5u) << "every piece count from 1 to 5 occurs";
  EXPECT_EQ(shaper.Split("K").size(), 1u);
  EXPECT_EQ(LineShaper().Split(message).size(), 1u) << "unsplit by default";
}

TEST(LineShaper, NoiseCannotPassForAnythingTheMachineSays) {
  for (char c : std::string("K.SE~ABCDEFGTYabcdefgt{@\r\n")) EXPECT_EQ(NoiseAlphabet().find(c), std::string_view::npos) << c;
  ShapeSettings settings;
  settings.noisePercent = 100;
  settings.noiseQuiet = std::chrono::milliseconds(70);
  LineShaper shaper(settings, 5);
  for (int i = 0; i < 300; ++i) {
    ASSERT_TRUE(shaper.NoiseDue());
    const Piece noise = shaper.MakeNoise();
    EXPECT_TRUE(IsDistinguishableNoise(noise.bytes)) << noise.bytes;
    EXPECT_LE(noise.bytes.size(), LineShaper::kMaxNoiseLength);
    EXPECT_GE(noise.gapBefore.count(), 1);
    EXPECT_EQ(noise.quietAfter.count(), 70);
  }
  EXPECT_FALSE(IsDistinguishableNoise("12K"));
  EXPECT_FALSE(IsDistinguishableNoise(""));
  EXPECT_FALSE(LineShaper().NoiseDue());
}

TEST(LineShaper, RefusesSettingsOutOfRange) {
  ShapeSettings pieces;
  pieces.maxPieces = 0;
  EXPECT_THROW(LineShaper{pieces}, std::invalid_argument);
  ShapeSettings rate;
  rate.noisePercent = 101;
  EXPECT_THROW(LineShaper{rate}, std::invalid_argument);
  ShapeSettings gap;
  gap.maxGap = std::chrono::milliseconds(0);
  EXPECT_THROW(LineShaper{gap}, std::invalid_argument);
}

}  // namespace
