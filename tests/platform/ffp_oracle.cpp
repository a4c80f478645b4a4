// The published fixed-function formulas, written out plainly.

#include "tests/platform/ffp_oracle.h"

#include <algorithm>
#include <cmath>

namespace ffp_oracle {
namespace {

double Clamp01(double v) { return std::clamp(v, 0.0, 1.0); }

Colour Clamped(const Colour& c) { return {Clamp01(c.r), Clamp01(c.g), Clamp01(c.b), Clamp01(c.a)}; }

double Dot(const Vec3& a, const Vec3& b) { return a.x * b.x + a.y * b.y + a.z * b.z; }

Vec3 Normalised(const Vec3& v) {
    double length = std::sqrt(Dot(v, v));
    if (length == 0.0) return v;
    return {v.x / length, v.y / length, v.z / length};
}

Vec3 Sub(const Vec3& a, const Vec3& b) { return {a.x - b.x, a.y - b.y, a.z - b.z}; }

Vec3 Vec(const D3DVECTOR& v) { return {v.x, v.y, v.z}; }

}  // namespace

Colour FromArgb(DWORD argb) {
    return {((argb >> 16) & 0xFF) / 255.0, ((argb >> 8) & 0xFF) / 255.0, (argb & 0xFF) / 255.0, (argb >> 24) / 255.0};
}

Colour FromValue(const D3DCOLORVALUE& c) { return {c.r, c.g, c.b, c.a}; }

DWORD ToRgb(const Colour& c) {
    auto byte = [](double v) { return static_cast<DWORD>(std::lround(Clamp01(v) * 255.0)); };
    return (byte(c.r) << 16) | (byte(c.g) << 8) | byte(c.b);
}

int ToAlpha8(double a) { return static_cast<int>(std::lround(Clamp01(a) * 255.0)); }

double Attenuation(const D3DLIGHT9& light, double d) {
    if (light.Type == D3DLIGHT_DIRECTIONAL) return 1.0;
    if (d > light.Range) return 0.0;
    return 1.0 / (light.Attenuation0 + light.Attenuation1 * d + light.Attenuation2 * d * d);
}

LitColours LightVertex(const LightingInput& in) {
    Vec3 n = in.normalizeNormals ? Normalised(in.normal) : in.normal;
    double ambient[3] = {in.globalAmbient.r, in.globalAmbient.g, in.globalAmbient.b};
    double diffuse[3] = {0, 0, 0};
    double specular[3] = {0, 0, 0};
    for (const D3DLIGHT9& light : in.lights) {
        Vec3 toLight;
        double scale = 1.0;
        if (light.Type == D3DLIGHT_DIRECTIONAL) {
            Vec3 dir = Normalised(Vec(light.Direction));
            toLight = {-dir.x, -dir.y, -dir.z};
        } else {
            Vec3 offset = Sub(Vec(light.Position), in.position);
            double d = std::sqrt(Dot(offset, offset));
            toLight = Normalised(offset);
            scale = Attenuation(light, d);
            if (light.Type == D3DLIGHT_SPOT && scale > 0.0) {
                Vec3 dir = Normalised(Vec(light.Direction));
                double rho = -Dot(dir, toLight);
                double inner = std::cos(light.Theta / 2.0);
                double outer = std::cos(light.Phi / 2.0);
                double spot;
                if (rho > inner) {
                    spot = 1.0;
                } else if (rho <= outer) {
                    spot = 0.0;
                } else {
                    spot = std::pow((rho - outer) / (inner - outer), light.Falloff);
                }
                scale *= spot;
            }
        }
        ambient[0] += scale * light.Ambient.r;
        ambient[1] += scale * light.Ambient.g;
        ambient[2] += scale * light.Ambient.b;
        double nl = Dot(n, toLight);
        if (nl <= 0.0) continue;
        diffuse[0] += scale * nl * light.Diffuse.r;
        diffuse[1] += scale * nl * light.Diffuse.g;
        diffuse[2] += scale * nl * light.Diffuse.b;
        if (!in.specularEnable) continue;
        Vec3 viewer = in.localViewer ? Normalised(Vec3{-in.position.x, -in.position.y, -in.position.z}) : Vec3{0, 0, -1};
        Vec3 h = Vec3{viewer.x + toLight.x, viewer.y + toLight.y, viewer.z + toLight.z};
        if (Dot(h, h) == 0.0) continue;
        double nh = Dot(n, Normalised(h));
        if (nh <= 0.0) continue;
        double p = std::pow(nh, in.power);
        specular[0] += scale * p * light.Specular.r;
        specular[1] += scale * p * light.Specular.g;
        specular[2] += scale * p * light.Specular.b;
    }
    LitColours out;
    out.diffuse = Clamped({in.emissive.r + in.ambient.r * ambient[0] + in.diffuse.r * diffuse[0],
                           in.emissive.g + in.ambient.g * ambient[1] + in.diffuse.g * diffuse[1],
                           in.emissive.b + in.ambient.b * ambient[2] + in.diffuse.b * diffuse[2], in.diffuse.a});
    if (in.specularEnable) {
        out.specular = Clamped({in.specular.r * specular[0], in.specular.g * specular[1], in.specular.b * specular[2],
                                in.specular.a});
    }
    return out;
}

double FogFactor(DWORD mode, double start, double end, double density, double d) {
    switch (mode) {
        case D3DFOG_LINEAR: return Clamp01((end - d) / (end - start));
        case D3DFOG_EXP: return Clamp01(std::exp(-d * density));
        case D3DFOG_EXP2: return Clamp01(std::exp(-(d * density) * (d * density)));
        default: return 1.0;
    }
}

Colour ApplyFog(const Colour& c, double f, const Colour& fog) {
    return {f * c.r + (1 - f) * fog.r, f * c.g + (1 - f) * fog.g, f * c.b + (1 - f) * fog.b, c.a};
}

namespace {

struct Context {
    Colour diffuse, specular, factor, current, temp, texture;
};

Colour Select(DWORD arg, const Context& c) {
    Colour v;
    switch (arg & D3DTA_SELECTMASK) {
        case D3DTA_DIFFUSE: v = c.diffuse; break;
        case D3DTA_CURRENT: v = c.current; break;
        case D3DTA_TEXTURE: v = c.texture; break;
        case D3DTA_TFACTOR: v = c.factor; break;
        case D3DTA_SPECULAR: v = c.specular; break;
        default: v = c.temp; break;
    }
    if (arg & D3DTA_COMPLEMENT) v = {1 - v.r, 1 - v.g, 1 - v.b, 1 - v.a};
    if (arg & D3DTA_ALPHAREPLICATE) v = {v.a, v.a, v.a, v.a};
    return v;
}

// One channel of an operation on its arguments' channel values.
double Op(DWORD op, double a0, double a1, double a2, const Context& c) {
    switch (op) {
        case D3DTOP_SELECTARG1: return a1;
        case D3DTOP_SELECTARG2: return a2;
        case D3DTOP_MODULATE: return a1 * a2;
        case D3DTOP_MODULATE2X: return 2 * a1 * a2;
        case D3DTOP_MODULATE4X: return 4 * a1 * a2;
        case D3DTOP_ADD: return a1 + a2;
        case D3DTOP_ADDSIGNED: return a1 + a2 - 0.5;
        case D3DTOP_ADDSIGNED2X: return 2 * (a1 + a2 - 0.5);
        case D3DTOP_SUBTRACT: return a1 - a2;
        case D3DTOP_ADDSMOOTH: return a1 + a2 - a1 * a2;
        case D3DTOP_BLENDDIFFUSEALPHA: return a1 * c.diffuse.a + a2 * (1 - c.diffuse.a);
        case D3DTOP_BLENDTEXTUREALPHA: return a1 * c.texture.a + a2 * (1 - c.texture.a);
        case D3DTOP_BLENDFACTORALPHA: return a1 * c.factor.a + a2 * (1 - c.factor.a);
        case D3DTOP_BLENDCURRENTALPHA: return a1 * c.current.a + a2 * (1 - c.current.a);
        case D3DTOP_BLENDTEXTUREALPHAPM: return a1 + a2 * (1 - c.texture.a);
        case D3DTOP_MULTIPLYADD: return a0 + a1 * a2;
        case D3DTOP_LERP: return a0 * a1 + (1 - a0) * a2;
        default: return a1;
    }
}

}  // namespace

Colour Cascade(const std::vector<Stage>& stages, const Colour& diffuse, const Colour& specular, const Colour& factor) {
    Context c;
    c.diffuse = diffuse;
    c.specular = specular;
    c.factor = factor;
    c.current = diffuse;
    for (const Stage& s : stages) {
        if (s.colorOp == D3DTOP_DISABLE) break;
        c.texture = s.texture;
        Colour x0 = Select(s.colorArg0, c), x1 = Select(s.colorArg1, c), x2 = Select(s.colorArg2, c);
        Colour out;
        if (s.colorOp == D3DTOP_DOTPRODUCT3) {
            double dp = Clamp01(4 * ((x1.r - 0.5) * (x2.r - 0.5) + (x1.g - 0.5) * (x2.g - 0.5) + (x1.b - 0.5) * (x2.b - 0.5)));
            out = {dp, dp, dp, dp};
        } else {
            out.r = Op(s.colorOp, x0.r, x1.r, x2.r, c);
            out.g = Op(s.colorOp, x0.g, x1.g, x2.g, c);
            out.b = Op(s.colorOp, x0.b, x1.b, x2.b, c);
            if (s.alphaOp == D3DTOP_DISABLE) {
                out.a = c.current.a;
            } else if (s.alphaOp == D3DTOP_DOTPRODUCT3) {
                // The alphas replicated into three channels, then the dot product.
                double y1 = Select(s.alphaArg1, c).a, y2 = Select(s.alphaArg2, c).a;
                out.a = 3 * (2 * y1 - 1) * (2 * y2 - 1);
            } else {
                double y0 = Select(s.alphaArg0, c).a, y1 = Select(s.alphaArg1, c).a, y2 = Select(s.alphaArg2, c).a;
                out.a = Op(s.alphaOp, y0, y1, y2, c);
            }
        }
        out = Clamped(out);
        if (s.resultArg == D3DTA_TEMP) {
            c.temp = out;
        } else {
            c.current = out;
        }
    }
    return c.current;
}

}  // namespace ffp_oracle
