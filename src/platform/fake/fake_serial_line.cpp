#include "platform/fake/fake_serial_line.h"

#include "platform/clock.h"

namespace platform {

FakeSerialLine::FakeSerialLine(std::string portName) : portName_(std::move(portName)) {
  // What a freshly opened COM port typically reports.
  state_.DCBlength = sizeof(SerialDcb);
  state_.BaudRate = 9600;
  state_.fParity = 0;
  state_.fRtsControl = kSerialRtsControlEnable;
  state_.ByteSize = 8;
  state_.Parity = kSerialNoParity;
  state_.StopBits = kSerialOneStopBit;
}

void FakeSerialLine::failCalls(Call call, unsigned long code) {
  std::lock_guard<std::mutex> guard(lock_);
  failures_[call] = code;
}

void FakeSerialLine::unplug(unsigned long code) {
  std::lock_guard<std::mutex> guard(lock_);
  for (const Call call : {kGetState, kSetState, kTransmit, kSetRts, kCheck}) failures_[call] = code;
}

bool FakeSerialLine::isOpen() const {
  std::lock_guard<std::mutex> guard(lock_);
  return open_;
}

bool FakeSerialLine::wasClosed() const {
  std::lock_guard<std::mutex> guard(lock_);
  return closed_;
}

SerialDcb FakeSerialLine::state() const {
  std::lock_guard<std::mutex> guard(lock_);
  return state_;
}

std::vector<FakeSerialLine::Byte> FakeSerialLine::bytes() const {
  std::lock_guard<std::mutex> guard(lock_);
  return bytes_;
}

std::vector<FakeSerialLine::RtsChange> FakeSerialLine::rtsChanges() const {
  std::lock_guard<std::mutex> guard(lock_);
  return rtsChanges_;
}

int FakeSerialLine::calls(Call call) const {
  std::lock_guard<std::mutex> guard(lock_);
  return calls_[call];
}

bool FakeSerialLine::waitForBytes(std::size_t count, std::chrono::milliseconds limit) const {
  std::unique_lock<std::mutex> guard(lock_);
  return sent_.wait_for(guard, limit, [&] { return bytes_.size() >= count; });
}

bool FakeSerialLine::failing(Call call) {
  ++calls_[call];
  if (failures_[call] == 0) return false;
  lastError_ = failures_[call];
  return true;
}

bool FakeSerialLine::open() {
  std::lock_guard<std::mutex> guard(lock_);
  if (failing(kOpen)) return false;
  open_ = true;
  return true;
}

bool FakeSerialLine::getState(SerialDcb* dcb) {
  std::lock_guard<std::mutex> guard(lock_);
  if (failing(kGetState)) return false;
  *dcb = state_;
  return true;
}

bool FakeSerialLine::setState(const SerialDcb& dcb) {
  std::lock_guard<std::mutex> guard(lock_);
  if (failing(kSetState)) return false;
  state_ = dcb;
  return true;
}

bool FakeSerialLine::transmitByte(unsigned char byte) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    if (failing(kTransmit)) return false;
    bytes_.push_back(Byte{byte, counterNow()});
  }
  sent_.notify_all();
  if (transmitHook_) transmitHook_();
  return true;
}

bool FakeSerialLine::setRts(bool on) {
  std::lock_guard<std::mutex> guard(lock_);
  if (failing(kSetRts)) return false;
  rtsChanges_.push_back(RtsChange{on, counterNow()});
  return true;
}

bool FakeSerialLine::check() {
  std::lock_guard<std::mutex> guard(lock_);
  return !failing(kCheck);
}

bool FakeSerialLine::close() {
  std::lock_guard<std::mutex> guard(lock_);
  open_ = false;
  closed_ = true;
  return !failing(kClose);
}

unsigned long FakeSerialLine::lastError() const {
  std::lock_guard<std::mutex> guard(lock_);
  return lastError_;
}

}  // namespace platform
