// The serial trace ring and its dump file, against hand-computed files.
#include "serial/AdTrace.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "RecorderScratch.h"

namespace {

class TraceTest : public ::testing::Test {
 protected:
  void Record(char kind, const std::string& bytes) {
    for (char c : bytes) trace.Add(kind, static_cast<std::uint8_t>(c));
  }
  void Record(char kind, const std::vector<int>& bytes) {
    for (int b : bytes) trace.Add(kind, static_cast<std::uint8_t>(b));
  }
  // Dumps into a fresh file and returns what it holds.
  std::string Dump(bool allHex = false, bool inHex = true) {
    const std::string file = dir.Path("APD.TRC");
    EXPECT_EQ(0, trace.Dump(file, false, allHex, inHex));
    return RecorderScratch::Read(file);
  }

  RecorderScratch dir;
  TApdTraceRecorder trace;
};

TEST_F(TraceTest, FullRingDumpsFromTheOldestSurvivingByte) {
  ASSERT_EQ(0, trace.Start(10000));
  for (int i = 0; i <= 10000; ++i) trace.Add('R', static_cast<std::uint8_t>('A' + i % 26));

  // 10001 bytes into 10000 entries: the first byte ('A') is gone. Every line
  // holds 78 one-character items.
  std::string expected = "Receive: \n";
  for (int i = 1; i <= 10000; ++i) {
    expected += static_cast<char>('A' + i % 26);
    if (i % 78 == 0 && i != 10000) expected += '\n';
  }
  const std::string text = Dump();
  EXPECT_EQ(0u, text.rfind("Receive: \nBCDEFGHIJKLMNOPQRSTUVWXYZABC", 0));
  EXPECT_EQ(expected, text);
}

TEST_F(TraceTest, SmallRingKeepsTheNewestEntriesInOrder) {
  ASSERT_EQ(0, trace.Start(4));
  Record('R', std::string("ABCDEF"));
  EXPECT_EQ("Receive: \nCDEF", Dump());

  // Exactly full: wrapped with the position back at 0.
  ASSERT_EQ(0, trace.Start(4));
  Record('R', std::string("WXYZ"));
  EXPECT_EQ("Receive: \nWXYZ", Dump());
}

TEST_F(TraceTest, ItemsByInHexAndAllHex) {
  ASSERT_EQ(0, trace.Start(100));
  Record('R', std::string("AB C"));
  EXPECT_EQ("Receive: \nAB[20]C", Dump(false, true));

  const std::vector<int> odd = {7, 200, ' ', 0, 10, 255, '~', '!'};
  ASSERT_EQ(0, trace.Start(100));
  Record('R', odd);
  EXPECT_EQ("Receive: \n[7][200] [0][10][255]~!", Dump(false, false));

  ASSERT_EQ(0, trace.Start(100));
  Record('R', odd);
  EXPECT_EQ("Receive: \n[07][C8][20][00][0A][FF]~!", Dump(false, true));

  ASSERT_EQ(0, trace.Start(100));
  Record('T', std::string("A 7"));
  EXPECT_EQ("Transmit: \n[41][20][37]", Dump(true, false));
}

TEST_F(TraceTest, EachChangeOfKindStartsABlockAfterABlankLine) {
  ASSERT_EQ(0, trace.Start(100));
  Record('R', std::string("AB"));
  Record('T', std::string("C"));
  Record('R', std::string("D"));
  Record('S', std::string("E"));
  EXPECT_EQ("Receive: \nAB\r\n\nTransmit: \nC\r\n\nReceive: \nD\r\n\nSpecial-S: \nE", Dump());
}

TEST_F(TraceTest, LinesBreakBeforeAnItemWouldPassColumn78) {
  ASSERT_EQ(0, trace.Start(1000));
  Record('R', std::string(78, 'x') + "y");
  EXPECT_EQ("Receive: \n" + std::string(78, 'x') + "\ny", Dump());

  // A wide item that would end at column 80 moves to the next line whole.
  ASSERT_EQ(0, trace.Start(1000));
  Record('R', std::string(75, 'x'));
  trace.Add('R', 200);
  trace.Add('R', 'z');
  EXPECT_EQ("Receive: \n" + std::string(75, 'x') + "\n[200]z", Dump(false, false));

  // Ending exactly at column 78 is allowed.
  ASSERT_EQ(0, trace.Start(1000));
  Record('R', std::string(74, 'x'));
  trace.Add('R', 200);
  trace.Add('R', 'z');
  EXPECT_EQ("Receive: \n" + std::string(74, 'x') + "[C8]\nz", Dump(false, true));

  // A new block starts counting at column 0 again.
  ASSERT_EQ(0, trace.Start(1000));
  Record('R', std::string(70, 'r'));
  Record('T', std::string(78, 't'));
  EXPECT_EQ("Receive: \n" + std::string(70, 'r') + "\r\n\nTransmit: \n" + std::string(78, 't'),
            Dump());
}

TEST_F(TraceTest, NoLineOfAMixedTracePassesColumn78) {
  // Pseudo-random bytes, every value and width, with the odd change of kind.
  for (bool inHex : {false, true}) {
    for (bool allHex : {false, true}) {
      ASSERT_EQ(0, trace.Start(6000));
      std::uint32_t seed = 12345;
      for (int i = 0; i < 5000; ++i) {
        seed = seed * 1103515245u + 12345u;
        trace.Add((seed >> 28) == 0 ? 'T' : 'R', static_cast<std::uint8_t>(seed >> 16));
      }
      std::istringstream lines(Dump(allHex, inHex));
      std::string line;
      while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        EXPECT_LE(line.size(), 78u) << line;
      }
    }
  }
}

