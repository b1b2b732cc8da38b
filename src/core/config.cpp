#include "core/config.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "core/image_root.h"
#include "core/log.h"
#include "core/server_state.h"
#include "platform/error.h"
#include "platform/ini.h"
#include "platform/paths.h"

namespace {

const char* const kWho = "importIniSettings()";
// Every local address, as the listener has always bound.
const char* const kDefaultBindAddress = "0.0.0.0";
const char* const kDefaultPrefix = "AUV_";

// Reads a text key into a field of fieldSize bytes. The read is made into a
// buffer far larger than any field, so that a value that does not fit is
// seen and refused rather than cut short without a word.
void readText(const char* section, const char* key, const char* defaultValue, char* field,
              unsigned fieldSize, const char* path) {
  char value[1024];
  const unsigned length =
      platform::iniGetString(section, key, defaultValue, value, sizeof value, path);
  if (length > fieldSize - 1) {
    logprintf(currentLogStream,
              "%s: ERROR [%s] %s is longer than %u characters, using the default (%s).\n", kWho,
              section, key, fieldSize - 1, defaultValue);
    std::strcpy(field, defaultValue);  // every default fits its field
    return;
  }
  std::memcpy(field, value, length + 1);
}

// The parity letter is used by its first character only.
void readParity(const char* section, const char* path, char* parity) {
  char value[8];
  platform::iniGetString(section, "parity", "N", value, sizeof value, path);
  parity[0] = value[0];
  parity[1] = '\0';
}

// An unknown mode is refused with a line; the default then holds, since a
// run that pairs by the camera's time loses nothing that first in, first out
// would keep.
void readPairing(const char* path, PairingMode* mode) {
  char value[32];
  platform::iniGetString("camera", "pairing", "repair", value, sizeof value, path);
  *mode = PairingMode::REPAIR;
  if (!parsePairingMode(value, mode))
    logprintf(currentLogStream,
              "%s: ERROR [camera] pairing must be repair, verify or fifo, using the default "
              "(repair).\n",
              kWho);
}

// Unlike other texts, an over-long root does not fall back to its default:
// no root at all would open every folder, the opposite of what the operator
// asked for, so the server does not start. A root that is not there yet (a
// disk not mounted) is kept: the server runs, its trigger and lasers too,
// and every prefix is refused until the root exists.
bool readImageRoot(const char* path, char* root) {
  char value[1024];
  const unsigned length =
      platform::iniGetString("camera", "imageroot", "", value, sizeof value, path);
  root[0] = '\0';
  if (length > kImageRootSize - 1) {
    logprintf(currentLogStream, "%s: ERROR [camera] imageroot is longer than %u characters.\n",
              kWho, kImageRootSize - 1);
    return false;
  }
  std::memcpy(root, value, length + 1);
  std::string resolved;
  bool exists = false;
  if (root[0] != '\0' && (!platform::resolveFolder(root, &resolved, &exists) || !exists)) {
    logprintf(currentLogStream,
              "%s: ERROR [camera] imageroot %s is not an existing folder, every prefix is "
              "refused until it is.\n",
              kWho, root);
  }
  return true;
}

// A prefix outside the root is replaced by the default name inside the
// root: an operator who set a root expects the images there, and the plain
// default in the working folder may itself lie outside. The root's size
// leaves room for this.
void keepPrefixInsideRoot(const char* root, char* prefix) {
  const PrefixPlace place = placePrefix(prefix, root);
  if (place == PrefixPlace::INSIDE) return;
  const std::size_t rootLength = std::strlen(root);
  const char separator[2] = {platform::pathSeparator(), '\0'};
  char fallback[kPrefixSize];
  std::snprintf(fallback, sizeof fallback, "%s%s%s", root,
                platform::isPathSeparator(root[rootLength - 1]) ? "" : separator, kDefaultPrefix);
  logprintf(currentLogStream,
            "%s: ERROR [camera] fileprefix %s refused, %s, using the default in the image root "
            "(%s).\n",
            kWho, prefix, prefixRefusalReason(place), fallback);
  std::memcpy(prefix, fallback, std::strlen(fallback) + 1);
}

}  // namespace

