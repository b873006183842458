// The free-camera controller: it takes over every game camera object of type
// 7, flies it from keyboard and mouse and writes its pose back, and gives it
// back when the game stops showing it. The camera handler
// z9_zp_freecam_tick (plugin/camera.cpp) runs the two halves of one call, with
// the presets' pending recall between them.
#pragma once

#include "freecam/record.h"

// The first half of a call for camera object cam: null when the free camera
// leaves cam to the game (switched off, not a free camera, or outside replay
// playback with ReplayOnly, which also releases a record driving cam); else
// the record that drives cam, activated for it unless it already was.
freecam_record *zp_freecam_take(u32 cam);

// The second half: mouse and keys, the command keys, the motion, and the pose
// written into cam for the game to show.
void zp_freecam_fly(freecam_record *rec, u32 cam);

// Ends the free camera of rec and gives its camera object back to the game:
// the three held words and the target car return as they were at activation.
// The pose, binds and bound car stay in the record.
void zp_release(freecam_record *rec);

// The record's position and orientation into the camera object, so that the
// game shows them.
void zp_write_pose(const freecam_record &rec, u32 cam);
