// The dispatch log ring and its dump file, against hand-computed files.
#include "serial/AdLog.h"

#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <chrono>
#include <filesystem>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "RecorderScratch.h"
#include "serial/AdTrace.h"

namespace {

using std::chrono::milliseconds;

const std::string kHead =
    "SERIX v4.06\n"
    "Compiler : TestCC 1.0\n"
    "Operating System : TestOS 2.3\n"
    "Device: COM3\n"
    "Date/time: 05/03/24, 07:08:09\n"
    "Time      Type      SubType       Data      OtherData\n"
    "--------  --------  ------------  --------  ---------\n";

const std::string kIndent(44, ' ');

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class LogTest : public ::testing::Test {
 protected:
  LogTest() {
    log.SetClocks([this] { return base + now; },
                  [] {
                    std::tm t{};
                    t.tm_mday = 5;
                    t.tm_mon = 2;
                    t.tm_year = 124;
                    t.tm_hour = 7;
                    t.tm_min = 8;
                    t.tm_sec = 9;
                    return t;
                  });
    log.SetSystemTexts("TestCC 1.0", "TestOS 2.3");
    log.SetTimeBase(base);
  }

  void Add(std::uint8_t type, std::uint8_t subtype, std::uint32_t value,
           const std::string& data = {}) {
    log.Add(type, subtype, value, reinterpret_cast<const std::uint8_t*>(data.data()), data.size());
  }
  std::string Dump(bool allHex = false, bool inHex = true) {
    const std::string file = dir.Path("APD.LOG");
    EXPECT_EQ(0, log.Dump(file, false, allHex, inHex, "COM3"));
    return RecorderScratch::Read(file);
  }
  // The data values of the dumped entries, oldest first.
  std::vector<std::uint32_t> DumpedValues() {
    std::vector<std::uint32_t> values;
    const std::vector<std::string> lines = Lines(Dump());
    for (std::size_t i = 7; i < lines.size(); ++i) {
      if (lines[i][0] != ' ') values.push_back(std::stoul(lines[i].substr(34, 8), nullptr, 16));
    }
    return values;
  }

  RecorderScratch dir;
  TApdDispatchLog log;
  std::chrono::steady_clock::time_point base{};
  milliseconds now{0};
};

TEST_F(LogTest, HeadLinesAndTheFixedPartOfEachEntry) {
  ASSERT_EQ(0, log.Start(10000));
  Add(7, 17, 0x1234);
  now = milliseconds(12);
  Add(9, 16, 1);
  now = milliseconds(12345);
  Add(1, 1, 3, "AB\x07");
  now = milliseconds(12345678);
  Add(2, 5, 0xABCDEF01);

  EXPECT_EQ(kHead +
                "0000.000  TrgHdAlc  Window        00001234  \n"
                "0000.012  TrDatChg  Avail         00000001  \n"
                "0012.345  Dispatch  ReadCom       00000003  AB[07]\n"
                "12345.678  Trigger   Avail         abcdef01  \n",
            Dump());
}

TEST_F(LogTest, TimesCountFromTheTimeBase) {
  ASSERT_EQ(0, log.Start(1000));
  log.SetTimeBase(base + milliseconds(1000));
  now = milliseconds(1500);
  Add(2, 5, 1);
  now = milliseconds(900);  // a clock before the base shows as zero
  Add(2, 5, 2);
  const std::vector<std::string> lines = Lines(Dump());
  ASSERT_EQ(9u, lines.size());
  EXPECT_EQ("0000.500", lines[7].substr(0, 8));
  EXPECT_EQ("0000.000", lines[8].substr(0, 8));
}

TEST_F(LogTest, DataContinuesOnLinesIndentedBy44Spaces) {
  ASSERT_EQ(0, log.Start(10000));
  Add(1, 2, 40, std::string(40, 'x'));
  Add(1, 1, 14, std::string(14, '\xC8'));

  EXPECT_EQ(kHead + "0000.000  Dispatch  WriteCom      00000028  " + std::string(33, 'x') + "\n" +
                kIndent + std::string(7, 'x') + "\n" +
                "0000.000  Dispatch  ReadCom       0000000e  [200][200][200][200][200][200]\n" +
                kIndent + "[200][200][200][200][200][200]\n" + kIndent + "[200][200]\n",
            Dump(false, false));
}

TEST_F(LogTest, StatusWordsAndModemStatusBits) {
  ASSERT_EQ(0, log.Start(10000));
  Add(5, 15, 0, std::string(1, '\x02'));
  Add(6, 15, 0, std::string(1, '\x05'));
  Add(6, 15, 0, std::string(1, '\x00'));
  Add(1, 15, 0, std::string(1, '\x00'));  // not a status trigger's entry: a plain item
  Add(1, 4, 0x31);
  Add(4, 4, 0xC0);
  Add(1, 4, 0);

  EXPECT_EQ(kHead +
                "0000.000  TrigAllc  Status        00000000  (Line status)\n"
                "0000.000  TrigDisp  Status        00000000  (Output sent)\n"
                "0000.000  TrigDisp  Status        00000000  (Not active)\n"
                "0000.000  Dispatch  Status        00000000  [00]\n"
                "0000.000  Dispatch  Modem status  00000031  (DCTS CTS DSR)\n"
                "0000.000  Thread    Modem status  000000c0  (RI DCD)\n"
                "0000.000  Dispatch  Modem status  00000000  ()\n",
            Dump());
}

TEST_F(LogTest, AllHexExceptUserText) {
  ASSERT_EQ(0, log.Start(10000));
  Add(1, 2, 3, "A b");
  Add(19, 0, 0, "Hi");
  EXPECT_EQ(kHead +
                "0000.000  Dispatch  WriteCom      00000003  [41][20][62]\n"
                "0000.000  User                    00000000  Hi\n",
            Dump(true, true));
}

TEST_F(LogTest, FullRingDropsTheOldestEntries) {
  // Every entry below takes 14 header bytes plus 6 data bytes: three fill 60.
  ASSERT_EQ(0, log.Start(60));
  for (std::uint32_t value = 1; value <= 3; ++value) Add(1, 1, value, "abcdef");
  EXPECT_EQ((std::vector<std::uint32_t>{1, 2, 3}), DumpedValues());

  ASSERT_EQ(0, log.Start(60));
  for (std::uint32_t value = 1; value <= 4; ++value) Add(1, 1, value, "abcdef");
  EXPECT_EQ((std::vector<std::uint32_t>{2, 3, 4}), DumpedValues());

  // 14 + 46 is not smaller than the ring: refused, and the ring is unharmed.
  ASSERT_EQ(0, log.Start(60));
  Add(1, 1, 1, "abcdef");
  Add(1, 1, 2, "abcdef");
  Add(1, 1, 3, std::string(46, 'z'));
  EXPECT_EQ((std::vector<std::uint32_t>{1, 2}), DumpedValues());

  // 14 + 45 fits, after dropping everything older.
  ASSERT_EQ(0, log.Start(60));
  Add(1, 1, 1, "abcdef");
  Add(1, 1, 2, "abcdef");
  Add(1, 1, 3, std::string(45, 'z'));
  EXPECT_EQ((std::vector<std::uint32_t>{3}), DumpedValues());
}

TEST_F(LogTest, WrappingRingHoldsTheLongestRecentRunThatFits) {
  constexpr std::size_t kSize = 100;
  ASSERT_EQ(0, log.Start(kSize));
  for (std::uint32_t i = 0; i < 200; ++i) {
    Add(1, 1, i, std::string(i % 10, static_cast<char>('a' + i % 10)));
  }

  std::vector<std::uint32_t> expected;
  std::size_t used = 0;
  for (std::uint32_t i = 200; i-- > 0;) {
    used += 14 + i % 10;
    if (used > kSize) break;
    expected.insert(expected.begin(), i);
  }
  ASSERT_GE(expected.size(), 3u);
  EXPECT_EQ(expected, DumpedValues());
}

TEST_F(LogTest, EmptyLogLeavesAnExistingFileAlone) {
  const std::string file = dir.Path("APD.LOG");
  RecorderScratch::Write(file, "earlier log\n");

  EXPECT_EQ(0, log.Dump(file, false, false, true, "COM1"));  // no ring
  ASSERT_EQ(0, log.Start(1000));
  EXPECT_EQ(0, log.Dump(file, false, false, true, "COM1"));  // nothing recorded
  EXPECT_FALSE(log.Exists());

  ASSERT_EQ(0, log.Start(1000));
  Add(2, 5, 1);
  log.Clear();
  EXPECT_EQ(0, log.Dump(file, false, false, true, "COM1"));  // cleared
  EXPECT_EQ("earlier log\n", RecorderScratch::Read(file));
}

TEST_F(LogTest, UnwritableFilesGiveTheRuntimeError) {
  ASSERT_EQ(0, log.Start(1000));
  Add(2, 5, 1);
  EXPECT_EQ(-3, log.Dump(dir.Path("missing/APD.LOG"), false, false, true, "COM1"));
  EXPECT_FALSE(log.Recording());

  if (std::filesystem::exists("/dev/full")) {
    ASSERT_EQ(0, log.Start(1000));
    Add(2, 5, 1);
    EXPECT_EQ(-101, log.Dump("/dev/full", false, false, true, "COM1"));
    EXPECT_FALSE(log.Exists());
  }
}

TEST_F(LogTest, AppendingAddsASecondDumpAfterTheFirst) {
  const std::string file = dir.Path("APD.LOG");
  ASSERT_EQ(0, log.Start(1000));
  Add(2, 5, 1);
  ASSERT_EQ(0, log.Dump(file, true, false, true, "COM3"));  // creates the file
  ASSERT_EQ(0, log.Start(1000));
  Add(2, 5, 2);
  ASSERT_EQ(0, log.Dump(file, true, false, true, "COM3"));

  EXPECT_EQ(kHead + "0000.000  Trigger   Avail         00000001  \n" + kHead +
                "0000.000  Trigger   Avail         00000002  \n",
            RecorderScratch::Read(file));
}

TEST_F(LogTest, StartLimitsAndLifecycle) {
  EXPECT_EQ(kRecorderBadArgument, log.Start(TApdDispatchLog::kMaxSize + 1));
  EXPECT_FALSE(log.Exists());
  EXPECT_EQ(0, log.Start(TApdDispatchLog::kMaxSize));
  log.Stop();
  EXPECT_FALSE(log.Exists());

  ASSERT_EQ(0, log.Start(1000));
  Add(2, 5, 1);
  log.Pause();
  EXPECT_FALSE(log.Recording());
  Add(2, 5, 2);
  log.Resume();
  Add(2, 5, 3);
  EXPECT_EQ((std::vector<std::uint32_t>{1, 3}), DumpedValues());
  EXPECT_FALSE(log.Exists());  // a dump stops the log

  // Starting an existing ring empties it and records on.
  ASSERT_EQ(0, log.Start(1000));
  Add(2, 5, 1);
  log.Pause();
  ASSERT_EQ(0, log.Start(1000));
  EXPECT_TRUE(log.Recording());
  Add(2, 5, 4);
  EXPECT_EQ((std::vector<std::uint32_t>{4}), DumpedValues());

  log.Resume();  // nothing to resume without a ring
  EXPECT_FALSE(log.Recording());
  Add(2, 5, 5);
  EXPECT_FALSE(log.Exists());
}

TEST(LogSystemTexts, HeadNamesTheRealCompilerSystemAndDate) {
  RecorderScratch dir;
  TApdDispatchLog log;
  ASSERT_EQ(0, log.Start(1000));
  const std::uint8_t byte = 'A';
  log.Add(1, 1, 1, &byte, 1);
  const std::string file = dir.Path("APD.LOG");
  ASSERT_EQ(0, log.Dump(file, false, false, true, "COM7"));
  const std::vector<std::string> lines = Lines(RecorderScratch::Read(file));
  ASSERT_EQ(8u, lines.size());

#if defined(__clang__)
  EXPECT_EQ(0u, lines[1].rfind("Compiler : Clang " + std::to_string(__clang_major__) + ".", 0));
#else
  EXPECT_EQ(0u, lines[1].rfind("Compiler : GCC " + std::to_string(__GNUC__) + ".", 0));
#endif
  utsname names{};
  ASSERT_EQ(0, uname(&names));
  EXPECT_EQ(std::string("Operating System : ") + names.sysname + " " + names.release, lines[2]);
  EXPECT_EQ("Device: COM7", lines[3]);
  const std::regex dateTime(R"(Date/time: \d\d/\d\d/\d\d, \d\d:\d\d:\d\d)");
  EXPECT_TRUE(std::regex_match(lines[4], dateTime)) << lines[4];
}

}  // namespace
