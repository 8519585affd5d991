#include "tools/MachineSimulator.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/eventfd.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <system_error>
#include <utility>

namespace machine_sim {

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

// While nobody has the device open the master reports a hang-up at once on
// every poll, so the thread looks again at this pace instead of spinning.
constexpr milliseconds kListenerRecheck{20};
constexpr milliseconds kLongestSleep{1000};
// How long a setter waits for the I/O thread to apply it.
constexpr milliseconds kSettleTime{2000};

std::system_error SystemError(const std::string& what) { return std::system_error(errno, std::generic_category(), what); }

SheetSource MakeSource(const SimulatorConfig& config) {
  if (!config.sheets.empty()) return SheetSource::FromList(config.sheets);
  return SheetSource::Random(config.seed, config.randomColumns);
}

// "53 30 7E 45  S0~E": the bytes in hexadecimal, then as text where printable.
std::string DescribeBytes(std::string_view bytes) {
  std::string hex;
  std::string text;
  for (char c : bytes) {
    char buf[4];
    std::snprintf(buf, sizeof buf, "%02X ", static_cast<unsigned char>(c));
    hex += buf;
    text += (c >= 0x20 && c < 0x7F) ? c : '.';
  }
  return hex + " " + text;
}

const char* ModeName(BubbleMode mode) { return mode == BubbleMode::Multiple ? "multiple" : "single"; }

}  // namespace

template <typename Change>
void MachineSimulator::Publish(Change change) {
  {
    const std::lock_guard<std::mutex> lock(statusMutex_);
    change(status_);
  }
  statusChanged_.notify_all();
}

MachineSimulator::MachineSimulator(SimulatorConfig config)
    : config_(std::move(config)),
      started_(Clock::now()),
      protocol_(config_.protocol),
      source_(MakeSource(config_)),
      encoder_(config_.record, config_.seed + 1),
      shaper_(config_.shape, config_.seed + 2) {
  if (config_.baud < 0) throw std::invalid_argument("the baud rate cannot be negative");
  if (!config_.scanCount && !config_.sheets.empty()) config_.scanCount = static_cast<long>(config_.sheets.size());

  termios raw{};
  cfmakeraw(&raw);
  int master = -1;
  int slave = -1;
  char name[256] = {};
  if (::openpty(&master, &slave, name, &raw, nullptr) != 0) throw SystemError("cannot open a pseudo-terminal");
  master_.Reset(master);
  // The slave is the application's to open; holding it here would hide when
  // the application closes it and keep its exclusive-use flag alive.
  ::close(slave);
  devicePath_ = name;
  if (::fcntl(master, F_SETFL, O_NONBLOCK) != 0 || ::fcntl(master, F_SETFD, FD_CLOEXEC) != 0)
    throw SystemError("cannot set up the pseudo-terminal");
  wake_.Reset(::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC));
  if (wake_.Get() < 0) throw SystemError("cannot make an eventfd");
  if (!config_.linkPath.empty()) link_ = DeviceLink(config_.linkPath, devicePath_);
  PublishEngineState(0);
  Log("device " + devicePath_ + (config_.linkPath.empty() ? "" : " (link " + config_.linkPath + ")") +
      ", firmware " + config_.protocol.firmware);
  io_ = std::thread([this] { IoLoop(); });
}

void MachineSimulator::UniqueFd::Reset(int fd) {
  if (fd_ >= 0) ::close(fd_);
  fd_ = fd;
}

MachineSimulator::~MachineSimulator() { Unplug(); }

void MachineSimulator::DropSheet() {
  Post([this] { DoDrop(std::nullopt); });
}

void MachineSimulator::DropSheet(Sheet sheet) {
  Post([this, sheet = std::move(sheet)] { DoDrop(sheet); });
}

void MachineSimulator::SendRaw(std::string bytes) {
  Post([this, bytes = std::move(bytes)] { Enqueue({Piece{bytes}}); });
}

void MachineSimulator::SendNoise() {
  Post([this] { Enqueue({shaper_.MakeNoise()}); });
}

void MachineSimulator::SetSilentToAttention(bool silent) {
  PostAndSettle([this, silent] { protocol_.SetSilentToAttention(silent); });
}

void MachineSimulator::SetCalibrationTimesOut(bool timesOut) {
  PostAndSettle([this, timesOut] { protocol_.SetCalibrationTimesOut(timesOut); });
}

void MachineSimulator::SetStoreFails(bool fails) {
  PostAndSettle([this, fails] { protocol_.SetStoreFails(fails); });
}

void MachineSimulator::SetFirmware(std::string firmware) {
  if (!IsUsableFirmwareText(firmware)) throw std::invalid_argument("unusable firmware version text");
  PostAndSettle([this, firmware = std::move(firmware)] { protocol_.SetFirmware(firmware); });
}

