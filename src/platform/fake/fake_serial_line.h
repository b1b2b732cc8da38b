// A serial line for tests: keeps its settings in memory, records every byte
// sent and every RTS change with the counter reading of the moment, and fails
// any kind of call on demand with a chosen error code.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "platform/serial.h"

namespace platform {

class FakeSerialLine : public SerialLine {
 public:
  enum Call { kOpen, kGetState, kSetState, kTransmit, kSetRts, kCheck, kClose, kCallKinds };

  struct Byte {
    unsigned char value;
    std::uint64_t counter;  // counterNow() when it was sent
  };
  struct RtsChange {
    bool on;
    std::uint64_t counter;
  };

  explicit FakeSerialLine(std::string portName = "FAKE");

  // From now on every call of that kind fails with the code (0 clears it).
  // Safe from any thread.
  void failCalls(Call call, unsigned long code);

  // The device goes away: from now on every call on the open port fails
  // with the code, as on a pulled USB adapter. Safe from any thread.
  void unplug(unsigned long code);

  // Runs after each byte was recorded, on the sending thread, outside the
  // fake's own lock. Set it before the line is in use.
  void setTransmitHook(std::function<void()> hook) { transmitHook_ = std::move(hook); }

  // What happened so far; safe from any thread.
  std::string portName() const { return portName_; }
  bool isOpen() const;
  bool wasClosed() const;
  SerialDcb state() const;
  std::vector<Byte> bytes() const;
  // Every successful setRts call, repeats included.
  std::vector<RtsChange> rtsChanges() const;
  int calls(Call call) const;

  // Waits until at least count bytes were sent; false when the time ran out.
  bool waitForBytes(std::size_t count, std::chrono::milliseconds limit) const;

  bool open() override;
  bool getState(SerialDcb* dcb) override;
  bool setState(const SerialDcb& dcb) override;
  bool transmitByte(unsigned char byte) override;
  bool setRts(bool on) override;
  bool check() override;
  bool close() override;
  unsigned long lastError() const override;

 private:
  // Counts the call; true when it must fail (lastError_ is then set).
  bool failing(Call call);

  const std::string portName_;
  std::function<void()> transmitHook_;
  mutable std::mutex lock_;
  mutable std::condition_variable sent_;
  unsigned long failures_[kCallKinds] = {};
  int calls_[kCallKinds] = {};
  bool open_ = false;
  bool closed_ = false;
  SerialDcb state_{};
  std::vector<Byte> bytes_;
  std::vector<RtsChange> rtsChanges_;
  unsigned long lastError_ = 0;
};

}  // namespace platform
