// Tying the free camera to a car of the running replay: by position (it keeps
// its offset in the car's frame) and by rotation (it keeps its orientation
// relative to the car's). The motion steps apply the binds every call; these
// are the operations on the tie itself. Each expects car_obj, when it reads
// the car, to be a live car object.
#pragma once

#include "freecam/record.h"

// o = the record's position in the bound car's frame.
void bind_capture_off(freecam_record *rec);
// r = the record's orientation relative to the bound car's basis.
void bind_capture_rel(freecam_record *rec);
// Binds the next (dir +1) or previous (dir -1) occupied car-table entry, points the
// camera object cam at it and takes the binds over from the current pose.
void bind_cycle(freecam_record *rec, u32 cam, i32 dir);
// Puts the camera behind and above the bound car, leaving its orientation.
void teleport(freecam_record *rec);
