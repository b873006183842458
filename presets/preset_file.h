// The per-track preset file: "freecam.ini" in the folder that the loaded
// track's path names under the game directory, one section "Pos<n>" for each
// of the ten presets. The path is composed anew and the file reopened by the
// profile calls at every save and recall, so a track change needs no step of
// its own and a file edited by hand is seen at the next key press.
#pragma once

#include "base/settings.h"
#include "platform/types.h"

// The current track's preset file; valid after zp_track_ini returned 1.
extern char zp_track_ini_path[zp_path_max];

// Game words naming the track's folder: the first part of its path, and the
// second part found through the track number in a table of string pointers.
constexpr u32 ga_track_dir = 0x5bd2e4;     // char *
constexpr u32 ga_track_number = 0x7c4ce4;  // u32
constexpr u32 ga_track_names = 0x5ba21c;   // char *[track number]

// Composes zp_track_ini_path from zp_dir and the two track strings; 0 (buffer
// untouched) when the game holds no usable track path.
int zp_track_ini(void);

// Floats travel as their 32-bit patterns, by address, never by value: on i386
// a float returned by value passes through the x87 stack, whose load quiets a
// signalling NaN, and a preset must come back bit for bit.
//
// *value is the fallback on entry; it is replaced by the float stored under
// key in section, and left alone when the key is missing or empty.
void zp_rd_float(const char *section, const char *key, f32 *value);
void zp_wr_float(const char *section, const char *key, const f32 *value);
void zp_wr_int(const char *section, const char *key, i32 value);
