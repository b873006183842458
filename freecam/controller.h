// The free-camera controller: z9_zp_freecam_tick (patches/hooks.h) takes over
// every game camera object of type 7, flies it from keyboard and mouse and
// writes its pose back; the replay interface suppression releases it.
#pragma once

#include "freecam/record.h"

// Ends the free camera of rec and gives its camera object back to the game:
// the three held words and the target car return as they were at activation.
// The pose, binds and bound car stay in the record.
void zp_release(freecam_record *rec);

// The record's position and orientation into the camera object, so that the
// game shows them.
void zp_write_pose(const freecam_record &rec, u32 cam);
