#include "platform/d3d9/d3d9_testing.h"
#include "platform/win32/win32_local.h"

#include <SDL.h>
#include <SDL_opengl.h>
