// The stand-in camera module: a real object tree (module, one camera, one
// item per shot, image and thumbnail data per item), capability lists with
// operation flags, events announced while it processes, chunked delivery
// through the data procedure, and completion inside the call or on a later
// processing call.
//
// Calls come from one thread at a time. The program's procedures are called
// on that thread, inside ModuleEntryPoint, and may call ModuleEntryPoint again.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <string>
#include <memory>
#include <vector>

#include "camera/module_api.h"
#include "card.h"
#include "settings.h"
#include "trace.h"

namespace sim {

constexpr std::uint32_t SOURCE_ID = 1;

struct SimObject {
  std::uint32_t type = 0;  // MODULE_OBJECT_*
  std::uint32_t id = 0;    // module 0; source SOURCE_ID; item: shot ID; data: data type
  ModuleObject* descriptor = nullptr;
  SimObject* parent = nullptr;
  CallbackRecord progress = {};
  CallbackRecord event = {};
  CallbackRecord data = {};
  CallbackRecord uiRequest = {};
  // Its removal (or an ancestor's) was announced: the camera was unplugged,
  // or the shot left the card.
  bool removed = false;
};

struct TransferState;

class SimCamera {
 public:
  // Opens the module object into descriptor. Returns nullptr and sets
  // *result when the settings are unusable or the open is refused.
  static std::unique_ptr<SimCamera> open(ModuleObject* descriptor, std::int32_t* result);
  ~SimCamera();

  std::int32_t call(ModuleObject* object, std::uint32_t command, std::uint32_t parameter,
                    std::uint32_t dataType, void* data, CompletionProcType completion,
                    void* completionRef);

  // True once the module object was closed; the entry point then drops it.
  bool finished() const { return finished_; }
  bool idle() const { return depth_ == 0; }
  Trace& trace() { return trace_; }

 private:
  // Pending work of a command: step() runs one piece and returns true when
  // the command is done, with its result in *result.
  struct Job {
    ModuleObject* object;
    std::uint32_t command, parameter, dataType;
    void* data;
    CompletionProcType completion;
    void* completionRef;
    std::function<bool(std::int32_t* result)> step;
  };

  SimCamera() = default;

  std::int32_t dispatch(SimObject* object, ModuleObject* descriptor, std::uint32_t command,
                        std::uint32_t parameter, std::uint32_t dataType, void* data,
                        std::function<bool(std::int32_t*)>* work);
  void runJob(Job job);
  void complete(const Job& job, std::int32_t result);
  void process();
  void cancelAll();

  std::int32_t openChild(SimObject* parent, std::uint32_t id, std::uint32_t dataType, void* data);
  std::int32_t closeObject(SimObject* object);
  std::int32_t setCapability(SimObject* object, std::uint32_t cap, std::uint32_t dataType,
                             void* data);
  std::int32_t getCapability(SimObject* object, std::uint32_t cap, std::uint32_t dataType,
                             void* data);
  std::int32_t getChildrenArray(SimObject* object, std::uint32_t dataType, void* data);
  std::function<bool(std::int32_t*)> enumerateChildren(SimObject* object);
  std::int32_t startAcquire(SimObject* object, std::function<bool(std::int32_t*)>* work);
  // One step of a delivery: true when it is over, with its result.
  bool deliver(TransferState* state, std::int32_t* result);
  std::uint32_t askUser();

  std::vector<CapabilityInfo> capabilities(const SimObject* object) const;
  const CapabilityInfo* findCapability(const SimObject* object, std::uint32_t cap,
                                       std::vector<CapabilityInfo>* list) const;
  std::vector<std::uint32_t> childIds(SimObject* object);

  // The card and the camera's presence, read again; with announce, the
  // changes go out as add-child and remove-child events.
  void scan(bool announce);
  void fireEvent(SimObject* object, std::uint32_t event, std::uint32_t data);
  bool cameraGone(const SimObject* object) const;
  // Marks the child of parent with this ID, and everything below it, as
  // removed.
  void markRemoved(const SimObject* parent, std::uint32_t id);
  // Strict mode: whether the command on target (nullptr: not open) is
  // refused; when it is, says so on standard error and in the trace.
  bool refusedStrictly(ModuleObject* descriptor, const SimObject* target, std::uint32_t command,
                       std::uint32_t dataType);
  SimObject* find(ModuleObject* descriptor);
  SimObject* findChild(const SimObject* parent, std::uint32_t id);
  SimObject* moduleObject();
  const char* label(const SimObject* object, char (&buffer)[48]) const;

  Settings settings_;
  Trace trace_;
  Card card_;
  std::map<ModuleObject*, std::unique_ptr<SimObject>> objects_;
  // Trace labels of the descriptors closed, until one is opened again.
  // Strict mode only, the latest kClosedKept.
  static constexpr std::size_t kClosedKept = 1024;
  std::map<ModuleObject*, std::string> closed_;
  std::deque<ModuleObject*> closedOrder_;
  std::deque<Job> jobs_;
  int depth_ = 0;
  bool finished_ = false;
  bool attached_ = false;           // the camera as the last scan saw it
  bool announcedAttached_ = false;  // the camera as the program was told
  bool unplugged_ = false;          // injected: gone until the module is opened again
  bool unplugDone_ = false;
  std::uint32_t restartsLeft_ = 0;
  std::uint32_t failuresLeft_ = 0;
  std::uint32_t moduleMode_ = 0;
};

}  // namespace sim
