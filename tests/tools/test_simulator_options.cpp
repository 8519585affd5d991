// The program's command line.

#include "tools/SimulatorOptions.h"

#include <gtest/gtest.h>

#include <fstream>

using namespace machine_sim;

namespace {

SimulatorOptions Parse(std::vector<std::string> args) { return ParseSimulatorOptions(args); }

std::string UsageErrorOf(std::vector<std::string> args) {
  try {
    Parse(std::move(args));
  } catch (const UsageError& e) {
    return e.what();
  }
  return "(accepted)";
}

TEST(SimulatorOptions, DefaultsPlayAnOrdinaryMachine) {
  const SimulatorOptions o = Parse({});
  EXPECT_EQ(o.config.protocol.firmware, "2.5");
  EXPECT_EQ(o.config.protocol.acknowledgement, "K");
  EXPECT_EQ(o.config.protocol.initialMode, BubbleMode::Multiple);
  EXPECT_FALSE(o.config.protocol.silentToAttention);
  EXPECT_TRUE(o.config.sheets.empty());  // random sheets
  EXPECT_EQ(o.config.randomColumns, 66);
  EXPECT_EQ(o.config.baud, 19200);
  EXPECT_EQ(o.config.scanInterval.count(), 0);
  EXPECT_EQ(o.config.shape.maxPieces, 1);
  EXPECT_FALSE(o.config.keepHistory);
  EXPECT_FALSE(o.port);
}

TEST(SimulatorOptions, EveryOptionReachesItsSetting) {
  const std::string file = ::testing::TempDir() + "/options-sheets.txt";
  std::ofstream(file) << "1,2\n# c\n,6\n";
  const SimulatorOptions o =
      Parse({"--firmware", "3.1", "--ack=K\\r\\n", "--mode", "single", "--silent", "--calibration-timeout",
             "--store-fails", "--reply-delay", "40", "--baud", "0", "--sheet", "3,,45", "--sheets", file, "--seed",
             "9", "--high-bits", "ascii", "--random-header", "--interval", "700", "--start-now", "--count", "12",
             "--calibration-interval=900", "--split", "4", "--gap", "30", "--noise", "25", "--noise-quiet", "80",
             "--link", "/tmp/m", "--settings", "s.ini", "--port", "7", "--expect", "e.tsv", "-v"});
  const SimulatorConfig& c = o.config;
  EXPECT_EQ(c.protocol.firmware, "3.1");
  EXPECT_EQ(c.protocol.acknowledgement, "K\r\n");
  EXPECT_EQ(c.protocol.initialMode, BubbleMode::Single);
  EXPECT_TRUE(c.protocol.silentToAttention && c.protocol.calibrationTimesOut && c.protocol.storeFails);
  EXPECT_EQ(c.replyDelay.count(), 40);
  EXPECT_EQ(c.baud, 0);
  ASSERT_EQ(c.sheets.size(), 3u);  // the pattern first, then the file's two
  EXPECT_EQ(FormatSheetPattern(c.sheets[0]), "3,,45");
  EXPECT_EQ(FormatSheetPattern(c.sheets[2]), ",6");
  EXPECT_EQ(c.seed, 9u);
  EXPECT_EQ(c.record.highBits, HighBits::Ascii);
  EXPECT_TRUE(c.record.randomHeader);
  EXPECT_EQ(c.scanInterval.count(), 700);
  EXPECT_TRUE(c.scanStartsAtOnce);
  EXPECT_EQ(c.scanCount, 12);
  EXPECT_EQ(c.calibrationInterval.count(), 900);
  EXPECT_EQ(c.shape.maxPieces, 4);
  EXPECT_EQ(c.shape.maxGap.count(), 30);
  EXPECT_EQ(c.shape.noisePercent, 25);
  EXPECT_EQ(c.shape.noiseQuiet.count(), 80);
  EXPECT_EQ(c.linkPath, "/tmp/m");
  EXPECT_EQ(o.settingsFile, "s.ini");
  EXPECT_EQ(o.port, 7);
  EXPECT_EQ(o.expectFile, "e.tsv");
  EXPECT_TRUE(o.verbose);
}

TEST(SimulatorOptions, MistakesAreNamed) {
  EXPECT_NE(UsageErrorOf({"--bogus"}).find("--bogus"), std::string::npos);
  EXPECT_NE(UsageErrorOf({"--interval"}).find("wants a value"), std::string::npos);
  EXPECT_NE(UsageErrorOf({"--interval", "-5"}).find("--interval"), std::string::npos);
  EXPECT_NE(UsageErrorOf({"--noise", "101"}).find("--noise"), std::string::npos);
  EXPECT_NE(UsageErrorOf({"--port", "25", "--settings", "s"}).find("--port"), std::string::npos);
  EXPECT_NE(UsageErrorOf({"--split", "2x"}).find("2x"), std::string::npos);
  EXPECT_NE(UsageErrorOf({"--mode", "dual"}).find("dual"), std::string::npos);
  EXPECT_NE(UsageErrorOf({"--sheet", "1,7"}).find("--sheet"), std::string::npos);
  EXPECT_NE(UsageErrorOf({"--sheets", "/nonexistent/sheets"}).find("/nonexistent/sheets"), std::string::npos);
  EXPECT_NE(UsageErrorOf({"--firmware", "1 (C) 2"}).find("--firmware"), std::string::npos);
  EXPECT_NE(UsageErrorOf({"--ack", ""}).find("--ack"), std::string::npos);
  EXPECT_NE(UsageErrorOf({"--silent=yes"}).find("no value"), std::string::npos);
  EXPECT_NE(UsageErrorOf({"--settings", "s.ini"}).find("--port"), std::string::npos);
  EXPECT_NE(UsageErrorOf({"--port", "3"}).find("--settings"), std::string::npos);
  EXPECT_NE(UsageErrorOf({"--random", "--sheet", "1"}).find("--random"), std::string::npos);
}

TEST(SimulatorOptions, EscapesInTexts) {
  EXPECT_EQ(DecodeEscapes("S\\x7E\\x01E\\r\\n\\t\\\\"), std::string("S~\x01" "E\r\n\t\\"));
  EXPECT_EQ(DecodeEscapes("plain"), "plain");
  for (const char* bad : {"\\", "\\q", "\\x4", "\\xZZ"}) EXPECT_THROW(DecodeEscapes(bad), UsageError) << bad;
}

}  // namespace
