#include "base/game_memory.h"

constinit u32 game = 0;
