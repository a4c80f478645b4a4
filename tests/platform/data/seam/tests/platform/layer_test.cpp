// The layer's own tests may see its private headers.
#include "platform/win32/win32_local.h"
