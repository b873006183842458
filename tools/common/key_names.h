// Windows virtual-key codes as players know the keys: 188 is the comma key.
#pragma once

#include <string>

#include "platform/types.h"

namespace tools {

// "W", "Space", "comma (,)", "F5", "numpad 4"; "key code 7" for a code with
// no key of its own; "no key" outside 1 to 254, which no key ever sends.
std::string key_name(i32 vk);

}  // namespace tools
