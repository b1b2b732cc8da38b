#include "rig/rig_log.h"

#include <time.h>

#include <cerrno>
#include <cstring>

namespace rig {
namespace {

// Splits a time into whole seconds (floored, so that times before 1970 keep
// a positive fraction) and the microseconds after them.
void split(SystemTime time, time_t* seconds, std::int64_t* micros) {
  const std::int64_t total =
      std::chrono::duration_cast<std::chrono::microseconds>(time.time_since_epoch()).count();
  std::int64_t whole = total / 1000000;
  std::int64_t rest = total % 1000000;
  if (rest < 0) {
    rest += 1000000;
    --whole;
  }
  *seconds = static_cast<time_t>(whole);
  *micros = rest;
}

}  // namespace

std::string formatUtc(SystemTime time) {
  time_t seconds = 0;
  std::int64_t micros = 0;
  split(time, &seconds, &micros);
  tm parts{};
  gmtime_r(&seconds, &parts);
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%06lldZ", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec,
                static_cast<long long>(micros));
  return text;
}

CameraTime cameraTimeAt(SystemTime hostTime, std::int64_t offsetMs, bool subSeconds) {
  time_t seconds = 0;
  std::int64_t micros = 0;
  split(hostTime + std::chrono::milliseconds(offsetMs), &seconds, &micros);
  tm parts{};
  gmtime_r(&seconds, &parts);
  char text[64];
  std::snprintf(text, sizeof text, "%04d:%02d:%02d %02d:%02d:%02d", parts.tm_year + 1900,
                parts.tm_mon + 1, parts.tm_mday, parts.tm_hour, parts.tm_min, parts.tm_sec);
  CameraTime camera;
  camera.dateTime = text;
  camera.millisecond = subSeconds ? static_cast<int>(micros / 1000) : 0;
  return camera;
}

SystemTime nextCameraReading(SystemTime hostTime, std::int64_t offsetMs, bool subSeconds) {
  const auto offset = std::chrono::milliseconds(offsetMs);
  const SystemTime camera = hostTime + offset;
  if (subSeconds) {
    return std::chrono::floor<std::chrono::milliseconds>(camera) + std::chrono::milliseconds(1) -
           offset;
  }
  return std::chrono::floor<std::chrono::seconds>(camera) + std::chrono::seconds(1) - offset;
}

RigLog::~RigLog() {
  if (file_ != nullptr) std::fclose(file_);
}

bool RigLog::open(const std::string& path) {
  file_ = std::fopen(path.c_str(), "w");
  if (file_ == nullptr) {
    const int error = errno;
    std::fprintf(stderr, "skerrow-rig: cannot write the log %s: %s\n", path.c_str(),
                 std::strerror(error));
    return false;
  }
  std::fprintf(file_, "%s\n", kHeader);
  std::fflush(file_);
  return true;
}

void RigLog::trigger(SystemTime when, std::uint64_t frame, const std::string& cardName,
                     const CameraTime& camera) {
  line(when, "trigger", frame, cardName, &camera, "");
}

void RigLog::miss(SystemTime when, const CameraTime& camera) {
  line(when, "miss", 0, "", &camera, "");
}

void RigLog::spurious(SystemTime when, std::uint64_t frame, const std::string& cardName,
                      const CameraTime& camera) {
  line(when, "spurious", frame, cardName, &camera, "");
}

void RigLog::shot(SystemTime when, std::uint64_t frame, const std::string& cardName,
                  const CameraTime& camera) {
  line(when, "shot", frame, cardName, &camera, "");
}

void RigLog::rts(SystemTime when, bool on) { line(when, "rts", 0, "", nullptr, on ? "on" : "off"); }

void RigLog::error(SystemTime when, std::uint64_t frame, const std::string& cardName) {
  line(when, "error", frame, cardName, nullptr, "");
}

void RigLog::stall(SystemTime when, bool stalled) {
  line(when, stalled ? "stall" : "resume", 0, "", nullptr, "");
}

void RigLog::control(SystemTime when, const std::string& command) {
  line(when, "control", 0, command, nullptr, "");
}

void RigLog::refused(SystemTime when, const std::string& command) {
  line(when, "refused", 0, command, nullptr, "");
}

void RigLog::unplug(SystemTime when, const char* lineName, bool away) {
  line(when, away ? "unplug" : "replug", 0, lineName, nullptr, "");
}

void RigLog::undeliverable(SystemTime when, std::uint64_t frame, const std::string& cardName) {
  line(when, "undeliverable", frame, cardName, nullptr, "");
}

void RigLog::card(SystemTime when, bool present) {
  line(when, present ? "card-back" : "card-gone", 0, "", nullptr, "");
}

void RigLog::line(SystemTime when, const char* event, std::uint64_t frame,
                  const std::string& cardName, const CameraTime* camera, const char* rts) {
  const std::string utc = formatUtc(when);
  std::string frameText = frame > 0 ? std::to_string(frame) : std::string();
  char cameraText[40] = "";
  if (camera != nullptr) {
    std::snprintf(cameraText, sizeof cameraText, "%s.%03d", camera->dateTime.c_str(),
                  camera->millisecond);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (file_ == nullptr) return;
  std::fprintf(file_, "%s,%s,%s,%s,%s,%s\n", utc.c_str(), event, frameText.c_str(),
               cardName.c_str(), cameraText, rts);
  std::fflush(file_);
}

}  // namespace rig
