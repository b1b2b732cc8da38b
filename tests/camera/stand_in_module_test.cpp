#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "camera/data_proc.h"
#include "core/image_names.h"
#include "jpeg/exif_timestamp.h"
#include "jpeg/jpeg_builder.h"
#include "stand_in_client.h"

namespace {

std::string pattern(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>(i * 31 + 7);
  return bytes;
}

TEST(ModuleLoaderTest, ReportsTheLoadersOwnErrors) {
  platform::LoadableModule library;
  EXPECT_FALSE(library.open("no-such-folder/Type0001.md3"));
  EXPECT_STRNE("", library.errorText());
  EXPECT_FALSE(library.isOpen());
  EXPECT_EQ(nullptr, library.symbol(MODULE_ENTRY_SYMBOL));

  ASSERT_TRUE(library.open(STAND_IN_MODULE)) << library.errorText();
  EXPECT_NE(nullptr, library.symbol(MODULE_ENTRY_SYMBOL));
  EXPECT_EQ(nullptr, library.symbol("NoSuchEntryPoint"));
  EXPECT_STRNE("", library.errorText());

  platform::LoadableModule moved(std::move(library));
  EXPECT_FALSE(library.isOpen());
  EXPECT_TRUE(moved.isOpen());
  moved.close();
  EXPECT_FALSE(moved.isOpen());
}

TEST_F(StandInModuleTest, WithoutACardFolderTheModuleListsNoCamera) {
  for (const std::string& card : {std::string(), card_ + "/missing"}) {
    SCOPED_TRACE(card);
    setModuleEnv("SKERROW_CAM_CARD", card);
    ASSERT_EQ(0, openModule());
    EXPECT_TRUE(children(&module_).empty());
    EXPECT_NE(0, call(&module_, MODULE_CMD_OPEN, 1, MODULE_DATATYPE_OBJECT, &source_));
  }
}

TEST_F(StandInModuleTest, ModuleListsItsCapabilitiesWithOperationFlags) {
  ASSERT_EQ(0, openModule());
  std::uint32_t count = 0;
  EXPECT_EQ(0, waited(&module_, MODULE_CMD_CAP_COUNT, 0, MODULE_DATATYPE_UNSIGNED_PTR, &count));
  std::vector<CapabilityInfo> list(count);
  EXPECT_EQ(0, waited(&module_, MODULE_CMD_CAP_LIST, count, MODULE_DATATYPE_CAP_INFO, list.data()));
  bool children = false, mode = false;
  for (const CapabilityInfo& info : list) {
    if (info.id == MODULE_CAP_CHILDREN)
      children = info.type == MODULE_CAPTYPE_ENUM && (info.operations & MODULE_OP_GET) != 0;
    if (info.id == kCapabilityModuleMode) mode = (info.operations & MODULE_OP_SET) != 0;
  }
  EXPECT_TRUE(children);
  EXPECT_TRUE(mode);
  EXPECT_EQ(0, waited(&module_, MODULE_CMD_CAP_SET, kCapabilityModuleMode, MODULE_DATATYPE_UNSIGNED,
                      reinterpret_cast<void*>(std::uintptr_t{1})));
  std::uint32_t value = 0;
  EXPECT_EQ(0, waited(&module_, MODULE_CMD_CAP_GET, kCapabilityModuleMode,
                      MODULE_DATATYPE_UNSIGNED_PTR, &value));
  EXPECT_EQ(1u, value);
  // A capability the object does not list is refused, and still completed.
  std::int32_t completed = 0;
  EXPECT_NE(0, waited(&module_, MODULE_CMD_CAP_GET, MODULE_CAP_DATA_TYPES,
                      MODULE_DATATYPE_UNSIGNED_PTR, &value, &completed));
  EXPECT_NE(0, completed);
}

TEST_F(StandInModuleTest, ShotIsDeliveredInChunksAndLeavesTheCardWhenItsItemCloses) {
  const std::string shot = pattern(150000);
  for (const char* async : {"0", "1"}) {
    SCOPED_TRACE(std::string("async ") + async);
    recorder_ = Recorder();
    writeShot("DSC_0001.JPG", shot);
    setModuleEnv("SKERROW_CAM_ASYNC", async);
    ASSERT_EQ(0, openModule());
    openDownToData();
    std::uint32_t mask = 0;
    EXPECT_EQ(0, waited(&item_, MODULE_CMD_CAP_GET, MODULE_CAP_DATA_TYPES,
                        MODULE_DATATYPE_UNSIGNED_PTR, &mask));
    EXPECT_EQ(9u, mask);

    EXPECT_EQ(0, acquire());
    EXPECT_EQ(async[0] == '0' ? 1 : 0, completionsInsideCall());
    ASSERT_EQ(3u, recorder_.files.size());
    const std::uint32_t lengths[] = {65536, 65536, 150000 - 2 * 65536};
    std::uint32_t offset = 0;
    for (std::size_t i = 0; i < 3; ++i) {
      const FileDataInfo& info = recorder_.files[i];
      EXPECT_EQ(MODULE_DATA_FILE | MODULE_DATA_IMAGE, info.type);
      EXPECT_EQ(MODULE_FILE_JPEG, info.fileDataType);
      EXPECT_EQ(150000u, info.totalLength);
      EXPECT_EQ(offset, info.startOffset);
      EXPECT_EQ(lengths[i], info.length);
      EXPECT_EQ(1u, info.removeObject);
      offset += info.length;
    }
    EXPECT_TRUE(recorder_.bytes == shot);
    EXPECT_EQ(1, recorder_.progressStarts);
    EXPECT_EQ(3, recorder_.progressSteps);

    EXPECT_EQ(0, call(&data_, MODULE_CMD_CLOSE));
    EXPECT_TRUE(onCard("DSC_0001.JPG"));  // until the item closes
    EXPECT_EQ(0, call(&item_, MODULE_CMD_CLOSE));
    EXPECT_FALSE(onCard("DSC_0001.JPG"));
    EXPECT_TRUE(children(&source_).empty());
    closeModule();
  }
}

TEST_F(StandInModuleTest, AsynchronousCompletionArrivesOnlyOnProcessing) {
  setModuleEnv("SKERROW_CAM_ASYNC", "1");
  ASSERT_EQ(0, openModule());
  std::uint32_t count = 0;
  EXPECT_EQ(0, waited(&module_, MODULE_CMD_CAP_COUNT, 0, MODULE_DATATYPE_UNSIGNED_PTR, &count));
  EXPECT_EQ(0, completionsInsideCall());
  // A command that fails is completed later too, with its failure.
  std::int32_t completed = 0;
  EXPECT_NE(0, waited(&module_, MODULE_CMD_CAP_GET, 999, MODULE_DATATYPE_UNSIGNED_PTR, &count,
                      &completed));
  EXPECT_EQ(0, completionsInsideCall());
  EXPECT_NE(0, completed);
}

TEST_F(StandInModuleTest, NewAndVanishedShotsAreAnnouncedOldestFirst) {
  ASSERT_EQ(0, openModule());
  ASSERT_EQ(0, openChild(&module_, 1, &source_, &sourceTag_));
  writeShot("B.JPG", "newer", 10);
  writeShot("A.JPG", "older", 20);
  writeShot("C.JPG.tmp", "being written");
  EXPECT_EQ(0, call(&module_, MODULE_CMD_PROCESS));
  ASSERT_EQ(2u, recorder_.events.size());
  const std::uint32_t older = recorder_.events[0].data, newer = recorder_.events[1].data;
  for (const Recorder::Event& event : recorder_.events) {
    EXPECT_EQ(&sourceTag_, event.reference);
    EXPECT_EQ(MODULE_EVENT_ADD_CHILD, event.code);
  }
  EXPECT_EQ((std::vector<std::uint32_t>{older, newer}), children(&source_));

  // Opening an item and asking for its children announces its data objects.
  recorder_.events.clear();
  ASSERT_EQ(0, openChild(&source_, older, &item_, &itemTag_));
  EXPECT_EQ(0, waited(&item_, MODULE_CMD_ENUM_CHILDREN, 0, 0, nullptr));
  ASSERT_EQ(2u, recorder_.events.size());
  EXPECT_EQ(&itemTag_, recorder_.events[0].reference);
  EXPECT_EQ(MODULE_DATA_IMAGE, recorder_.events[0].data);
  EXPECT_EQ(MODULE_DATA_THUMBNAIL, recorder_.events[1].data);

  recorder_.events.clear();
  std::filesystem::remove(std::filesystem::path(card_) / "B.JPG");
  EXPECT_EQ(0, call(&module_, MODULE_CMD_PROCESS));
  ASSERT_EQ(1u, recorder_.events.size());
  EXPECT_EQ(MODULE_EVENT_REMOVE_CHILD, recorder_.events[0].code);
  EXPECT_EQ(newer, recorder_.events[0].data);
}

TEST_F(StandInModuleTest, RefusedOpens) {
  setModuleEnv("SKERROW_CAM_REFUSE_OPEN", "module");
  EXPECT_EQ(MODULE_RESULT_REFUSED, openModule());
  setModuleEnv("SKERROW_CAM_REFUSE_OPEN", "source,data");
  writeShot("A.JPG", "x");
  ASSERT_EQ(0, openModule());
  EXPECT_EQ(MODULE_RESULT_REFUSED,
            call(&module_, MODULE_CMD_OPEN, 1, MODULE_DATATYPE_OBJECT, &source_));
}

TEST_F(StandInModuleTest, CapabilityListRestartsAsInjected) {
  setModuleEnv("SKERROW_CAM_RESTART_ENUM", "2");
  ASSERT_EQ(0, openModule());
  std::uint32_t count = 0;
  EXPECT_EQ(0, waited(&module_, MODULE_CMD_CAP_COUNT, 0, MODULE_DATATYPE_UNSIGNED_PTR, &count));
  std::vector<CapabilityInfo> list(count);
  std::int32_t completed = 0;
  for (int restart = 0; restart < 2; ++restart) {
    EXPECT_EQ(MODULE_RESULT_RESTART, waited(&module_, MODULE_CMD_CAP_LIST, count,
                                            MODULE_DATATYPE_CAP_INFO, list.data(), &completed));
    EXPECT_EQ(MODULE_RESULT_RESTART, completed);
  }
  EXPECT_EQ(0, waited(&module_, MODULE_CMD_CAP_LIST, count, MODULE_DATATYPE_CAP_INFO, list.data()));
  // A count that does not match the list asks for a restart too.
  EXPECT_EQ(MODULE_RESULT_RESTART, waited(&module_, MODULE_CMD_CAP_LIST, count - 1,
                                          MODULE_DATATYPE_CAP_INFO, list.data()));
}

TEST_F(StandInModuleTest, CameraUnpluggedMidDownloadKeepsTheShot) {
  setModuleEnv("SKERROW_CAM_UNPLUG_AFTER", "65536");
  writeShot("A.NEF", pattern(200000));
  ASSERT_EQ(0, openModule());
  openDownToData();
  EXPECT_EQ(MODULE_RESULT_DEVICE_GONE, acquire());
  EXPECT_EQ(65536u, recorder_.bytes.size());

  recorder_.events.clear();
  EXPECT_EQ(0, call(&module_, MODULE_CMD_PROCESS));
  ASSERT_EQ(1u, recorder_.events.size());
  EXPECT_EQ(&moduleTag_, recorder_.events[0].reference);
  EXPECT_EQ(MODULE_EVENT_REMOVE_CHILD, recorder_.events[0].code);
  EXPECT_EQ(1u, recorder_.events[0].data);
  EXPECT_TRUE(children(&module_).empty());
  std::uint32_t mask = 0;
  EXPECT_EQ(MODULE_RESULT_DEVICE_GONE, waited(&item_, MODULE_CMD_CAP_GET, MODULE_CAP_DATA_TYPES,
                                              MODULE_DATATYPE_UNSIGNED_PTR, &mask));
  // What was open can still be closed, and the shot stays on the card.
  EXPECT_EQ(
      0, waited(&data_, MODULE_CMD_CAP_SET, MODULE_CAP_EVENT_PROC, MODULE_DATATYPE_NULL, nullptr));
  EXPECT_EQ(0, call(&data_, MODULE_CMD_CLOSE));
  EXPECT_EQ(0, call(&item_, MODULE_CMD_CLOSE));
  EXPECT_EQ(0, call(&source_, MODULE_CMD_CLOSE));
  EXPECT_TRUE(onCard("A.NEF"));
  // Opened again, the module finds the camera again.
  ASSERT_EQ(0, openModule());
  EXPECT_EQ(std::vector<std::uint32_t>{1}, children(&module_));
}

TEST_F(StandInModuleTest, EachUnplugFileUnplugsOneDeliveryHalfway) {
  const std::string control = dir_.file("unplug-now");
  setModuleEnv("SKERROW_CAM_UNPLUG_FILE", control.c_str());
  writeShot("A.JPG", pattern(200000));
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    dir_.write("unplug-now", "");
    recorder_ = Recorder();
    ASSERT_EQ(0, openModule());
    openDownToData();
    EXPECT_EQ(MODULE_RESULT_DEVICE_GONE, acquire());
    // Stopped at the first chunk boundary past half the image.
    EXPECT_EQ(131072u, recorder_.bytes.size());
    EXPECT_FALSE(std::filesystem::exists(control));
    EXPECT_EQ(0, call(&module_, MODULE_CMD_PROCESS));
    EXPECT_TRUE(children(&module_).empty());
    EXPECT_EQ(0, call(&data_, MODULE_CMD_CLOSE));
    EXPECT_EQ(0, call(&item_, MODULE_CMD_CLOSE));
    EXPECT_EQ(0, call(&source_, MODULE_CMD_CLOSE));
    EXPECT_TRUE(onCard("A.JPG"));
  }
  // Without the file the next delivery goes through whole.
  recorder_ = Recorder();
  ASSERT_EQ(0, openModule());
  openDownToData();
  EXPECT_EQ(0, acquire());
  EXPECT_EQ(200000u, recorder_.bytes.size());
}

