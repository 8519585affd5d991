// The simulator in-process, over its pseudo-terminal, and what it does around it.

#include "PtyPeer.h"
#include "RecordDecoder.h"
#include "ScratchFiles.h"
#include "tools/DeviceLink.h"
#include "tools/MachineSimulator.h"
#include "tools/PortMapping.h"
#include "tools/SimulatorConsole.h"

#include "settings/IniFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

using namespace machine_sim;
using namespace std::chrono_literals;

namespace {

SimulatorConfig Unpaced() {
  SimulatorConfig config;
  config.baud = 0;
  return config;
}




TEST(MachineSimulator, AnswersCommandsOnItsDevice) {
  SimulatorConfig config = Unpaced();
  config.protocol.firmware = "3.0";
  MachineSimulator sim(config);
  EXPECT_EQ(sim.DevicePath().rfind("/dev/pts/", 0), 0u);
  PtyPeer app(sim.DevicePath());
  ASSERT_TRUE(app.IsOpen());
  EXPECT_EQ(app.Ask("@"), "K");
  EXPECT_EQ(app.Ask("v"), "Version 3.0 (C) 1998 Orvane.\r\n");
  sim.SetSilentToAttention(true);
  EXPECT_EQ(app.Ask("@", 300ms), "");
  EXPECT_EQ(app.Ask("v"), "Version 3.0 (C) 1998 Orvane.\r\n");
  EXPECT_TRUE(sim.WaitFor([](const SimulatorStatus& s) { return s.received == "@v@v" && s.listening; }, 10s));
}

TEST(MachineSimulator, CalibratesWithSheetsOnCommandOrOnSchedule) {
  SimulatorConfig config = Unpaced();
  config.protocol.firmware = "3.1";
  MachineSimulator four(config);
  PtyPeer app(four.DevicePath());
  EXPECT_EQ(app.Ask("@"), "K");
  EXPECT_EQ(app.Ask("c"), "A");
  std::string replies;
  for (int i = 0; i < 4; ++i) {
    four.DropSheet();
    ASSERT_TRUE(app.ReadAtLeast(1, 10s));
    replies += app.Take();
  }
  EXPECT_EQ(replies, "BCDE");
  four.SetStoreFails(true);
  EXPECT_EQ(app.Ask("@"), "K");
  EXPECT_EQ(app.Ask("s"), "F");

  config.protocol.firmware = "4.0";
  config.calibrationInterval = 60ms;
  MachineSimulator eight(config);
  PtyPeer app8(eight.DevicePath());
  app8.Write("c");
  ASSERT_TRUE(app8.ReadAtLeast(9, 10s));
  EXPECT_EQ(app8.Received(), "AbcdeBCDE");
  // Eight sheets, one every 60 ms (generous margin).
  EXPECT_GE(app8.Arrivals().back().at - app8.Arrivals().front().at, 8 * 40ms);
  EXPECT_EQ(app8.Ask("s"), "G");
  EXPECT_EQ(eight.Status().calibration, CalibrationPhase::Idle);
}

// Splits each record into pieces and follows it by noise, then checks the
// whole stream as the application would read it.
TEST(MachineSimulator, RecordsInPiecesWithNoiseStayReadable) {
  SimulatorConfig config = Unpaced();
  config.shape.maxPieces = 6;
  config.shape.maxGap = 3ms;
  config.shape.noisePercent = 100;
  config.shape.noiseQuiet = 100ms;
  config.seed = 5;
  MachineSimulator sim(config);
  PtyPeer app(sim.DevicePath());
  app.Write("m");
  constexpr int kSheets = 12;
  for (int i = 0; i < kSheets; ++i) sim.DropSheet();
  ASSERT_TRUE(app.ReadUntil(
      [&](const std::string& got) {
        const SimulatorStatus s = sim.Status();
        return s.sheetsDelivered == kSheets && s.pendingBytes == 0 && got.size() == s.sentBytes;
      },
      10s));
  const SimulatorStatus status = sim.Status();
  EXPECT_EQ(app.Received(), status.sent);
  ASSERT_EQ(status.deliveredRows.size(), static_cast<std::size_t>(kSheets));
  EXPECT_GT(app.Arrivals().size(), static_cast<std::size_t>(kSheets * 2)) << "records and noise arrive in pieces";

  // Arrival time of every byte.
  std::vector<PtyPeer::Clock::time_point> at;
  for (const auto& a : app.Arrivals()) at.insert(at.end(), a.bytes.size(), a.at);
  const std::string& line = app.Received();
  std::size_t pos = 0;
  int records = 0;
  while (pos < line.size()) {
    ASSERT_EQ(line[pos], 'S') << "at " << pos;
    const std::size_t end = line.find("E\r\n", pos);
    ASSERT_NE(end, std::string::npos);
    const auto row = PadRow(DecodeRecordAsApplication(line.substr(pos, end + 1 - pos), true));
    EXPECT_EQ(row, status.deliveredRows[static_cast<std::size_t>(records++)]);
    pos = end + 3;
    const std::size_t next = std::min(line.find('S', pos), line.size());
    const std::string noise = line.substr(pos, next - pos);
    EXPECT_TRUE(IsDistinguishableNoise(noise)) << noise;
    // The next record follows only after a quiet gap (100 ms; generous margin).
    if (next < line.size()) {
      EXPECT_GE(at[next] - at[next - 1], 50ms);
    }
    pos = next;
  }
  EXPECT_EQ(records, kSheets);
}

TEST(MachineSimulator, ScheduleStartsWithTheModeCommandAndDropsTheListOnce) {
  SimulatorConfig config = Unpaced();
  config.sheets = {ParseSheetPattern("1,2,3"), ParseSheetPattern(",,"), ParseSheetPattern("5,16,4")};
  config.scanInterval = 30ms;
  MachineSimulator sim(config);
  PtyPeer app(sim.DevicePath());
  app.ReadFor(150ms);
  EXPECT_EQ(app.Received(), "") << "nothing before the application chooses a mode";
  app.Write("g");
  ASSERT_TRUE(app.ReadUntil([](const std::string& s) { return std::count(s.begin(), s.end(), 'E') == 3; }, 10s));
  app.ReadFor(150ms);
  const std::string line = app.Take();
  EXPECT_EQ(std::count(line.begin(), line.end(), 'S'), 3) << "the list once: " << line;
  EXPECT_EQ(line.substr(0, 14), "S0001~321E\r\nS0");
  EXPECT_EQ(PadRow(DecodeRecordAsApplication(line.substr(line.rfind('S')), false))[1], "1");
  EXPECT_EQ(sim.Status().scheduledDrops, 3);
}

TEST(MachineSimulator, CalibrationHoldsTheScheduledSheets) {
  SimulatorConfig config = Unpaced();
  config.scanInterval = 25ms;
  config.scanStartsAtOnce = true;
  config.record.highBits = HighBits::Zero;  // no "A" in any record
  MachineSimulator sim(config);
  PtyPeer app(sim.DevicePath());
  app.Write("c");
  ASSERT_TRUE(app.ReadUntilContains("A", 10s));
  app.ReadFor(30ms);
  app.Take();  // "A", and maybe a record that was already on its way
  app.ReadFor(150ms);
  EXPECT_EQ(app.Take(), "") << "no sheets are scanned while calibrating";
  for (int i = 0; i < 4; ++i) sim.DropSheet();
  ASSERT_TRUE(app.ReadUntilContains("BCDE", 10s));
  app.ReadFor(150ms);
  EXPECT_EQ(app.Take(), "BCDE") << "nor while the results wait to be stored";
  app.Write("s");
  ASSERT_TRUE(app.ReadUntilContains("E\r\n", 10s)) << "scanning resumes after the calibration";
  EXPECT_EQ(app.Received().substr(0, 2), "GS");
}

TEST(MachineSimulator, WhatIsSentToAClosedDeviceIsLost) {
  MachineSimulator sim(Unpaced());
  sim.DropSheet();
  sim.SendRaw("stale");
  ASSERT_TRUE(sim.WaitFor(
      [](const SimulatorStatus& s) { return s.sheetsDropped == 1 && s.commandsDone == s.commandsPosted && s.pendingBytes == 0; },
      10s));
  PtyPeer app(sim.DevicePath());
  EXPECT_EQ(app.Ask("@"), "K") << "no stale bytes before the answer";
  const SimulatorStatus status = sim.Status();
  EXPECT_EQ(status.sheetsDelivered, 0);
  EXPECT_EQ(status.sent, "K");
  // Closing and opening again works, as the application does when it changes ports.
  app.Close();
  PtyPeer again(sim.DevicePath());
  EXPECT_EQ(again.Ask("@"), "K");
}

TEST(MachineSimulator, UnplugMakesTheDeviceAndLinkVanish) {
  SimulatorConfig config = Unpaced();
  config.linkPath = Scratch("machine-link");
  auto sim = std::make_unique<MachineSimulator>(config);
  const std::string device = sim->DevicePath();
  char target[256] = {};
  ASSERT_GT(::readlink(config.linkPath.c_str(), target, sizeof target - 1), 0);
  EXPECT_EQ(device, target);
  PtyPeer app(config.linkPath);
  ASSERT_TRUE(app.IsOpen());
  EXPECT_EQ(app.Ask("@"), "K");
  sim->Unplug();
  EXPECT_TRUE(sim->Unplugged());
  EXPECT_FALSE(Exists(device));
  EXPECT_FALSE(Exists(config.linkPath));
  app.ReadFor(50ms);
  EXPECT_TRUE(app.HungUp());
  sim->DropSheet();  // ignored, no crash
  sim->Unplug();
  sim.reset();
  EXPECT_FALSE(Exists(config.linkPath));
}

TEST(MachineSimulator, OutputIsPacedAtTheBaudRate) {
  SimulatorConfig config;
  config.baud = 19200;
  MachineSimulator sim(config);
  PtyPeer app(sim.DevicePath());
  ASSERT_TRUE(sim.WaitFor([](const SimulatorStatus& s) { return s.listening; }, 10s));
  const auto start = PtyPeer::Clock::now();
  sim.SendRaw(std::string(384, 'x'));  // 3840 bits: 200 ms at 19200 baud
  ASSERT_TRUE(app.ReadAtLeast(384, 10s));
  EXPECT_GE(PtyPeer::Clock::now() - start, 150ms);
  EXPECT_GT(app.Arrivals().size(), 10u);
}

TEST(SimulatorConsole, CommandsDriveTheMachine) {
  MachineSimulator sim(Unpaced());
  SimulatorConsole console(sim);
  PtyPeer app(sim.DevicePath());
  app.Write("g");
  ASSERT_TRUE(sim.WaitFor([](const SimulatorStatus& s) { return s.modeChosen; }, 10s));
  EXPECT_EQ(console.Execute("sheet 1,,34").text, "");
  ASSERT_TRUE(app.ReadUntilContains("\r\n", 10s));
  EXPECT_EQ(app.Take(), "S0001~3B1E\r\n");
  EXPECT_EQ(console.Execute("send S~\\x21\\x00E").text, "");
  ASSERT_TRUE(app.ReadAtLeast(5, 10s));
  EXPECT_EQ(app.Take(), std::string("S~!\0E", 5));
  console.Execute("");  // Enter drops the next sheet
  ASSERT_TRUE(app.ReadUntilContains("E\r\n", 10s));
  app.Take();
  console.Execute("silent on");
  EXPECT_EQ(app.Ask("@", 300ms), "");
  console.Execute("silent off");
  console.Execute("firmware 3.5");
  EXPECT_EQ(app.Ask("@v"), "KVersion 3.5 (C) 1998 Orvane.\r\n");
  console.Execute("timeout on");
  EXPECT_EQ(app.Ask("c"), "T");
  EXPECT_NE(console.Execute("status").text.find("listening=yes mode=single"), std::string::npos);
  EXPECT_NE(console.Execute("bogus").text.find("unknown command"), std::string::npos);
  EXPECT_NE(console.Execute("sheet 9").text.find("sheet"), std::string::npos);
  EXPECT_NE(console.Execute("firmware a(C)b").text.find("firmware"), std::string::npos);
  EXPECT_NE(console.Execute("help").text.find("unplug"), std::string::npos);
  EXPECT_TRUE(console.Execute("unplug").quit);
  sim.Unplug();
  EXPECT_EQ(console.Execute("drop").text, "the machine is unplugged");
  EXPECT_EQ(console.Execute("status").text, "unplugged");
}

TEST(DeviceLink, ReplacesAnOldLinkButNothingElse) {
  const std::string path = Scratch("link");
  ASSERT_EQ(::symlink("/dev/null", path.c_str()), 0);
  {
    DeviceLink link(path, "/dev/zero");
    char target[64] = {};
    ASSERT_GT(::readlink(path.c_str(), target, sizeof target - 1), 0);
    EXPECT_STREQ(target, "/dev/zero");
  }
  EXPECT_FALSE(Exists(path));

  std::ofstream(path) << "a file";
  EXPECT_THROW(DeviceLink(path, "/dev/zero"), std::system_error);
  EXPECT_EQ(ReadFile(path), "a file");
  ::unlink(path.c_str());

  // A link pointed elsewhere meanwhile belongs to someone else now.
  DeviceLink link(path, "/dev/zero");
  ::unlink(path.c_str());
  ASSERT_EQ(::symlink("/dev/null", path.c_str()), 0);
  link.Remove();
  EXPECT_TRUE(Exists(path));
  ::unlink(path.c_str());
  EXPECT_THROW(DeviceLink("/nonexistent-dir/link", "/dev/zero"), std::system_error);
}

TEST(PortMapping, WritesPortsAndPortNoAndKeepsTheRest) {
  const std::string file = Scratch("settings.ini");
  WritePortMapping(file, 3, "/dev/pts/7");
  EXPECT_EQ(ReadFile(file), "[Ports]\nCOM3=/dev/pts/7\n\n[Main]\nPortNo=3\n");

  std::ofstream(file) << "[MAIN]\r\nScanMode=SINGLE\r\nportno=1\r\n[FEED]\r\nRecent0=/x.xls\r\n[ports]\r\ncom3=/old\r\n";
  WritePortMapping(file, 3, "/dev/pts/9");
  WritePortMapping(file, 12, "/dev/pts/9");
  IniFile ini(QString::fromStdString(file));
  EXPECT_EQ(ini.ReadInteger("Main", "PortNo", 0), 12);
  EXPECT_EQ(ini.ReadString("Main", "ScanMode", ""), "SINGLE");
  EXPECT_EQ(ini.ReadString("FEED", "Recent0", ""), "/x.xls");
  EXPECT_EQ(ini.ReadString("Ports", "COM3", ""), "/dev/pts/9");
  EXPECT_EQ(ini.ReadString("Ports", "COM12", ""), "/dev/pts/9");
  EXPECT_EQ(ReadFile(file).find("[Main]"), std::string::npos) << "no second Main section";

  EXPECT_THROW(WritePortMapping(file, 0, "/dev/pts/9"), std::invalid_argument);
  EXPECT_THROW(WritePortMapping(file, 25, "/dev/pts/9"), std::invalid_argument);
  EXPECT_ANY_THROW(WritePortMapping("/nonexistent-dir/s.ini", 3, "/dev/pts/9"));
}

}  // namespace
