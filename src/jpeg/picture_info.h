// What the JPEG and Exif layers found in the image being processed.
#pragma once

namespace jpeg {

struct PictureInfoRecord {
  char make[32];              // Exif Make, at most 31 characters
  char model[40];             // Exif Model, at most 39 characters
  char dateTimeOriginal[20];  // DateTimeOriginal text as read, at most 19 characters
  int height;                 // from the frame header
  int width;
  int orientation;    // 1-8, 0 when absent or out of range
  int colorImage;     // 1 when the frame has 3 components
  int codingProcess;  // marker byte of the frame header (0xC0-0xCF)
  int flashFired;
  float focalLengthMm;
  float exposureSeconds;
  float fNumber;
  float subjectDistance;
  float sensorWidthMm;
  float exposureBias;
  int lightSource;
  int meteringMode;
  int exposureProgram;
  int isoSpeed;
  int compressedBitsPerPixel;
  char commentText[2000];         // first COM segment or UserComment, whichever was read last
  unsigned char* thumbnailStart;  // inside the stored Exif segment, or null
  unsigned int thumbnailLength;
  // Where the DateTimeOriginal value (at least 19 bytes) and the
  // SubSecTimeOriginal value (at least 3 bytes) lie inside the stored Exif
  // segment, or null. Valid until releaseJpegSegments().
  unsigned char* dateTimeOriginalPos;
  unsigned char* subSecTimeOriginalPos;
};

// The one record for the image at hand. Camera worker thread only; filled by
// scanJpegBuffer() and cleared by releaseJpegSegments().
extern PictureInfoRecord PictureInfo;

// Sets every field to zero: texts empty, positions null.
void clearPictureInfo();

}  // namespace jpeg
