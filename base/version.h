// The plug-in's version, in one place: the manifest carries it to the loader,
// and the players' tools and the release package are named after it.
#pragma once

#define ZEPHAL_VERSION "0.7.4"
