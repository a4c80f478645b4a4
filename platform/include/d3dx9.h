// The D3DX 9 utility library: our own implementation of the parts the engine calls.
#pragma once

#include "d3dx9effect.h"
#include "d3dx9math.h"
#include "d3dx9mesh.h"
#include "d3dx9tex.h"
