// The OpenGL probe, the SDL displays as adapters and the HAL device's capabilities.

#include "platform/d3d9/d3d9_local.h"
#include "platform/d3d9/gl.h"
#include "platform/win32/sdl_window_local.h"

#include <rimeholt/log.h>

#include <SDL.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace rh::d3d9 {
namespace {

// Direct3D runs on the one probe of the process, which the DirectX diagnostics share.
GlLimits RunProbe() {
    const win32::GlDriverFacts& driver = win32::ProbeGlDriver();
    GlLimits limits;
    if (!driver.hasContext) return limits;
    if (driver.contextMajor < 2 || (driver.contextMajor == 2 && driver.contextMinor < 1)) {
        rh::LogError("Direct3D: no OpenGL 2.1 context (the driver offers %s)", driver.version.c_str());
        return limits;
    }
    limits.vendor = driver.vendor;
    limits.renderer = driver.renderer;
    limits.version = driver.version;
    int glMajor = 0;
    int glMinor = 0;
    // The back buffer is a framebuffer object: GL 3.0 or ARB_framebuffer_object.
    limits.usable = std::sscanf(limits.version.c_str(), "%d.%d", &glMajor, &glMinor) == 2 &&
                    (glMajor > 2 || (glMajor == 2 && glMinor >= 1)) &&
                    (glMajor >= 3 || win32::HasGlExtension(driver.extensions, "GL_ARB_framebuffer_object")) &&
                    LoadGlFunctions();
    limits.maxTextureSize = driver.maxTextureSize;
    limits.max3dTextureSize = driver.max3dTextureSize;
    limits.maxTextureUnits = driver.maxTextureUnits;
    limits.maxLights = driver.maxLights;
    limits.maxClipPlanes = driver.maxClipPlanes;
    limits.maxPointSize = driver.maxPointSize;
    limits.maxAnisotropy = driver.maxAnisotropy;
    limits.halfFloatVertices = glMajor >= 3 || win32::HasGlExtension(driver.extensions, "GL_ARB_half_float_vertex");
    limits.s3tc = win32::HasGlExtension(driver.extensions, "GL_EXT_texture_compression_s3tc");
    limits.textureSwizzle = glMajor > 3 || (glMajor == 3 && glMinor >= 3) ||
                            win32::HasGlExtension(driver.extensions, "GL_ARB_texture_swizzle") ||
                            win32::HasGlExtension(driver.extensions, "GL_EXT_texture_swizzle");
    limits.mirrorClamp = (glMajor == 4 && glMinor >= 4) || glMajor > 4 ||
                         win32::HasGlExtension(driver.extensions, "GL_ARB_texture_mirror_clamp_to_edge") ||
                         win32::HasGlExtension(driver.extensions, "GL_EXT_texture_mirror_clamp") ||
                         win32::HasGlExtension(driver.extensions, "GL_ATI_texture_mirror_once");
    return limits;
}

// SDL reports 0 when the driver does not know the rate; Direct3D always names one.
UINT RefreshOf(const SDL_DisplayMode& mode) { return mode.refresh_rate > 0 ? static_cast<UINT>(mode.refresh_rate) : 60; }

}  // namespace

void SetDeviceGlAttributes() { rh::win32::SetGlPixelFormat(8); }

const GlLimits& ProbeGl() {
    static const GlLimits limits = RunProbe();
    return limits;
}

bool IsAdapterFormat(D3DFORMAT format) { return format == D3DFMT_X8R8G8B8 || format == D3DFMT_R5G6B5; }

std::vector<Adapter> ReadAdapters(const GlLimits& gl) {
    std::vector<Adapter> adapters;
    int displays = SDL_GetNumVideoDisplays();
    for (int display = 0; display < displays; ++display) {
        SDL_DisplayMode desktop;
        if (SDL_GetDesktopDisplayMode(display, &desktop) != 0) continue;
        Adapter adapter;
        adapter.display = display;
        const char* name = SDL_GetDisplayName(display);
        adapter.name = name != nullptr ? name : "";
        adapter.desktop = ModeSize{static_cast<UINT>(desktop.w), static_cast<UINT>(desktop.h), RefreshOf(desktop)};
        adapter.modes.push_back(adapter.desktop);
        for (int i = 0, n = SDL_GetNumDisplayModes(display); i < n; ++i) {
            SDL_DisplayMode mode;
            if (SDL_GetDisplayMode(display, i, &mode) != 0) continue;
            // No display shows a mode without pixels (SDL's offscreen driver lists a 0x0 one).
            if (mode.w <= 0 || mode.h <= 0) continue;
            adapter.modes.push_back(ModeSize{static_cast<UINT>(mode.w), static_cast<UINT>(mode.h), RefreshOf(mode)});
        }
        // SDL may list a size once per pixel format; Direct3D lists each mode once per format.
        std::sort(adapter.modes.begin(), adapter.modes.end());
        adapter.modes.erase(std::unique(adapter.modes.begin(), adapter.modes.end()), adapter.modes.end());
        adapter.halCaps = BuildHalCaps(static_cast<UINT>(adapters.size()), gl);
        adapters.push_back(std::move(adapter));
    }
    return adapters;
}

