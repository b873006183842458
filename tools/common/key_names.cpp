#include "tools/common/key_names.h"

namespace tools {
namespace {

struct named {
  i32 vk;
  const char *name;
};

// The keys of a US layout; the punctuation keys (0xBA to 0xDE) carry other
// characters on other layouts, so their character is given as a hint only.
constexpr named names[] = {
    {0x01, "left mouse button"}, {0x02, "right mouse button"}, {0x04, "middle mouse button"},
    {0x05, "mouse button 4"}, {0x06, "mouse button 5"}, {0x08, "Backspace"}, {0x09, "Tab"},
    {0x0D, "Enter"}, {0x10, "Shift"}, {0x11, "Ctrl"}, {0x12, "Alt"}, {0x13, "Pause"},
    {0x14, "Caps Lock"}, {0x1B, "Esc"}, {0x20, "Space"}, {0x21, "Page Up"}, {0x22, "Page Down"},
    {0x23, "End"}, {0x24, "Home"}, {0x25, "Left arrow"}, {0x26, "Up arrow"}, {0x27, "Right arrow"},
    {0x28, "Down arrow"}, {0x2C, "Print Screen"}, {0x2D, "Insert"}, {0x2E, "Delete"},
    {0x6A, "numpad *"}, {0x6B, "numpad +"}, {0x6D, "numpad -"}, {0x6E, "numpad ."}, {0x6F, "numpad /"},
    {0x90, "Num Lock"}, {0x91, "Scroll Lock"}, {0xA0, "left Shift"}, {0xA1, "right Shift"},
    {0xA2, "left Ctrl"}, {0xA3, "right Ctrl"}, {0xA4, "left Alt"}, {0xA5, "right Alt"},
    {0xBA, "semicolon (;)"}, {0xBB, "equals (=)"}, {0xBC, "comma (,)"}, {0xBD, "minus (-)"},
    {0xBE, "full stop (.)"}, {0xBF, "slash (/)"}, {0xC0, "backquote (`)"}, {0xDB, "left bracket ([)"},
    {0xDC, "backslash (\\)"}, {0xDD, "right bracket (])"}, {0xDE, "quote (')"},
};

}  // namespace

std::string key_name(i32 vk) {
  if (vk < 1 || vk > 254) return "no key";
  if ((vk >= 'A' && vk <= 'Z') || (vk >= '0' && vk <= '9')) return std::string(1, (char)vk);
  if (vk >= 0x60 && vk <= 0x69) return "numpad " + std::to_string(vk - 0x60);
  if (vk >= 0x70 && vk <= 0x87) return "F" + std::to_string(vk - 0x70 + 1);
  for (const named &n : names)
    if (n.vk == vk) return n.name;
  return "key code " + std::to_string(vk);
}

}  // namespace tools
