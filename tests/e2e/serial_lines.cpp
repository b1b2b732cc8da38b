#include "e2e/serial_lines.h"

#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

namespace e2e {
namespace {

int openMaster(std::string* slavePath) {
  const int master = posix_openpt(O_RDWR | O_NOCTTY);
  if (master < 0) return -1;
  const char* name = (grantpt(master) == 0 && unlockpt(master) == 0) ? ptsname(master) : nullptr;
  if (name == nullptr) {
    close(master);
    return -1;
  }
  *slavePath = name;
  return master;
}

}  // namespace

SerialLines::SerialLines() {
  triggerMaster_ = openMaster(&triggerPath_);
  laserMaster_ = openMaster(&laserPath_);
}

SerialLines::~SerialLines() {
  if (triggerMaster_ >= 0) close(triggerMaster_);
  if (laserMaster_ >= 0) close(laserMaster_);
}

std::string SerialLines::iniSections() const {
  return "[trigger]\nserialport=" + triggerPath_ + "\n[laserpower]\nserialport=" + laserPath_ +
         "\n";
}

}  // namespace e2e
