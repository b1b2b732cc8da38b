// What the JPEG and Exif layers found in the image being processed.
#pragma once

namespace jpeg {

// How many copies of DateTimeOriginal, and of SubSecTimeOriginal, one image
// may have stamped. Cameras write one to three (IFD0, Exif, IFD1).
constexpr int MAX_EXIF_TIME_COPIES = 8;

// One copy of a capture-time value that the stamp writes over.
struct ExifTimeCopy {
  unsigned char* pos;   // the value's first byte, inside the stored Exif segment
  unsigned exifOffset;  // the same place counted from the TIFF header, for messages
  bool overlaps;        // shares bytes with other Exif data: left as it is
};

struct ExifTimeCopies {
  ExifTimeCopy copy[MAX_EXIF_TIME_COPIES];
  int count;
  bool morePassedOver;  // further copies were found and not recorded
};

// A capture-time text as the camera wrote it, taken from the copy in the
// Exif directory when there is one there, else from the first one walked.
struct ExifTimeText {
  char text[20];  // "YYYY:MM:DD HH:MM:SS", or at most 9 subsecond digits
  int rank;       // 0: none found; 1: found outside the Exif directory; 2: in it
};

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
  // Where the last DateTimeOriginal value (at least 19 bytes) and the last
  // SubSecTimeOriginal value (at least 3 bytes) that may be stamped lie
  // inside the stored Exif segment, or null. Valid until releaseJpegSegments().
  unsigned char* dateTimeOriginalPos;
  unsigned char* subSecTimeOriginalPos;
  // Every copy of the two values, in the order walked; the positions above
  // are the last of these that do not overlap other data.
  ExifTimeCopies dateTimeOriginalCopies;
  ExifTimeCopies subSecTimeOriginalCopies;
  // The camera's own clock as delivered: DateTimeOriginal and
  // DateTimeDigitized only when they have the date-time form, the
  // SubSecTime* values as their leading digits.
  ExifTimeText cameraDateTimeOriginal;
  ExifTimeText cameraDateTimeDigitized;
  ExifTimeText cameraSubSecOriginal;
  ExifTimeText cameraSubSecDigitized;
};

// The one record for the image at hand. Camera worker thread only; filled by
// scanJpegBuffer() and cleared by releaseJpegSegments().
extern PictureInfoRecord PictureInfo;

// Sets every field to zero: texts empty, positions null.
void clearPictureInfo();

}  // namespace jpeg
