#include "settings.h"

#include <charconv>
#include <cstdio>
#include <cstdlib>

#include "camera/module_api.h"

namespace sim {
namespace {

const char* value(const char* name) {
  const char* text = std::getenv(name);
  return text != nullptr && text[0] != '\0' ? text : nullptr;
}

bool bad(const char* name, const char* text) {
  std::fprintf(stderr, "Type0001.md3 (stand-in): cannot use %s='%s'.\n", name, text);
  return false;
}

// An unsigned decimal number within [minimum, maximum]; absent: unchanged.
template <typename T>
bool number(const char* name, T* out, bool* given = nullptr, T minimum = 0,
            T maximum = static_cast<T>(-1)) {
  const char* text = value(name);
  if (text == nullptr) return true;
  const char* end = text;
  while (*end != '\0') ++end;
  T parsed = 0;
  const auto [stop, error] = std::from_chars(text, end, parsed);
  if (error != std::errc() || stop != end || parsed < minimum || parsed > maximum)
    return bad(name, text);
  *out = parsed;
  if (given != nullptr) *given = true;
  return true;
}

bool flag(const char* name, bool* out) {
  std::uint32_t number32 = *out ? 1 : 0;
  if (!number(name, &number32, nullptr, 0u, 1u)) return false;
  *out = number32 != 0;
  return true;
}

bool levels(const char* name, std::uint32_t* out) {
  const char* text = value(name);
  if (text == nullptr) return true;
  const std::string list = text;
  std::size_t start = 0;
  while (start <= list.size()) {
    std::size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    const std::string level = list.substr(start, comma - start);
    if (level == "module")
      *out |= 1u << MODULE_OBJECT_MODULE;
    else if (level == "source")
      *out |= 1u << MODULE_OBJECT_SOURCE;
    else if (level == "item")
      *out |= 1u << MODULE_OBJECT_ITEM;
    else if (level == "data")
      *out |= 1u << MODULE_OBJECT_DATA;
    else
      return bad(name, text);
    start = comma + 1;
  }
  return true;
}

}  // namespace

bool readSettings(Settings* s) {
  if (const char* card = value("SKERROW_CAM_CARD")) s->card = card;
  if (const char* trace = value("SKERROW_CAM_TRACE")) s->trace = trace;
  if (const char* unplug = value("SKERROW_CAM_UNPLUG_FILE")) s->unplugFile = unplug;
  bool keep = false;
  const bool ok = number("SKERROW_CAM_CHUNK", &s->chunkSize, nullptr, 1u, 0x7FFFFFFFu) &&
                  flag("SKERROW_CAM_ASYNC", &s->async) && flag("SKERROW_CAM_STRICT", &s->strict) &&
                  number("SKERROW_CAM_RATE", &s->rate) &&
                  number("SKERROW_CAM_DATA_TYPES", &s->dataTypes, nullptr, 1u, 9u) &&
                  flag("SKERROW_CAM_RAW_THUMBNAIL", &s->rawThumbnail) &&
                  flag("SKERROW_CAM_NO_REMOVE_FLAG", &keep) &&
                  levels("SKERROW_CAM_REFUSE_OPEN", &s->refuseOpen) &&
                  number("SKERROW_CAM_RESTART_ENUM", &s->restartEnum) &&
                  number("SKERROW_CAM_UNPLUG_AFTER", &s->unplugAfter, &s->unplug) &&
                  number("SKERROW_CAM_FAIL_AFTER", &s->failAfter, &s->fail) &&
                  number("SKERROW_CAM_FAIL_TRANSFERS", &s->failTransfers) &&
                  number("SKERROW_CAM_UI_REQUEST", &s->uiRequestType, &s->uiRequest);
  if (!ok) return false;
  if ((s->dataTypes & ~9u) != 0)
    return bad("SKERROW_CAM_DATA_TYPES", value("SKERROW_CAM_DATA_TYPES"));
  s->removeFlag = !keep;
  return true;
}

}  // namespace sim