bool importIniSettings(const char* path) {
  char sections[256];
  if (platform::iniSectionNames(path, sections, sizeof sections - 1) == 0) {
    const unsigned long error = platform::lastSystemError();
    logprintf(currentLogStream, "%s: ERROR reading file (0x%lX).\n", kWho, error);
    return false;
  }

  ServerSettings& settings = serverSettings;
  settings.serverPort = platform::iniGetInt("server", "port", 2020, path);
  settings.serverMaxUsers = platform::iniGetInt("server", "maxclients", 2, path);
  readText("server", "bindaddress", kDefaultBindAddress, settings.bindAddress,
           sizeof settings.bindAddress, path);
  readText("server", "logfilename", "stdout", settings.logfilename, sizeof settings.logfilename,
           path);
  serverStatus.cameraPreTrigger = platform::iniGetInt("camera", "pretrigger", 0, path) == 1;
  if (!readImageRoot(path, settings.cameraImageRoot)) return false;
  readText("camera", "fileprefix", kDefaultPrefix, serverStatus.cameraFilePrefix,
           sizeof serverStatus.cameraFilePrefix, path);
  keepPrefixInsideRoot(settings.cameraImageRoot, serverStatus.cameraFilePrefix);
  readText("trigger", "serialport", "COM1", settings.triggerPortName,
           sizeof settings.triggerPortName, path);
  settings.triggerBaudRate = platform::iniGetInt("trigger", "baudrate", 1200, path);
  settings.triggerBits =
      static_cast<std::uint16_t>(platform::iniGetInt("trigger", "bits", 8, path));
  readParity("trigger", path, settings.triggerParity);
  settings.triggerStop =
      static_cast<std::uint16_t>(platform::iniGetInt("trigger", "stop", 1, path));
  serverStatus.cameraInterval = platform::iniGetInt("camera", "interval", 1000, path);
  readPairing(path, &settings.cameraPairing);
  readText("laserpower", "serialport", "COM1", settings.laserPortName,
           sizeof settings.laserPortName, path);
  settings.laserBaudRate = platform::iniGetInt("laserpower", "baudrate", 1200, path);
  settings.laserBits =
      static_cast<std::uint16_t>(platform::iniGetInt("laserpower", "bits", 8, path));
  readParity("laserpower", path, settings.laserParity);
  settings.laserStop =
      static_cast<std::uint16_t>(platform::iniGetInt("laserpower", "stop", 1, path));
  return true;
}

void printSettings() {
  const ServerSettings& s = serverSettings;
  std::FILE* log = currentLogStream;
  logprintf(log, "SKERROW SETTINGS\n");
  logprintf(log, "-----------------------------\n");
  logprintf(log, "| serverPort:        %i\n", static_cast<int>(s.serverPort));
  logprintf(log, "| serverMaxUsers:    %i\n", static_cast<int>(s.serverMaxUsers));
  // Shown only when the operator narrowed the listener to one interface.
  if (std::strcmp(s.bindAddress, kDefaultBindAddress) != 0 && s.bindAddress[0] != '\0') {
    logprintf(log, "| bindAddress:       %s\n", s.bindAddress);
  }
  logprintf(log, "| logfilename:\t\t  %s\n", s.logfilename);
  logprintf(log, "| cameraPreTrigger:  %i\n", serverStatus.cameraPreTrigger ? 1 : 0);
  logprintf(log, "| cameraFilePrefix:  %s\n", serverStatus.cameraFilePrefix);
  // Shown only when the operator confined images to one folder.
  if (s.cameraImageRoot[0] != '\0') {
    logprintf(log, "| cameraImageRoot:   %s\n", s.cameraImageRoot);
  }
  logprintf(log, "| cameraInterval:    %i\n", static_cast<int>(serverStatus.cameraInterval));
  // Shown only when the operator chose another pairing than the default.
  if (s.cameraPairing != PairingMode::REPAIR) {
    logprintf(log, "| cameraPairing:     %s\n", pairingModeName(s.cameraPairing));
  }
  logprintf(log, "| triggerPortName:   %s\n", s.triggerPortName);
  logprintf(log, "| triggerBaudRate:   %i\n", static_cast<int>(s.triggerBaudRate));
  logprintf(log, "| triggerBits:       %i\n", static_cast<int>(s.triggerBits));
  logprintf(log, "| triggerParity:     %s\n", s.triggerParity);
  logprintf(log, "| triggerStop:       %i\n", static_cast<int>(s.triggerStop));
  logprintf(log, "-----------------------------\n");
}
