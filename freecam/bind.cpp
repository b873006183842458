#include "freecam/bind.h"

#include "base/game_memory.h"
#include "base/log.h"
#include "base/settings.h"
#include "freecam/orient.h"

void bind_capture_off(freecam_record *rec) {
  f32 c[9], pos[3];
  car_basis(rec->car_obj, c);
  car_position(rec->car_obj, pos);
  f32 p[3];
  rec_pos(*rec, p);
  world_to_car(c, pos, p, rec->o);
}

void bind_capture_rel(freecam_record *rec) {
  f32 c[9];
  car_basis(rec->car_obj, c);
  orient_to_car(rec->m, c, rec->r);
}

void bind_cycle(freecam_record *rec, u32 cam, i32 dir) {
  i32 n = game_car_count();
  if (n < 1 || n > (i32)car_table_entries) return;
  // Empty slots (cars that left the replay) are skipped in the direction of
  // travel; a table with no car at all keeps the binding as it was.
  i32 i = rec->car;
  for (i32 tries = 0; tries < n; ++tries) {
    i += dir;
    if (i < 0)
      i = n - 1;
    else if (i >= n)
      i = 0;
    if (u32 slot = car_entry((u32)i)) {
      rec->car = i;
      rec->car_obj = slot;
      break;
    }
  }
  cam_set_target(cam, rec->car_obj);
  // Recapturing against the new car keeps the camera where it is; from here
  // on it follows the new car instead.
  if (rec->car_obj) {
    if (rec->bind_pos) bind_capture_off(rec);
    if (rec->bind_rot) bind_capture_rel(rec);
  }
  zp_log("zephal: bind car %d (%08X)", rec->car, rec->car_obj);
}

void teleport(freecam_record *rec) {
  f32 c[9], pos[3];
  car_basis(rec->car_obj, c);
  car_position(rec->car_obj, pos);
  if (rec->bind_pos) {
    // The position bind places the camera from this offset later in the
    // same call.
    rec->o[0] = 0.0f;
    rec->o[1] = cfg_tele_height;
    rec->o[2] = -cfg_tele_dist;
    return;
  }
  f32 p[3];
  for (u32 k = 0; k < 3; ++k)
    p[k] = (f32)(((f64)pos[k] - (f64)c[6 + k] * cfg_tele_dist) + (f64)c[3 + k] * cfg_tele_height);
  rec_set_pos(*rec, p);
}