TEST_F(StandInModuleTest, FailedDeliveriesKeepTheShotForALaterPass) {
  struct Case {
    const char* name;
    const char* failAfter;
    int failDataAtCall;
    std::int32_t expected;
  };
  const Case cases[] = {
      {"module fails", "65536", -1, MODULE_RESULT_DELIVERY_FAILED},
      {"data procedure fails", "", 1, MODULE_RESULT_CANNOT_SAVE},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    recorder_ = Recorder();
    recorder_.failDataAtCall = c.failDataAtCall;
    setModuleEnv("SKERROW_CAM_FAIL_AFTER", c.failAfter);
    writeShot("A.JPG", pattern(150000));
    ASSERT_EQ(0, openModule());
    openDownToData();
    EXPECT_EQ(c.expected, acquire());
    EXPECT_EQ(0, call(&data_, MODULE_CMD_CLOSE));
    EXPECT_EQ(0, call(&item_, MODULE_CMD_CLOSE));
    EXPECT_TRUE(onCard("A.JPG"));

    // One failure only: the next pass gets the whole shot.
    recorder_ = Recorder();
    const std::vector<std::uint32_t> items = children(&source_);
    ASSERT_EQ(1u, items.size());
    ASSERT_EQ(0, openChild(&source_, items[0], &item_, &itemTag_));
    ASSERT_EQ(0, openChild(&item_, MODULE_DATA_IMAGE, &data_, &dataTag_));
    EXPECT_EQ(0, acquire());
    EXPECT_EQ(150000u, recorder_.bytes.size());
    EXPECT_EQ(0, call(&item_, MODULE_CMD_CLOSE));  // closes the data object with it
    EXPECT_FALSE(onCard("A.JPG"));
  }
}

