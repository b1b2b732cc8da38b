#include "rig/rig.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <utility>
#include <vector>

#include "rig/shot_renderer.h"

namespace rig {
namespace fs = std::filesystem;
namespace {

// How long the trigger reader waits for input, so that stop() is seen
// promptly.
constexpr int kPollMs = 50;

// Writes bytes to path under a temporary name, then renames it into place:
// the camera module takes names ending in .tmp for files still being written.
bool writeWhole(const fs::path& path, const std::vector<std::uint8_t>& bytes) {
  const std::string temporary = path.string() + ".tmp";
  std::FILE* file = std::fopen(temporary.c_str(), "wb");
  if (file == nullptr) {
    const int error = errno;
    std::fprintf(stderr, "skerrow-rig: cannot write %s: %s\n", temporary.c_str(),
                 std::strerror(error));
    return false;
  }
  const bool written =
      bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  const int writeError = errno;
  if (std::fclose(file) != 0 || !written) {
    std::fprintf(stderr, "skerrow-rig: cannot write %s: %s\n", temporary.c_str(),
                 std::strerror(written ? errno : writeError));
    std::remove(temporary.c_str());
    return false;
  }
  std::error_code error;
  fs::rename(temporary, path, error);
  if (error) {
    std::fprintf(stderr, "skerrow-rig: cannot rename %s: %s\n", temporary.c_str(),
                 error.message().c_str());
    std::remove(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace

Rig::Rig(RigOptions options) : options_(std::move(options)), faults_(options_) {}

Rig::~Rig() { stop(); }

bool Rig::start() {
  std::error_code error;
  fs::create_directories(options_.cardDir, error);
  if (error || !fs::is_directory(options_.cardDir)) {
    std::fprintf(stderr, "skerrow-rig: cannot make the card folder %s: %s\n",
                 options_.cardDir.c_str(), error ? error.message().c_str() : "not a folder");
    return false;
  }
  if (!log_.open(options_.logPath)) return false;
  if (!options_.replayDir.empty() && !replay_.open(options_.replayDir)) return false;

  laserServer_ = std::make_unique<PortServer>(PortServer::Handlers{
      nullptr, [this](bool on) { log_.rts(std::chrono::system_clock::now(), on); },
      [this](bool up) { log_.unplug(std::chrono::system_clock::now(), "laser", !up); }});
  if (!laserServer_->start(options_.laserPort)) return false;

  try {
    if (options_.triggerOverTcp) {
      triggerServer_ = std::make_unique<PortServer>(PortServer::Handlers{
          [this](const std::uint8_t* data, std::size_t size) { onTriggerBytes(data, size); },
          nullptr,
          [this](bool up) { log_.unplug(std::chrono::system_clock::now(), "trigger", !up); }});
      if (!triggerServer_->start(options_.triggerPort)) return false;
    } else {
      if (!pty_.open(options_.triggerLink)) return false;
      ptyName_ = pty_.slavePath();
      triggerReader_ = std::thread(&Rig::TriggerReaderThread, this);
    }
    camera_ = std::thread(&Rig::CameraThread, this);
    if (!options_.controlPath.empty()) {
      if (!controlFifo_.open(options_.controlPath)) return false;
      controlReader_ = std::thread(&Rig::ControlThread, this);
    }
  } catch (const std::exception&) {
    std::fprintf(stderr, "skerrow-rig: cannot start a thread\n");
    return false;
  }
  return writePortsFile();
}

void Rig::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopping_ = true;
    pending_.clear();
    spuriousPending_ = false;
  }
  changed_.notify_all();
  if (triggerServer_) triggerServer_->stop();
  if (laserServer_) laserServer_->stop();
  if (triggerReader_.joinable()) triggerReader_.join();
  if (camera_.joinable()) camera_.join();
  if (controlReader_.joinable()) controlReader_.join();
  controlFifo_.close();
}

std::string Rig::triggerName() const {
  if (triggerServer_) return triggerServer_->portName();
  if (!options_.triggerLink.empty()) return options_.triggerLink;
  std::lock_guard<std::mutex> lock(mutex_);
  return ptyName_;
}

std::string Rig::laserName() const { return laserServer_ ? laserServer_->portName() : ""; }

std::uint64_t Rig::shotsWritten() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return written_;
}

bool Rig::writePortsFile() {
  if (options_.portsFile.empty()) return true;
  const std::string text = "trigger=" + triggerName() + "\nlaser=" + laserName() + "\n";
  return writeWhole(options_.portsFile, std::vector<std::uint8_t>(text.begin(), text.end()));
}

void Rig::setStalled(bool stalled) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stalled_ == stalled) return;
    stalled_ = stalled;
    log_.stall(std::chrono::system_clock::now(), stalled);
  }
  changed_.notify_all();
}

