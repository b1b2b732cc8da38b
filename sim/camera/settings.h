// The stand-in camera's configuration, read from SKERROW_CAM_* environment
// variables when the module object is opened (see README.md).
#pragma once

#include <cstdint>
#include <string>

namespace sim {

struct Settings {
  std::string card;                 // SKERROW_CAM_CARD; empty: no camera
  std::uint32_t chunkSize = 65536;  // SKERROW_CAM_CHUNK
  bool async = false;               // SKERROW_CAM_ASYNC
  std::uint64_t rate = 0;           // SKERROW_CAM_RATE, bytes/s; 0: no limit
  std::uint32_t dataTypes = 9;      // SKERROW_CAM_DATA_TYPES
  bool rawThumbnail = false;        // SKERROW_CAM_RAW_THUMBNAIL
  bool removeFlag = true;           // cleared by SKERROW_CAM_NO_REMOVE_FLAG
  std::uint32_t refuseOpen = 0;     // SKERROW_CAM_REFUSE_OPEN: bit (1 << object type)
  std::uint32_t restartEnum = 0;    // SKERROW_CAM_RESTART_ENUM
  bool unplug = false;              // SKERROW_CAM_UNPLUG_AFTER given
  std::uint64_t unplugAfter = 0;
  std::string unplugFile;  // SKERROW_CAM_UNPLUG_FILE; empty: none
  bool fail = false;       // SKERROW_CAM_FAIL_AFTER given
  std::uint64_t failAfter = 0;
  std::uint32_t failTransfers = 1;  // SKERROW_CAM_FAIL_TRANSFERS
  bool uiRequest = false;           // SKERROW_CAM_UI_REQUEST given
  std::uint32_t uiRequestType = 0;
  std::string trace;    // SKERROW_CAM_TRACE
  bool strict = false;  // SKERROW_CAM_STRICT
};

// Reads every variable. Returns false, with a line on standard error naming
// the variable, when a value cannot be understood.
bool readSettings(Settings* settings);

}  // namespace sim
