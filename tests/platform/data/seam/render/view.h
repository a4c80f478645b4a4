#pragma once

#include "view_local.h"
#include "render/view_local.h"

#include <d3d9.h>
#include <EGL/egl.h>
