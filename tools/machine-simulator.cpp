// machine-simulator: the optical mark reader on a pseudo-terminal, for
// demonstrations, training and tests. See tools/SIMULATOR.md.

#include "tools/MachineSimulator.h"
#include "tools/PortMapping.h"
#include "tools/SimulatorConsole.h"
#include "tools/SimulatorOptions.h"

#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <mutex>
#include <utility>

using namespace machine_sim;

namespace {

// Guards std::cerr: the I/O thread logs while the main thread reports.
std::mutex stderrMutex;

void Report(const std::string& line) {
  const std::lock_guard<std::mutex> lock(stderrMutex);
  std::cerr << line << '\n' << std::flush;
}

// Handled through a signalfd by the main loop; blocked before any thread
// starts so that only the main loop ever sees them.
sigset_t HandledSignals() {
  sigset_t set;
  sigemptyset(&set);
  for (int sig : {SIGINT, SIGTERM, SIGHUP, SIGUSR1, SIGUSR2}) sigaddset(&set, sig);
  return set;
}

class StdinLines {
 public:
  // Complete lines go to `handle`; false once stdin has ended.
  template <typename Handle>
  bool Read(Handle handle) {
    char chunk[1024];
    const ssize_t n = ::read(STDIN_FILENO, chunk, sizeof chunk);
    if (n < 0) return errno == EINTR || errno == EAGAIN;
    if (n == 0) {
      if (!pending_.empty()) handle(std::exchange(pending_, {}));
      return false;
    }
    pending_.append(chunk, static_cast<std::size_t>(n));
    for (std::size_t nl; (nl = pending_.find('\n')) != std::string::npos;) {
      const std::string line = pending_.substr(0, nl);
      pending_.erase(0, nl + 1);
      if (!handle(line)) return true;
    }
    return true;
  }

 private:
  std::string pending_;
};

// Runs until a command, a signal or an error ends it. Without stdin (a
// background job) the machine stays plugged in until a signal comes.
void RunConsole(MachineSimulator& simulator, int signals) {
  SimulatorConsole console(simulator);
  StdinLines input;
  bool stdinOpen = true;
  bool quit = false;
  while (!quit) {
    pollfd fds[2] = {{signals, POLLIN, 0}, {stdinOpen ? STDIN_FILENO : -1, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR) continue;
      Report(std::string("machine-simulator: poll: ") + std::strerror(errno));
      return;
    }
    if (fds[0].revents & POLLIN) {
      signalfd_siginfo info{};
      if (::read(signals, &info, sizeof info) != sizeof info) continue;
      if (info.ssi_signo == SIGUSR2) {
        simulator.DropSheet();
        continue;
      }
      return;  // SIGUSR1 unplugs; the others end the program, which unplugs too
    }
    if (fds[1].revents & (POLLIN | POLLHUP | POLLERR)) {
      stdinOpen = input.Read([&](const std::string& line) {
        const ConsoleReply reply = console.Execute(line);
        if (!reply.text.empty()) std::cout << reply.text << (reply.text.back() == '\n' ? "" : "\n") << std::flush;
        quit = reply.quit;
        return !quit;
      });
    }
  }
}

}  // namespace

int main(int argc, char** argv) {
  SimulatorOptions options;
  try {
    options = ParseSimulatorOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const std::exception& e) {
    std::cerr << "machine-simulator: " << e.what() << "\n(try --help)\n";
    return 2;
  }
  if (options.showHelp) {
    std::cout << SimulatorUsage();
    return 0;
  }

  ::signal(SIGPIPE, SIG_IGN);
  const sigset_t handled = HandledSignals();
  ::sigprocmask(SIG_BLOCK, &handled, nullptr);
  const int signals = ::signalfd(-1, &handled, SFD_CLOEXEC);
  if (signals < 0) {
    std::cerr << "machine-simulator: signalfd: " << std::strerror(errno) << '\n';
    return 1;
  }

  std::ofstream expect;
  if (!options.expectFile.empty()) {
    expect.open(options.expectFile, std::ios::trunc);
    if (!expect) {
      std::cerr << "machine-simulator: cannot write " << options.expectFile << '\n';
      return 1;
    }
    // Flushed per row, so a test can compare while the machine runs on.
    options.config.sheetDelivered = [&expect](const ExpectedRow& row) { expect << FormatExpectedRow(row) << '\n' << std::flush; };
  }
  if (options.verbose) options.config.log = [](std::string_view line) { Report(std::string(line)); };

  std::unique_ptr<MachineSimulator> simulator;
  try {
    simulator = std::make_unique<MachineSimulator>(options.config);
    // The path is printed last: whoever reads it may rely on the link and the
    // settings file being in place.
    if (!options.settingsFile.empty()) WritePortMapping(options.settingsFile, *options.port, simulator->DevicePath());
    std::cout << simulator->DevicePath() << '\n' << std::flush;
  } catch (const std::exception& e) {
    std::cerr << "machine-simulator: " << e.what() << '\n';
    return 1;
  }

  RunConsole(*simulator, signals);
  simulator->Unplug();
  ::close(signals);
  return 0;
}