void MachineSimulator::SetPaused(bool paused) {
  PostAndSettle([this, paused] {
    paused_ = paused;
    Publish([paused](SimulatorStatus& s) { s.paused = paused; });
  });
}

void MachineSimulator::Unplug() {
  const std::lock_guard<std::mutex> once(unplugMutex_);
  if (!io_.joinable()) return;
  {
    const std::lock_guard<std::mutex> lock(commandMutex_);
    stopping_ = true;
  }
  Wake();
  io_.join();
  master_.Reset();  // the kernel removes the slave device with it
  link_.Remove();
  Log("unplugged: " + devicePath_ + " is gone");
  Publish([](SimulatorStatus& s) {
    s.unplugged = true;
    s.listening = false;
  });
}

bool MachineSimulator::Unplugged() const { return Status().unplugged; }

SimulatorStatus MachineSimulator::Status() const {
  const std::lock_guard<std::mutex> lock(statusMutex_);
  return status_;
}

bool MachineSimulator::WaitFor(const std::function<bool(const SimulatorStatus&)>& holds,
                               std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(statusMutex_);
  return statusChanged_.wait_for(lock, timeout, [&] { return holds(status_); });
}

bool MachineSimulator::WaitUntilSent(std::chrono::milliseconds timeout) const {
  return WaitFor(
      [](const SimulatorStatus& s) { return s.listening && s.commandsDone == s.commandsPosted && s.pendingBytes == 0; },
      timeout);
}

std::uint64_t MachineSimulator::Post(std::function<void()> command) {
  std::uint64_t ticket = 0;
  {
    const std::lock_guard<std::mutex> lock(commandMutex_);
    if (stopping_) return 0;
    commands_.push_back(std::move(command));
    // Counted before the thread can run it, so a waiter never takes an
    // unprocessed command for finished output.
    Publish([&ticket](SimulatorStatus& s) { ticket = ++s.commandsPosted; });
  }
  Wake();
  return ticket;
}

void MachineSimulator::PostAndSettle(std::function<void()> command) {
  const std::uint64_t ticket = Post(std::move(command));
  if (ticket == 0) return;
  WaitFor([ticket](const SimulatorStatus& s) { return s.commandsDone >= ticket || s.unplugged; }, kSettleTime);
}

void MachineSimulator::Wake() {
  const std::uint64_t one = 1;
  // A full counter already means "wake up"; nothing is lost if this fails.
  [[maybe_unused]] const ssize_t n = ::write(wake_.Get(), &one, sizeof one);
}

void MachineSimulator::IoLoop() {
  std::size_t commandsRun = 0;
  // Commands first: a setting changed before the application's next byte
  // arrives must already apply to it.
  while (RunCommands(commandsRun)) {
    if (listening_) ReadFromLine();
    // Also after a hang-up that left nothing to read: never poll it again blindly.
    if (!listening_ || std::exchange(hangUpSeen_, false)) CheckListener();
    const Clock::time_point now = Clock::now();
    RunSchedules(now);
    WriteDue(now);
    PublishEngineState(commandsRun);
    WaitForActivity(NextWake(Clock::now()));
  }
}

// Runs what other threads asked for; false once the thread must stop.
bool MachineSimulator::RunCommands(std::size_t& count) {
  std::vector<std::function<void()>> commands;
  {
    const std::lock_guard<std::mutex> lock(commandMutex_);
    if (stopping_) return false;
    commands.swap(commands_);
  }
  for (auto& command : commands) {
    try {
      command();
    } catch (const std::exception& e) {
      Log(std::string("command failed: ") + e.what());  // the machine plays on
    }
  }
  count = commands.size();
  return true;
}

void MachineSimulator::RunSchedules(Clock::time_point now) {
  // Until the results are stored, a record could be taken for a reply by the
  // calibration dialog, so scheduled sheets wait for the whole session.
  const bool calibrating = protocol_.Phase() != CalibrationPhase::Idle;
  const bool scanning = config_.scanInterval.count() > 0 && !paused_ &&
                        (config_.scanStartsAtOnce || protocol_.ModeChosen()) &&
                        (!config_.scanCount || scheduledDrops_ < *config_.scanCount);
  if (!scanning) {
    nextScanDrop_.reset();
  } else if (!nextScanDrop_) {
    nextScanDrop_ = now + config_.scanInterval;
  } else if (now >= *nextScanDrop_) {
    // The operator holds the pile back during a calibration.
    if (!calibrating) {
      ++scheduledDrops_;
      Publish([n = scheduledDrops_](SimulatorStatus& s) { s.scheduledDrops = n; });
      DoDrop(std::nullopt);
    }
    nextScanDrop_ = now + config_.scanInterval;
  }

  if (config_.calibrationInterval.count() == 0 || paused_ || protocol_.Phase() != CalibrationPhase::Running) {
    nextCalibrationDrop_.reset();
  } else if (!nextCalibrationDrop_ || calibrationRunSeen_ != protocol_.CalibrationsStarted()) {
    // A new or restarted calibration: the first blank sheet one interval later.
    calibrationRunSeen_ = protocol_.CalibrationsStarted();
    nextCalibrationDrop_ = now + config_.calibrationInterval;
  } else if (now >= *nextCalibrationDrop_) {
    DoDrop(std::nullopt);
    nextCalibrationDrop_ = now + config_.calibrationInterval;
  }
}

