// The camera handler against the stand-in module, checked through the
// module's call trace and the files saved.
#include "camera/camera_handler.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "camera/data_proc.h"
#include "camera/module_callbacks.h"
#include "camera/object_tree.h"
#include "core/image_names.h"
#include "handler_fixture.h"
#include "jpeg/exif_timestamp.h"
#include "jpeg/jpeg_builder.h"
#include "stand_in_client.h"

namespace {

namespace fs = std::filesystem;
using Lines = std::vector<std::string>;

class CameraHandlerTest : public HandlerFixture {
 protected:
  const char* moduleFile() const override { return STAND_IN_MODULE; }

  void connect() {
    handler_ = std::make_unique<CameraHandler>();
    ASSERT_TRUE(handler_->moduleLoaded);
    ASSERT_TRUE(handler_->connectCamera());
  }

  // One pass of the camera thread's polling: the item search, then the
  // download under base (in the test folder) with the given Exif time.
  bool downloadNext(const std::string& base, const char* date = "2014:02:03 09:05:07",
                    const char* subSec = "042") {
    if (!handler_->itemSelect() || !handler_->itemCollected) return false;
    std::snprintf(imageBaseName, sizeof imageBaseName, "%s", (dir_.path() / base).string().c_str());
    std::memcpy(jpeg::exifDateString, date, 19);
    std::memcpy(jpeg::exifSubSecString, subSec, 3);
    return handler_->itemDownloadDefault();
  }

  std::string saved(const std::string& name) const {
    return testing_support::readFile((dir_.path() / name).string());
  }

