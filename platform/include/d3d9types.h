// Direct3D 9 value types shared by the device and the D3DX utility library: vectors, matrices
// and colours, with the memory layout of the original structures (files and the render-state
// cache depend on it).
#pragma once

#include "win32/types.h"

// A 3-component vector or point: x, y, z.
typedef struct _D3DVECTOR {
    float x;
    float y;
    float z;
} D3DVECTOR;

// A 4x4 float matrix for row vectors (a point p transforms as p * M): _rc is row r, column c
// (1-based), the same element as m[r-1][c-1]. The translation lives in row 4.
typedef struct _D3DMATRIX {
    union {
        struct {
            float _11, _12, _13, _14;
            float _21, _22, _23, _24;
            float _31, _32, _33, _34;
            float _41, _42, _43, _44;
        };
        float m[4][4];
    };
} D3DMATRIX;

// A floating-point colour in the order r, g, b, a; 1.0 is full intensity.
typedef struct _D3DCOLORVALUE {
    float r;
    float g;
    float b;
    float a;
} D3DCOLORVALUE;

// A packed colour 0xAARRGGBB.
typedef DWORD D3DCOLOR;

static_assert(sizeof(D3DVECTOR) == 12);
static_assert(sizeof(D3DMATRIX) == 64);
static_assert(sizeof(D3DCOLORVALUE) == 16);
static_assert(sizeof(D3DCOLOR) == 4);

// The documented result of a Direct3D or D3DX call with invalid arguments (for example a null
// pointer where one is required).
#ifndef D3DERR_INVALIDCALL
#define D3DERR_INVALIDCALL ((HRESULT)0x8876086CL)
#endif
