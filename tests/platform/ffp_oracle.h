// A software model of Direct3D 9's fixed-function formulas in double precision, for the
// conformance tests of the generated programs: per-vertex lighting, fog, and the texture
// stage cascade. It knows nothing of the layer; the tests compare what the device draws over
// large flat areas with what it predicts.
#pragma once

#include <d3d9.h>

#include <vector>

namespace ffp_oracle {

struct Colour {
    double r = 0, g = 0, b = 0, a = 0;
};
struct Vec3 {
    double x = 0, y = 0, z = 0;
};

Colour FromArgb(DWORD argb);
Colour FromValue(const D3DCOLORVALUE& c);
// The 8-bit 0x00RRGGBB a colour becomes in the frame buffer (clamped, rounded).
DWORD ToRgb(const Colour& c);
// The 8-bit alpha.
int ToAlpha8(double a);

// One vertex's lighting inputs, all in camera space.
struct LightingInput {
    Vec3 position;
    Vec3 normal;
    bool normalizeNormals = false;
    // The material colours after their sources were chosen.
    Colour diffuse, ambient, specular, emissive;
    double power = 0;
    Colour globalAmbient;
    std::vector<D3DLIGHT9> lights;  // positions and directions in camera space
    bool specularEnable = false;
    bool localViewer = true;
};
struct LitColours {
    Colour diffuse;   // clamped, alpha from the diffuse colour
    Colour specular;  // clamped; zero unless specularEnable
};
LitColours LightVertex(const LightingInput& in);

// Direct3D's attenuation of a point or spot light at distance d (0 beyond the range).
double Attenuation(const D3DLIGHT9& light, double d);

// The fog factor for mode (D3DFOG_*) at distance d; 1 for NONE.
double FogFactor(DWORD mode, double start, double end, double density, double d);
// f * c + (1 - f) * fog, alpha kept.
Colour ApplyFog(const Colour& c, double f, const Colour& fog);

// One texture stage as its states give it; the texture is a uniform colour.
struct Stage {
    DWORD colorOp = D3DTOP_DISABLE;
    DWORD colorArg0 = D3DTA_CURRENT, colorArg1 = D3DTA_TEXTURE, colorArg2 = D3DTA_CURRENT;
    DWORD alphaOp = D3DTOP_DISABLE;
    DWORD alphaArg0 = D3DTA_CURRENT, alphaArg1 = D3DTA_TEXTURE, alphaArg2 = D3DTA_CURRENT;
    DWORD resultArg = D3DTA_CURRENT;
    Colour texture;
};
// The colour out of the cascade for the interpolated diffuse and specular colours and the
// texture factor. A disabled colour operation ends it; a disabled alpha operation keeps the
// current alpha; every stage's result is clamped.
Colour Cascade(const std::vector<Stage>& stages, const Colour& diffuse, const Colour& specular, const Colour& factor);

}  // namespace ffp_oracle