  std::string jpegShot(std::size_t scanBytes, jpegtest::CameraLayout* layout = nullptr) {
    const jpegtest::Bytes jpeg = jpegtest::cameraJpeg(scanBytes, true, 4, layout);
    return std::string(jpeg.begin(), jpeg.end());
  }
};

// The module traffic of each operation, as the stand-in's trace shows it
// (object, command, parameter, data type), processing calls left out.
const Lines CONNECT_MODULE = {
    "call - 1 0x0 17",        "call module 3 0x0 6",  "call module 4 0x5 18",
    "call module 6 0x2 13",   "call module 6 0x3 13", "call module 6 0x5 13",
    "call module 6 0x8101 3",
};
const Lines CONNECT_CAMERA = {
    "call module 7 0x7 16",   "call module 9 0x7 16",   "call module 1 0x1 17",
    "call source:1 3 0x0 6",  "call source:1 4 0x3 18", "call source:1 6 0x2 13",
    "call source:1 6 0x3 13",
};
const Lines ITEM_SELECT = {"call source:1 7 0x7 16", "call source:1 9 0x7 16"};
const Lines ITEM_DOWNLOAD_KEEP = {
    "call source:1 1 0x1 17", "call item:1 3 0x0 6",    "call item:1 4 0x4 18",
    "call item:1 6 0x2 13",   "call item:1 6 0x3 13",   "call item:1 7 0xC 6",
    "call item:1 1 0x1 17",   "call data:1/1 3 0x0 6",  "call data:1/1 4 0x4 18",
    "call data:1/1 6 0x2 13", "call data:1/1 6 0x3 13", "call data:1/1 6 0x4 13",
    "call data:1/1 5 0x14 0", "call data:1/1 6 0x4 0",  "call data:1/1 6 0x2 0",
    "call data:1/1 6 0x3 0",  "call data:1/1 2 0x0 0",
};
const Lines ITEM_REMOVE = {"call item:1 6 0x2 0", "call item:1 6 0x3 0", "call item:1 2 0x0 0"};
const Lines CLOSE_MODULE = {
    "call source:1 6 0x2 0", "call source:1 6 0x3 0", "call source:1 2 0x0 0",
    "call module 6 0x2 0",   "call module 6 0x3 0",   "call module 6 0x5 0",
    "call module 2 0x0 0",
};

Lines concat(std::initializer_list<Lines> parts) {
  Lines all;
  for (const Lines& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

// Every waited command (all but 1 and 2) is followed by processing calls on
// the same object until it completes; in asynchronous mode at least one.
void expectPollingAfterWaitedCommands(const Lines& withPolls, bool async) {
  int polls = 0;
  for (std::size_t i = 0; i < withPolls.size(); ++i) {
    std::string object, command;
    std::istringstream(withPolls[i].substr(5)) >> object >> command;
    if (command == "0") {
      ++polls;
      continue;
    }
    if (!async || command == "1" || command == "2") continue;
    ASSERT_LT(i + 1, withPolls.size());
    EXPECT_EQ("call " + object + " 0 0x0 0", withPolls[i + 1]) << "after " << withPolls[i];
  }
  if (!async) {
    EXPECT_EQ(0, polls) << "a completion inside the call needs no polling";
  }
}

TEST_F(CameraHandlerTest, ModuleTrafficOfEachOperation) {
  struct Case {
    const char* name;
    bool async;
    bool removeFlag;
  };
  const Case cases[] = {
      {"inside the call, removal asked", false, true},
      {"inside the call, no removal", false, false},
      {"on processing, removal asked", true, true},
      {"on processing, no removal", true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::error_code ignored;
    fs::remove(trace_, ignored);
    markTrace();
    setModuleEnv("SKERROW_CAM_ASYNC", c.async ? "1" : "");
    setModuleEnv("SKERROW_CAM_NO_REMOVE_FLAG", c.removeFlag ? "" : "1");
    writeShot("DSC_0001.JPG", jpegShot(1000));

    handler_ = std::make_unique<CameraHandler>();
    EXPECT_EQ(CONNECT_MODULE, traceCalls()) << joined(traceCalls());
    markTrace();
    ASSERT_TRUE(handler_->connectCamera());
    EXPECT_EQ(CONNECT_CAMERA, traceCalls()) << joined(traceCalls());
    markTrace();
    ASSERT_TRUE(handler_->itemSelect());
    EXPECT_EQ(1u, handler_->itemId);
    EXPECT_EQ(ITEM_SELECT, traceCalls());
    markTrace();
    std::snprintf(imageBaseName, sizeof imageBaseName, "%s",
                  (dir_.path() / "shot").string().c_str());
    ASSERT_TRUE(handler_->itemDownloadDefault());
    EXPECT_TRUE(savedFileRecord.saved);
    EXPECT_EQ(c.removeFlag, removeItemFlag);
    EXPECT_EQ(c.removeFlag ? concat({ITEM_DOWNLOAD_KEEP, ITEM_REMOVE}) : ITEM_DOWNLOAD_KEEP,
              traceCalls())
        << joined(traceCalls());
    // Kept: the item stays open; with removal the shot has left the card.
    EXPECT_EQ(c.removeFlag ? 0u : 1u, handler_->sourceRecord->children.size());
    EXPECT_EQ(c.removeFlag ? Lines{} : Lines{"DSC_0001.JPG"}, cardFiles());
    markTrace();
    ASSERT_TRUE(handler_->closeModule());
    const Lines closeItem = {"call item:1 6 0x2 0", "call item:1 6 0x3 0", "call item:1 2 0x0 0"};
    EXPECT_EQ(c.removeFlag ? CLOSE_MODULE : concat({closeItem, CLOSE_MODULE}), traceCalls())
        << joined(traceCalls());
    EXPECT_FALSE(handler_->isCameraConnected());

    markTrace();
    expectPollingAfterWaitedCommands(traceCalls(true), c.async);
    std::error_code removed;
    for (const std::string& name : cardFiles()) fs::remove(card_ / name, removed);
    fs::remove(dir_.path() / "shot.jpg", removed);
    handler_.reset();
  }
}

TEST_F(CameraHandlerTest, DownloadsThreeShotsInShotOrderStampedAndSaved) {
  for (const char* async : {"", "1"}) {
    SCOPED_TRACE(std::string("async ") + async);
    setModuleEnv("SKERROW_CAM_ASYNC", async);
    setModuleEnv("SKERROW_CAM_CHUNK", "20000");  // several chunks per shot
    jpegtest::CameraLayout layout;
    // Sizes tell the shots apart; written newest first, dated oldest first.
    const std::string shots[] = {jpegShot(30000, &layout), jpegShot(50000), jpegShot(70000)};
    writeShot("DSC_0003.JPG", shots[2], 10);
    writeShot("DSC_0001.JPG", shots[0], 30);
    writeShot("DSC_0002.JPG", shots[1], 20);
    connect();
    if (HasFatalFailure()) return;

    const char* const names[] = {"AUV_VARNO_1", "AUV_VARNO_2", "AUV_VARNO_3"};
    const char* const times[] = {"2014:02:03 09:05:07", "2014:02:03 09:05:08",
                                 "2014:02:03 09:05:09"};
    for (int i = 0; i < 3; ++i) {
      SCOPED_TRACE(names[i]);
      ASSERT_TRUE(downloadNext(names[i], times[i], "042"));
      ASSERT_TRUE(savedFileRecord.saved);
      EXPECT_EQ((dir_.path() / names[i]).string() + ".jpg", std::string(savedFileName));
      const std::string file = saved(std::string(names[i]) + ".jpg");
      ASSERT_EQ(shots[i].size(), file.size());
      EXPECT_EQ(times[i], file.substr(jpegtest::CAMERA_TIFF_BASE + layout.dateTimeOriginal, 19));
      EXPECT_EQ("042", file.substr(jpegtest::CAMERA_TIFF_BASE + layout.subSecTimeOriginal, 3));
    }
    EXPECT_TRUE(cardFiles().empty());
    EXPECT_TRUE(handler_->itemSelect());
    EXPECT_FALSE(handler_->itemCollected);
    EXPECT_TRUE(handler_->sourceRecord->children.empty());
    for (const char* name : names) fs::remove(dir_.path() / (std::string(name) + ".jpg"));
    handler_.reset();
  }
}

TEST_F(CameraHandlerTest, EventsOpenTheCameraAndNewItemsDuringWaits) {
  setModuleEnv("SKERROW_CAM_ASYNC", "1");
  fs::remove(card_);  // no camera yet
  handler_ = std::make_unique<CameraHandler>();
  ASSERT_TRUE(handler_->moduleLoaded);
  EXPECT_FALSE(handler_->connectCamera());

  // The camera appears with two shots: the module announces it during the
  // next wait, its event opens the camera, which is asked for its items,
  // whose own events open their data objects.
  fs::create_directories(card_);
  writeShot("A.JPG", jpegShot(1000), 20);
  writeShot("B.JPG", jpegShot(1000), 10);
  markTrace();
  ASSERT_TRUE(handler_->connectCamera());
  EXPECT_TRUE(handler_->isCameraConnected());
  ObjectRecord* source = handler_->sourceRecord;
  ASSERT_EQ(1u, handler_->moduleRecord->children.size());
  EXPECT_EQ(source, handler_->moduleRecord->children[0].get());
  // Taken as the event opened it: no second open of the camera.
  const Lines calls = traceCalls();
  EXPECT_EQ(1, std::count(calls.begin(), calls.end(), "call module 1 0x1 17")) << joined(calls);
  auto idsOf = [](const ObjectRecord* record) {
    std::vector<std::uint32_t> ids;
    for (const auto& child : record->children) ids.push_back(child->id);
    return ids;
  };
  EXPECT_EQ((std::vector<std::uint32_t>{1, 2}), idsOf(source));
  for (const auto& item : source->children)
    EXPECT_EQ((std::vector<std::uint32_t>{1, 8}), idsOf(item.get()));

  // A shot taken now is opened by the camera's event during the item search.
  writeShot("C.JPG", jpegShot(1000));
  ASSERT_TRUE(handler_->itemSelect());
  EXPECT_EQ(1u, handler_->itemId);  // still the oldest
  ASSERT_EQ((std::vector<std::uint32_t>{1, 2, 3}), idsOf(source));
  EXPECT_EQ((std::vector<std::uint32_t>{1, 8}), idsOf(source->children[2].get()));

  // A remove-child for an ID without a record changes nothing.
  markTrace();
  SrcEventProc(source, MODULE_EVENT_REMOVE_CHILD, 999);
  EXPECT_EQ((std::vector<std::uint32_t>{1, 2, 3}), idsOf(source));
  EXPECT_TRUE(traceCalls(true).empty());

  // Closing an item with two data objects closes both, then the item; the
  // other items keep their order.
  ASSERT_TRUE(closeChild(source, 2));
  EXPECT_EQ((Lines{"call data:2/1 6 0x2 0", "call data:2/1 6 0x3 0", "call data:2/1 2 0x0 0",
                   "call data:2/8 6 0x2 0", "call data:2/8 6 0x3 0", "call data:2/8 2 0x0 0",
                   "call item:2 6 0x2 0", "call item:2 6 0x3 0", "call item:2 2 0x0 0"}),
            traceCalls());
  EXPECT_EQ((std::vector<std::uint32_t>{1, 3}), idsOf(source));

  // An item opened by its event downloads without opening anything, and
  // its removal closes the thumbnail object too.
  markTrace();
  ASSERT_TRUE(downloadNext("first"));
  EXPECT_TRUE(savedFileRecord.saved);
  const Lines download = traceCalls();
  for (const std::string& call : download)
    EXPECT_EQ(std::string::npos, call.find(" 1 0x")) << "opened again: " << call;
  EXPECT_NE(download.end(), std::find(download.begin(), download.end(), "call data:1/8 2 0x0 0"));
  EXPECT_EQ((std::vector<std::uint32_t>{3}), idsOf(source));
}

TEST_F(CameraHandlerTest, ConnectTwiceAndConnectAfterClose) {
  connect();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(handler_->connectModule());
  EXPECT_FALSE(handler_->connectCamera());
  EXPECT_EQ(
      "CameraHandler::connectModule(): ERROR Module already loaded.\n"
      "CameraHandler::connectCamera(): ERROR Camera already connected.\n",
      testing::internal::GetCapturedStderr());
  EXPECT_TRUE(handler_->isCameraConnected());

  ASSERT_TRUE(handler_->closeModule());
  EXPECT_FALSE(handler_->moduleLoaded);
  EXPECT_FALSE(handler_->cameraOpen);
  EXPECT_EQ(nullptr, handler_->moduleRecord);
  EXPECT_EQ(nullptr, handler_->sourceRecord);
  // Loads the module again.
  markTrace();
  EXPECT_TRUE(handler_->connectCamera());
  EXPECT_TRUE(handler_->isCameraConnected());
  EXPECT_EQ(concat({CONNECT_MODULE, CONNECT_CAMERA}), traceCalls());
}

TEST_F(CameraHandlerTest, ItemWithOnlyAThumbnailIsLeftAlone) {
  setModuleEnv("SKERROW_CAM_DATA_TYPES", "8");
  writeShot("A.JPG", jpegShot(1000));
  connect();
  savedFileRecord.saved = true;  // from an earlier image
  markTrace();
  ASSERT_TRUE(downloadNext("thumb"));
  EXPECT_EQ(DownloadOutcome::NO_IMAGE_DATA, handler_->lastDownload);
  EXPECT_FALSE(savedFileRecord.saved);
  for (const std::string& call : traceCalls()) EXPECT_EQ(std::string::npos, call.find(" 5 0x14"));
  ASSERT_EQ(1u, handler_->sourceRecord->children.size());
  EXPECT_TRUE(handler_->sourceRecord->children[0]->children.empty());
  EXPECT_EQ(Lines{"A.JPG"}, cardFiles());
}

// A module that never asks for removal: each item once per connection, not
// once in every pass.
TEST_F(CameraHandlerTest, ItemNotMarkedForRemovalIsDownloadedOncePerConnection) {
  setModuleEnv("SKERROW_CAM_NO_REMOVE_FLAG", "1");
  writeShot("A.JPG", jpegShot(1000), 10);
  writeShot("B.JPG", jpegShot(2000));
  connect();
  ASSERT_TRUE(downloadNext("a"));
  ASSERT_TRUE(downloadNext("b"));
  EXPECT_EQ(DownloadOutcome::SAVED, handler_->lastDownload);
  ASSERT_TRUE(handler_->itemSelect());
  EXPECT_FALSE(handler_->itemCollected) << "fetched again: " << handler_->itemId;
  EXPECT_EQ(2u, handler_->sourceRecord->children.size());
}

// Items passed over are left alone for the connection: the next listed is
// taken, and with all passed over there is nothing to fetch.
TEST_F(CameraHandlerTest, PassedOverItemsAreNotSelected) {
  writeShot("A.JPG", jpegShot(1000), 20);
  writeShot("B.JPG", jpegShot(1000), 10);
  connect();
  ASSERT_TRUE(handler_->itemSelect());
  ASSERT_EQ(1u, handler_->itemId);
  handler_->passItem(1);
  ASSERT_TRUE(handler_->itemSelect());
  EXPECT_EQ(2u, handler_->itemId);
  handler_->passItem(2);
  ASSERT_TRUE(handler_->itemSelect());
  EXPECT_FALSE(handler_->itemCollected);
  EXPECT_EQ(2u, cardFiles().size());
}

// The camera goes away with no command (its card folder is removed) and
// comes back: announced by the module (asynchronous mode), or only seen as
// records that fail (synchronous mode), after which the worker drops it.
TEST_F(CameraHandlerTest, CameraGoneAndBackWithoutACommand) {
  for (bool async : {true, false}) {
    SCOPED_TRACE(async ? "announced" : "failing records");
    setModuleEnv("SKERROW_CAM_ASYNC", async ? "1" : "");
    writeShot("A.JPG", jpegShot(1000));
    connect();
    const std::uint32_t firstConnection = handler_->connectionCount;
    fs::rename(card_, dir_.path() / "away");
    markTrace();
    EXPECT_FALSE(handler_->itemSelect());
    if (async) {
      EXPECT_FALSE(handler_->isCameraConnected());
    } else {
      EXPECT_TRUE(handler_->isCameraConnected());
      handler_->dropCamera();
      EXPECT_FALSE(handler_->isCameraConnected());
    }
    EXPECT_FALSE(handler_->reopenCamera());
    EXPECT_FALSE(handler_->isCameraConnected());

    fs::rename(dir_.path() / "away", card_);
    ASSERT_TRUE(handler_->reopenCamera());
    EXPECT_TRUE(handler_->isCameraConnected());
    EXPECT_GT(handler_->connectionCount, firstConnection);
    ASSERT_TRUE(downloadNext("back"));
    EXPECT_EQ(DownloadOutcome::SAVED, handler_->lastDownload);
    EXPECT_TRUE(cardFiles().empty());
    fs::remove(dir_.path() / "back.jpg");
    handler_.reset();
  }
}

TEST_F(CameraHandlerTest, CameraUnpluggedMidDownload) {
  // The camera's removal is announced while the acquisition is being wound
  // up, and closes the records the download is working on.
  setModuleEnv("SKERROW_CAM_ASYNC", "1");
  setModuleEnv("SKERROW_CAM_UNPLUG_AFTER", "20000");
  setModuleEnv("SKERROW_CAM_CHUNK", "10000");
  writeShot("A.JPG", jpegShot(60000));
  connect();
  testing::internal::CaptureStderr();
  EXPECT_TRUE(downloadNext("lost"));
  testing::internal::GetCapturedStderr();
  EXPECT_FALSE(savedFileRecord.saved);
  EXPECT_TRUE(handler_->moduleRecord->children.empty());
  EXPECT_FALSE(handler_->itemSelect());
  EXPECT_FALSE(handler_->itemCollected);
  EXPECT_EQ(Lines{"A.JPG"}, cardFiles());

  // Disconnect and connect again: the camera is back and the shot comes.
  ASSERT_TRUE(handler_->closeModule());
  setModuleEnv("SKERROW_CAM_UNPLUG_AFTER", "");  // read again by the new module object
  ASSERT_TRUE(handler_->connectCamera());
  ASSERT_TRUE(downloadNext("found"));
  EXPECT_TRUE(savedFileRecord.saved);
  EXPECT_TRUE(cardFiles().empty());
}

TEST_F(CameraHandlerTest, UiRequestDuringAcquisitionIsAnsweredFromInput) {
  struct Case {
    const char* input;
    bool saved;
    const char* line;  // expected in standard output
  };
  const Case cases[] = {
      {"x cancel\n", false, "\nPress 'O' or 'C' key. ('O': OK   'C': Cancel)\n>"},
      {"", false, "\nUIRequestProc(): No console input; answered Cancel.\n"},
      {"ok\n", true, "\nThe camera asks for an answer.\n\nInjected by SKERROW_CAM_UI_REQUEST.\n"},
  };
  setModuleEnv("SKERROW_CAM_UI_REQUEST", "1");
  writeShot("A.JPG", jpegShot(1000));
  connect();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    std::FILE* input = std::fopen(dir_.write("answers.txt", c.input).c_str(), "rb");
    ASSERT_NE(nullptr, input);
    uiRequestInput = input;
    testing::internal::CaptureStdout();
    ASSERT_TRUE(downloadNext("asked"));
    const std::string out = testing::internal::GetCapturedStdout();
    uiRequestInput = nullptr;
    std::fclose(input);
    EXPECT_EQ(c.saved, savedFileRecord.saved);
    EXPECT_NE(std::string::npos, out.find(c.line)) << out;
  }
  EXPECT_TRUE(cardFiles().empty());
}

TEST_F(CameraHandlerTest, DownloadWithoutASelectedItem) {
  connect();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(handler_->itemDownloadDefault());
  EXPECT_EQ(
      "CameraHandler::itemDownloadDefault ERROR: Function called without Item ID Collected, use "
      "itemSelect first ()\n",
      testing::internal::GetCapturedStderr());
  // An empty card: success, nothing collected.
  EXPECT_TRUE(handler_->itemSelect());
  EXPECT_FALSE(handler_->itemCollected);
}

TEST_F(CameraHandlerTest, ModuleRefusedOrRestartingItsLists) {
  setModuleEnv("SKERROW_CAM_REFUSE_OPEN", "module");
  testing::internal::CaptureStderr();
  handler_ = std::make_unique<CameraHandler>();
  EXPECT_EQ(
      "CameraHandler::connectModule() ERROR: Module object can't be opened.\n"
      "CameraHandler::CameraHandler() ERROR: Cannot connect to module.\n",
      testing::internal::GetCapturedStderr());
  EXPECT_FALSE(handler_->moduleLoaded);
  EXPECT_EQ(nullptr, handler_->moduleRecord);

  // Restarts of the list are followed as often as the module asks.
  setModuleEnv("SKERROW_CAM_REFUSE_OPEN", "");
  setModuleEnv("SKERROW_CAM_RESTART_ENUM", "3");
  markTrace();
  ASSERT_TRUE(handler_->connectCamera());
  const Lines calls = traceCalls();
  EXPECT_EQ(4, std::count(calls.begin(), calls.end(), "call module 3 0x0 6")) << joined(calls);
  EXPECT_EQ(5u, handler_->moduleRecord->capabilities.size());
}

}  // namespace
