#include "bench/trigger/spacing_run.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "channel/image_name_queue.h"
#include "core/log.h"
#include "core/server_state.h"
#include "platform/clock.h"
#include "platform/fake/fake_serial_line.h"
#include "platform/mutex.h"
#include "platform/timer.h"
#include "trigger/trigger_worker.h"

SpacingResult measureTriggerSpacing(int triggers, std::int32_t intervalMs) {
  if (statusMutex == nullptr) statusMutex = platform::createTimedMutex().release();
  std::FILE* log = std::tmpfile();
  if (log != nullptr) currentLogStream = log;
  ImageNameQueue queue;
  imageNameQueue = &queue;
  std::strcpy(serverSettings.triggerPortName, "TRIG");
  std::strcpy(serverSettings.laserPortName, "LASER");
  serverSettings.triggerBaudRate = serverSettings.laserBaudRate = 1200;
  serverSettings.triggerBits = serverSettings.laserBits = 8;
  serverSettings.triggerParity[0] = serverSettings.laserParity[0] = 'N';
  serverSettings.triggerStop = serverSettings.laserStop = 1;
  {
    platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
    serverStatus.running = true;
    serverStatus.acquisitionActive = true;
    serverStatus.cameraConnected = true;
    serverStatus.cameraInterval = intervalMs;
    std::strcpy(serverStatus.cameraFilePrefix, "AUV_");
  }

  auto triggerLine = std::make_unique<platform::FakeSerialLine>("TRIG");
  platform::FakeSerialLine* trigger = triggerLine.get();
  // The camera's part: each name is taken as its trigger goes out (the
  // worker holds statusMutex then), so the queue never fills.
  trigger->setTransmitHook([] {
    std::int32_t length = 0;
    imageNameQueue->popImageName(&length);
  });
  auto laserLine = std::make_unique<platform::FakeSerialLine>("LASER");
  TriggerWorker worker(
      [&](const char* name) -> std::unique_ptr<platform::SerialLine> {
        if (std::strcmp(name, "TRIG") == 0) return std::move(triggerLine);
        return std::move(laserLine);
      },
      [](unsigned long* error) { return platform::createOneShotTimer(error); });

  SpacingResult result{false, 0, 0.0, 0.0};
  if (worker.startThread()) {
    const auto limit =
        std::chrono::milliseconds(static_cast<std::int64_t>(triggers) * intervalMs * 2 + 20000);
    result.ok = trigger->waitForBytes(static_cast<std::size_t>(triggers), limit);
    {
      platform::MutexHold hold(statusMutex, kMutexTimeoutMs);
      serverStatus.running = false;
    }
    worker.wake();
    worker.join();
  }

  const std::vector<platform::FakeSerialLine::Byte> bytes = trigger->bytes();
  const double frequency = static_cast<double>(platform::counterFrequency());
  double sum = 0.0;
  const std::size_t count = bytes.size() < static_cast<std::size_t>(triggers)
                                ? bytes.size()
                                : static_cast<std::size_t>(triggers);
  for (std::size_t i = 1; i < count; ++i) {
    const double spacingMs =
        static_cast<double>(bytes[i].counter - bytes[i - 1].counter) * 1000.0 / frequency;
    const double error = std::fabs(spacingMs - intervalMs);
    sum += error;
    if (error > result.maxErrorMs) result.maxErrorMs = error;
    ++result.spacings;
  }
  if (result.spacings > 0) result.meanErrorMs = sum / result.spacings;

  imageNameQueue = nullptr;
  currentLogStream = stdout;
  if (log != nullptr) std::fclose(log);
  return result;
}