MachineSimulator::Clock::time_point MachineSimulator::HeadDue() const {
  if (headWritten_ > 0) return nextByteAt_;
  const Queued& head = queue_.front();
  return std::max({std::max(head.enqueuedAt, lastWriteEnd_) + head.piece.gapBefore, quietUntil_, nextByteAt_});
}

void MachineSimulator::WriteDue(Clock::time_point now) {
  while (!queue_.empty() && now >= HeadDue()) {
    Queued& head = queue_.front();
    const std::string& bytes = head.piece.bytes;
    if (!listening_) {
      Log("lost, nobody has the device open: " + DescribeBytes(std::string_view(bytes).substr(headWritten_)));
      queue_.pop_front();
      headWritten_ = 0;
      continue;
    }
    if (waitingWritable_) return;
    std::size_t chunk = bytes.size() - headWritten_;
    // At 10 bits a byte the line carries baud/10 bytes a second; a few
    // milliseconds' worth go out per write, as a UART's FIFO delivers them.
    if (config_.baud > 0) chunk = std::min<std::size_t>(chunk, std::max(1, config_.baud / 2000));
    const ssize_t n = ::write(master_.Get(), bytes.data() + headWritten_, chunk);
    if (n < 0) {
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        waitingWritable_ = true;
      } else if (errno == EIO) {
        SetListening(false);
        continue;
      } else {
        Log(std::string("write failed: ") + std::strerror(errno));
      }
      return;
    }
    const std::string_view written(bytes.data() + headWritten_, static_cast<std::size_t>(n));
    Log("-> " + DescribeBytes(written));
    Publish([&](SimulatorStatus& s) {
      s.sentBytes += written.size();
      if (config_.keepHistory) s.sent.append(written);
    });
    headWritten_ += static_cast<std::size_t>(n);
    if (config_.baud > 0) {
      const auto byteTime = std::chrono::duration_cast<Clock::duration>(std::chrono::seconds(10)) / config_.baud;
      nextByteAt_ = std::max(nextByteAt_, now - milliseconds(5)) + byteTime * n;
    }
    if (headWritten_ == bytes.size()) CompleteHead(now);
  }
}

void MachineSimulator::CompleteHead(Clock::time_point now) {
  Queued done = std::move(queue_.front());
  queue_.pop_front();
  headWritten_ = 0;
  lastWriteEnd_ = std::max(now, nextByteAt_);
  quietUntil_ = lastWriteEnd_ + done.piece.quietAfter;
  if (!done.completesSheet) return;
  if (config_.sheetDelivered) config_.sheetDelivered(*done.completesSheet);
  Publish([&](SimulatorStatus& s) {
    ++s.sheetsDelivered;
    if (config_.keepHistory) s.deliveredRows.push_back(std::move(*done.completesSheet));
  });
}

MachineSimulator::Clock::time_point MachineSimulator::NextWake(Clock::time_point now) const {
  Clock::time_point wake = now + kLongestSleep;
  if (!queue_.empty() && !waitingWritable_) wake = std::min(wake, HeadDue());
  if (nextScanDrop_) wake = std::min(wake, *nextScanDrop_);
  if (nextCalibrationDrop_) wake = std::min(wake, *nextCalibrationDrop_);
  if (!listening_) wake = std::min(wake, now + kListenerRecheck);
  return wake;
}

void MachineSimulator::WaitForActivity(Clock::time_point until) {
  pollfd fds[2] = {{wake_.Get(), POLLIN, 0}, {listening_ ? master_.Get() : -1, POLLIN, 0}};
  if (waitingWritable_) fds[1].events |= POLLOUT;
  const auto left = std::max(Clock::duration::zero(), until - Clock::now());
  const auto secs = std::chrono::duration_cast<std::chrono::seconds>(left);
  const timespec timeout{static_cast<time_t>(secs.count()),
                         static_cast<long>(std::chrono::duration_cast<std::chrono::nanoseconds>(left - secs).count())};
  if (::ppoll(fds, 2, &timeout, nullptr) < 0) return;  // EINTR: the loop comes round again
  if (fds[0].revents & POLLIN) {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t n = ::read(wake_.Get(), &count, sizeof count);
  }
  if (fds[1].revents & POLLOUT) waitingWritable_ = false;
  if (fds[1].revents & (POLLHUP | POLLERR)) hangUpSeen_ = true;
  // Reading, and noticing a hang-up, is left to the loop: after the commands.
}

