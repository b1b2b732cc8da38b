// How each downloaded image is paired with the trigger that took it; the
// [camera] pairing key.
#pragma once

enum class PairingMode {
  REPAIR,  // pair by the camera's time; missed triggers and shots of its own are handled
  VERIFY,  // pair first in, first out, and report what the check sees
  FIFO,    // pair first in, first out, with no check
};

// "repair", "verify" or "fifo", without regard to case. False, *mode
// unchanged, for anything else.
bool parsePairingMode(const char* text, PairingMode* mode);
const char* pairingModeName(PairingMode mode);