TEST_F(StandInModuleTest, UndeliverableShotFailsAfterItsFirstChunkEveryTime) {
  struct Case {
    std::size_t size;
    const char* async;
    std::size_t firstChunk;  // never the whole image
  };
  for (const Case& c : {Case{150000, "0", 65536}, Case{1000, "1", 999}}) {
    SCOPED_TRACE(c.size);
    writeShot("A.JPG", pattern(c.size));
    writeShot(".A.JPG.undeliverable", "");
    setModuleEnv("SKERROW_CAM_ASYNC", c.async);
    ASSERT_EQ(0, openModule());
    openDownToData();
    for (int attempt = 0; attempt < 2; ++attempt) {
      recorder_ = Recorder();
      EXPECT_EQ(MODULE_RESULT_DELIVERY_FAILED, acquire());
      EXPECT_EQ(c.firstChunk, recorder_.bytes.size());
    }
    // The thumbnail comes whole, and the shot stays on the card.
    ModuleObject thumbnail = {};
    ASSERT_EQ(0, openChild(&item_, MODULE_DATA_THUMBNAIL, &thumbnail, &dataTag_));
    recorder_ = Recorder();
    std::int32_t completed = -1;
    EXPECT_EQ(0,
              waited(&thumbnail, MODULE_CMD_CAP_START, MODULE_CAP_ACQUIRE, 0, nullptr, &completed));
    EXPECT_EQ(0, completed);
    EXPECT_EQ(std::size_t{15 + 160 * 120 * 3}, recorder_.bytes.size());
    EXPECT_EQ(0, call(&item_, MODULE_CMD_CLOSE));
    EXPECT_TRUE(onCard("A.JPG"));
    closeModule();
  }
}

