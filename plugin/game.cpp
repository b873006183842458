#include "plugin/game.h"

constinit u32 game = 0;
