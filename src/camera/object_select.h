// Picking the camera, the image item and the data type to work on, and
// acquiring one data object through the data procedure. Messages go to
// standard output. Camera worker thread only.
#pragma once

#include <cstdint>
#include <vector>

#include "camera/object_record.h"

// The camera to open: reads the module's children (capability 7, which the
// record must list as a gettable enumeration). Fails when the list cannot be
// read or its elements are not 32-bit. When several cameras are listed, the
// first listed is taken; when the array read leaves none, success with *id
// untouched.
bool selectSource(ObjectRecord* moduleRecord, std::uint32_t* id);

// The image item to fetch: as selectSource on the camera's children, but an
// empty list is success with *id untouched, and an array read that leaves
// none prints "There is no Item object.\n0. Exit\n>" and succeeds the same
// way. When several items are listed the first listed, the oldest shot, is
// taken, so that images arrive in shot order. IDs in passed are never taken:
// the first listed that is not among them is, and when every listed item
// is, success with *id untouched.
bool selectItem(ObjectRecord* sourceRecord, std::uint32_t* id,
                const std::vector<std::uint32_t>* passed = nullptr);

// The data object to acquire, from the item's data-type mask (capability
// 12): MODULE_DATA_IMAGE whenever the item has image data, else
// MODULE_DATA_THUMBNAIL. Neither: "There is no Data object.\n", failure.
bool selectDataType(ObjectRecord* itemRecord, std::uint32_t* dataType);

// Registers DataProc with a fresh DataProcContext, starts the acquisition
// (capability 20), waits while the module delivers through DataProc, and
// removes DataProc again, unless an event closed the data object meanwhile
// (a closed object gets no command). Succeeds when the start was accepted, the
// acquisition completed and DataProc was removed; whether the data was saved
// is told by DataProc's own record (savedFileRecord), not by this result.
bool acquireData(ObjectRecord* dataRecord);
