// The camera module's calling forms: its one entry point, the command,
// capability, data-type, event and result codes, and the records that cross
// the boundary. Both the program and the stand-in module build on this file.
//
// Records that hold pointers (ModuleObject, CapEnum, CallbackRecord,
// UIRequestInfo) take the platform's pointer size: the sizes named below are
// those of a 32-bit build and grow with the pointers on a 64-bit one. Records
// without pointers (CapabilityInfo, FileDataInfo, ImageDataInfo) have the
// same layout everywhere; the static_asserts pin every offset.
#pragma once

#include <cstddef>
#include <cstdint>

// A 32-bit module can be loaded only by a 32-bit program and a 64-bit one
// only by a 64-bit program, so each pointer-holding record is pinned below
// for both: the 32-bit numbers are those of the module's form, the 64-bit
// ones the natural layout of the same fields. __LP64__ rather than
// __x86_64__, which x32 also defines.
#if defined(_WIN64) || defined(__LP64__)
#define MODULE_API_64BIT 1
#else
#define MODULE_API_64BIT 0
#endif
static_assert(sizeof(void*) == (MODULE_API_64BIT ? 8 : 4), "module records: unknown pointer size");

// Object types, filled in by the open command.
constexpr std::uint32_t MODULE_OBJECT_MODULE = 1;
constexpr std::uint32_t MODULE_OBJECT_SOURCE = 2;  // a camera
constexpr std::uint32_t MODULE_OBJECT_ITEM = 3;    // an image (a shot)
constexpr std::uint32_t MODULE_OBJECT_DATA = 4;    // image or thumbnail data of an item

// Commands: the second argument of ModuleEntryPoint.
constexpr std::uint32_t MODULE_CMD_PROCESS = 0;        // run pending work and callbacks
constexpr std::uint32_t MODULE_CMD_OPEN = 1;           // open child (module: null object, ID 0)
constexpr std::uint32_t MODULE_CMD_CLOSE = 2;          // close the object
constexpr std::uint32_t MODULE_CMD_CAP_COUNT = 3;      // number of capabilities
constexpr std::uint32_t MODULE_CMD_CAP_LIST = 4;       // parameter = count of CapabilityInfo
constexpr std::uint32_t MODULE_CMD_CAP_START = 5;      // parameter = capability (20 acquire)
constexpr std::uint32_t MODULE_CMD_CAP_SET = 6;        // parameter = capability
constexpr std::uint32_t MODULE_CMD_CAP_GET = 7;        // parameter = capability
constexpr std::uint32_t MODULE_CMD_CAP_GET_ARRAY = 9;  // parameter = capability (7 children)
constexpr std::uint32_t MODULE_CMD_ENUM_CHILDREN = 13;

// Capabilities.
constexpr std::uint32_t MODULE_CAP_PROGRESS_PROC = 2;
constexpr std::uint32_t MODULE_CAP_EVENT_PROC = 3;
constexpr std::uint32_t MODULE_CAP_DATA_PROC = 4;
constexpr std::uint32_t MODULE_CAP_UI_REQUEST_PROC = 5;
constexpr std::uint32_t MODULE_CAP_CHILDREN = 7;     // CapEnum of 32-bit child IDs
constexpr std::uint32_t MODULE_CAP_DATA_TYPES = 12;  // mask of MODULE_DATA_* bits
constexpr std::uint32_t MODULE_CAP_ACQUIRE = 20;
constexpr std::uint32_t kCapabilityModuleMode = 0x8101;  // set to the unsigned value 1

// Capability types (CapabilityInfo::type). Only the enumeration type is
// fixed by the module's form; the others mirror the data type used with them.
constexpr std::uint32_t MODULE_CAPTYPE_PROCESS = 0;    // started with MODULE_CMD_CAP_START
constexpr std::uint32_t MODULE_CAPTYPE_UNSIGNED = 3;   // a 32-bit unsigned value
constexpr std::uint32_t MODULE_CAPTYPE_ENUM = 12;      // a CapEnum
constexpr std::uint32_t MODULE_CAPTYPE_CALLBACK = 13;  // a CallbackRecord

