// The machine-simulator program itself, started as a user starts it.

#include "PtyPeer.h"
#include "RecordDecoder.h"
#include "ScratchFiles.h"

#include "settings/IniFile.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

using namespace std::chrono_literals;

extern char** environ;

namespace {

// The program with pipes on stdin, stdout and stderr.
class Program {
 public:
  explicit Program(std::vector<std::string> args) {
    int in[2], out[2], err[2];
    if (::pipe(in) != 0 || ::pipe(out) != 0 || ::pipe(err) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, in[0], 0);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    for (int fd : {in[0], in[1], out[0], out[1], err[0], err[1]}) posix_spawn_file_actions_addclose(&actions, fd);
    args.insert(args.begin(), CFW_MACHINE_SIMULATOR);
    std::vector<char*> argv;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    stdin_ = in[1];
    stdout_ = out[0];
    stderr_ = err[0];
  }
  ~Program() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      Wait();
    }
    for (int fd : {stdin_, stdout_, stderr_})
      if (fd >= 0) ::close(fd);
  }

  bool Started() const { return pid_ > 0; }
  void Send(const std::string& line) { [[maybe_unused]] auto n = ::write(stdin_, line.data(), line.size()); }
  void CloseStdin() {
    ::close(stdin_);
    stdin_ = -1;
  }
  void Signal(int sig) { ::kill(pid_, sig); }

  // The next line on stdout, waiting at most `timeout`.
  std::string ReadLine(std::chrono::milliseconds timeout = 10s) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (out_.find('\n') == std::string::npos) {
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
      pollfd p{stdout_, POLLIN, 0};
      if (left.count() <= 0 || ::poll(&p, 1, static_cast<int>(left.count())) <= 0) return {};
      char buf[256];
      const ssize_t n = ::read(stdout_, buf, sizeof buf);
      if (n <= 0) return {};
      out_.append(buf, static_cast<std::size_t>(n));
    }
    const std::string line = out_.substr(0, out_.find('\n'));
    out_.erase(0, line.size() + 1);
    return line;
  }

  // The exit status, or -1 when it did not end within the time.
  int WaitForExit(std::chrono::milliseconds timeout = 10s) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < end) {
      int status = 0;
      if (::waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      }
      ::usleep(10000);
    }
    return -1;
  }

  std::string Stderr() {
    std::string all;
    char buf[4096];
    pollfd p{stderr_, POLLIN, 0};
    while (::poll(&p, 1, 0) > 0) {
      const ssize_t n = ::read(stderr_, buf, sizeof buf);
      if (n <= 0) break;
      all.append(buf, static_cast<std::size_t>(n));
    }
    return all;
  }

 private:
  void Wait() {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }

  pid_t pid_ = -1;
  int stdin_ = -1, stdout_ = -1, stderr_ = -1;
  std::string out_;
};



