// Opening and closing module objects, and registering the program's
// procedures with them. Messages go to standard output.
//
// Camera worker thread only. Every routine here waits on the module, and
// event procedures may open or close records during any wait: a routine
// that finds its record closed afterwards stops there.
#pragma once

#include <cstdint>

#include "camera/object_record.h"

// Opens the child id of parent (command 1) into a new record appended to
// parent's children, then reads its capability list and registers its
// procedures; the result of those two does not change the success. On
// failure parent is unchanged: "There is not enough memory" or "Failed in
// Opening an object." (each with an extra line end) when the module
// refused. Look the new record up with findChild afterwards.
bool openChild(ObjectRecord* parent, std::uint32_t id);

// Closes the child id of parent: its children first (depth first), then its
// procedures are removed and the object closed (command 2); parent keeps its
// other children in order and the record is retired. Fails when parent has
// no such child, or when a removal of procedures or a close fails (the
// records closed so far stay closed, the rest stays open and listed). A
// child that an event closed meanwhile counts as closed.
bool closeChild(ObjectRecord* parent, std::uint32_t id);

// Registers ProgressProc when the object lists capability 2 as settable, and
// by object type the event procedure of its level (capability 3) and, on the
// module, UIRequestProc (capability 5), each with the record as reference.
// Succeeds when every registration made succeeded, also when none was
// settable.
bool setProcs(ObjectRecord* record);

// Removes the procedures that setProcs may have registered (capabilities 2,
// 3 and, on the module, 5, each when settable).
bool resetProcs(ObjectRecord* record);

// Closes every source, item and data object depth first, then the module
// object itself, and releases the module record's descriptor, children and
// capabilities; the module record keeps its ID. Succeeds at once when the
// module is not open. On failure the walk stops: what was closed is no
// longer listed, everything else stays open and listed.
bool closeModuleTree(ObjectRecord* moduleRecord);
