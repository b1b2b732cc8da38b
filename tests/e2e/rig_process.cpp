#include "e2e/rig_process.h"

#include <signal.h>

#include <filesystem>
#include <sstream>
#include <system_error>

#include "e2e/rig_folder.h"

namespace e2e {
namespace {

// The value of "key=" in the rig's ports file, or empty.
std::string portsValue(const std::string& text, const std::string& key) {
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (line.rfind(key + "=", 0) == 0) return line.substr(key.size() + 1);
  }
  return "";
}

}  // namespace

RigProcess::RigProcess(const testing_support::TempDir& dir, const std::vector<std::string>& options)
    : dir_(dir) {
  if (!copyStandInModule(dir.path(), &error_)) return;
  std::vector<std::string> args{
      "--card",         dir.file("card"),         "--log",        dir.file("rig-log.csv"),
      "--trigger-link", dir.file("trigger-line"), "--ports-file", dir.file("rig-ports")};
  args.insert(args.end(), options.begin(), options.end());
  process_ = std::make_unique<ServerProcess>(SKERROW_RIG_BIN, dir.path(), args,
                                             std::vector<std::string>{});
  if (!process_->started()) {
    error_ = "skerrow-rig did not start: " + process_->startError();
    return;
  }
  const std::string portsFile = dir.file("rig-ports");
  if (!waitUntil([&] { return std::filesystem::exists(portsFile); })) {
    error_ = "skerrow-rig is not ready: " + process_->err().text();
    return;
  }
  const std::string ports = testing_support::readFile(portsFile);
  triggerName_ = portsValue(ports, "trigger");
  laserName_ = portsValue(ports, "laser");
  if (triggerName_.empty() || laserName_.empty()) error_ = "skerrow-rig's ports file: " + ports;
}

std::string RigProcess::iniSections() const {
  return "[trigger]\nserialport=" + triggerName_ + "\n[laserpower]\nserialport=" + laserName_ +
         "\n";
}

std::vector<std::string> RigProcess::environment(const std::vector<std::string>& more) const {
  std::vector<std::string> result{"SKERROW_CAM_CARD=" + dir_.file("card")};
  result.insert(result.end(), more.begin(), more.end());
  return result;
}

std::vector<RigRow> RigProcess::rows(const std::string& event) const {
  std::vector<RigRow> result;
  std::istringstream lines(testing_support::readFile(dir_.file("rig-log.csv")));
  std::string line;
  std::getline(lines, line);  // the header
  while (std::getline(lines, line)) {
    std::vector<std::string> fields;
    std::istringstream split(line);
    std::string field;
    while (std::getline(split, field, ',')) fields.push_back(field);
    if (!line.empty() && line.back() == ',') fields.emplace_back();
    // A line still being written has fewer fields; it is read next time.
    if (fields.size() != 6 || fields[1] != event) continue;
    result.push_back({fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]});
  }
  return result;
}

bool RigProcess::stall() { return process_ != nullptr && process_->sendSignal(SIGUSR1); }

bool RigProcess::resume() { return process_ != nullptr && process_->sendSignal(SIGUSR2); }

bool RigProcess::stop() {
  if (process_ == nullptr || !process_->sendSignal(SIGINT)) return false;
  ExitStatus status;
  return process_->waitForExit(&status) && status.exited && status.code == 0;
}

}  // namespace e2e
