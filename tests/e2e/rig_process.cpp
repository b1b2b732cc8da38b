#include "e2e/rig_process.h"

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>

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
      "--card", dir.file("card"), "--log", dir.file("rig-log.csv"), "--trigger-link",
      dir.file("trigger-line"), "--ports-file", dir.file("rig-ports"), "--control",
      dir.file("rig-control"),
      // Read late by a starved rig, a trigger byte would date its shot late
      // and the pairing check would rightly take it for another trigger's.
      "--realtime"};
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
  return moduleEnvironment(dir_.file("card"), more);
}

std::vector<RigRow> RigProcess::allRows() const {
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
    if (fields.size() != 6) continue;
    result.push_back({fields[0], fields[1], fields[2], fields[3], fields[4], fields[5]});
  }
  return result;
}

std::vector<RigRow> RigProcess::rows(const std::string& event) const {
  std::vector<RigRow> result;
  for (RigRow& row : allRows())
    if (row.event == event) result.push_back(std::move(row));
  return result;
}

std::vector<RigRow> RigProcess::lineRows(const std::string& line) const {
  std::vector<RigRow> result;
  for (RigRow& row : allRows())
    if ((row.event == "unplug" || row.event == "replug") && row.cardName == line)
      result.push_back(std::move(row));
  return result;
}

bool RigProcess::control(const std::string& line) {
  // Non-blocking: with no rig reading, the open fails instead of waiting.
  const int fifo = ::open(dir_.file("rig-control").c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
  if (fifo < 0) return false;
  const std::string text = line + "\n";
  const bool written = ::write(fifo, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fifo);
  return written;
}

bool RigProcess::unplugCamera() {
  std::error_code failure;
  std::filesystem::rename(dir_.file("card"), dir_.file("card-unplugged"), failure);
  return !failure;
}

bool RigProcess::plugCamera() {
  std::error_code failure;
  std::filesystem::rename(dir_.file("card-unplugged"), dir_.file("card"), failure);
  return !failure;
}

bool RigProcess::stall() { return process_ != nullptr && process_->sendSignal(SIGUSR1); }

bool RigProcess::resume() { return process_ != nullptr && process_->sendSignal(SIGUSR2); }

bool RigProcess::stop() {
  if (process_ == nullptr || !process_->sendSignal(SIGINT)) return false;
  ExitStatus status;
  return process_->waitForExit(&status) && status.exited && status.code == 0;
}

}  // namespace e2e
