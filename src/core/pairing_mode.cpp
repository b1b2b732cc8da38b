#include "core/pairing_mode.h"

#include <cctype>

namespace {

bool sameWord(const char* text, const char* word) {
  for (; *word != '\0'; ++text, ++word)
    if (std::tolower(static_cast<unsigned char>(*text)) != *word) return false;
  return *text == '\0';
}

}  // namespace

bool parsePairingMode(const char* text, PairingMode* mode) {
  if (text == nullptr) return false;
  if (sameWord(text, "repair")) {
    *mode = PairingMode::REPAIR;
  } else if (sameWord(text, "verify")) {
    *mode = PairingMode::VERIFY;
  } else if (sameWord(text, "fifo")) {
    *mode = PairingMode::FIFO;
  } else {
    return false;
  }
  return true;
}

const char* pairingModeName(PairingMode mode) {
  switch (mode) {
    case PairingMode::REPAIR:
      return "repair";
    case PairingMode::VERIFY:
      return "verify";
    case PairingMode::FIFO:
      return "fifo";
  }
  return "repair";
}