std::vector<std::string> Lines(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Tabbed(const std::vector<std::string>& row) {
  std::string line;
  for (std::size_t i = 0; i < row.size(); ++i) line += (i ? "\t" : "") + row[i];
  return line;
}

// A whole session: mapped into the settings file, answering, scanning the
// listed sheets on a schedule, writing the expected rows, unplugged from stdin.
TEST(MachineSimulatorProgram, PlaysTheMachineOnItsDeviceUntilUnplugged) {
  const std::string settings = Scratch("OrvaneSettings.ini");
  const std::string link = Scratch("machine");
  const std::string expect = Scratch("expected.tsv");
  std::ofstream(settings) << "[Main]\nScanMode=SINGLE\n";
  Program program({"--settings", settings, "--port", "4", "--link", link, "--expect", expect, "--sheet", "1,,34",
                   "--sheet", "6", "--interval", "20", "--split", "3", "--noise", "50", "--firmware", "3.1",
                   "--verbose"});
  ASSERT_TRUE(program.Started());
  const std::string device = program.ReadLine();
  ASSERT_EQ(device.rfind("/dev/pts/", 0), 0u) << device << program.Stderr();

  IniFile ini(QString::fromStdString(settings));
  EXPECT_EQ(ini.ReadString("Ports", "COM4", ""), QString::fromStdString(device));
  EXPECT_EQ(ini.ReadInteger("Main", "PortNo", 0), 4);
  EXPECT_EQ(ini.ReadString("Main", "ScanMode", ""), "SINGLE");

  PtyPeer app(link);
  ASSERT_TRUE(app.IsOpen());
  EXPECT_EQ(app.Ask("@"), "K");
  EXPECT_EQ(app.Ask("v"), "Version 3.1 (C) 1998 Orvane.\r\n");
  app.Write("m");  // starts the schedule: both listed sheets, once
  ASSERT_TRUE(app.ReadUntil([](const std::string& s) { return std::count(s.begin(), s.end(), 'E') == 2; }, 10s));
  program.Send("sheet 2,3\n");
  ASSERT_TRUE(app.ReadUntil([](const std::string& s) { return std::count(s.begin(), s.end(), 'E') == 3; }, 10s));
  app.ReadFor(100ms);

  const std::string line = app.Received();
  std::vector<std::string> decoded;
  for (std::size_t s = line.find('S'); s != std::string::npos; s = line.find('S', line.find('E', s)))
    decoded.push_back(Tabbed(PadRow(DecodeRecordAsApplication(line.substr(s), true))));
  ASSERT_EQ(decoded.size(), 3u) << line;
  EXPECT_EQ(decoded[0].substr(0, 7), "1\t \t34\t");
  program.Send("status\n");
  EXPECT_NE(program.ReadLine().find("sheets=3/3"), std::string::npos);
  EXPECT_EQ(Lines(expect), decoded);

  program.Send("unplug\n");
  EXPECT_EQ(program.WaitForExit(), 0);
  EXPECT_FALSE(Exists(device));
  EXPECT_FALSE(Exists(link));
  const std::string log = program.Stderr();
  EXPECT_NE(log.find("<- 40  @"), std::string::npos) << log;
  EXPECT_NE(log.find("-> 4B  K"), std::string::npos) << log;
}

TEST(MachineSimulatorProgram, SignalsDropSheetsAndUnplug) {
  Program program({"--baud", "0", "--mode", "single", "--sheet", "5"});
  const std::string device = program.ReadLine();
  ASSERT_FALSE(device.empty()) << program.Stderr();
  program.CloseStdin();  // a background job: the machine stays until a signal
  PtyPeer app(device);
  EXPECT_EQ(app.Ask("@"), "K");
  program.Signal(SIGUSR2);
  ASSERT_TRUE(app.ReadUntilContains("E\r\n", 10s));
  EXPECT_EQ(app.Take(), "S0001~5E\r\n");
  program.Signal(SIGUSR1);
  EXPECT_EQ(program.WaitForExit(), 0);
  EXPECT_FALSE(Exists(device));
}

TEST(MachineSimulatorProgram, EndsOnTerminationAndRefusesBadOptions) {
  const std::string link = Scratch("machine-term");
  Program program({"--link", link});
  ASSERT_FALSE(program.ReadLine().empty());
  EXPECT_TRUE(Exists(link));
  program.Signal(SIGTERM);
  EXPECT_EQ(program.WaitForExit(), 0);
  EXPECT_FALSE(Exists(link)) << "the link goes with the device";

  Program bad({"--interval", "soon"});
  EXPECT_EQ(bad.WaitForExit(), 2);
  EXPECT_NE(bad.Stderr().find("--interval"), std::string::npos);

  Program unwritable({"--settings", "/nonexistent-dir/s.ini", "--port", "2"});
  unwritable.ReadLine();
  EXPECT_EQ(unwritable.WaitForExit(), 1);
  EXPECT_NE(unwritable.Stderr().find("/nonexistent-dir/s.ini"), std::string::npos);
}

}  // namespace
