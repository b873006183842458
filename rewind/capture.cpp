// Placeholder until the rewind subsystem lands.
#include "patches/hooks.h"

void z9_zp_capture() {}
void z9_zp_frame() {}