// Operation flags (CapabilityInfo::operations).
constexpr std::uint32_t MODULE_OP_START = 1;
constexpr std::uint32_t MODULE_OP_GET = 2;
constexpr std::uint32_t MODULE_OP_SET = 4;

// Data types: the fourth argument of ModuleEntryPoint, saying what data is.
constexpr std::uint32_t MODULE_DATATYPE_NULL = 0;          // no data
constexpr std::uint32_t MODULE_DATATYPE_UNSIGNED = 3;      // the value itself, in the data argument
constexpr std::uint32_t MODULE_DATATYPE_UNSIGNED_PTR = 6;  // points to a 32-bit unsigned
constexpr std::uint32_t MODULE_DATATYPE_CALLBACK = 13;     // points to a CallbackRecord
constexpr std::uint32_t MODULE_DATATYPE_ENUM = 16;         // points to a CapEnum
constexpr std::uint32_t MODULE_DATATYPE_OBJECT = 17;       // points to a ModuleObject
constexpr std::uint32_t MODULE_DATATYPE_CAP_INFO = 18;     // points to CapabilityInfo[count]

// Bits of the data-type mask (capability 12) and of the delivery records'
// type field; the data object IDs of an item are MODULE_DATA_IMAGE and
// MODULE_DATA_THUMBNAIL.
constexpr std::uint32_t MODULE_DATA_IMAGE = 0x01;
constexpr std::uint32_t MODULE_DATA_THUMBNAIL = 0x08;
constexpr std::uint32_t MODULE_DATA_FILE = 0x10;  // FileDataInfo; without it, ImageDataInfo

// File data types (FileDataInfo::fileDataType).
constexpr std::uint32_t MODULE_FILE_JPEG = 1;
constexpr std::uint32_t MODULE_FILE_TIFF = 2;
constexpr std::uint32_t MODULE_FILE_OTHER = 3;
constexpr std::uint32_t MODULE_FILE_NEF = 4;
constexpr std::uint32_t MODULE_FILE_NDF = 0x101;

// Event codes given to the event procedures. The data is a child ID for
// add and remove, a capability ID for the two capability events.
constexpr std::uint32_t MODULE_EVENT_ADD_CHILD = 0;
constexpr std::uint32_t MODULE_EVENT_REMOVE_CHILD = 1;
constexpr std::uint32_t MODULE_EVENT_WARMING_UP = 2;
constexpr std::uint32_t MODULE_EVENT_WARMED_UP = 3;
constexpr std::uint32_t MODULE_EVENT_CAP_LIST_CHANGED = 4;
constexpr std::uint32_t MODULE_EVENT_ORPHANED_CHILDREN = 5;
constexpr std::uint32_t MODULE_EVENT_CAP_VALUE_CHANGED = 6;

// UI request types and the answers to them.
constexpr std::uint32_t MODULE_UI_OK = 0;
constexpr std::uint32_t MODULE_UI_OK_CANCEL = 1;
constexpr std::uint32_t MODULE_UI_YES_NO = 2;
constexpr std::uint32_t MODULE_UI_YES_NO_CANCEL = 3;
constexpr std::uint32_t MODULE_ANSWER_NONE = 0;
constexpr std::uint32_t MODULE_ANSWER_OK = 1;
constexpr std::uint32_t MODULE_ANSWER_CANCEL = 2;
constexpr std::uint32_t MODULE_ANSWER_YES = 3;
constexpr std::uint32_t MODULE_ANSWER_NO = 4;

// Results. 0 is success; 1 also counts as success for commands 0, 3, 4 and
// 5; everything else is a failure. -124 asks a capability enumeration to
// start over. -117 and -118 are the data procedure's. The remaining failure
// codes are the stand-in module's own.
constexpr std::int32_t MODULE_RESULT_OK = 0;
constexpr std::int32_t MODULE_RESULT_ALSO_OK = 1;
constexpr std::int32_t MODULE_RESULT_CANNOT_SAVE = -117;
constexpr std::int32_t MODULE_RESULT_NO_MEMORY = -118;
constexpr std::int32_t MODULE_RESULT_DELIVERY_FAILED = -119;
constexpr std::int32_t MODULE_RESULT_DEVICE_GONE = -120;
constexpr std::int32_t MODULE_RESULT_REFUSED = -121;
constexpr std::int32_t MODULE_RESULT_CANCELLED = -122;
constexpr std::int32_t MODULE_RESULT_RESTART = -124;
constexpr std::int32_t MODULE_RESULT_INVALID = -126;
constexpr std::int32_t MODULE_RESULT_NOT_SUPPORTED = -127;