TEST_F(StandInModuleTest, RemovingTheCardFolderUnplugsTheCameraAndMakingItPlugsItBack) {
  for (const char* async : {"0", "1"}) {
    SCOPED_TRACE(std::string("async ") + async);
    setModuleEnv("SKERROW_CAM_ASYNC", async);
    ASSERT_EQ(0, openModule());
    ASSERT_EQ(0, openChild(&module_, 1, &source_, &sourceTag_));
    recorder_ = Recorder();
    std::filesystem::rename(card_, card_ + ".away");
    EXPECT_EQ(0, call(&module_, MODULE_CMD_PROCESS));
    std::filesystem::rename(card_ + ".away", card_);
    EXPECT_EQ(0, call(&module_, MODULE_CMD_PROCESS));
    ASSERT_EQ(2u, recorder_.events.size());
    EXPECT_EQ(MODULE_EVENT_REMOVE_CHILD, recorder_.events[0].code);
    EXPECT_EQ(MODULE_EVENT_ADD_CHILD, recorder_.events[1].code);
    for (const Recorder::Event& event : recorder_.events) {
      EXPECT_EQ(&moduleTag_, event.reference);
      EXPECT_EQ(1u, event.data);
    }
    // The camera back is a new object, even while the old one is still open.
    ModuleObject again = {};
    EXPECT_EQ(0, openChild(&module_, 1, &again, &sourceTag_));
    closeModule();
  }
}

