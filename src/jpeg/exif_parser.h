// The Exif directory parser: checks an Exif APP1 segment, walks its image file
// directories and records what it finds in PictureInfo, above all where the
// copies of DateTimeOriginal and SubSecTimeOriginal lie so that they can be
// rewritten in place, and the camera's own capture time.
//
// Every problem is reported through warnNonfatal() on standard error and never
// stops the image from being saved. Camera worker thread only: the parser
// state and PictureInfo are process-wide and unguarded.
#pragma once

namespace jpeg {

// Prints "Nonfatal Error : ", then format filled with a and b, then a line
// end, on standard error. format is one of this layer's own texts.
void warnNonfatal(const char* format, int a, int b);

// Parses a stored APP1 segment: bytes[0..1] is its length field, length its
// value (the number of bytes at bytes). Fills PictureInfo; may replace
// trailing spaces of UserComment by zero bytes inside bytes. The positions it
// records point into bytes and stay valid while bytes lives.
void parseExifSegment(unsigned char* bytes, unsigned length);

// Walks the directory at directory and, recursively, the directories it links
// to. Offsets count from base (the TIFF header); exifLength is the number of
// bytes from base to the end of the segment. REQUIRES: base <= directory <=
// base + exifLength. A directory whose entry count does not lie inside the
// data, one walked before in this walk, and any beyond the 32nd are not read.
// The capture-time copies found are checked against the directories walked
// here and added to PictureInfo.
void parseExifDirectory(unsigned char* directory, unsigned char* base, unsigned exifLength);

}  // namespace jpeg