// Succeeds for the commands that accept the second success code.
inline bool moduleSucceeded(std::uint32_t command, std::int32_t result) {
  return result == MODULE_RESULT_OK ||
         (result == MODULE_RESULT_ALSO_OK &&
          (command == MODULE_CMD_PROCESS || command == MODULE_CMD_CAP_COUNT ||
           command == MODULE_CMD_CAP_LIST || command == MODULE_CMD_CAP_START));
}

// One open module object. The caller owns it; the open command fills in
// objectType and moduleData, the caller sets refClient.
// 16 bytes with 32-bit pointers.
struct ModuleObject {
  std::uint32_t objectType;  // MODULE_OBJECT_*
  std::uint32_t moduleData;  // filled in by the module
  void* refClient;           // the caller's record of this object
  void* refModule;           // kept by the module
};
static_assert(offsetof(ModuleObject, objectType) == 0, "ModuleObject layout");
static_assert(offsetof(ModuleObject, moduleData) == 4, "ModuleObject layout");
static_assert(offsetof(ModuleObject, refClient) == 8, "ModuleObject layout");
#if MODULE_API_64BIT
static_assert(offsetof(ModuleObject, refModule) == 16, "ModuleObject layout (64-bit)");
static_assert(sizeof(ModuleObject) == 24, "ModuleObject is 24 bytes on 64-bit");
#else
static_assert(offsetof(ModuleObject, refModule) == 12, "ModuleObject layout (32-bit)");
static_assert(sizeof(ModuleObject) == 16, "ModuleObject is 16 bytes on 32-bit");
#endif

// One entry of a capability list (command 4): 272 bytes everywhere.
struct CapabilityInfo {
  std::uint32_t id;
  std::uint32_t type;  // MODULE_CAPTYPE_*
  std::uint32_t visibility;
  std::uint32_t operations;  // MODULE_OP_* bits
  char description[256];     // zero-terminated
};
static_assert(offsetof(CapabilityInfo, id) == 0, "CapabilityInfo layout");
static_assert(offsetof(CapabilityInfo, type) == 4, "CapabilityInfo layout");
static_assert(offsetof(CapabilityInfo, visibility) == 8, "CapabilityInfo layout");
static_assert(offsetof(CapabilityInfo, operations) == 12, "CapabilityInfo layout");
static_assert(offsetof(CapabilityInfo, description) == 16, "CapabilityInfo layout");
static_assert(sizeof(CapabilityInfo) == 272, "CapabilityInfo is 272 bytes");

// An enumeration value (capability 7). The get command fills in every field
// but data; the caller then points data at elementCount x elementSize bytes
// and the array command fills them and lowers elementCount when fewer
// elements are left. Packed: 22 bytes with 32-bit pointers.
#pragma pack(push, 1)
struct CapEnum {
  std::uint32_t valueType;  // the module's tag for the element type
  std::uint32_t elementCount;
  std::uint32_t currentIndex;
  std::uint32_t defaultIndex;
  std::uint16_t elementSize;
  void* data;
};
#pragma pack(pop)
static_assert(offsetof(CapEnum, valueType) == 0, "CapEnum layout");
static_assert(offsetof(CapEnum, elementCount) == 4, "CapEnum layout");
static_assert(offsetof(CapEnum, currentIndex) == 8, "CapEnum layout");
static_assert(offsetof(CapEnum, defaultIndex) == 12, "CapEnum layout");
static_assert(offsetof(CapEnum, elementSize) == 16, "CapEnum layout");
static_assert(offsetof(CapEnum, data) == 18, "CapEnum layout");
#if MODULE_API_64BIT
static_assert(sizeof(CapEnum) == 26, "CapEnum is 26 bytes on 64-bit");
#else
static_assert(sizeof(CapEnum) == 22, "CapEnum is 22 bytes on 32-bit");
#endif