TEST_F(StandInModuleTest, AsynchronousProcessingDeliversEveryChunkThatIsDue) {
  setModuleEnv("SKERROW_CAM_ASYNC", "1");
  struct Case {
    const char* rate;
    std::size_t chunksInFirstCall;
  };
  // At 6553 bytes/s the second chunk is due ten seconds after the first.
  for (const Case& c : {Case{"", 3}, Case{"6553", 1}}) {
    SCOPED_TRACE(c.rate);
    setModuleEnv("SKERROW_CAM_RATE", c.rate);
    writeShot("A.JPG", pattern(150000));
    recorder_ = Recorder();
    ASSERT_EQ(0, openModule());
    openDownToData();
    ModuleCompletion completion;
    ASSERT_EQ(0, issue(&data_, MODULE_CMD_CAP_START, MODULE_CAP_ACQUIRE, 0, nullptr, &completion));
    EXPECT_EQ(0, call(&data_, MODULE_CMD_PROCESS));
    EXPECT_EQ(c.chunksInFirstCall, recorder_.files.size());
    EXPECT_EQ(c.chunksInFirstCall == 3 ? 1 : 0, completion.count);
    closeModule();  // cancels what is still under way
    EXPECT_EQ(1, completion.count);
  }
}

TEST_F(StandInModuleTest, StrictModeRefusesClosedAndRemovedObjectsLoudly) {
  struct Case {
    const char* name;
    const char* strict;
    bool removeCard;  // else the item is closed
    std::int32_t expected;
    const char* stderrText;
  };
  const char* const refused = "Type0001.md3 (stand-in): command 7 on a closed object refused.\n";
  const Case cases[] = {
      {"closed, strict", "1", false, MODULE_RESULT_INVALID, refused},
      {"removed, strict", "1", true, MODULE_RESULT_INVALID, refused},
      {"closed", "", false, MODULE_RESULT_INVALID, ""},
      {"removed", "", true, MODULE_RESULT_DEVICE_GONE, ""},
  };
  const std::string trace = dir_.file("trace.txt");
  setModuleEnv("SKERROW_CAM_TRACE", trace);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(trace);
    setModuleEnv("SKERROW_CAM_STRICT", c.strict);
    writeShot("A.JPG", pattern(100));
    ASSERT_EQ(0, openModule());
    openDownToData();
    if (c.removeCard) {
      std::filesystem::rename(card_, card_ + ".away");
      EXPECT_EQ(0, call(&module_, MODULE_CMD_PROCESS));
    } else {
      EXPECT_EQ(0, call(&item_, MODULE_CMD_CLOSE));
    }
    std::uint32_t mask = 0;
    testing::internal::CaptureStderr();
    EXPECT_EQ(c.expected, waited(&item_, MODULE_CMD_CAP_GET, MODULE_CAP_DATA_TYPES,
                                 MODULE_DATATYPE_UNSIGNED_PTR, &mask));
    if (c.removeCard) {
      // Letting go of a removed object is never refused.
      EXPECT_EQ(0, waited(&data_, MODULE_CMD_CAP_SET, MODULE_CAP_DATA_PROC, MODULE_DATATYPE_NULL,
                          nullptr));
      EXPECT_EQ(0, call(&item_, MODULE_CMD_CLOSE));
    }
    EXPECT_EQ(c.stderrText, testing::internal::GetCapturedStderr());
    EXPECT_EQ(c.strict[0] != '\0',
              testing_support::readTextFile(trace).find("refused item:1 7\n") != std::string::npos);
    closeModule();
    if (c.removeCard) std::filesystem::rename(card_ + ".away", card_);
  }
}

