// The trigger time as it is written into each image: the two Exif texts, how
// they are formed, and writing them over DateTimeOriginal and
// SubSecTimeOriginal.
#pragma once

namespace jpeg {

// "YYYY:MM:DD HH:MM:SS" and its zero byte; initially "2001:01:01 00:00:00".
// Set by the camera worker from the image-name queue before each download
// (exactly 19 characters are copied; the terminator is never rewritten) and
// read by applyExifTimestamp() on the same thread. No lock.
extern char exifDateString[20];

// Three digits of milliseconds and a zero byte; initially "000". Same rules
// as exifDateString (exactly 3 characters are copied).
extern char exifSubSecString[4];

// Writes year:month:day hour:minute:second (UTC) in the Exif form into out:
// 19 characters and a zero byte. Returns false, leaving out unchanged, when a
// field does not fit the form (year 0-9999, month 1-12, day 1-31, hour 0-23,
// minute 0-59, second 0-60).
bool formatExifDate(int year, int month, int day, int hour, int minute, int second, char out[20]);

// Writes milliseconds (0-999) as three digits and a zero byte into out.
// Returns false, leaving out unchanged, for any other value.
bool formatExifSubSec(int milliseconds, char out[4]);

// Copies the 19 characters of exifDateString over every copy of
// DateTimeOriginal in PictureInfo.dateTimeOriginalCopies and the 3 of
// exifSubSecString over every copy of SubSecTimeOriginal, and nothing more.
// A copy that overlaps other Exif data is left alone with the line "Exif
// <name> at offset <n> overlaps other Exif data; that copy is left as it
// is.\n" (n counted from the TIFF header); copies beyond the recorded ones
// get one line "More than 8 copies of Exif <name>; the others are left as
// they are.\n". When no copy of a value was stamped, prints "File contains
// no Exif timestamp to change\n" or "File contains no Exif subseconds to
// change\n". All lines go to standard error; each value is handled on its
// own.
void applyExifTimestamp();

}  // namespace jpeg
