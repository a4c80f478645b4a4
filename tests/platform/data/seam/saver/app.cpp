#include "../platform/win32/win32_local.h"
#include <mmsystem.h>
