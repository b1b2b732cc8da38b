// Objects that went away under the program: removed children (an unplugged
// camera, a shot gone from the card) and, in strict mode, the refusal of
// commands on them and on closed objects.
#include <cstdio>

#include "sim_camera.h"

namespace sim {

void SimCamera::markRemoved(const SimObject* parent, std::uint32_t id) {
  std::vector<SimObject*> marked;
  for (auto& [descriptor, object] : objects_)
    if (object->parent == parent && object->id == id && !object->removed)
      marked.push_back(object.get());
  // Breadth first down the tree: the list grows as children are found.
  for (std::size_t i = 0; i < marked.size(); ++i) {
    marked[i]->removed = true;
    for (auto& [descriptor, object] : objects_)
      if (object->parent == marked[i]) marked.push_back(object.get());
  }
}

bool SimCamera::refusedStrictly(ModuleObject* descriptor, const SimObject* target,
                                std::uint32_t command, std::uint32_t dataType) {
  // What the program needs to let go of a removed object stays allowed:
  // processing, the removal of its procedures, and closing it.
  const bool letGo = command == MODULE_CMD_PROCESS || command == MODULE_CMD_CLOSE ||
                     (command == MODULE_CMD_CAP_SET && dataType == MODULE_DATATYPE_NULL);
  if (target != nullptr && (!target->removed || letGo)) return false;
  char name[48];
  const char* shown = "?";
  if (target != nullptr) {
    shown = label(target, name);
  } else if (const auto it = closed_.find(descriptor); it != closed_.end()) {
    shown = it->second.c_str();
  }
  trace_.line("refused %s %u", shown, command);
  std::fprintf(stderr, "Type0001.md3 (stand-in): command %u on a closed object refused.\n",
               command);
  return true;
}

}  // namespace sim
