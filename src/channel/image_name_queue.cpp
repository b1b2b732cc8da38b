#include "channel/image_name_queue.h"

#include <cstring>
#include <new>

#include "core/image_names.h"
#include "jpeg/exif_timestamp.h"

ImageNameQueue* imageNameQueue = nullptr;

bool ImageNameQueue::pushImageName(const char* name, std::int32_t nameLength, const char* exifDate,
                                   const char* subSec) {
  if (entries_.size() >= kLimit) return false;
  try {
    entries_.emplace_back();
  } catch (const std::bad_alloc&) {
    return false;
  }
  ImageNameEntry& entry = entries_.back();
  std::int32_t length = nameLength < 0 ? 0 : nameLength;
  if (length > static_cast<std::int32_t>(sizeof entry.name)) length = sizeof entry.name;
  std::memcpy(entry.name, name, static_cast<std::size_t>(length));
  entry.nameLength = length;
  std::memcpy(entry.exifDate, exifDate, 19);
  entry.exifDate[19] = '\0';
  std::memcpy(entry.subSec, subSec, 3);
  entry.subSec[3] = '\0';
  return true;
}

bool ImageNameQueue::withdrawNewest() {
  if (entries_.empty()) return false;
  entries_.pop_back();
  return true;
}

std::size_t ImageNameQueue::copyEntries(ImageNameEntry* out, std::size_t max) const {
  const std::size_t count = entries_.size() < max ? entries_.size() : max;
  for (std::size_t i = 0; i < count; ++i) out[i] = entries_[i];
  return count;
}

bool ImageNameQueue::dropOldest() {
  if (entries_.empty()) return false;
  entries_.pop_front();
  return true;
}

void deliverImageName(const ImageNameEntry& entry) {
  // The base name must leave room for its terminator; a longer name is cut
  // here and refused later, when the file name is composed.
  std::size_t length = static_cast<std::size_t>(entry.nameLength);
  if (length > sizeof imageBaseName - 1) length = sizeof imageBaseName - 1;
  std::memcpy(imageBaseName, entry.name, length);
  imageBaseName[length] = '\0';
  std::memcpy(jpeg::exifDateString, entry.exifDate, 19);
  std::memcpy(jpeg::exifSubSecString, entry.subSec, 3);
}

bool ImageNameQueue::popImageName(std::int32_t* nameLength) {
  if (entries_.empty()) return false;
  deliverImageName(entries_.front());
  *nameLength = entries_.front().nameLength;
  entries_.pop_front();
  return true;
}
