#include "trigger/port_reopener.h"

#include <system_error>

PortReopener::PortReopener(std::uint32_t everyMs) : everyMs_(everyMs) {}

PortReopener::~PortReopener() { stop(); }

bool PortReopener::start() {
  if (thread_.joinable()) return true;
  try {
    thread_ = std::thread([this] { run(); });
  } catch (const std::system_error&) {
    return false;
  }
  return true;
}

void PortReopener::reopen(int slot, Attempt attempt) {
  {
    std::lock_guard<std::mutex> guard(lock_);
    Slot& s = slots_[slot];
    s.attempt = std::move(attempt);
    s.wanted = true;
    s.first = true;
    s.due = std::chrono::steady_clock::now();
    s.ready.reset();
  }
  changed_.notify_all();
}

std::unique_ptr<triggerSerialPort> PortReopener::take(int slot) {
  std::lock_guard<std::mutex> guard(lock_);
  return std::move(slots_[slot].ready);
}

void PortReopener::stop() {
  {
    std::lock_guard<std::mutex> guard(lock_);
    stop_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

void PortReopener::run() {
  std::unique_lock<std::mutex> guard(lock_);
  while (!stop_) {
    int next = -1;
    for (int i = 0; i < kSlots; ++i) {
      if (slots_[i].wanted && (next < 0 || slots_[i].due < slots_[next].due)) next = i;
    }
    if (next < 0) {
      changed_.wait(guard);
      continue;
    }
    if (std::chrono::steady_clock::now() < slots_[next].due) {
      changed_.wait_until(guard, slots_[next].due);
      continue;
    }
    // The attempt runs unlocked: it may take seconds, and the trigger thread
    // asks for reopened ports meanwhile.
    const Attempt attempt = slots_[next].attempt;
    const bool first = slots_[next].first;
    slots_[next].first = false;
    guard.unlock();
    std::unique_ptr<triggerSerialPort> port = attempt(first);
    guard.lock();
    Slot& slot = slots_[next];
    // A new request for the slot came during the attempt: it starts afresh.
    if (!slot.wanted || slot.first) continue;
    if (port != nullptr) {
      slot.ready = std::move(port);
      slot.wanted = false;
    } else {
      slot.due = std::chrono::steady_clock::now() + std::chrono::milliseconds(everyMs_);
    }
  }
}
