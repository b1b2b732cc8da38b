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

std::FILE* openForWriting(const char* name) { return std::fopen(name, "wb"); }

std::size_t writeAll(const unsigned char* data, std::size_t size, std::FILE* file) {
  return std::fwrite(data, 1, size, file);
}

int closeFile(std::FILE* file) { return std::fclose(file); }

}  // namespace

const ImageFileOps& defaultImageFileOps() {
  static const ImageFileOps ops = {statusExists, openForWriting, writeAll, closeFile};
  return ops;
}

ImageFileOps imageFileOps = defaultImageFileOps();

bool imageFileExists(const char* name) { return imageFileOps.exists(name); }

WriteResult writeImageFile(const char* name, const unsigned char* data, std::size_t size) {
  std::FILE* file = imageFileOps.open(name);
  if (file == nullptr) return WriteResult::CANNOT_OPEN;
  const bool written = imageFileOps.write(data, size, file) == size;
  // A full disk often shows only when the buffered tail is flushed by the
  // close, so its result counts as much as the write's.
  const bool closed = imageFileOps.close(file) == 0;
  if (written && closed) return WriteResult::WRITTEN;
  std::remove(name);
  return WriteResult::CANNOT_WRITE;
}

}  // namespace camera
