// The device layer for the operating system's serial ports on POSIX: device
// primitives over a termios file descriptor, and the worker threads.
#pragma once

#include <linux/serial.h>

#include <atomic>
#include <mutex>
#include <string>

#include "serial/AwUser.h"

// Opens a serial device exclusively (no other opener in this or another
// process). Returns the descriptor, or -1 with `osError` set to the
// number OpenDevice reports (see OsErrorForOpen).
int OpenSerialDevice(const std::string& path, int& osError);

// Closes what OpenSerialDevice opened, without waiting for undrained output.
void CloseSerialDevice(int fd);

// Maps the errno of a failed open to the number the dispatcher reports as
// minus its result: 2 no such device (EIO included), 5 held by another opener,
// 2013 permission denied; other numbers keep their system meaning.
int OsErrorForOpen(int err);

class TApdPosixDispatcher : public TApdBaseDispatcher {
 public:
  explicit TApdPosixDispatcher(TApdCustomComPort* owner);
  ~TApdPosixDispatcher() override;

  // True once the device reported a hang-up (cable or adapter gone).
  bool DeviceHungUp() const { return hungUp_.load(); }

 protected:
  int DeviceEscape(int function) override;
  int DevicePurge(bool input) override;
  uint32_t DeviceErrors(TDeviceStatus& status) override;
  int DeviceGetState(TLineState& state) override;
  int DeviceRead(uint8_t* buffer, size_t n) override;
  int DeviceSetState(const TLineState& state) override;
  int DeviceWaitEvent(uint32_t& events) override;
  int DeviceSetupQueues(uint16_t in, uint16_t out) override;
  void StartWorkers() override;
  void StopWorkers() override;
  int DeviceOpen(const std::string& name, uint16_t in, uint16_t out) override;
  int DeviceClose() override;
  int DeviceTransmit(const uint8_t* data, size_t n) override;
  int DeviceWaitWritable(TApdSignal& stop) override;
  int DeviceModemLines(uint8_t& lines) override;

 private:
  void CloseDescriptor(int fd);
  void ClosePendingDescriptor();

  // The open descriptor, -1 when none. Workers load it per operation; a
  // close moves it to pendingCloseFd_ until they have stopped, so its
  // number cannot be reused under them.
  std::atomic<int> fd_{-1};
  // Guards pendingCloseFd_.
  std::mutex closeLock_;
  int pendingCloseFd_ = -1;
  // Set by a close or stop; ends the device thread's wait.
  TApdSignal cancelWait_;
  std::atomic<bool> hungUp_{false};
  // Guards the line-error counters last read from the driver; the
  // dispatcher thread and WriteBlock's caller both read errors.
  std::mutex icountLock_;
  serial_icounter_struct lastCounts_{};
  bool countsValid_ = false;
  // Fields of the line-state block that termios does not hold (StateLock).
  TLineState shadow_;
};
