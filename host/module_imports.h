// The functions the host's PE loader binds a DLL's imports to.
#pragma once

#include <string>

namespace host {

// The host's function for an import, by DLL (without regard to case) and
// name; null when the host does not provide it.
void *host_function(const std::string &dll, const std::string &name);

}  // namespace host
