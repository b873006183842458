#include "base/log.h"

constinit z9_log_fn logger = nullptr;
