#include "platform/com/com_local.h"
#include <SDL_opengl.h>