D3DCAPS9 BuildHalCaps(UINT adapter, const GlLimits& gl) {
    D3DCAPS9 c{};
    c.DeviceType = D3DDEVTYPE_HAL;
    c.AdapterOrdinal = adapter;
    c.Caps2 = D3DCAPS2_FULLSCREENGAMMA | D3DCAPS2_DYNAMICTEXTURES;
    c.Caps3 = D3DCAPS3_ALPHA_FULLSCREEN_FLIP_OR_DISCARD;
    // Swap intervals 0 and 1 are what SDL's swap control offers everywhere.
    c.PresentationIntervals = D3DPRESENT_INTERVAL_IMMEDIATE | D3DPRESENT_INTERVAL_ONE;
    // Transform and lighting run in the generated GLSL programs; there is no pure device,
    // since Get* must answer from stored state.
    // Textures in system memory are never drawn: D3DDEVCAPS_TEXTURESYSTEMMEMORY stays out.
    c.DevCaps = D3DDEVCAPS_HWTRANSFORMANDLIGHT | D3DDEVCAPS_HWRASTERIZATION | D3DDEVCAPS_TEXTUREVIDEOMEMORY;
    c.PrimitiveMiscCaps = D3DPMISCCAPS_MASKZ | D3DPMISCCAPS_CULLNONE | D3DPMISCCAPS_CULLCW | D3DPMISCCAPS_CULLCCW |
                          D3DPMISCCAPS_COLORWRITEENABLE | D3DPMISCCAPS_BLENDOP | D3DPMISCCAPS_SEPARATEALPHABLEND;
    c.RasterCaps = D3DPRASTERCAPS_ZTEST | D3DPRASTERCAPS_FOGVERTEX | D3DPRASTERCAPS_FOGTABLE | D3DPRASTERCAPS_FOGRANGE |
                   D3DPRASTERCAPS_SCISSORTEST | D3DPRASTERCAPS_SLOPESCALEDEPTHBIAS | D3DPRASTERCAPS_DEPTHBIAS;
    if (gl.maxAnisotropy > 1.0f) c.RasterCaps |= D3DPRASTERCAPS_ANISOTROPY;
    c.ZCmpCaps = c.AlphaCmpCaps = (D3DPCMPCAPS_ALWAYS << 1) - D3DPCMPCAPS_NEVER;  // all eight
    c.SrcBlendCaps = c.DestBlendCaps = (D3DPBLENDCAPS_BLENDFACTOR << 1) - D3DPBLENDCAPS_ZERO;
    c.ShadeCaps = D3DPSHADECAPS_COLORGOURAUDRGB | D3DPSHADECAPS_SPECULARGOURAUDRGB | D3DPSHADECAPS_ALPHAGOURAUDBLEND |
                  D3DPSHADECAPS_FOGGOURAUD;
    c.TextureCaps = D3DPTEXTURECAPS_PERSPECTIVE | D3DPTEXTURECAPS_ALPHA | D3DPTEXTURECAPS_PROJECTED |
                    D3DPTEXTURECAPS_CUBEMAP | D3DPTEXTURECAPS_VOLUMEMAP | D3DPTEXTURECAPS_MIPMAP |
                    D3DPTEXTURECAPS_MIPCUBEMAP;
    c.TextureFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR | D3DPTFILTERCAPS_MIPFPOINT |
                          D3DPTFILTERCAPS_MIPFLINEAR | D3DPTFILTERCAPS_MAGFPOINT | D3DPTFILTERCAPS_MAGFLINEAR;
    if (gl.maxAnisotropy > 1.0f) {
        c.TextureFilterCaps |= D3DPTFILTERCAPS_MINFANISOTROPIC | D3DPTFILTERCAPS_MAGFANISOTROPIC;
    }
    c.CubeTextureFilterCaps = c.VolumeTextureFilterCaps = c.TextureFilterCaps;
    c.TextureAddressCaps = c.VolumeTextureAddressCaps = D3DPTADDRESSCAPS_WRAP | D3DPTADDRESSCAPS_MIRROR |
                                                        D3DPTADDRESSCAPS_CLAMP | D3DPTADDRESSCAPS_BORDER |
                                                        D3DPTADDRESSCAPS_INDEPENDENTUV;
    if (gl.mirrorClamp) c.TextureAddressCaps |= D3DPTADDRESSCAPS_MIRRORONCE;
    c.LineCaps = D3DLINECAPS_TEXTURE | D3DLINECAPS_ZTEST | D3DLINECAPS_BLEND | D3DLINECAPS_ALPHACMP | D3DLINECAPS_FOG;
    c.MaxTextureWidth = c.MaxTextureHeight = static_cast<DWORD>(gl.maxTextureSize);
    c.MaxVolumeExtent = static_cast<DWORD>(gl.max3dTextureSize);
    c.MaxTextureRepeat = 8192;
    c.MaxTextureAspectRatio = static_cast<DWORD>(gl.maxTextureSize);
    c.MaxAnisotropy = static_cast<DWORD>(gl.maxAnisotropy);
    c.MaxVertexW = 1e10f;
    c.GuardBandLeft = c.GuardBandTop = -32768.0f;
    c.GuardBandRight = c.GuardBandBottom = 32767.0f;
    c.StencilCaps = ((D3DSTENCILCAPS_DECR << 1) - D3DSTENCILCAPS_KEEP) | D3DSTENCILCAPS_TWOSIDED;
    c.FVFCaps = 8 | D3DFVFCAPS_PSIZE;  // eight texture coordinate sets
    // The generated programs run every arithmetic operation; the bump-mapping ones and
    // PREMODULATE are not offered.
    c.TextureOpCaps = ((D3DTEXOPCAPS_LERP << 1) - 1) & ~(D3DTEXOPCAPS_PREMODULATE | D3DTEXOPCAPS_BUMPENVMAP |
                                                         D3DTEXOPCAPS_BUMPENVMAPLUMINANCE);
    // The cascade of eight stages runs in the programs; the textures they sample need units.
    c.MaxTextureBlendStages = 8;
    c.MaxSimultaneousTextures = static_cast<DWORD>(std::clamp(gl.maxTextureUnits, 1, 8));
    c.VertexProcessingCaps = D3DVTXPCAPS_TEXGEN | D3DVTXPCAPS_MATERIALSOURCE7 | D3DVTXPCAPS_DIRECTIONALLIGHTS |
                             D3DVTXPCAPS_POSITIONALLIGHTS | D3DVTXPCAPS_LOCALVIEWER | D3DVTXPCAPS_TEXGEN_SPHEREMAP;
    // The generated programs light with up to eight lights, whatever GL's own lights are.
    c.MaxActiveLights = 8;
    c.MaxUserClipPlanes = static_cast<DWORD>(gl.maxClipPlanes);
    c.MaxPointSize = gl.maxPointSize;
    c.MaxPrimitiveCount = 0x00FFFFFF;
    c.MaxVertexIndex = 0x00FFFFFF;
    c.MaxStreams = 8;
    c.MaxStreamStride = 255;
    c.VertexShaderVersion = D3DVS_VERSION(2, 0);
    c.MaxVertexShaderConst = 256;
    c.PixelShaderVersion = D3DPS_VERSION(2, 0);
    c.PixelShader1xMaxValue = 8.0f;
    c.MasterAdapterOrdinal = adapter;
    c.AdapterOrdinalInGroup = 0;
    c.NumberOfAdaptersInGroup = 1;
    // Not UDEC3 and DEC3N: GL 2.1 has no type with 10-bit fields.
    c.DeclTypes = D3DDTCAPS_UBYTE4 | D3DDTCAPS_UBYTE4N | D3DDTCAPS_SHORT2N | D3DDTCAPS_SHORT4N | D3DDTCAPS_USHORT2N |
                  D3DDTCAPS_USHORT4N;
    if (gl.halfFloatVertices) c.DeclTypes |= D3DDTCAPS_FLOAT16_2 | D3DDTCAPS_FLOAT16_4;
    c.NumSimultaneousRTs = 1;
    c.StretchRectFilterCaps = D3DPTFILTERCAPS_MINFPOINT | D3DPTFILTERCAPS_MINFLINEAR | D3DPTFILTERCAPS_MAGFPOINT |
                              D3DPTFILTERCAPS_MAGFLINEAR;
    c.VS20Caps.NumTemps = 12;
    c.PS20Caps.NumTemps = 12;
    c.PS20Caps.NumInstructionSlots = 96;
    return c;
}

}  // namespace rh::d3d9