TEST_F(StandInModuleTest, UiRequestAnswerDecidesTheAcquisition) {
  setModuleEnv("SKERROW_CAM_UI_REQUEST", "1");
  writeShot("A.JPG", pattern(1000));
  ASSERT_EQ(0, openModule());
  openDownToData();
  recorder_.uiAnswer = MODULE_ANSWER_CANCEL;
  EXPECT_EQ(MODULE_RESULT_CANCELLED, acquire());
  EXPECT_TRUE(recorder_.bytes.empty());
  recorder_.uiAnswer = MODULE_ANSWER_OK;
  EXPECT_EQ(0, acquire());
  EXPECT_EQ(1000u, recorder_.bytes.size());
  EXPECT_EQ((std::vector<std::uint32_t>{1, 1}), recorder_.uiTypes);
}

TEST_F(StandInModuleTest, ThumbnailsAndTheRemoveFlagAsConfigured) {
  setModuleEnv("SKERROW_CAM_RAW_THUMBNAIL", "1");
  setModuleEnv("SKERROW_CAM_NO_REMOVE_FLAG", "1");
  setModuleEnv("SKERROW_CAM_CHUNK", "10000");
  writeShot("A.JPG", pattern(1000));
  ASSERT_EQ(0, openModule());
  openDownToData(MODULE_DATA_THUMBNAIL);
  EXPECT_EQ(0, acquire());
  ASSERT_EQ(6u, recorder_.raws.size());  // 20 rows of 480 bytes per chunk
  EXPECT_EQ(MODULE_DATA_THUMBNAIL, std::uint32_t{recorder_.raws[0].type});
  EXPECT_EQ(120u, std::uint32_t{recorder_.raws[0].totalHeight});
  EXPECT_EQ(480u, std::uint32_t{recorder_.raws[0].rowBytes});
  EXPECT_EQ(100u, std::uint32_t{recorder_.raws[5].rectY});
  EXPECT_EQ(20u, std::uint32_t{recorder_.raws[5].rectHeight});
  EXPECT_EQ(57600u, recorder_.bytes.size());

  ModuleObject image = {};
  ASSERT_EQ(0, openChild(&item_, MODULE_DATA_IMAGE, &image, &dataTag_));
  data_ = image;
  EXPECT_EQ(0, waited(&image, MODULE_CMD_CAP_START, MODULE_CAP_ACQUIRE, 0, nullptr));
  ASSERT_FALSE(recorder_.files.empty());
  EXPECT_EQ(0u, recorder_.files[0].removeObject);
}

