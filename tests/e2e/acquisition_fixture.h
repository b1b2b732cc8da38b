// A whole acquisition on the simulated rig, driven as an operator drives
// it: the rig, the server with its settings, skerrowctl, and the checks made
// from what the run left behind.
#pragma once

#include <signal.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "e2e/acquisition_record.h"
#include "e2e/ctl_run.h"
#include "e2e/process.h"
#include "e2e/rig_folder.h"
#include "e2e/rig_process.h"
#include "e2e/server_log.h"
#include "support/temp_dir.h"
#include "support/time_text.h"

namespace e2e {

using testing_support::TempDir;
using testing_support::timeTextMs;

// The camera's own clock runs 1 h 2 min 3 s behind, so a saved image that
// still carried the camera's capture time, or another shot's, shows at once.
inline const std::vector<std::string> kRigOptions{"--lag-ms", "30", "--clock-offset-ms",
                                                  "-3723000"};

inline long long nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Consecutive equal values folded into one.
inline std::vector<std::string> folded(const std::vector<std::string>& values) {
  std::vector<std::string> result;
  for (const std::string& value : values)
    if (result.empty() || result.back() != value) result.push_back(value);
  return result;
}

class e2eAcquisition : public testing::Test {
 protected:
  // Starts the rig, then the server with the camera settings and the extra
  // environment for the stand-in module, and waits until the run is under
  // way.
  void start(const std::string& cameraSection, const std::vector<std::string>& rigOptions,
             const std::vector<std::string>& moduleEnvironment = {}) {
    rig_ = std::make_unique<RigProcess>(dir_, rigOptions);
    ASSERT_TRUE(rig_->ok()) << rig_->error();
    port_ = freePort();
    ASSERT_GT(port_, 0);
    dir_.write("Skerrow.ini", rig_->iniSections() + "[server]\nport=" + std::to_string(port_) +
                                  "\n[camera]\n" + cameraSection);
    server_ = std::make_unique<ServerProcess>(dir_.path(), std::vector<std::string>{"Skerrow.ini"},
                                              rig_->environment(moduleEnvironment));
    ASSERT_TRUE(server_->started()) << server_->startError();
    ASSERT_TRUE(server_->out().waitUntil(holdsRunningServer)) << server_->out().text();
  }

  // Runs skerrowctl and expects the reply line.
  void expectCtl(const std::vector<std::string>& args, const std::string& reply) {
    std::vector<std::string> full{"--port", std::to_string(port_)};
    full.insert(full.end(), args.begin(), args.end());
    const CtlRun run = runCtl(dir_, full);
    EXPECT_EQ(0, run.status.code) << run.err;
    EXPECT_EQ(reply + "\n", run.out);
  }

  std::vector<LogLine> log() const { return parseLog(withoutProgressMarks(server_->out().text())); }

  std::size_t rigTriggers() const { return rig_->rows("trigger").size(); }

  bool waitForRigTriggers(std::size_t count) {
    return waitUntil([&] { return rigTriggers() >= count; });
  }

  // Waits until every trigger the rig saw has its image saved.
  bool waitUntilAllSaved() {
    return waitUntil([&] { return savedNames(log()).size() >= rigTriggers(); });
  }

  // Stops the server with SIGINT: it ends with status 0 after the orderly
  // shutdown lines. Then stops the rig.
  void stopBoth() {
    ASSERT_TRUE(server_->sendSignal(SIGINT));
    ExitStatus status;
    ASSERT_TRUE(server_->waitForExit(&status)) << server_->out().text();
    EXPECT_TRUE(status.exited) << "ended by signal " << status.signal;
    EXPECT_EQ(0, status.code);
    ASSERT_TRUE(server_->out().waitForEnd());
    EXPECT_TRUE(framedByShutdown(describe(log()), {}, promptLines()));
    EXPECT_TRUE(rig_->stop());
  }

