// Moving a running replay in time: a rewind writes one snapshot slot back
// into the game; a seek chooses the slot, or lets the replay run forward to a
// tick the ring does not hold yet.
#pragma once

#include "platform/types.h"

// Restores the slot of tick (current tick + delta) and leaves the replay
// paused there; logs when the ring does not hold that tick.
void zp_rewind(i32 delta);

// Moves by delta ticks: to the exact slot when the ring holds it, else back
// to the oldest slot, or forward by letting the replay run until the capture
// handler pauses it at the target.
void zp_seek(i32 delta);

// Ends a forward seek once the replay has reached its target: pauses the
// replay at the first tick at or past it. Called at every replay tick,
// whether or not snapshots are being taken.
void zp_seek_arrive();
