// The Windows API subset the engine calls, declared for our own Linux layer.
#pragma once

#include "win32/types.h"
#include "win32/kernel32.h"
#include "win32/user32.h"
#include "win32/shell32.h"
#include "win32/version.h"
#include "win32/advapi32.h"
