// The layer itself is not checked.
#include <SDL.h>
#include "platform/d3d9/d3d9_local.h"
