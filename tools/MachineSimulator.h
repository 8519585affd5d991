#pragma once
// The machine, played on a pseudo-terminal. The application opens the slave
// device as it would open the machine's serial port; this object keeps the
// master side, answers commands through the protocol engine, and drops sheets
// on command or on a schedule, all on its own I/O thread.
//
// Every public member may be called from any thread. Commands are queued to
// the I/O thread, which alone touches the protocol engine, the sheet source and
// the output queue; what the other threads may see is published in a status.
//
// Bytes are only sent while the application has the device open: what the
// machine sends to a closed port is lost, as it is on a real serial line (and
// would otherwise reach the next opener as stale data).

#include "tools/DeviceLink.h"
#include "tools/LineShaper.h"
#include "tools/MachineProtocol.h"
#include "tools/SheetRecord.h"
#include "tools/SheetSource.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace machine_sim {

struct SimulatorConfig {
  ProtocolSettings protocol;
  RecordStyle record;
  ShapeSettings shape;
  std::vector<Sheet> sheets;  // dropped in order, then again; empty: random sheets
  std::uint32_t seed = 1;
  int randomColumns = SheetSource::kDefaultColumns;
  int baud = 19200;  // paces the output like the machine's line; 0: unpaced
  std::chrono::milliseconds replyDelay{0};
  // Scanned sheets on a schedule (0: only on command). The schedule starts when
  // the application chooses a bubble mode ("m"/"g"), or at once if asked, and
  // holds from the start of a calibration until its results are stored. Without a count, a list of sheets is
  // dropped once and random sheets go on for ever.
  std::chrono::milliseconds scanInterval{0};
  std::optional<long> scanCount;
  bool scanStartsAtOnce = false;
  // Blank sheets during a calibration, one per interval (0: only on command).
  std::chrono::milliseconds calibrationInterval{0};
  std::string linkPath;      // a symbolic link to the device, if not empty
  bool keepHistory = true;   // keep every byte and row in the status (tests)
  // Both called on the I/O thread.
  std::function<void(std::string_view line)> log;
  std::function<void(const ExpectedRow& row)> sheetDelivered;
};

struct SimulatorStatus {
  std::string received;                 // from the application (with keepHistory)
  std::string sent;                     // written to the line (with keepHistory)
  std::vector<ExpectedRow> deliveredRows;  // (with keepHistory)
  std::size_t receivedBytes = 0;
  std::size_t sentBytes = 0;
  std::size_t pendingBytes = 0;         // queued, not written yet
  std::uint64_t commandsPosted = 0;     // by other threads
  std::uint64_t commandsDone = 0;       // of those, run by the I/O thread
  long sheetsDropped = 0;               // scanned sheets, delivered or lost
  long sheetsDelivered = 0;             // whose last byte reached the line
  long scheduledDrops = 0;
  BubbleMode mode = BubbleMode::Multiple;
  bool modeChosen = false;
  CalibrationPhase calibration = CalibrationPhase::Idle;
  int calibrationSheetsRequired = 0;
  int calibrationSheetsDropped = 0;
  bool listening = false;               // the application has the device open
  bool paused = false;
  bool unplugged = false;
};

class MachineSimulator {
 public:
  // Opens the pseudo-terminal (raw), makes the link and starts the I/O thread.
  // Throws std::system_error or std::invalid_argument.
  explicit MachineSimulator(SimulatorConfig config);
  ~MachineSimulator();
  MachineSimulator(const MachineSimulator&) = delete;
  MachineSimulator& operator=(const MachineSimulator&) = delete;

  // The device the application opens.
  const std::string& DevicePath() const { return devicePath_; }

  // A sheet through the machine: a blank one while calibrating, otherwise the
  // next of the sheet source, or the given one.
  void DropSheet();
  void DropSheet(Sheet sheet);
  void SendRaw(std::string bytes);
  void SendNoise();

