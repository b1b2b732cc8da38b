// Two pseudo-terminals that stand in for the trigger and the laser-power
// lines, so that a server started by a test finds ports that open. The test
// holds the master sides; the server opens the slave paths.
#pragma once

#include <string>

namespace e2e {

class SerialLines {
 public:
  SerialLines();
  ~SerialLines();
  SerialLines(const SerialLines&) = delete;
  SerialLines& operator=(const SerialLines&) = delete;

  bool ok() const { return triggerMaster_ >= 0 && laserMaster_ >= 0; }
  const std::string& triggerPath() const { return triggerPath_; }

  // "[trigger]" and "[laserpower]" sections naming the two lines; put them
  // before the rest of a configuration, whose keys then stay in the
  // sections the rest opens.
  std::string iniSections() const;

 private:
  int triggerMaster_ = -1;
  int laserMaster_ = -1;
  std::string triggerPath_;
  std::string laserPath_;
};

}  // namespace e2e