TEST_F(TraceTest, EmptyTraceLeavesAnExistingFileAlone) {
  const std::string file = dir.Path("APD.TRC");
  RecorderScratch::Write(file, "earlier trace\n");

  EXPECT_EQ(0, trace.Dump(file, false, false, true));  // no ring at all
  ASSERT_EQ(0, trace.Start(100));
  EXPECT_EQ(0, trace.Dump(file, false, false, true));  // nothing recorded
  EXPECT_FALSE(trace.Exists());

  ASSERT_EQ(0, trace.Start(100));
  Record('R', std::string("AB"));
  trace.Clear();
  EXPECT_EQ(0, trace.Dump(file, false, false, true));  // cleared
  EXPECT_EQ("earlier trace\n", RecorderScratch::Read(file));
}

TEST_F(TraceTest, UnwritableFilesGiveTheRuntimeErrorAndFreeTheRing) {
  ASSERT_EQ(0, trace.Start(100));
  Record('R', std::string("A"));
  EXPECT_EQ(-3, trace.Dump(dir.Path("missing/APD.TRC"), false, false, true));
  EXPECT_FALSE(trace.Exists());
  EXPECT_FALSE(trace.Recording());

  ASSERT_EQ(0, trace.Start(100));
  Record('R', std::string("A"));
  std::filesystem::create_directory(dir.Path("folder"));
  EXPECT_EQ(-5, trace.Dump(dir.Path("folder"), false, false, true));

  if (std::filesystem::exists("/dev/full")) {
    ASSERT_EQ(0, trace.Start(100));
    Record('R', std::string("A"));
    EXPECT_EQ(-101, trace.Dump("/dev/full", false, false, true));
  }
}

TEST_F(TraceTest, ReplacingAndAppending) {
  const std::string file = dir.Path("APD.TRC");
  RecorderScratch::Write(file, std::string(500, '#'));
  ASSERT_EQ(0, trace.Start(10));
  Record('R', std::string("A"));
  EXPECT_EQ(0, trace.Dump(file, false, false, true));
  EXPECT_EQ("Receive: \nA", RecorderScratch::Read(file));

  // The earlier dump ended mid-line; the appended one starts on a line of its own.
  ASSERT_EQ(0, trace.Start(10));
  Record('T', std::string("B"));
  EXPECT_EQ(0, trace.Dump(file, true, false, true));
  EXPECT_EQ("Receive: \nA\nTransmit: \nB", RecorderScratch::Read(file));

  RecorderScratch::Write(file, "ends here\n");
  ASSERT_EQ(0, trace.Start(10));
  Record('R', std::string("C"));
  EXPECT_EQ(0, trace.Dump(file, true, false, true));
  EXPECT_EQ("ends here\nReceive: \nC", RecorderScratch::Read(file));

  const std::string fresh = dir.Path("new.trc");
  ASSERT_EQ(0, trace.Start(10));
  Record('R', std::string("D"));
  EXPECT_EQ(0, trace.Dump(fresh, true, false, true));
  EXPECT_EQ("Receive: \nD", RecorderScratch::Read(fresh));
}

TEST_F(TraceTest, StartLimitsAndRestart) {
  EXPECT_EQ(kRecorderBadArgument, trace.Start(TApdTraceRecorder::kMaxEntries + 1));
  EXPECT_FALSE(trace.Exists());
  EXPECT_EQ(0, trace.Start(TApdTraceRecorder::kMaxEntries));
  EXPECT_TRUE(trace.Exists());
  trace.Stop();

  // Starting an existing ring empties it and keeps its capacity.
  ASSERT_EQ(0, trace.Start(3));
  Record('R', std::string("AB"));
  ASSERT_EQ(0, trace.Start(100));
  Record('R', std::string("CDEFG"));
  EXPECT_EQ("Receive: \nEFG", Dump());
}

TEST_F(TraceTest, PauseResumeClearAndStop) {
  ASSERT_EQ(0, trace.Start(100));
  Record('R', std::string("A"));
  trace.Pause();
  EXPECT_FALSE(trace.Recording());
  Record('R', std::string("B"));
  trace.Resume();
  EXPECT_TRUE(trace.Recording());
  Record('R', std::string("C"));
  EXPECT_EQ("Receive: \nAC", Dump());
  EXPECT_FALSE(trace.Exists());

  ASSERT_EQ(0, trace.Start(100));
  Record('R', std::string("AB"));
  trace.Clear();
  EXPECT_TRUE(trace.Recording());
  Record('T', std::string("C"));
  EXPECT_EQ("Transmit: \nC", Dump());

  ASSERT_EQ(0, trace.Start(100));
  trace.Stop();
  EXPECT_FALSE(trace.Exists());
  trace.Resume();  // nothing to resume without a ring
  EXPECT_FALSE(trace.Recording());
  Record('R', std::string("X"));
  EXPECT_FALSE(trace.Exists());
}

TEST_F(TraceTest, ZeroCapacityRecordsNothing) {
  const std::string file = dir.Path("APD.TRC");
  RecorderScratch::Write(file, "kept");
  ASSERT_EQ(0, trace.Start(0));
  EXPECT_TRUE(trace.Exists());
  Record('R', std::string("ABC"));
  EXPECT_EQ(0, trace.Dump(file, false, false, true));
  EXPECT_EQ("kept", RecorderScratch::Read(file));
}

}  // namespace
