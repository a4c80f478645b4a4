// The device's GLSL services for the effect framework: a layer-private interface that D3DX
// reaches by QueryInterface on a device of ours, so that the D3DX library needs no link to
// the Direct3D one (which already links D3DX). Header only, no GL types.
#pragma once

#include <d3d9.h>

#include <cstdint>
#include <string>

namespace rh::d3d9 {

// {6F1C2A90-3B7E-4E55-8A0D-92C41B7E5D21}
inline constexpr IID IID_IRhGlslDevice = {0x6F1C2A90, 0x3B7E, 0x4E55, {0x8A, 0x0D, 0x92, 0xC4, 0x1B, 0x7E, 0x5D, 0x21}};

// One uniform value for SetGlslUniforms.
struct GlslUniform {
    enum Kind : uint32_t { kFloat = 0, kInt = 1, kMatrix = 2 };
    int location = -1;
    Kind kind = kFloat;
    uint32_t count = 1;  // floats of a float/vec (1..4) or ints (1); 16 for a matrix
    const float* floats = nullptr;
    int integer = 0;
};

// AddRef and Release count on the device.
struct IRhGlslDevice : public IUnknown {
    // The statement that turns gl_Position from Direct3D's clip space into GL's, with the
    // half-pixel shift from the vec4 uniform pixelUniform: the same fix-up the generated
    // programs make.
    virtual std::string ClipFixup(const char* pixelUniform) = 0;
    // Compiles one stage's GLSL. D3D_OK and a shader with one reference, or E_FAIL with the
    // driver's log appended to *log (and *shader null).
    virtual HRESULT CreateGlslVertexShader(const std::string& text, IDirect3DVertexShader9** shader, std::string* log) = 0;
    virtual HRESULT CreateGlslPixelShader(const std::string& text, IDirect3DPixelShader9** shader, std::string* log) = 0;
    // Links the pair (once: the device caches programs per pair), binding the attributes of
    // the usage names (POSITION0, NORMAL0, TEXCOORD0 ...) to the draws' fixed locations.
    // D3D_OK, or E_FAIL with the driver's log appended to *log.
    virtual HRESULT LinkGlslProgram(IDirect3DVertexShader9* vertex, IDirect3DPixelShader9* pixel, std::string* log) = 0;
    // The location of a uniform of the pair's linked program; -1 when it has none.
    virtual int GlslUniformLocation(IDirect3DVertexShader9* vertex, IDirect3DPixelShader9* pixel, const char* name) = 0;
    // Uploads values into the pair's linked program now; a value the program already holds
    // from an earlier call may be skipped.
    virtual HRESULT SetGlslUniforms(IDirect3DVertexShader9* vertex, IDirect3DPixelShader9* pixel,
                                    const GlslUniform* values, UINT count) = 0;
    // True while the device's GL cache is bypassed (every call goes through, to rule out a
    // caching fault): callers that skip values a program already holds then send them all.
    virtual bool SendsEverything() = 0;
    // A count that moves on whenever the device's bound textures, sampler states or bound
    // shaders change (by any Set call that changes one, or a reset). Whoever set them and finds
    // the count where it left it knows they still hold its values.
    virtual uint64_t BindingsSerial() = 0;
};

}  // namespace rh::d3d9
