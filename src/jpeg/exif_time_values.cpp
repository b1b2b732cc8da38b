#include "jpeg/exif_time_values.h"

#include <cstring>

#include "jpeg/exif_parser.h"
#include "jpeg/picture_info.h"

namespace jpeg {

namespace {

constexpr unsigned TAG_DATE_TIME_ORIGINAL = 0x9003;
constexpr unsigned TAG_DATE_TIME_DIGITIZED = 0x9004;
constexpr unsigned TAG_SUB_SEC_ORIGINAL = 0x9291;
constexpr unsigned TAG_SUB_SEC_DIGITIZED = 0x9292;

constexpr std::uint64_t DATE_CHARACTERS = 19;
constexpr std::uint64_t SUBSEC_CHARACTERS = 3;  // what the stamp writes
constexpr std::uint64_t SUBSEC_DIGITS = 9;      // what the clock reading keeps

// The copies met in the segment being walked, waiting for the structure
// check at its end.
struct PendingCopies {
  ExifValueSpan span[MAX_EXIF_TIME_COPIES];
  unsigned char* pos[MAX_EXIF_TIME_COPIES];
  int count = 0;
  bool morePassedOver = false;
};

PendingCopies pendingDates;
PendingCopies pendingSubSecs;

void addPending(PendingCopies& pending, unsigned tag, unsigned char* value, std::uint64_t length,
                const ExifValuePlace& place) {
  for (int i = 0; i < pending.count; ++i) {
    if (pending.span[i].offset == place.valueOffset) {
      return;  // two entries naming one value: it is one copy
    }
  }
  if (pending.count == MAX_EXIF_TIME_COPIES) {
    pending.morePassedOver = true;
    return;
  }
  pending.span[pending.count] =
      ExifValueSpan{tag, place.valueOffset, length, place.directory, place.inEntry};
  pending.pos[pending.count] = value;
  ++pending.count;
}

// "dddd:dd:dd dd:dd:dd"; a camera with an unset clock writes spaces or
// zeros, which only the first catches: the reader of the result judges
// the calendar.
bool hasDateTimeForm(const unsigned char* text) {
  static const char FORM[] = "dddd:dd:dd dd:dd:dd";
  for (std::uint64_t i = 0; i < DATE_CHARACTERS; ++i) {
    const bool digit = text[i] >= '0' && text[i] <= '9';
    if (FORM[i] == 'd' ? !digit : text[i] != static_cast<unsigned char>(FORM[i])) {
      return false;
    }
  }
  return true;
}

int rankOf(const ExifValuePlace& place) { return place.inExifDirectory ? 2 : 1; }

// Keeps the date-time text when no better placed copy was seen.
void offerDateTime(ExifTimeText& best, const unsigned char* value, std::uint64_t byteCount,
                   const ExifValuePlace& place) {
  if (rankOf(place) <= best.rank || byteCount < DATE_CHARACTERS || !hasDateTimeForm(value)) {
    return;
  }
  std::memcpy(best.text, value, DATE_CHARACTERS);
  best.text[DATE_CHARACTERS] = '\0';
  best.rank = rankOf(place);
}

// Subseconds are the leading digits; cameras pad the rest with spaces or
// zero bytes.
void offerSubSec(ExifTimeText& best, const unsigned char* value, std::uint64_t byteCount,
                 const ExifValuePlace& place) {
  if (rankOf(place) <= best.rank) {
    return;
  }
  std::uint64_t n = 0;
  while (n < byteCount && n < SUBSEC_DIGITS && value[n] >= '0' && value[n] <= '9') {
    best.text[n] = static_cast<char>(value[n]);
    ++n;
  }
  best.text[n] = '\0';
  best.rank = rankOf(place);
}

void recordDateTimeOriginal(unsigned char* value, std::uint64_t byteCount,
                            const ExifValuePlace& place) {
  // The text as read, whatever its form: the last copy walked.
  std::uint64_t n = 0;
  while (n < DATE_CHARACTERS && n < byteCount && value[n] != 0) {
    PictureInfo.dateTimeOriginal[n] = static_cast<char>(value[n]);
    ++n;
  }
  PictureInfo.dateTimeOriginal[n] = '\0';
  offerDateTime(PictureInfo.cameraDateTimeOriginal, value, byteCount, place);
  // The stamp puts 19 characters here; a shorter value (a wrong count or
  // format) would be overrun into whatever follows it, so this copy keeps
  // its date.
  if (byteCount < DATE_CHARACTERS) {
    warnNonfatal("DateTimeOriginal value of %d bytes too short to rewrite",
                 static_cast<int>(byteCount), 0);
    return;
  }
  addPending(pendingDates, TAG_DATE_TIME_ORIGINAL, value, byteCount, place);
}

// Moves the segment's copies to PictureInfo; the position field keeps the
// last one that may be stamped.
void keepCopies(PendingCopies& pending, ExifTimeCopies& copies, unsigned char** lastUsable) {
  copies.morePassedOver = copies.morePassedOver || pending.morePassedOver;
  for (int i = 0; i < pending.count; ++i) {
    if (copies.count == MAX_EXIF_TIME_COPIES) {
      copies.morePassedOver = true;
      break;
    }
    const ExifValueSpan& span = pending.span[i];
    copies.copy[copies.count++] =
        ExifTimeCopy{pending.pos[i], static_cast<unsigned>(span.offset), span.overlaps};
    if (!span.overlaps) {
      *lastUsable = pending.pos[i];
    }
  }
  pending = PendingCopies{};
}

}  // namespace

bool isExifTimeTag(unsigned tag) {
  return tag == TAG_DATE_TIME_ORIGINAL || tag == TAG_DATE_TIME_DIGITIZED ||
         tag == TAG_SUB_SEC_ORIGINAL || tag == TAG_SUB_SEC_DIGITIZED;
}

void resetExifTimeValues() {
  pendingDates = PendingCopies{};
  pendingSubSecs = PendingCopies{};
}

void recordExifTimeValue(unsigned tag, unsigned char* value, std::uint64_t byteCount,
                         const ExifValuePlace& place) {
  switch (tag) {
    case TAG_DATE_TIME_ORIGINAL:
      recordDateTimeOriginal(value, byteCount, place);
      break;
    case TAG_DATE_TIME_DIGITIZED:
      offerDateTime(PictureInfo.cameraDateTimeDigitized, value, byteCount, place);
      break;
    case TAG_SUB_SEC_ORIGINAL:
      offerSubSec(PictureInfo.cameraSubSecOriginal, value, byteCount, place);
      // The 3 characters always fit: the value is either the entry's own
      // 4-byte field or more than 4 bytes inside the segment.
      addPending(pendingSubSecs, TAG_SUB_SEC_ORIGINAL, value,
                 byteCount > SUBSEC_CHARACTERS ? byteCount : SUBSEC_CHARACTERS, place);
      break;
    case TAG_SUB_SEC_DIGITIZED:
      offerSubSec(PictureInfo.cameraSubSecDigitized, value, byteCount, place);
      break;
    default:
      break;
  }
}

void finishExifTimeValues(const ExifStructure& structure) {
  markOverlappingSpans(structure, pendingDates.span, pendingDates.count);
  markOverlappingSpans(structure, pendingSubSecs.span, pendingSubSecs.count);
  keepCopies(pendingDates, PictureInfo.dateTimeOriginalCopies, &PictureInfo.dateTimeOriginalPos);
  keepCopies(pendingSubSecs, PictureInfo.subSecTimeOriginalCopies,
             &PictureInfo.subSecTimeOriginalPos);
}

}  // namespace jpeg
