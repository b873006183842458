// What every players' tool does at its start and end on Windows: started by
// a double click (or a file dropped on it), a console program gets a window
// of its own that closes the moment it ends, before anyone could read it.
#pragma once

namespace tools {

// On Windows, when the tool is the only program in its console window,
// waits for Enter before the window closes. Elsewhere does nothing.
void keep_window_open();

}  // namespace tools
