// Delivery of one data object through the program's data procedure: the
// shot's file (or the thumbnail) in chunks, with progress calls, the rate
// limit and the injected delivery faults.
#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <thread>

#include "sim_camera.h"

namespace sim {
namespace {

constexpr std::uint32_t THUMB_WIDTH = 160;
constexpr std::uint32_t THUMB_HEIGHT = 120;
constexpr std::uint32_t THUMB_ROW_BYTES = THUMB_WIDTH * 3;

}  // namespace

struct TransferState {
  ModuleObject* descriptor = nullptr;
  std::uint32_t itemId = 0;
  bool image = false;          // the image data object (its delivery takes the shot off the card)
  bool raw = false;            // ImageDataInfo instead of FileDataInfo
  bool undeliverable = false;  // the shot's marker is on the card
  std::uint32_t type = 0;
  std::uint32_t fileDataType = MODULE_FILE_OTHER;
  std::vector<unsigned char> bytes;
  std::size_t offset = 0;
  bool started = false;
  std::chrono::steady_clock::time_point start;
};

namespace {

// True, once, for each time the control file is made: it is taken away so
// that the next unplug needs a new one.
bool takeUnplugFile(const std::string& path) {
  if (path.empty()) return false;
  std::ifstream probe(path);
  if (!probe) return false;
  probe.close();
  std::remove(path.c_str());
  return true;
}

std::uint32_t fileDataTypeFor(const std::string& name) {
  std::string extension;
  const std::size_t dot = name.rfind('.');
  if (dot != std::string::npos) extension = name.substr(dot);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  if (extension == ".jpg" || extension == ".jpeg") return MODULE_FILE_JPEG;
  if (extension == ".tif" || extension == ".tiff") return MODULE_FILE_TIFF;
  if (extension == ".nef") return MODULE_FILE_NEF;
  if (extension == ".ndf") return MODULE_FILE_NDF;
  return MODULE_FILE_OTHER;
}

std::vector<unsigned char> thumbnailPixels() {
  std::vector<unsigned char> pixels(THUMB_ROW_BYTES * THUMB_HEIGHT);
  for (std::uint32_t y = 0; y < THUMB_HEIGHT; ++y)
    for (std::uint32_t x = 0; x < THUMB_WIDTH; ++x) {
      unsigned char* p = &pixels[y * THUMB_ROW_BYTES + x * 3];
      p[0] = static_cast<unsigned char>(x);
      p[1] = static_cast<unsigned char>(y * 2);
      p[2] = static_cast<unsigned char>(x + y);
    }
  return pixels;
}

void callProgress(const SimObject* object, std::uint32_t done, std::uint32_t total) {
  const CallbackRecord record = object->progress;
  if (record.procedure != nullptr)
    reinterpret_cast<ProgressProcType>(record.procedure)(MODULE_CMD_CAP_START, MODULE_CAP_ACQUIRE,
                                                         record.reference, done, total);
}

}  // namespace

std::int32_t SimCamera::startAcquire(SimObject* object, std::function<bool(std::int32_t*)>* work) {
  if (object->type != MODULE_OBJECT_DATA) return MODULE_RESULT_NOT_SUPPORTED;
  if (object->data.procedure == nullptr) return MODULE_RESULT_INVALID;
  const Shot* shot = card_.find(object->parent->id);
  if (shot == nullptr) return MODULE_RESULT_DEVICE_GONE;

  auto state = std::make_shared<TransferState>();
  state->descriptor = object->descriptor;
  state->itemId = shot->id;
  if (object->id == MODULE_DATA_IMAGE) {
    state->image = true;
    state->type = MODULE_DATA_FILE | MODULE_DATA_IMAGE;
    state->fileDataType = fileDataTypeFor(shot->name);
    std::error_code error;
    state->undeliverable = std::filesystem::exists(
        std::filesystem::path(settings_.card) / undeliverableMarker(shot->name), error);
    std::ifstream in(settings_.card + "/" + shot->name, std::ios::binary);
    if (!in) return MODULE_RESULT_DELIVERY_FAILED;
    state->bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    if (in.bad()) return MODULE_RESULT_DELIVERY_FAILED;
  } else if (settings_.rawThumbnail) {
    state->raw = true;
    state->type = MODULE_DATA_THUMBNAIL;
    state->bytes = thumbnailPixels();
  } else {
    // The thumbnail as a file: a binary PPM, "other data" to the program.
    state->type = MODULE_DATA_FILE | MODULE_DATA_THUMBNAIL;
    const std::string header = "P6 160 120 255\n";
    state->bytes.assign(header.begin(), header.end());
    const std::vector<unsigned char> pixels = thumbnailPixels();
    state->bytes.insert(state->bytes.end(), pixels.begin(), pixels.end());
  }

  *work = [this, state](std::int32_t* result) { return deliver(state.get(), result); };
  return MODULE_RESULT_OK;
}

bool SimCamera::deliver(TransferState* state, std::int32_t* result) {
  TransferState& s = *state;
  const std::size_t total = s.bytes.size();
  // In asynchronous mode each processing call delivers every chunk whose
  // time has come (all of them without a rate), as a module that gathers a
  // burst from the camera per call does; synchronous delivery waits for each.
  for (;;) {
    SimObject* target = find(s.descriptor);
    if (target == nullptr) {
      *result = MODULE_RESULT_CANCELLED;
      return true;
    }
    if (cameraGone(target)) {
      *result = MODULE_RESULT_DEVICE_GONE;
      return true;
    }
    if (!s.started) {
      s.started = true;
      s.start = std::chrono::steady_clock::now();
      callProgress(target, 0, 0);
      if (settings_.uiRequest) {
        const std::uint32_t answer = askUser();
        if (answer == MODULE_ANSWER_CANCEL || answer == MODULE_ANSWER_NO) {
          *result = MODULE_RESULT_CANCELLED;
          return true;
        }
      }
      target = find(s.descriptor);  // the procedures above may close it
      if (target == nullptr) {
        *result = MODULE_RESULT_CANCELLED;
        return true;
      }
    }
    if (settings_.fail && failuresLeft_ > 0 && s.offset >= settings_.failAfter) {
      --failuresLeft_;
      trace_.line("fail-delivery %lu", static_cast<unsigned long>(s.offset));
      *result = MODULE_RESULT_DELIVERY_FAILED;
      return true;
    }
    if ((settings_.unplug && !unplugDone_ && s.offset >= settings_.unplugAfter) ||
        (s.image && s.offset > 0 && s.offset >= total / 2 &&
         takeUnplugFile(settings_.unplugFile))) {
      // Announced as the camera's removal by the next processing call.
      unplugDone_ = true;
      unplugged_ = true;
      trace_.line("unplug %lu", static_cast<unsigned long>(s.offset));
      *result = MODULE_RESULT_DEVICE_GONE;
      return true;
    }
    // An undeliverable image fails after its first chunk, which is never
    // the whole image.
    if (s.undeliverable && (s.offset > 0 || total <= 1)) {
      trace_.line("undeliverable %lu", static_cast<unsigned long>(s.offset));
      *result = MODULE_RESULT_DELIVERY_FAILED;
      return true;
    }
    if (settings_.rate > 0) {
      const auto due =
          s.start + std::chrono::duration_cast<std::chrono::steady_clock::duration>(
                        std::chrono::duration<double>(static_cast<double>(s.offset) /
                                                      static_cast<double>(settings_.rate)));
      if (settings_.async && std::chrono::steady_clock::now() < due) return false;
      std::this_thread::sleep_until(due);
    }

    std::size_t length = std::min<std::size_t>(settings_.chunkSize, total - s.offset);
    if (s.undeliverable) length = std::min(length, total - 1);
    FileDataInfo file = {};
    ImageDataInfo raw = {};
    void* info = &file;
    if (s.raw) {
      const std::uint32_t rows = std::max<std::uint32_t>(
          1, std::min<std::uint32_t>(
                 settings_.chunkSize / THUMB_ROW_BYTES,
                 static_cast<std::uint32_t>((total - s.offset) / THUMB_ROW_BYTES)));
      length = std::size_t{rows} * THUMB_ROW_BYTES;
      raw.type = s.type;
      raw.totalWidth = THUMB_WIDTH;
      raw.totalHeight = THUMB_HEIGHT;
      raw.colorSpace = 0;
      raw.rectY = static_cast<std::uint32_t>(s.offset / THUMB_ROW_BYTES);
      raw.rectWidth = THUMB_WIDTH;
      raw.rectHeight = rows;
      raw.rowBytes = THUMB_ROW_BYTES;
      for (std::uint16_t& bits : raw.bitsPerComponent) bits = 8;
      info = &raw;
    } else {
      file.type = s.type;
      file.fileDataType = s.fileDataType;
      file.totalLength = static_cast<std::uint32_t>(total);
      file.startOffset = static_cast<std::uint32_t>(s.offset);
      file.length = static_cast<std::uint32_t>(length);
      file.removeObject = s.image && settings_.removeFlag ? 1 : 0;
    }
    const CallbackRecord record = target->data;
    std::int32_t delivered = MODULE_RESULT_INVALID;
    if (record.procedure != nullptr)
      delivered = reinterpret_cast<DataProcType>(record.procedure)(record.reference, info,
                                                                   s.bytes.data() + s.offset);
    char name[48];
    // %lu, not %zu: the Windows C runtime's printf lacks z. Shots stay far
    // below 4 GB.
    trace_.line("data %s %lu %lu %lu %d", label(target, name), static_cast<unsigned long>(s.offset),
                static_cast<unsigned long>(length), static_cast<unsigned long>(total),
                static_cast<int>(delivered));
    if (delivered != MODULE_RESULT_OK) {
      *result = delivered;  // the shot stays on the card
      return true;
    }
    s.offset += length;
    if (SimObject* again = find(s.descriptor)) callProgress(again, 1, 0);
    if (s.offset < total) continue;
    if (s.image) {
      if (Shot* deliveredShot = card_.find(s.itemId)) deliveredShot->delivered = true;
    }
    *result = MODULE_RESULT_OK;
    return true;
  }
}

std::uint32_t SimCamera::askUser() {
  SimObject* module = moduleObject();
  const CallbackRecord record = module != nullptr ? module->uiRequest : CallbackRecord{};
  std::uint32_t answer = MODULE_ANSWER_NONE;
  if (record.procedure != nullptr) {
    UIRequestInfo request = {settings_.uiRequestType, 0, 0, "The camera asks for an answer.",
                             "Injected by SKERROW_CAM_UI_REQUEST."};
    answer = reinterpret_cast<UIRequestProcType>(record.procedure)(record.reference, &request);
  }
  trace_.line("ui %u %u", settings_.uiRequestType, answer);
  return answer;
}

}  // namespace sim
