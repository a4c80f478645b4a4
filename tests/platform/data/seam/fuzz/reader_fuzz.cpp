#include "platform/win32/win32_testing.h"