  // The setters are in force when they return (they wait for the I/O thread;
  // so they must not be called from the two callbacks of the configuration).
  void SetSilentToAttention(bool silent);
  void SetCalibrationTimesOut(bool timesOut);
  void SetStoreFails(bool fails);
  void SetFirmware(std::string firmware);  // throws std::invalid_argument
  void SetPaused(bool paused);             // both schedules

  // The cable pulled: closes the master, so the device vanishes, and removes
  // the link. Nothing else happens afterwards. Safe to call more than once.
  void Unplug();
  bool Unplugged() const;

  SimulatorStatus Status() const;
  // Waits until the predicate holds for the published status.
  bool WaitFor(const std::function<bool(const SimulatorStatus&)>& holds, std::chrono::milliseconds timeout) const;
  // Waits until the application has opened the device and all output is written.
  bool WaitUntilSent(std::chrono::milliseconds timeout) const;

 private:
  using Clock = std::chrono::steady_clock;
  struct Queued {
    Piece piece;
    Clock::time_point enqueuedAt;
    std::optional<ExpectedRow> completesSheet;
  };

  // Queues a command for the I/O thread; returns its number (0 once unplugged).
  std::uint64_t Post(std::function<void()> command);
  // Queues it and waits until the I/O thread has run it.
  void PostAndSettle(std::function<void()> command);
  void Wake();
  void IoLoop();
  bool RunCommands(std::size_t& count);
  void RunSchedules(Clock::time_point now);
  void WriteDue(Clock::time_point now);
  Clock::time_point HeadDue() const;
  Clock::time_point NextWake(Clock::time_point now) const;
  void WaitForActivity(Clock::time_point until);
  void ReadFromLine();
  void CheckListener();
  void SetListening(bool listening);
  void CompleteHead(Clock::time_point now);

  void DoDrop(std::optional<Sheet> given);
  void Answer(char command);
  void Enqueue(std::vector<Piece> pieces, std::optional<ExpectedRow> completesSheet = std::nullopt);
  void Log(const std::string& line) const;
  template <typename Change>
  void Publish(Change change);
  void PublishEngineState(std::size_t commandsRun);

  // Closes its descriptor when it goes, so a constructor that throws half-way
  // leaks nothing.
  class UniqueFd {
   public:
    UniqueFd() = default;
    ~UniqueFd() { Reset(); }
    UniqueFd(const UniqueFd&) = delete;
    UniqueFd& operator=(const UniqueFd&) = delete;
    int Get() const { return fd_; }
    void Reset(int fd = -1);

   private:
    int fd_ = -1;
  };

  SimulatorConfig config_;
  std::string devicePath_;
  UniqueFd master_;
  UniqueFd wake_;  // eventfd: a command is waiting or the thread must stop
  DeviceLink link_;
  Clock::time_point started_;

  // Used by the I/O thread only.
  MachineProtocol protocol_;
  SheetSource source_;
  RecordEncoder encoder_;
  LineShaper shaper_;
  std::deque<Queued> queue_;
  std::size_t headWritten_ = 0;
  Clock::time_point lastWriteEnd_{};
  Clock::time_point quietUntil_{};
  Clock::time_point nextByteAt_{};
  bool waitingWritable_ = false;
  bool hangUpSeen_ = false;
  bool listening_ = false;
  bool paused_ = false;
  long scheduledDrops_ = 0;
  std::optional<Clock::time_point> nextScanDrop_;
  std::optional<Clock::time_point> nextCalibrationDrop_;
  unsigned calibrationRunSeen_ = 0;

  // Guards commands_ and stopping_: filled by any thread, drained by the I/O
  // thread. Taken before statusMutex_ when both are held (Post), never after.
  std::mutex commandMutex_;
  std::vector<std::function<void()>> commands_;
  bool stopping_ = false;

  // Guards status_: written by the I/O thread (and Unplug), read by any thread;
  // statusChanged_ wakes the waiters of WaitFor.
  mutable std::mutex statusMutex_;
  mutable std::condition_variable statusChanged_;
  SimulatorStatus status_;

  // Serialises Unplug so the thread is joined and the master closed once.
  std::mutex unplugMutex_;
  std::thread io_;
};

}  // namespace machine_sim
