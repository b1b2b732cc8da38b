// The rig's CSV log and the clock readings it holds.
#pragma once

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>

namespace rig {

using SystemTime = std::chrono::system_clock::time_point;

// "2024-05-01T12:00:00.123456Z": host UTC to the microsecond.
std::string formatUtc(SystemTime time);

// A camera clock reading: "YYYY:MM:DD HH:MM:SS" as Exif writes it, and the
// millisecond (0 on a clock of whole seconds).
struct CameraTime {
  std::string dateTime;
  int millisecond = 0;
};
// The camera clock at hostTime: host UTC plus offsetMs, cut to the
// millisecond, or to the second when the clock has no subseconds.
CameraTime cameraTimeAt(SystemTime hostTime, std::int64_t offsetMs, bool subSeconds = true);
// The earliest host time at which the camera clock reads later than it does
// at hostTime: the start of its next millisecond, or of its next second.
SystemTime nextCameraReading(SystemTime hostTime, std::int64_t offsetMs, bool subSeconds);

// One line per event, written through at once so that readers see it while
// the rig runs. Columns:
//   utc          the host clock when the rig saw or did it
//   event        trigger | miss | spurious | shot | rts | error | stall |
//                resume | control | refused | unplug | replug |
//                undeliverable | card-gone | card-back
//   frame        trigger, spurious, shot, error, undeliverable: the shot's
//                card frame number, from 1; empty for a missed trigger and
//                its miss row, which make no frame
//   card_name    the same rows: the shot's name on the card; control and
//                refused: the command; unplug and replug: the line, trigger
//                or laser
//   camera_time  trigger, miss, spurious and shot: "YYYY:MM:DD HH:MM:SS.mmm"
//                of the camera
//   rts          rts: on | off
// Safe to use from several threads.
class RigLog {
 public:
  RigLog() = default;
  ~RigLog();
  RigLog(const RigLog&) = delete;
  RigLog& operator=(const RigLog&) = delete;

  static constexpr char kHeader[] = "utc,event,frame,card_name,camera_time,rts";

  // Creates or truncates the file and writes the header. False, with one
  // line on standard error, on failure.
  bool open(const std::string& path);

  void trigger(SystemTime when, std::uint64_t frame, const std::string& cardName,
               const CameraTime& camera);
  // The camera missed the trigger logged just before: no shot follows.
  void miss(SystemTime when, const CameraTime& camera);
  // The camera shot on its own; its shot row follows once it is on the card.
  void spurious(SystemTime when, std::uint64_t frame, const std::string& cardName,
                const CameraTime& camera);
  void shot(SystemTime when, std::uint64_t frame, const std::string& cardName,
            const CameraTime& camera);
  void rts(SystemTime when, bool on);
  void error(SystemTime when, std::uint64_t frame, const std::string& cardName);
  // stall when the camera stops writing shots, resume when it starts again.
  void stall(SystemTime when, bool stalled);
  // A control command taken (command: its text), or refused.
  void control(SystemTime when, const std::string& command);
  void refused(SystemTime when, const std::string& command);
  // A line ("trigger" or "laser") went away, or came back.
  void unplug(SystemTime when, const char* lineName, bool away);
  // The shot's marker that the camera cannot deliver it is on the card.
  void undeliverable(SystemTime when, std::uint64_t frame, const std::string& cardName);
  // card-gone when a shot is due and the card folder is missing, card-back
  // when it is there again.
  void card(SystemTime when, bool present);

 private:
  void line(SystemTime when, const char* event, std::uint64_t frame, const std::string& cardName,
            const CameraTime* camera, const char* rts);

  std::mutex mutex_;
  std::FILE* file_ = nullptr;
};

}  // namespace rig
