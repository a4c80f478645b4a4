// Defaults and groups of the device's plain-data state.

#include "platform/d3d9/device_state.h"

#include <cstring>

namespace rh::d3d9 {

DWORD FloatBits(float value) {
    DWORD bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

bool IsRenderState(DWORD state) {
    switch (state) {
        case D3DRS_ZENABLE: case D3DRS_FILLMODE: case D3DRS_SHADEMODE: case D3DRS_ZWRITEENABLE:
        case D3DRS_ALPHATESTENABLE: case D3DRS_LASTPIXEL: case D3DRS_SRCBLEND: case D3DRS_DESTBLEND:
        case D3DRS_CULLMODE: case D3DRS_ZFUNC: case D3DRS_ALPHAREF: case D3DRS_ALPHAFUNC:
        case D3DRS_DITHERENABLE: case D3DRS_ALPHABLENDENABLE: case D3DRS_FOGENABLE:
        case D3DRS_SPECULARENABLE: case D3DRS_FOGCOLOR: case D3DRS_FOGTABLEMODE: case D3DRS_FOGSTART:
        case D3DRS_FOGEND: case D3DRS_FOGDENSITY: case D3DRS_RANGEFOGENABLE: case D3DRS_STENCILENABLE:
        case D3DRS_STENCILFAIL: case D3DRS_STENCILZFAIL: case D3DRS_STENCILPASS: case D3DRS_STENCILFUNC:
        case D3DRS_STENCILREF: case D3DRS_STENCILMASK: case D3DRS_STENCILWRITEMASK:
        case D3DRS_TEXTUREFACTOR: case D3DRS_CLIPPING: case D3DRS_LIGHTING: case D3DRS_AMBIENT:
        case D3DRS_FOGVERTEXMODE: case D3DRS_COLORVERTEX: case D3DRS_LOCALVIEWER:
        case D3DRS_NORMALIZENORMALS: case D3DRS_DIFFUSEMATERIALSOURCE: case D3DRS_SPECULARMATERIALSOURCE:
        case D3DRS_AMBIENTMATERIALSOURCE: case D3DRS_EMISSIVEMATERIALSOURCE: case D3DRS_VERTEXBLEND:
        case D3DRS_CLIPPLANEENABLE: case D3DRS_POINTSIZE: case D3DRS_POINTSIZE_MIN:
        case D3DRS_POINTSPRITEENABLE: case D3DRS_POINTSCALEENABLE: case D3DRS_POINTSCALE_A:
        case D3DRS_POINTSCALE_B: case D3DRS_POINTSCALE_C: case D3DRS_MULTISAMPLEANTIALIAS:
        case D3DRS_MULTISAMPLEMASK: case D3DRS_PATCHEDGESTYLE: case D3DRS_DEBUGMONITORTOKEN:
        case D3DRS_POINTSIZE_MAX: case D3DRS_INDEXEDVERTEXBLENDENABLE: case D3DRS_COLORWRITEENABLE:
        case D3DRS_TWEENFACTOR: case D3DRS_BLENDOP: case D3DRS_POSITIONDEGREE: case D3DRS_NORMALDEGREE:
        case D3DRS_SCISSORTESTENABLE: case D3DRS_SLOPESCALEDEPTHBIAS: case D3DRS_ANTIALIASEDLINEENABLE:
        case D3DRS_MINTESSELLATIONLEVEL: case D3DRS_MAXTESSELLATIONLEVEL: case D3DRS_ADAPTIVETESS_X:
        case D3DRS_ADAPTIVETESS_Y: case D3DRS_ADAPTIVETESS_Z: case D3DRS_ADAPTIVETESS_W:
        case D3DRS_ENABLEADAPTIVETESSELLATION: case D3DRS_TWOSIDEDSTENCILMODE: case D3DRS_CCW_STENCILFAIL:
        case D3DRS_CCW_STENCILZFAIL: case D3DRS_CCW_STENCILPASS: case D3DRS_CCW_STENCILFUNC:
        case D3DRS_COLORWRITEENABLE1: case D3DRS_COLORWRITEENABLE2: case D3DRS_COLORWRITEENABLE3:
        case D3DRS_BLENDFACTOR: case D3DRS_SRGBWRITEENABLE: case D3DRS_DEPTHBIAS:
        case D3DRS_SEPARATEALPHABLENDENABLE: case D3DRS_SRCBLENDALPHA: case D3DRS_DESTBLENDALPHA:
        case D3DRS_BLENDOPALPHA:
            return true;
        default:
            // The sixteen wrap states: WRAP0-7 at 128..135, WRAP8-15 at 198..205.
            return (state >= D3DRS_WRAP0 && state <= D3DRS_WRAP7) ||
                   (state >= D3DRS_WRAP8 && state <= D3DRS_WRAP15);
    }
}

bool IsTransformState(DWORD state) {
    return state == D3DTS_VIEW || state == D3DTS_PROJECTION ||
           (state >= D3DTS_TEXTURE0 && state <= D3DTS_TEXTURE7) ||
           (state >= D3DTS_WORLD && state < kTransformCount);
}

uint32_t DirtyGroupOfRenderState(D3DRENDERSTATETYPE state) {
    switch (state) {
        case D3DRS_ZENABLE: case D3DRS_ZWRITEENABLE: case D3DRS_ZFUNC:
            return kDirtyDepth;
        case D3DRS_STENCILENABLE: case D3DRS_STENCILFAIL: case D3DRS_STENCILZFAIL:
        case D3DRS_STENCILPASS: case D3DRS_STENCILFUNC: case D3DRS_STENCILREF: case D3DRS_STENCILMASK:
        case D3DRS_STENCILWRITEMASK: case D3DRS_TWOSIDEDSTENCILMODE: case D3DRS_CCW_STENCILFAIL:
        case D3DRS_CCW_STENCILZFAIL: case D3DRS_CCW_STENCILPASS: case D3DRS_CCW_STENCILFUNC:
            return kDirtyStencil;
        case D3DRS_SRCBLEND: case D3DRS_DESTBLEND: case D3DRS_ALPHABLENDENABLE: case D3DRS_BLENDOP:
        case D3DRS_BLENDFACTOR: case D3DRS_SEPARATEALPHABLENDENABLE: case D3DRS_SRCBLENDALPHA:
        case D3DRS_DESTBLENDALPHA: case D3DRS_BLENDOPALPHA:
            return kDirtyBlend;
        case D3DRS_ALPHATESTENABLE: case D3DRS_ALPHAREF: case D3DRS_ALPHAFUNC:
            return kDirtyAlphaTest;
        case D3DRS_FILLMODE: case D3DRS_SHADEMODE: case D3DRS_CULLMODE: case D3DRS_COLORWRITEENABLE:
        case D3DRS_SCISSORTESTENABLE: case D3DRS_SLOPESCALEDEPTHBIAS: case D3DRS_DEPTHBIAS:
        case D3DRS_DITHERENABLE:
            return kDirtyRaster;
        case D3DRS_FOGENABLE: case D3DRS_FOGCOLOR: case D3DRS_FOGTABLEMODE: case D3DRS_FOGSTART:
        case D3DRS_FOGEND: case D3DRS_FOGDENSITY: case D3DRS_RANGEFOGENABLE: case D3DRS_FOGVERTEXMODE:
            return kDirtyFog;
        case D3DRS_LIGHTING: case D3DRS_AMBIENT: case D3DRS_SPECULARENABLE: case D3DRS_COLORVERTEX:
        case D3DRS_LOCALVIEWER: case D3DRS_NORMALIZENORMALS: case D3DRS_DIFFUSEMATERIALSOURCE:
        case D3DRS_SPECULARMATERIALSOURCE: case D3DRS_AMBIENTMATERIALSOURCE:
        case D3DRS_EMISSIVEMATERIALSOURCE:
            return kDirtyLighting;
        case D3DRS_POINTSIZE: case D3DRS_POINTSIZE_MIN: case D3DRS_POINTSIZE_MAX:
        case D3DRS_POINTSPRITEENABLE: case D3DRS_POINTSCALEENABLE: case D3DRS_POINTSCALE_A:
        case D3DRS_POINTSCALE_B: case D3DRS_POINTSCALE_C:
            return kDirtyPoints;
        case D3DRS_CLIPPING: case D3DRS_CLIPPLANEENABLE:
            return kDirtyClipPlanes;
        case D3DRS_TEXTUREFACTOR:
            return kDirtyStages;
        default:
            return kDirtyOther;
    }
}

void DeviceState::SetDefaults(bool autoDepthStencil, UINT width, UINT height, float maxPointSize) {
    std::memset(renderStates, 0, sizeof renderStates);
    DWORD* rs = renderStates;
    // Direct3D 9's documented defaults; states not listed default to 0.
    rs[D3DRS_ZENABLE] = autoDepthStencil ? D3DZB_TRUE : D3DZB_FALSE;
    rs[D3DRS_FILLMODE] = D3DFILL_SOLID;
    rs[D3DRS_SHADEMODE] = D3DSHADE_GOURAUD;
    rs[D3DRS_ZWRITEENABLE] = TRUE;
    rs[D3DRS_LASTPIXEL] = TRUE;
    rs[D3DRS_SRCBLEND] = D3DBLEND_ONE;
    rs[D3DRS_DESTBLEND] = D3DBLEND_ZERO;
    rs[D3DRS_CULLMODE] = D3DCULL_CCW;
    rs[D3DRS_ZFUNC] = D3DCMP_LESSEQUAL;
    rs[D3DRS_ALPHAFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_FOGEND] = FloatBits(1.0f);
    rs[D3DRS_FOGDENSITY] = FloatBits(1.0f);
    rs[D3DRS_STENCILFAIL] = D3DSTENCILOP_KEEP;
    rs[D3DRS_STENCILZFAIL] = D3DSTENCILOP_KEEP;
    rs[D3DRS_STENCILPASS] = D3DSTENCILOP_KEEP;
    rs[D3DRS_STENCILFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_STENCILMASK] = 0xFFFFFFFF;
    rs[D3DRS_STENCILWRITEMASK] = 0xFFFFFFFF;
    rs[D3DRS_TEXTUREFACTOR] = 0xFFFFFFFF;
    rs[D3DRS_CLIPPING] = TRUE;
    rs[D3DRS_LIGHTING] = TRUE;
    rs[D3DRS_COLORVERTEX] = TRUE;
    rs[D3DRS_LOCALVIEWER] = TRUE;
    rs[D3DRS_DIFFUSEMATERIALSOURCE] = D3DMCS_COLOR1;
    rs[D3DRS_SPECULARMATERIALSOURCE] = D3DMCS_COLOR2;
    rs[D3DRS_AMBIENTMATERIALSOURCE] = D3DMCS_MATERIAL;
    rs[D3DRS_EMISSIVEMATERIALSOURCE] = D3DMCS_MATERIAL;
    rs[D3DRS_POINTSIZE] = FloatBits(1.0f);
    rs[D3DRS_POINTSIZE_MIN] = FloatBits(1.0f);
    rs[D3DRS_POINTSCALE_A] = FloatBits(1.0f);
    rs[D3DRS_MULTISAMPLEANTIALIAS] = TRUE;
    rs[D3DRS_MULTISAMPLEMASK] = 0xFFFFFFFF;
    // A real device reads back its caps' MaxPointSize here, not the 64.0 the documentation
    // names: the runtime starts the state at the driver's limit.
    rs[D3DRS_POINTSIZE_MAX] = FloatBits(maxPointSize);
    rs[D3DRS_COLORWRITEENABLE] = 0x0000000F;
    rs[D3DRS_BLENDOP] = D3DBLENDOP_ADD;
    rs[D3DRS_POSITIONDEGREE] = 3;  // D3DDEGREE_CUBIC
    rs[D3DRS_NORMALDEGREE] = 1;    // D3DDEGREE_LINEAR
    rs[D3DRS_MINTESSELLATIONLEVEL] = FloatBits(1.0f);
    rs[D3DRS_MAXTESSELLATIONLEVEL] = FloatBits(1.0f);
    rs[D3DRS_ADAPTIVETESS_Z] = FloatBits(1.0f);
    rs[D3DRS_CCW_STENCILFAIL] = D3DSTENCILOP_KEEP;
    rs[D3DRS_CCW_STENCILZFAIL] = D3DSTENCILOP_KEEP;
    rs[D3DRS_CCW_STENCILPASS] = D3DSTENCILOP_KEEP;
    rs[D3DRS_CCW_STENCILFUNC] = D3DCMP_ALWAYS;
    rs[D3DRS_COLORWRITEENABLE1] = 0x0000000F;
    rs[D3DRS_COLORWRITEENABLE2] = 0x0000000F;
    rs[D3DRS_COLORWRITEENABLE3] = 0x0000000F;
    rs[D3DRS_BLENDFACTOR] = 0xFFFFFFFF;
    rs[D3DRS_SRCBLENDALPHA] = D3DBLEND_ONE;
    rs[D3DRS_DESTBLENDALPHA] = D3DBLEND_ZERO;
    rs[D3DRS_BLENDOPALPHA] = D3DBLENDOP_ADD;

    std::memset(samplerStates, 0, sizeof samplerStates);
    for (DWORD* s : samplerStates) {
        s[D3DSAMP_ADDRESSU] = D3DTADDRESS_WRAP;
        s[D3DSAMP_ADDRESSV] = D3DTADDRESS_WRAP;
        s[D3DSAMP_ADDRESSW] = D3DTADDRESS_WRAP;
        s[D3DSAMP_MAGFILTER] = D3DTEXF_POINT;
        s[D3DSAMP_MINFILTER] = D3DTEXF_POINT;
        s[D3DSAMP_MIPFILTER] = D3DTEXF_NONE;
        s[D3DSAMP_MAXANISOTROPY] = 1;
    }

    std::memset(stageStates, 0, sizeof stageStates);
    for (DWORD stage = 0; stage < kStageCount; ++stage) {
        DWORD* t = stageStates[stage];
        // Stage 0 modulates the texture with the diffuse colour and takes the texture's alpha;
        // every later stage starts disabled.
        t[D3DTSS_COLOROP] = stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
        t[D3DTSS_COLORARG1] = D3DTA_TEXTURE;
        t[D3DTSS_COLORARG2] = D3DTA_CURRENT;
        t[D3DTSS_ALPHAOP] = stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
        t[D3DTSS_ALPHAARG1] = D3DTA_TEXTURE;
        t[D3DTSS_ALPHAARG2] = D3DTA_CURRENT;
        t[D3DTSS_TEXCOORDINDEX] = stage;
        t[D3DTSS_TEXTURETRANSFORMFLAGS] = D3DTTFF_DISABLE;
        t[D3DTSS_COLORARG0] = D3DTA_CURRENT;
        t[D3DTSS_ALPHAARG0] = D3DTA_CURRENT;
        t[D3DTSS_RESULTARG] = D3DTA_CURRENT;
    }

    std::memset(transforms, 0, sizeof transforms);
    for (D3DMATRIX& m : transforms) m._11 = m._22 = m._33 = m._44 = 1.0f;

    std::memset(&material, 0, sizeof material);
    viewport = D3DVIEWPORT9{0, 0, width, height, 0.0f, 1.0f};
    scissorRect = RECT{0, 0, static_cast<LONG>(width), static_cast<LONG>(height)};
    dirty = kDirtyAll;
}

}  // namespace rh::d3d9