void Rig::TriggerReaderThread() {
  std::uint8_t buffer[256];
  std::unique_lock<std::mutex> lock(mutex_);
  while (!stopping_) {
    if (triggerUnplugged_) {
      if (!keepTriggerAway(&lock)) return;
      continue;
    }
    lock.unlock();
    const int n = pty_.read(buffer, sizeof buffer, kPollMs);
    if (n > 0) onTriggerBytes(buffer, static_cast<std::size_t>(n));
    lock.lock();
  }
}

bool Rig::cardPresent() const {
  std::error_code error;
  return fs::is_directory(options_.cardDir, error);
}

void Rig::CameraThread() {
  using Clock = std::chrono::steady_clock;
  std::unique_lock<std::mutex> lock(mutex_);
  for (;;) {
    if (stopping_) return;
    const auto now = Clock::now();
    // The camera shoots on its own even while stalled or cut off from its
    // card; the shot is then held like the rest.
    if (spuriousPending_ && now >= spuriousAt_) {
      takeSpuriousShot();
      continue;
    }
    bool waking = spuriousPending_;
    Clock::time_point wake = spuriousAt_;
    const auto wakeBy = [&](Clock::time_point at) {
      if (!waking || at < wake) wake = at;
      waking = true;
    };
    if (!pending_.empty() && !stalled_) {
      const auto due = pending_.front().due;
      if (now < due) {
        wakeBy(due);
      } else if (!cardPresent()) {
        // The camera keeps shooting while its card is out of reach (its USB
        // link is gone); the shots wait, and the folder is never made here.
        if (!cardGone_) {
          cardGone_ = true;
          log_.card(std::chrono::system_clock::now(), false);
        }
        // Nothing tells of the folder's return: look again shortly.
        wakeBy(now + std::chrono::milliseconds(kPollMs));
      } else {
        if (cardGone_) {
          cardGone_ = false;
          log_.card(std::chrono::system_clock::now(), true);
        }
        PendingShot shot = std::move(pending_.front());
        pending_.pop_front();
        if (!shot.tried) {
          shot.tried = true;
          shot.undeliverable = undeliverable_ > 0;
          if (shot.undeliverable) --undeliverable_;
        }
        lock.unlock();
        const WriteResult result = writeShot(&shot);
        lock.lock();
        if (result == WriteResult::kWritten) ++written_;
        // The folder went between the look and the write: held like the rest.
        if (result == WriteResult::kCardGone && !stopping_) pending_.push_front(std::move(shot));
        continue;
      }
    }
    if (waking) {
      changed_.wait_until(lock, wake);
    } else {
      changed_.wait(lock);
    }
  }
}

bool Rig::makeShot(PendingShot* shot) {
  auto bytes = std::make_shared<std::vector<std::uint8_t>>();
  shot->cardName = shot->baseName + ".JPG";
  bool made = false;
  if (options_.replayDir.empty()) {
    RenderRequest request;
    request.width = options_.width;
    request.height = options_.height;
    request.quality = options_.quality;
    request.noise = options_.noise;
    request.frame = shot->frame;
    request.cameraTime = shot->camera.dateTime;
    request.millisecond = shot->camera.millisecond;
    request.subSeconds = options_.subSeconds;
    request.make = options_.make;
    request.model = options_.model;
    made = renderShot(request, bytes.get());
  } else {
    std::string extension;
    made = replay_.next(bytes.get(), &extension);
    shot->cardName = shot->baseName + extension;
  }
  if (made) shot->bytes = std::move(bytes);
  return made;
}

Rig::WriteResult Rig::writeShot(PendingShot* shot) {
  if (shot->bytes == nullptr && !makeShot(shot)) {
    log_.error(std::chrono::system_clock::now(), shot->frame, shot->cardName);
    return WriteResult::kFailed;
  }
  const fs::path card(options_.cardDir);
  // The marker is in place before the shot, so the module never sees the
  // shot without it.
  const fs::path marker = card / ("." + shot->cardName + ".undeliverable");
  bool written = !shot->undeliverable || writeWhole(marker, {});
  if (written) {
    written = writeWhole(card / shot->cardName, *shot->bytes);
    if (!written && shot->undeliverable) std::remove(marker.string().c_str());
  }
  if (!written) {
    if (!cardPresent()) return WriteResult::kCardGone;
    log_.error(std::chrono::system_clock::now(), shot->frame, shot->cardName);
    return WriteResult::kFailed;
  }
  const auto now = std::chrono::system_clock::now();
  if (shot->undeliverable) log_.undeliverable(now, shot->frame, shot->cardName);
  log_.shot(now, shot->frame, shot->cardName, shot->camera);
  return WriteResult::kWritten;
}

}  // namespace rig
