// Allowed: a subfolder uses its folder's private header; Windows names; the standard library.
#include "core/files/files_local.h"

#include <windows.h>

#include <cstdio>
