// Image names prepared by the trigger thread at each trigger, taken by the
// camera thread for each image it downloads; the order pairs triggers with
// images. No locking of its own: every caller holds statusMutex.
#pragma once

#include <cstdint>
#include <deque>

struct ImageNameEntry {
  char name[256];  // nameLength characters, no terminator
  std::int32_t nameLength;
  char exifDate[20];  // "YYYY:MM:DD hh:mm:ss" in the first 19
  char subSec[4];     // three digits and a terminator
};

class ImageNameQueue {
 public:
  static constexpr std::size_t kLimit = 15;

  // Copies the name (nameLength characters, cut to 256), the 19 characters
  // of exifDate and the 3 digits of subSec. False, and the queue unchanged,
  // when 15 entries wait already.
  bool pushImageName(const char* name, std::int32_t nameLength, const char* exifDate,
                     const char* subSec);

  // Delivers the oldest entry into imageBaseName (terminated after the
  // name), exifDateString and exifSubSecString, stores the name length and
  // removes the entry. False, and nothing written, when empty.
  bool popImageName(std::int32_t* nameLength);

  // Copies up to max entries, oldest first, into out; returns how many.
  std::size_t copyEntries(ImageNameEntry* out, std::size_t max) const;

  // Removes the oldest entry. False when empty.
  bool dropOldest();

  // Removes the most recently pushed entry, for a trigger that was queued
  // but could not be sent. False when empty.
  bool withdrawNewest();

  std::size_t size() const { return entries_.size(); }

 private:
  std::deque<ImageNameEntry> entries_;
};

// Delivers entry into imageBaseName (terminated after the name, cut to fit),
// exifDateString and exifSubSecString.
void deliverImageName(const ImageNameEntry& entry);

// Created by start-up before the worker threads; never destroyed.
extern ImageNameQueue* imageNameQueue;
