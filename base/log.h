// The plug-in's one way of writing to the loader's log.
#pragma once

#include "z9sdk/z9.h"

// The loader's log function as the entry stored it; null when the loader gave
// none. Handlers test it before every message.
extern z9_log_fn logger;

#define zp_log(...)                  \
  do {                               \
    if (logger) logger(__VA_ARGS__); \
  } while (0)
