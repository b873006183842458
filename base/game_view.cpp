#include "base/game_view.h"

constinit u32 game = 0;
