#include "jpeg/picture_info.h"

namespace jpeg {

PictureInfoRecord PictureInfo{};

void clearPictureInfo() { PictureInfo = PictureInfoRecord{}; }

}  // namespace jpeg