// Any procedure handed to the module travels as this type and is called
// through its own type below. void (*)(void) converts to every other
// procedure type without a cast warning.
using ModuleProc = void (*)(void);

// Data of a set command with MODULE_DATATYPE_CALLBACK. Setting the capability
// with MODULE_DATATYPE_NULL and no data removes the procedure.
struct CallbackRecord {
  ModuleProc procedure;
  void* reference;
};
static_assert(offsetof(CallbackRecord, procedure) == 0, "CallbackRecord layout");
#if MODULE_API_64BIT
static_assert(offsetof(CallbackRecord, reference) == 8, "CallbackRecord layout (64-bit)");
static_assert(sizeof(CallbackRecord) == 16, "CallbackRecord is 16 bytes on 64-bit");
#else
static_assert(offsetof(CallbackRecord, reference) == 4, "CallbackRecord layout (32-bit)");
static_assert(sizeof(CallbackRecord) == 8, "CallbackRecord is 8 bytes on 32-bit");
#endif

// What the module passes to the UI request procedure. Only type, prompt and
// detail are read; prompt and detail may be null.
struct UIRequestInfo {
  std::uint32_t type;  // MODULE_UI_*
  std::uint32_t reserved1;
  std::uint32_t reserved2;
  const char* prompt;
  const char* detail;
};
static_assert(offsetof(UIRequestInfo, type) == 0, "UIRequestInfo layout");
static_assert(offsetof(UIRequestInfo, reserved1) == 4, "UIRequestInfo layout");
static_assert(offsetof(UIRequestInfo, reserved2) == 8, "UIRequestInfo layout");
#if MODULE_API_64BIT
// The pointers align to 8, leaving 4 bytes of padding at 12.
static_assert(offsetof(UIRequestInfo, prompt) == 16, "UIRequestInfo layout (64-bit)");
static_assert(offsetof(UIRequestInfo, detail) == 24, "UIRequestInfo layout (64-bit)");
static_assert(sizeof(UIRequestInfo) == 32, "UIRequestInfo is 32 bytes on 64-bit");
#else
// The texts are the fourth and fifth 32-bit fields.
static_assert(offsetof(UIRequestInfo, prompt) == 12, "UIRequestInfo layout (32-bit)");
static_assert(offsetof(UIRequestInfo, detail) == 16, "UIRequestInfo layout (32-bit)");
static_assert(sizeof(UIRequestInfo) == 20, "UIRequestInfo is 20 bytes on 32-bit");
#endif

// Information that comes with each chunk of file data (type has
// MODULE_DATA_FILE). 28 bytes, little-endian.
struct FileDataInfo {
  std::uint32_t type;          // MODULE_DATA_* bits; MODULE_DATA_IMAGE decides the removal flag
  std::uint32_t fileDataType;  // MODULE_FILE_*: chooses the extension
  std::uint32_t totalLength;   // of the whole file
  std::uint32_t startOffset;   // of this chunk (chunks arrive in order)
  std::uint32_t length;        // of this chunk
  std::uint32_t diskFile;
  std::uint32_t removeObject;  // non-zero: remove the object after delivery
};
static_assert(offsetof(FileDataInfo, type) == 0, "FileDataInfo layout");
static_assert(offsetof(FileDataInfo, fileDataType) == 4, "FileDataInfo layout");
static_assert(offsetof(FileDataInfo, totalLength) == 8, "FileDataInfo layout");
static_assert(offsetof(FileDataInfo, startOffset) == 12, "FileDataInfo layout");
static_assert(offsetof(FileDataInfo, length) == 16, "FileDataInfo layout");
static_assert(offsetof(FileDataInfo, diskFile) == 20, "FileDataInfo layout");
static_assert(offsetof(FileDataInfo, removeObject) == 24, "FileDataInfo layout");
static_assert(sizeof(FileDataInfo) == 28, "FileDataInfo is 28 bytes");

