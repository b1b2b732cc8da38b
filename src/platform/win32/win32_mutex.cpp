#include <windows.h>

#include <new>

#include "platform/mutex.h"

namespace platform {
namespace {

// A Win32 mutex is re-entrant for its owner, and ReleaseMutex by a thread
// that does not own it fails without harm.
class Win32TimedMutex : public TimedMutex {
 public:
  explicit Win32TimedMutex(HANDLE handle) : handle_(handle) {}
  ~Win32TimedMutex() override { CloseHandle(handle_); }
  Win32TimedMutex(const Win32TimedMutex&) = delete;
  Win32TimedMutex& operator=(const Win32TimedMutex&) = delete;

  bool lock(int timeoutMs) override {
    return WaitForSingleObject(handle_, static_cast<DWORD>(timeoutMs < 0 ? 0 : timeoutMs)) ==
           WAIT_OBJECT_0;
  }
  bool unlock() override { return ReleaseMutex(handle_) != 0; }

 private:
  HANDLE handle_;
};

}  // namespace

std::unique_ptr<TimedMutex> createTimedMutex() {
  HANDLE handle = CreateMutexA(nullptr, FALSE, nullptr);
  if (handle == nullptr) return nullptr;
  auto* mutex = new (std::nothrow) Win32TimedMutex(handle);
  if (mutex == nullptr) CloseHandle(handle);
  return std::unique_ptr<TimedMutex>(mutex);
}

}  // namespace platform
