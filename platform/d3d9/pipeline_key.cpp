// The pipeline key of a draw: what of the state changes the generated program's code. Values
// the program reads as uniforms stay out, and so do arguments an operation does not read, so
// that states that draw the same share a program. Unknown values fall back to Direct3D's
// default for their state and are logged once.

#include "platform/d3d9/d3d9_local.h"
#include "platform/d3d9/textures.h"

#include <rimeholt/log.h>

namespace rh::d3d9 {
namespace {

// Whether the stages run op: every arithmetic operation; bump mapping and PREMODULATE are
// not offered (see TextureOpCaps).
bool OfferedOp(DWORD op) {
    return op >= D3DTOP_DISABLE && op <= D3DTOP_LERP && op != D3DTOP_PREMODULATE && op != D3DTOP_BUMPENVMAP &&
           op != D3DTOP_BUMPENVMAPLUMINANCE;
}

// The operations that only combine colours (they read the first argument's alpha).
bool ColourOnlyOp(DWORD op) {
    return op == D3DTOP_MODULATEALPHA_ADDCOLOR || op == D3DTOP_MODULATECOLOR_ADDALPHA ||
           op == D3DTOP_MODULATEINVALPHA_ADDCOLOR || op == D3DTOP_MODULATEINVCOLOR_ADDALPHA;
}

DWORD ColourOp(DWORD stage, DWORD op) {
    if (OfferedOp(op)) return op;
    RH_LOG_ONCE(LogLevel::Warning, "Direct3D: unknown colour operation %u of a texture stage; its default is used",
                static_cast<unsigned>(op));
    return stage == 0 ? D3DTOP_MODULATE : D3DTOP_DISABLE;
}

DWORD AlphaOp(DWORD stage, DWORD op) {
    if (OfferedOp(op) && !ColourOnlyOp(op)) return op;
    RH_LOG_ONCE(LogLevel::Warning, "Direct3D: unknown alpha operation %u of a texture stage; its default is used",
                static_cast<unsigned>(op));
    return stage == 0 ? D3DTOP_SELECTARG1 : D3DTOP_DISABLE;
}

// An argument: a select the stages know (not CONSTANT: no per-stage constants are offered)
// with COMPLEMENT and ALPHAREPLICATE, else the state's default.
DWORD Arg(DWORD arg, DWORD fallback) {
    DWORD select = arg & D3DTA_SELECTMASK;
    if ((arg & ~(D3DTA_SELECTMASK | D3DTA_COMPLEMENT | D3DTA_ALPHAREPLICATE)) == 0 && select <= D3DTA_TEMP) {
        return arg;
    }
    RH_LOG_ONCE(LogLevel::Warning, "Direct3D: unknown texture stage argument 0x%X; its default is used",
                static_cast<unsigned>(arg));
    return fallback;
}

// Which of ARG0, ARG1, ARG2 an operation reads (bits 0, 1, 2).
unsigned ArgsRead(DWORD op) {
    switch (op) {
        case D3DTOP_DISABLE: return 0;
        case D3DTOP_SELECTARG1: return 2;
        case D3DTOP_SELECTARG2: return 4;
        case D3DTOP_MULTIPLYADD: case D3DTOP_LERP: return 7;
        default: return 6;
    }
}

bool ReadsTexture(DWORD op, const uint8_t* args) {
    if (op == D3DTOP_BLENDTEXTUREALPHA || op == D3DTOP_BLENDTEXTUREALPHAPM) return true;
    unsigned read = ArgsRead(op);
    for (int k = 0; k < 3; ++k) {
        if ((read & (1u << k)) != 0 && (args[k] & D3DTA_SELECTMASK) == D3DTA_TEXTURE) return true;
    }
    return false;
}

uint8_t FogMode(DWORD mode) {
    if (mode <= D3DFOG_LINEAR) return static_cast<uint8_t>(mode);
    RH_LOG_ONCE(LogLevel::Warning, "Direct3D: unknown fog mode %u; no fog", static_cast<unsigned>(mode));
    return D3DFOG_NONE;
}

uint8_t Source(DWORD source, DWORD fallback, bool colorVertex, const PipelineKey& key) {
    if (source > D3DMCS_COLOR2) {
        RH_LOG_ONCE(LogLevel::Warning, "Direct3D: unknown material source %u; its default is used",
                    static_cast<unsigned>(source));
        source = fallback;
    }
    // A vertex colour only with COLORVERTEX and when the vertex has it; else the material.
    if (colorVertex && source == D3DMCS_COLOR1 && key.color0) return kFromColor0;
    if (colorVertex && source == D3DMCS_COLOR2 && key.color1) return kFromColor1;
    return kFromMaterial;
}

}  // namespace

PipelineKey Device::BuildPipelineKey(const DeclarationLayout& layout) const {
    const DWORD* rs = state_.renderStates;
    PipelineKey key;
    key.pretransformed = layout.pretransformed;
    key.color0 = layout.hasColor[0];
    key.color0Bgra = key.color0 && layout.colorBgra[0];
    key.color1 = layout.hasColor[1];
    key.color1Bgra = key.color1 && layout.colorBgra[1];
    uint8_t setSizes[8] = {};
    for (const DeclarationLayout::Attrib& attrib : layout.attribs) {
        if (attrib.location == kAttribNormal) key.normal = 1;
        if (attrib.location >= kAttribTexCoord0 && attrib.location < kAttribTexCoord0 + 8) {
            setSizes[attrib.location - kAttribTexCoord0] = static_cast<uint8_t>(attrib.type.size);
        }
    }
    key.lighting = !key.pretransformed && rs[D3DRS_LIGHTING] != FALSE;
    bool specular = rs[D3DRS_SPECULARENABLE] != FALSE;
    // Unlit, the specular colour is COLOR1: without it there is nothing to add.
    key.specular = specular && (key.lighting || key.color1);
    if (key.lighting) {
        key.normalizeNormals = rs[D3DRS_NORMALIZENORMALS] != FALSE;
        key.lightCount = static_cast<uint8_t>(enabledLights_.size());
        for (size_t i = 0; i < enabledLights_.size(); ++i) {
            key.lightTypes[i] = static_cast<uint8_t>(EnabledLight(i).Type);
        }
        bool colorVertex = rs[D3DRS_COLORVERTEX] != FALSE;
        key.diffuseSource = Source(rs[D3DRS_DIFFUSEMATERIALSOURCE], D3DMCS_COLOR1, colorVertex, key);
        key.ambientSource = Source(rs[D3DRS_AMBIENTMATERIALSOURCE], D3DMCS_MATERIAL, colorVertex, key);
        key.emissiveSource = Source(rs[D3DRS_EMISSIVEMATERIALSOURCE], D3DMCS_MATERIAL, colorVertex, key);
        if (key.specular) key.specularSource = Source(rs[D3DRS_SPECULARMATERIALSOURCE], D3DMCS_COLOR2, colorVertex, key);
    }
    if (rs[D3DRS_FOGENABLE] != FALSE) {
        uint8_t table = FogMode(rs[D3DRS_FOGTABLEMODE]);
        uint8_t vertex = FogMode(rs[D3DRS_FOGVERTEXMODE]);
        if (table != D3DFOG_NONE) {
            key.fog = kFogTable;
            key.fogMode = table;
        } else if (vertex != D3DFOG_NONE && !key.pretransformed) {
            key.fog = kFogVertex;
            key.fogMode = vertex;
            key.rangeFog = rs[D3DRS_RANGEFOGENABLE] != FALSE;
        } else {
            key.fog = kFogSpecular;
        }
    }
    if (rs[D3DRS_ALPHATESTENABLE] != FALSE) {
        DWORD func = rs[D3DRS_ALPHAFUNC];
        if (func < D3DCMP_NEVER || func > D3DCMP_ALWAYS) {
            RH_LOG_ONCE(LogLevel::Warning, "Direct3D: unknown alpha function %u; ALWAYS is used",
                        static_cast<unsigned>(func));
            func = D3DCMP_ALWAYS;
        }
        if (func != D3DCMP_ALWAYS) key.alphaFunc = static_cast<uint8_t>(func);
    }

    bool reflection = false;
    for (DWORD i = 0; i < kStageCount; ++i) {
        const DWORD* t = state_.stageStates[i];
        DWORD colorOp = ColourOp(i, t[D3DTSS_COLOROP]);
        if (colorOp == D3DTOP_DISABLE) break;
        StageKey& stage = key.stages[i];
        key.stageCount = static_cast<uint8_t>(i + 1);
        DWORD alphaOp = AlphaOp(i, t[D3DTSS_ALPHAOP]);
        stage.colorOp = static_cast<uint8_t>(colorOp);
        stage.alphaOp = alphaOp == D3DTOP_DISABLE ? 0 : static_cast<uint8_t>(alphaOp);
        const DWORD colorArgs[3] = {Arg(t[D3DTSS_COLORARG0], D3DTA_CURRENT), Arg(t[D3DTSS_COLORARG1], D3DTA_TEXTURE),
                                    Arg(t[D3DTSS_COLORARG2], D3DTA_CURRENT)};
        const DWORD alphaArgs[3] = {Arg(t[D3DTSS_ALPHAARG0], D3DTA_CURRENT), Arg(t[D3DTSS_ALPHAARG1], D3DTA_TEXTURE),
                                    Arg(t[D3DTSS_ALPHAARG2], D3DTA_CURRENT)};
        unsigned colorRead = ArgsRead(colorOp);
        unsigned alphaRead = ArgsRead(alphaOp);
        for (int k = 0; k < 3; ++k) {
            if (colorRead & (1u << k)) stage.colorArg[k] = static_cast<uint8_t>(colorArgs[k]);
            if (alphaRead & (1u << k)) stage.alphaArg[k] = static_cast<uint8_t>(alphaArgs[k]);
        }
        DWORD result = t[D3DTSS_RESULTARG];
        if (result != D3DTA_CURRENT && result != D3DTA_TEMP) {
            RH_LOG_ONCE(LogLevel::Warning, "Direct3D: unknown result argument 0x%X; CURRENT is used",
                        static_cast<unsigned>(result));
            result = D3DTA_CURRENT;
        }
        stage.resultTemp = result == D3DTA_TEMP;

        bool readsTexture = ReadsTexture(colorOp, stage.colorArg) || ReadsTexture(alphaOp, stage.alphaArg);
        if (!readsTexture) continue;
        TextureStore* store = textureStores_[i];
        if (store == nullptr || store->name() == 0) {
            // A stage that reads a texture none is bound to passes CURRENT on unchanged, as
            // untextured geometry keeps its vertex colours under the default stages.
            stage = StageKey{};
            stage.colorOp = D3DTOP_SELECTARG1;
            stage.colorArg[1] = D3DTA_CURRENT;
            continue;
        }
        stage.texture = store->faceCount() == 6 ? PipelineKey::kTextureCube : PipelineKey::kTexture2d;
        DWORD index = t[D3DTSS_TEXCOORDINDEX];
        DWORD set = index & 0xFFFF;
        DWORD gen = index >> 16;
        if (gen > (D3DTSS_TCI_SPHEREMAP >> 16)) {
            RH_LOG_ONCE(LogLevel::Warning, "Direct3D: unknown texture coordinate generation 0x%X; the set is read",
                        static_cast<unsigned>(index));
            gen = 0;
        }
        // Pre-transformed vertices have no camera space to generate from.
        if (key.pretransformed) gen = 0;
        stage.coordGen = static_cast<uint8_t>(gen);
        if (gen == 0) {
            stage.coordSet = static_cast<uint8_t>(set < 8 ? set : 8);
            stage.coordSize = set < 8 ? setSizes[set] : 0;
            if (stage.coordSize == 0) stage.coordSet = 8;
        }
        reflection |= gen == (D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR >> 16) || gen == (D3DTSS_TCI_SPHEREMAP >> 16);
        DWORD flags = t[D3DTSS_TEXTURETRANSFORMFLAGS];
        DWORD count = flags & 0xFF;
        if (count > D3DTTFF_COUNT4 || (flags & ~(0xFFu | D3DTTFF_PROJECTED)) != 0) {
            RH_LOG_ONCE(LogLevel::Warning, "Direct3D: unknown texture transform flags 0x%X; no transform",
                        static_cast<unsigned>(flags));
            count = 0;
            flags = 0;
        }
        stage.transformCount = static_cast<uint8_t>(count);
        stage.projected = count != 0 && (flags & D3DTTFF_PROJECTED) != 0;
    }
    if (drawingPoints_) {
        key.points = 1;
        key.pointSprite = rs[D3DRS_POINTSPRITEENABLE] != FALSE;
        // Pre-transformed points are already in pixels: their size is never scaled.
        key.pointScale = rs[D3DRS_POINTSCALEENABLE] != FALSE && !key.pretransformed;
        for (const DeclarationLayout::Attrib& attrib : layout.attribs) {
            if (attrib.location == kAttribPointSize) key.pointSizeAttrib = 1;
        }
    }
    // The viewer matters to specular lighting and to reflected coordinates only.
    if ((key.lighting && key.specular) || reflection) key.localViewer = rs[D3DRS_LOCALVIEWER] != FALSE;
    return key;
}

}  // namespace rh::d3d9