// Information that comes with each chunk of raw image data (type without
// MODULE_DATA_FILE). Packed, because removeObject follows the 16-bit plane
// without padding: 50 bytes.
#pragma pack(push, 1)
struct ImageDataInfo {
  std::uint32_t type;  // MODULE_DATA_* bits: the name stem
  std::uint32_t totalWidth;
  std::uint32_t totalHeight;  // rows; total bytes = totalHeight x rowBytes
  std::uint32_t colorSpace;
  std::uint32_t rectX;
  std::uint32_t rectY;
  std::uint32_t rectWidth;
  std::uint32_t rectHeight;  // rows in this chunk; chunk bytes = rectHeight x rowBytes
  std::uint32_t rowBytes;
  std::uint16_t bitsPerComponent[4];
  std::uint16_t plane;
  std::uint32_t removeObject;
};
#pragma pack(pop)
static_assert(offsetof(ImageDataInfo, type) == 0, "ImageDataInfo layout");
static_assert(offsetof(ImageDataInfo, totalWidth) == 4, "ImageDataInfo layout");
static_assert(offsetof(ImageDataInfo, totalHeight) == 8, "ImageDataInfo layout");
static_assert(offsetof(ImageDataInfo, colorSpace) == 12, "ImageDataInfo layout");
static_assert(offsetof(ImageDataInfo, rectX) == 16, "ImageDataInfo layout");
static_assert(offsetof(ImageDataInfo, rectY) == 20, "ImageDataInfo layout");
static_assert(offsetof(ImageDataInfo, rectWidth) == 24, "ImageDataInfo layout");
static_assert(offsetof(ImageDataInfo, rectHeight) == 28, "ImageDataInfo layout");
static_assert(offsetof(ImageDataInfo, rowBytes) == 32, "ImageDataInfo layout");
static_assert(offsetof(ImageDataInfo, bitsPerComponent) == 36, "ImageDataInfo layout");
static_assert(offsetof(ImageDataInfo, plane) == 44, "ImageDataInfo layout");
static_assert(offsetof(ImageDataInfo, removeObject) == 46, "ImageDataInfo layout");
static_assert(sizeof(ImageDataInfo) == 50, "ImageDataInfo is 50 bytes");

// Procedures the program gives to the module. The module calls them on the
// thread that is inside ModuleEntryPoint.
using CompletionProcType = void (*)(ModuleObject* object, std::uint32_t command,
                                    std::uint32_t parameter, std::uint32_t dataType, void* data,
                                    void* reference, std::int32_t result);
using EventProcType = void (*)(void* reference, std::uint32_t event, std::uint32_t data);
using ProgressProcType = void (*)(std::uint32_t command, std::uint32_t parameter, void* reference,
                                  std::uint32_t done, std::uint32_t total);
using UIRequestProcType = std::uint32_t (*)(void* reference, UIRequestInfo* request);
using DataProcType = std::int32_t (*)(void* reference, void* info, void* data);

// The module's one entry point. Commands 1 and 2 finish on return; every
// other command is completed by a call of completion (with completionRef),
// inside this call or inside a later MODULE_CMD_PROCESS call.
using ModuleEntryPoint = std::int32_t (*)(ModuleObject* object, std::uint32_t command,
                                          std::uint32_t parameter, std::uint32_t dataType,
                                          void* data, CompletionProcType completion,
                                          void* completionRef);

// How a module file exports its entry point: with C linkage, and from a DLL.
// On 32-bit Windows GCC would write an asm-labelled dllexport with the "_"
// label prefix, a name the linker cannot find; there the module's build
// exports it through a module-definition file.
#if defined(_WIN32) && !defined(_WIN64)
#define MODULE_EXPORT extern "C"
#elif defined(_WIN32)
#define MODULE_EXPORT extern "C" __declspec(dllexport)
#else
#define MODULE_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// Gives a declared function the symbol name `name` (a string literal), so
// that the C++ name of an entry point need not be the one a module exports.
// The platform's label prefix ("_" on 32-bit Windows) keeps the exported
// name the plain one.
#define MODULE_LABEL_TEXT_(x) #x
#define MODULE_LABEL_TEXT(x) MODULE_LABEL_TEXT_(x)
#define MODULE_SYMBOL(name) __asm__(MODULE_LABEL_TEXT(__USER_LABEL_PREFIX__) name)