TEST_F(StandInModuleTest, UnusableSettingRefusesTheModule) {
  setModuleEnv("SKERROW_CAM_CHUNK", "64k");
  testing::internal::CaptureStderr();
  EXPECT_EQ(MODULE_RESULT_INVALID, openModule());
  EXPECT_EQ("Type0001.md3 (stand-in): cannot use SKERROW_CAM_CHUNK='64k'.\n",
            testing::internal::GetCapturedStderr());
}

TEST_F(StandInModuleTest, TraceRecordsEveryCall) {
  const std::string trace = (dir_.path() / "trace.txt").string();
  setModuleEnv("SKERROW_CAM_TRACE", trace);
  writeShot("A.JPG", pattern(100));
  ASSERT_EQ(0, openModule());
  openDownToData();
  EXPECT_EQ(0, acquire());
  closeModule();
  const std::string text = testing_support::readTextFile(trace);
  const char* const expected[] = {
      "call - 1 0x0 17\nreturn 1 0\n",
      "call module 6 0x3 13\ncomplete 6 0\nreturn 6 0\n",
      "call module 7 0x7 16\ncomplete 7 0\nreturn 7 0\n",
      "call module 1 0x1 17\nreturn 1 0\n",
      "call data:1/1 5 0x14 0\ndata data:1/1 0 100 100 0\ncomplete 5 0\nreturn 5 0\n",
      "call module 2 0x0 0\ndelete A.JPG\nreturn 2 0\n",
  };
  std::size_t at = 0;
  for (const char* part : expected) {
    const std::size_t found = text.find(part, at);
    EXPECT_NE(std::string::npos, found) << part << "in\n" << text;
    if (found != std::string::npos) at = found;
  }
}

TEST_F(StandInModuleTest, DataProcSavesTheShotThroughTheModule) {
  jpegtest::CameraLayout layout;
  const jpegtest::Bytes jpeg = jpegtest::cameraJpeg(100000, true, 4, &layout);
  writeShot("DSC_0001.JPG", std::string(jpeg.begin(), jpeg.end()));
  setModuleEnv("SKERROW_CAM_ASYNC", "1");
  ASSERT_EQ(0, openModule());
  openDownToData();
  const std::string base = (dir_.path() / "AUV_VARNO_20140203_090507_042").string();
  std::snprintf(imageBaseName, sizeof imageBaseName, "%s", base.c_str());
  std::memcpy(jpeg::exifDateString, "2014:02:03 09:05:07", 19);
  std::memcpy(jpeg::exifSubSecString, "042", 3);
  removeItemFlag = false;
  clearSavedFileRecord();

  auto* context = new DataProcContext();
  CallbackRecord record = {reinterpret_cast<ModuleProc>(&DataProc), context};
  EXPECT_EQ(0, waited(&data_, MODULE_CMD_CAP_SET, MODULE_CAP_DATA_PROC, MODULE_DATATYPE_CALLBACK,
                      &record));
  EXPECT_EQ(0, acquire());
  releaseDataProcContext(context);

  EXPECT_TRUE(removeItemFlag);
  EXPECT_TRUE(savedFileRecord.saved);
  EXPECT_EQ(base + ".jpg", std::string(savedFileName));
  const std::string saved = testing_support::readFile(base + ".jpg");
  ASSERT_EQ(jpeg.size(), saved.size());
  EXPECT_EQ("2014:02:03 09:05:07",
            saved.substr(jpegtest::CAMERA_TIFF_BASE + layout.dateTimeOriginal, 19));
  EXPECT_EQ(0, call(&item_, MODULE_CMD_CLOSE));
  EXPECT_FALSE(onCard("DSC_0001.JPG"));

  std::snprintf(imageBaseName, sizeof imageBaseName, "img");
  std::snprintf(savedFileName, sizeof savedFileName, "img");
  std::memcpy(jpeg::exifDateString, "2001:01:01 00:00:00", 19);
  std::memcpy(jpeg::exifSubSecString, "000", 3);
  removeItemFlag = false;
}

}  // namespace