  // Every trigger the rig saw produced exactly one saved image, under the
  // name prepared for that trigger and in trigger order; its Exif capture
  // time is the time in its name, and its other Exif times are those the
  // camera wrote for that very trigger. The image logs count every image
  // once, and no file was overwritten or renamed.
  void expectOneImagePerTrigger(const std::vector<std::string>& imageLogs) {
    const std::vector<LogLine> lines = log();
    std::vector<std::string> queued;
    for (const TriggerPass& pass : triggerPasses(lines))
      if (pass.queued) queued.push_back(pass.name);
    const std::vector<RigRow> triggers = rig_->rows("trigger");
    const std::vector<std::string> saved = savedNames(lines);

    ASSERT_EQ(queued.size(), triggers.size()) << "names queued and trigger bytes the rig saw";
    ASSERT_EQ(saved.size(), triggers.size()) << "images saved and triggers";
    ASSERT_FALSE(saved.empty());
    std::vector<std::string> paths;
    for (std::size_t i = 0; i < saved.size(); ++i) {
      EXPECT_EQ(queued[i] + ".jpg", saved[i]) << "image " << i + 1;
      paths.push_back(dir_.file(saved[i]));
    }

    std::map<std::string, ExifTimes> exif;
    std::string error;
    ASSERT_TRUE(readExifTimes(paths, dir_.path().string(), &exif, &error)) << error;
    for (std::size_t i = 0; i < saved.size(); ++i) {
      const std::string nameTime = triggerTimeOfName(saved[i]);
      ASSERT_FALSE(nameTime.empty()) << saved[i];
      ASSERT_EQ(1u, exif.count(paths[i])) << paths[i] << " not read by exiftool";
      EXPECT_EQ(nameTime, exif[paths[i]].original) << saved[i];
      EXPECT_EQ(triggers[i].cameraTime, exif[paths[i]].digitized)
          << saved[i] << " is not the shot of rig frame " << triggers[i].frame;
      // The server reads its clock before the byte goes out; the rig reads
      // the same clock once the byte has arrived.
      EXPECT_LE(timeTextMs(nameTime), timeTextMs(triggers[i].utc))
          << saved[i] << " against the rig's trigger at " << triggers[i].utc;
    }

    std::vector<ImageLogEntry> entries;
    for (const std::string& path : imageLogs) {
      const std::vector<ImageLogEntry> more = readImageLog(dir_.file(path));
      entries.insert(entries.end(), more.begin(), more.end());
    }
    std::sort(entries.begin(), entries.end(),
              [](const ImageLogEntry& a, const ImageLogEntry& b) { return a.images < b.images; });
    ASSERT_EQ(saved.size(), entries.size());
    int lastTriggers = 0;
    for (std::size_t i = 0; i < entries.size(); ++i) {
      EXPECT_EQ(static_cast<int>(i + 1), entries[i].images);
      EXPECT_EQ(saved[i], entries[i].name);
      EXPECT_GE(entries[i].triggers, entries[i].images) << entries[i].name;
      EXPECT_GE(entries[i].triggers, lastTriggers) << entries[i].name;
      lastTriggers = entries[i].triggers;
    }

    EXPECT_EQ(std::set<std::string>(saved.begin(), saved.end()).size(), saved.size());
    EXPECT_EQ(std::string::npos, server_->err().text().find("Trying to write to existing file"))
        << server_->err().text();
  }

  // The names of the files in folder, but its image log and pairing record.
  std::set<std::string> imagesIn(const std::string& folder) const {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_.path() / folder)) {
      const std::string name = entry.path().filename().string();
      if (name.find("FileLog.log") == std::string::npos &&
          name.find("Pairing.csv") == std::string::npos)
        names.insert(folder + "/" + name);
    }
    return names;
  }

  TempDir dir_;
  std::unique_ptr<RigProcess> rig_;
  int port_ = -1;
  std::unique_ptr<ServerProcess> server_;
};

}  // namespace e2e
