#include "core/files/files_local.h"
#include "core/text/string.h"

#include <SDL.h>
#include <SDL2/SDL_video.h>
#  include <GL/gl.h>
#include <gtk/gtk.h>
#include <glib.h>
#include "platform/d3d9/d3d9_local.h"
#include "platform/include/windows.h"
#include "platform/win32/sdl_window.h"
// #include <SDL.h> in a comment is no include
