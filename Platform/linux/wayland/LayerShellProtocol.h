#pragma once

// wlr-layer-shell's generated glue, for C++: its get_layer_surface names a parameter
// `namespace`, a keyword here.

#include <wayland-client.h>

#define namespace layer_namespace
#include "wayland-protocols/wlr-layer-shell-unstable-v1-client-protocol.h"
#undef namespace
