// Placeholder until the game's routines land: the code part stays empty.
#include "host/game.h"

namespace host {
void game_lay_code() {}
}  // namespace host
