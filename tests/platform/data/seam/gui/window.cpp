// A folder that joins the engine later is checked as soon as it exists.
#include <SDL_events.h>
