#include "camera/image_file.h"

#include <filesystem>
#include <system_error>

namespace camera {
namespace {

bool statusExists(const char* name) {
  std::error_code error;
  // symlink_status, not status: a dangling link is a taken name too.
  const auto status = std::filesystem::symlink_status(std::filesystem::path(name), error);
  return !error && status.type() != std::filesystem::file_type::not_found;
}

bool writeAll(platform::NewFile& file, const unsigned char* data, std::size_t size) {
  return file.write(data, size);
}

bool closeFile(platform::NewFile& file) { return file.close(); }

}  // namespace

const ImageFileOps& defaultImageFileOps() {
  static const ImageFileOps ops = {statusExists, platform::createNewFile, writeAll, closeFile};
  return ops;
}

ImageFileOps imageFileOps = defaultImageFileOps();

bool imageFileExists(const char* name) { return imageFileOps.exists(name); }

WriteResult writeImageFile(const char* name, const unsigned char* data, std::size_t size) {
  platform::NewFile file;
  switch (imageFileOps.create(name, &file)) {
    case platform::CreateResult::CREATED:
      break;
    case platform::CreateResult::EXISTS:
      return WriteResult::NAME_TAKEN;
    case platform::CreateResult::FAILED:
      return WriteResult::CANNOT_OPEN;
  }
  const bool written = imageFileOps.write(file, data, size);
  // A full disk often shows only when the tail is flushed by the close, so
  // its result counts as much as the write's.
  const bool closed = imageFileOps.close(file);
  if (written && closed) return WriteResult::WRITTEN;
  // Ours alone: it was created by this call.
  platform::removeFile(name);
  return WriteResult::CANNOT_WRITE;
}

}  // namespace camera
