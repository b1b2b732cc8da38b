#include "channel/request_signal.h"

#include <chrono>
#include <condition_variable>
#include <mutex>

namespace {

std::mutex signalMutex;
std::condition_variable signalled;
bool requestQueued = false;

}  // namespace

void signalRequestQueued() {
  {
    std::lock_guard<std::mutex> hold(signalMutex);
    requestQueued = true;
  }
  signalled.notify_one();
}

void waitForRequest(int timeoutMs) {
  std::unique_lock<std::mutex> hold(signalMutex);
  signalled.wait_for(hold, std::chrono::milliseconds(timeoutMs), [] { return requestQueued; });
  requestQueued = false;
}