void MachineSimulator::CheckListener() {
  pollfd fd{master_.Get(), POLLIN, 0};
  if (::poll(&fd, 1, 0) < 0) return;
  // The master hangs up while no one has the slave open.
  const bool open = (fd.revents & POLLHUP) == 0;
  if (open != listening_) SetListening(open);
  if (open && (fd.revents & POLLIN)) ReadFromLine();
}

void MachineSimulator::SetListening(bool listening) {
  listening_ = listening;
  waitingWritable_ = false;
  Log(listening ? "the application opened the device" : "the application closed the device");
  Publish([listening](SimulatorStatus& s) { s.listening = listening; });
}

void MachineSimulator::ReadFromLine() {
  char buffer[512];
  while (true) {
    const ssize_t n = ::read(master_.Get(), buffer, sizeof buffer);
    if (n > 0) {
      const std::string_view got(buffer, static_cast<std::size_t>(n));
      Log("<- " + DescribeBytes(got));
      Publish([&](SimulatorStatus& s) {
        s.receivedBytes += got.size();
        if (config_.keepHistory) s.received.append(got);
      });
      for (char c : got) Answer(c);
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;
    if (n < 0 && errno == EINTR) continue;
    SetListening(false);  // EIO: the last opener has closed the slave
    return;
  }
}

void MachineSimulator::Answer(char command) {
  std::string reply = protocol_.Receive(command);
  if (command == 'm' || command == 'g') Log(std::string("bubble mode: ") + ModeName(protocol_.Mode()));
  if (command == 'c' && protocol_.Phase() == CalibrationPhase::Running)
    Log("calibration started: " + std::to_string(protocol_.SheetsRequired()) + " blank sheets");
  if (command == 's') Log(reply == "G" ? "calibration stored" : "calibration not stored");
  if (reply.empty()) return;
  std::vector<Piece> pieces = shaper_.Split(reply);
  pieces.front().gapBefore += config_.replyDelay;
  Enqueue(std::move(pieces));
}

void MachineSimulator::DoDrop(std::optional<Sheet> given) {
  if (auto reply = protocol_.CalibrationSheetDropped()) {
    Log("blank sheet " + std::to_string(protocol_.SheetsDropped()) + " of " + std::to_string(protocol_.SheetsRequired()) +
        " dropped");
    Enqueue({Piece{*reply}});
    return;
  }
  const Sheet sheet = given ? std::move(*given) : source_.Next();
  EncodedSheet encoded = encoder_.Encode(sheet, protocol_.Mode());
  long number = 0;
  Publish([&](SimulatorStatus& s) { number = ++s.sheetsDropped; });
  Log("sheet " + std::to_string(number) + " dropped (" + ModeName(protocol_.Mode()) + "): " + FormatSheetPattern(sheet));
  Enqueue(shaper_.Split(encoded.record), std::move(encoded.expectedRow));
  if (shaper_.NoiseDue()) Enqueue({shaper_.MakeNoise()});
}

void MachineSimulator::Enqueue(std::vector<Piece> pieces, std::optional<ExpectedRow> completesSheet) {
  const Clock::time_point now = Clock::now();
  for (std::size_t i = 0; i < pieces.size(); ++i) {
    Queued q{std::move(pieces[i]), now, std::nullopt};
    if (i + 1 == pieces.size()) q.completesSheet = std::move(completesSheet);
    queue_.push_back(std::move(q));
  }
}

void MachineSimulator::Log(const std::string& line) const {
  if (!config_.log) return;
  const double seconds = std::chrono::duration<double>(Clock::now() - started_).count();
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "[%9.3f] ", seconds);
  config_.log(stamp + line);
}

void MachineSimulator::PublishEngineState(std::size_t commandsRun) {
  std::size_t pending = 0;
  for (const Queued& q : queue_) pending += q.piece.bytes.size();
  pending -= headWritten_;
  Publish([&](SimulatorStatus& s) {
    s.commandsDone += commandsRun;
    s.pendingBytes = pending;
    s.mode = protocol_.Mode();
    s.modeChosen = protocol_.ModeChosen();
    s.calibration = protocol_.Phase();
    s.calibrationSheetsRequired = protocol_.SheetsRequired();
    s.calibrationSheetsDropped = protocol_.SheetsDropped();
  });
}

}  // namespace machine_sim
