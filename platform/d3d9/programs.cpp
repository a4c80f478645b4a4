// Generated programs: their sources, compilation and cache.

#include "platform/d3d9/programs.h"

#include "platform/d3d9/clip_space.h"
#include "platform/d3d9/gl.h"
#include "platform/d3d9/gl_state.h"
#include "platform/d3d9/vertex_input.h"

#include <rimeholt/log.h>

#include <cstring>
#include <vector>

namespace rh::d3d9 {

bool PipelineKey::operator==(const PipelineKey& other) const { return std::memcmp(this, &other, sizeof *this) == 0; }

size_t PipelineKey::Hash() const {
    const auto* bytes = reinterpret_cast<const unsigned char*>(this);
    uint64_t h = 0xCBF29CE484222325ull;
    for (size_t i = 0; i < sizeof *this; ++i) {
        h ^= bytes[i];
        h *= 0x100000001B3ull;
    }
    return static_cast<size_t>(h);
}

namespace {

std::string Str(int i) { return std::to_string(i); }

// A vertex colour read from its attribute, or the value Direct3D gives a missing one.
std::string ColourInput(bool present, bool bgra, const char* attribute, const char* missing) {
    if (!present) return missing;
    // D3DCOLOR's bytes are B, G, R, A; GL read them into x, y, z, w in that order.
    return bgra ? std::string(attribute) + ".zyxw" : std::string(attribute);
}

bool Lit(const PipelineKey& key) { return key.lighting != 0 && key.pretransformed == 0; }

bool NeedsNormal(const PipelineKey& key) {
    if (key.pretransformed) return false;
    if (Lit(key)) return true;
    for (int i = 0; i < key.stageCount; ++i) {
        const StageKey& s = key.stages[i];
        if (s.texture != PipelineKey::kNoTexture && s.coordGen != 0 && s.coordGen != (D3DTSS_TCI_CAMERASPACEPOSITION >> 16)) {
            return true;
        }
    }
    return false;
}

bool NeedsCameraPosition(const PipelineKey& key) {
    if (key.pretransformed) return false;
    if (Lit(key) || key.fog == kFogVertex || key.fog == kFogTable || key.pointScale) return true;
    for (int i = 0; i < key.stageCount; ++i) {
        if (key.stages[i].texture != PipelineKey::kNoTexture && key.stages[i].coordGen != 0) return true;
    }
    return false;
}

std::string SourceColour(uint8_t source, const char* material) {
    switch (source) {
        case kFromColor0: return "colour0";
        case kFromColor1: return "colour1";
        default: return material;
    }
}

// The lighting of one light i of type, adding to ambient, diffuse and specular. The light's
// uniforms: diffuse, specular, ambient, (position, range), (direction towards the light for
// directional lights, else the light's own direction; falloff), (a0, a1, a2, 0),
// (cos(theta / 2), cos(phi / 2), 0, 0), all in camera space.
std::string LightCode(const PipelineKey& key, int i, uint8_t type) {
    auto at = [&](int k) { return "uLights[" + Str(i * 7 + k) + "]"; };
    std::string s = "    {\n";
    if (type == D3DLIGHT_DIRECTIONAL) {
        s += "        vec3 L = " + at(4) + ".xyz;\n";
        s += "        float scale = 1.0;\n";
    } else {
        s += "        vec3 toLight = " + at(3) + ".xyz - P;\n";
        s += "        float d = length(toLight);\n";
        s += "        vec3 L = d > 0.0 ? toLight / d : vec3(0.0);\n";
        s += "        vec3 att = " + at(5) + ".xyz;\n";
        // Nothing beyond the range; a zero sum of the factors gives the largest finite value.
        s += "        float scale = d <= " + at(3) + ".w ? 1.0 / max(att.x + att.y * d + att.z * d * d, 1e-30) : 0.0;\n";
        if (type == D3DLIGHT_SPOT) {
            s += "        float rho = dot(-" + at(4) + ".xyz, L);\n";
            s += "        vec2 cone = " + at(6) + ".xy;\n";
            s += "        float spot = rho > cone.x ? 1.0 : (rho <= cone.y ? 0.0 : "
                 "pow(max((rho - cone.y) / (cone.x - cone.y), 0.0), " + at(4) + ".w));\n";
            s += "        scale *= spot;\n";
        }
    }
    s += "        ambient += scale * " + at(2) + ".rgb;\n";
    s += "        float nl = dot(N, L);\n";
    s += "        if (nl > 0.0) {\n";
    s += "            diffuse += scale * nl * " + at(0) + ".rgb;\n";
    if (key.specular) {
        s += "            vec3 H = V + L;\n";
        s += "            float nh = dot(H, H) > 0.0 ? dot(N, normalize(H)) : 0.0;\n";
        s += "            if (nh > 0.0) specular += scale * pow(nh, uMaterial[4].x) * " + at(1) + ".rgb;\n";
    }
    s += "        }\n";
    s += "    }\n";
    return s;
}

// The coordinates of stage i before its transform, as Direct3D's transform reads them: a
// set's missing elements become (., 1, 0, 0) after the last one given.
std::string StageCoordinates(const StageKey& s, bool pretransformed) {
    int gen = s.coordGen;
    if (gen == 0 || pretransformed) {
        if (s.coordSet >= 8 || s.coordSize == 0) return "vec4(0.0, 0.0, 0.0, 1.0)";
        std::string a = "aTexCoord" + Str(s.coordSet);
        switch (s.coordSize) {
            case 1: return "vec4(" + a + ".x, 1.0, 0.0, 0.0)";
            case 2: return "vec4(" + a + ".xy, 1.0, 0.0)";
            case 3: return "vec4(" + a + ".xyz, 1.0)";
            default: return a;
        }
    }
    switch (gen << 16) {
        case D3DTSS_TCI_CAMERASPACENORMAL: return "vec4(N, 1.0)";
        case D3DTSS_TCI_CAMERASPACEPOSITION: return "vec4(P, 1.0)";
        case D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR: return "vec4(R, 1.0)";
        default: {  // D3DTSS_TCI_SPHEREMAP
            return "vec4(R.xy / (2.0 * sqrt(max(R.x * R.x + R.y * R.y + (R.z + 1.0) * (R.z + 1.0), 1e-30))) + 0.5, 1.0, 0.0)";
        }
    }
}

bool NeedsReflection(const PipelineKey& key) {
    for (int i = 0; i < key.stageCount; ++i) {
        const StageKey& s = key.stages[i];
        if (s.texture != PipelineKey::kNoTexture &&
            (s.coordGen == (D3DTSS_TCI_CAMERASPACEREFLECTIONVECTOR >> 16) || s.coordGen == (D3DTSS_TCI_SPHEREMAP >> 16))) {
            return true;
        }
    }
    return false;
}

// The fog factor of a distance d for the key's mode, with uFog = (end, 1 / (end - start),
// density, 0); clamped to 0..1.
std::string FogFactor(uint8_t mode, const std::string& d) {
    switch (mode) {
        case D3DFOG_LINEAR: return "clamp((uFog.x - " + d + ") * uFog.y, 0.0, 1.0)";
        case D3DFOG_EXP: return "clamp(exp(-(" + d + ") * uFog.z), 0.0, 1.0)";
        case D3DFOG_EXP2: return "clamp(exp(-((" + d + ") * uFog.z) * ((" + d + ") * uFog.z)), 0.0, 1.0)";
        default: return "1.0";
    }
}

}  // namespace

std::string VertexProgramSource(const PipelineKey& key) {
    std::string s = "#version 120\n";
    bool lit = Lit(key);
    bool camera = NeedsCameraPosition(key);
    bool normal = NeedsNormal(key);
    s += "attribute vec4 aPosition;\n";
    if (normal && key.normal) s += "attribute vec3 aNormal;\n";
    if (key.color0) s += "attribute vec4 aColor0;\n";
    if (key.color1) s += "attribute vec4 aColor1;\n";
    if (key.points && key.pointSizeAttrib) s += "attribute float aPointSize;\n";
    uint32_t sets = 0;
    for (int i = 0; i < key.stageCount; ++i) {
        const StageKey& st = key.stages[i];
        if (st.texture != PipelineKey::kNoTexture && (st.coordGen == 0 || key.pretransformed) && st.coordSet < 8 &&
            st.coordSize != 0) {
            sets |= 1u << st.coordSet;
        }
    }
    for (int set = 0; set < 8; ++set) {
        if (sets & (1u << set)) s += "attribute vec4 aTexCoord" + Str(set) + ";\n";
    }
    s += "uniform vec4 uPixel;\n";
    if (!key.pretransformed) s += "uniform mat4 uWorldViewProjection;\n";
    if (camera) s += "uniform mat4 uWorldView;\n";
    if (normal) s += "uniform mat3 uNormalMatrix;\n";
    if (lit) {
        s += "uniform vec4 uMaterial[5];\n";  // diffuse, ambient, specular, emissive, (power)
        s += "uniform vec4 uAmbientLight;\n";
        if (key.lightCount > 0) s += "uniform vec4 uLights[" + Str(key.lightCount * 7) + "];\n";
    }
    if (key.fog == kFogVertex) s += "uniform vec4 uFog;\n";
    if (key.points) s += "uniform vec4 uPoint;\n";
    if (key.pointScale) s += "uniform vec3 uPointScale;\n";
    for (int i = 0; i < key.stageCount; ++i) {
        if (key.stages[i].texture != PipelineKey::kNoTexture && key.stages[i].transformCount != 0) {
            s += "uniform mat4 uTextureMatrix" + Str(i) + ";\n";
        }
    }
    s += "void main() {\n";
    s += "    vec4 colour0 = " + ColourInput(key.color0, key.color0Bgra, "aColor0", "vec4(1.0)") + ";\n";
    s += "    vec4 colour1 = " + ColourInput(key.color1, key.color1Bgra, "aColor1", "vec4(0.0)") + ";\n";
    if (key.pretransformed) {
        // Render-target pixels to normalised coordinates, z as the depth, w = 1 / rhw; the
        // half-pixel shift is in uPixel's offsets.
        s += "    float w = 1.0 / aPosition.w;\n";
        s += "    vec3 ndc = vec3(aPosition.xy * uPixel.xy + uPixel.zw, 2.0 * aPosition.z - 1.0);\n";
        s += "    gl_Position = vec4(ndc * w, w);\n";
    } else {
        s += "    vec4 p = uWorldViewProjection * aPosition;\n";
        s += "    " + ClipFixupStatement("p", "uPixel") + "\n";
    }
    if (camera) s += "    vec3 P = (uWorldView * aPosition).xyz;\n";
    if (normal) {
        s += "    vec3 N = uNormalMatrix * " + std::string(key.normal ? "aNormal" : "vec3(0.0)") + ";\n";
        // Without NORMALIZENORMALS the transformed normal keeps its length.
        if (key.normalizeNormals || NeedsReflection(key)) {
            s += "    vec3 unitN = dot(N, N) > 0.0 ? normalize(N) : N;\n";
            if (key.normalizeNormals) s += "    N = unitN;\n";
        }
    }
    if (NeedsReflection(key)) {
        // The vector to the eye, reflected about the normal.
        s += "    vec3 E = " + std::string(key.localViewer ? "dot(P, P) > 0.0 ? -normalize(P) : vec3(0.0, 0.0, -1.0)"
                                                          : "vec3(0.0, 0.0, -1.0)") + ";\n";
        s += "    vec3 R = 2.0 * dot(E, unitN) * unitN - E;\n";
    }
    if (lit) {
        s += "    vec4 mDiffuse = " + SourceColour(key.diffuseSource, "uMaterial[0]") + ";\n";
        s += "    vec4 mAmbient = " + SourceColour(key.ambientSource, "uMaterial[1]") + ";\n";
        s += "    vec4 mEmissive = " + SourceColour(key.emissiveSource, "uMaterial[3]") + ";\n";
        s += "    vec3 ambient = uAmbientLight.rgb;\n";
        s += "    vec3 diffuse = vec3(0.0);\n";
        if (key.specular) {
            s += "    vec4 mSpecular = " + SourceColour(key.specularSource, "uMaterial[2]") + ";\n";
            s += "    vec3 specular = vec3(0.0);\n";
            // The halfway vector's viewer: towards the camera, or for a distant viewer along
            // -z, the way back along the camera's view direction.
            s += "    vec3 V = " + std::string(key.localViewer ? "dot(P, P) > 0.0 ? -normalize(P) : vec3(0.0)"
                                                              : "vec3(0.0, 0.0, -1.0)") + ";\n";
        }
        for (int i = 0; i < key.lightCount; ++i) s += LightCode(key, i, key.lightTypes[i]);
        s += "    gl_FrontColor = clamp(vec4(mEmissive.rgb + mAmbient.rgb * ambient + mDiffuse.rgb * diffuse, mDiffuse.a), "
             "0.0, 1.0);\n";
        if (key.specular) {
            s += "    gl_FrontSecondaryColor = clamp(vec4(mSpecular.rgb * specular, mSpecular.a), 0.0, 1.0);\n";
        } else {
            s += "    gl_FrontSecondaryColor = vec4(0.0, 0.0, 0.0, colour1.a);\n";
        }
    } else {
        s += "    gl_FrontColor = colour0;\n";
        s += "    gl_FrontSecondaryColor = colour1;\n";
    }
    switch (key.fog) {
        case kFogVertex: {
            std::string d = key.rangeFog ? "length(P)" : "P.z";
            s += "    gl_FogFragCoord = " + FogFactor(key.fogMode, d) + ";\n";
            break;
        }
        case kFogTable:
            // The distance per pixel: camera-space z, or w of a pre-transformed vertex.
            s += key.pretransformed ? "    gl_FogFragCoord = w;\n" : "    gl_FogFragCoord = P.z;\n";
            break;
        case kFogSpecular: s += "    gl_FogFragCoord = clamp(colour1.a, 0.0, 1.0);\n"; break;
        default: break;
    }
    for (int i = 0; i < key.stageCount; ++i) {
        const StageKey& st = key.stages[i];
        if (st.texture == PipelineKey::kNoTexture) continue;
        std::string c = StageCoordinates(st, key.pretransformed != 0);
        if (st.transformCount != 0) c = "(uTextureMatrix" + Str(i) + " * " + c + ")";
        s += "    gl_TexCoord[" + Str(i) + "] = " + c + ";\n";
    }
    if (key.points) {
        // Direct3D's point size: the vertex's PSIZE or POINTSIZE; with scaling, times the
        // viewport height and sqrt(1 / (A + B d + C d^2)) for the eye distance d (not GL's
        // |z|), then clamped to the smallest and largest size.
        s += std::string("    float size = ") + (key.pointSizeAttrib ? "aPointSize" : "uPoint.x") + ";\n";
        if (key.pointScale) {
            s += "    float de = length(P);\n";
            s += "    size *= uPoint.w * inversesqrt(max(uPointScale.x + uPointScale.y * de + uPointScale.z * de * de, "
                 "1e-30));\n";
        }
        s += "    gl_PointSize = clamp(size, uPoint.y, uPoint.z);\n";
    }
    // The built-in colour varyings follow glShadeModel, as D3DRS_SHADEMODE wants.
    s += "}\n";
    return s;
}

namespace {

// An argument's value as a vec4 (colour) or float (alpha).
std::string Argument(uint8_t arg, int stage, bool alpha) {
    std::string v;
    switch (arg & D3DTA_SELECTMASK) {
        case D3DTA_DIFFUSE: v = "diffuse"; break;
        case D3DTA_CURRENT: v = "current"; break;
        case D3DTA_TEXTURE: v = "t" + Str(stage); break;
        case D3DTA_TFACTOR: v = "uTextureFactor"; break;
        case D3DTA_SPECULAR: v = "specular"; break;
        default: v = "temp"; break;  // D3DTA_TEMP
    }
    if (alpha || (arg & D3DTA_ALPHAREPLICATE) != 0) {
        v += ".a";
        if (!alpha) v = "vec3(" + v + ")";
    } else {
        v += ".rgb";
    }
    if (arg & D3DTA_COMPLEMENT) v = "(1.0 - " + v + ")";
    return v;
}

// One operation on the arguments a0, a1, a2 of one channel group (rgb: vec3, a: float).
std::string Operation(uint8_t op, const std::string& a0, const std::string& a1, const std::string& a2, int stage,
                      bool alpha) {
    std::string t = "t" + Str(stage) + ".a";
    switch (op) {
        case D3DTOP_SELECTARG1: return a1;
        case D3DTOP_SELECTARG2: return a2;
        case D3DTOP_MODULATE: return a1 + " * " + a2;
        case D3DTOP_MODULATE2X: return "2.0 * " + a1 + " * " + a2;
        case D3DTOP_MODULATE4X: return "4.0 * " + a1 + " * " + a2;
        case D3DTOP_ADD: return a1 + " + " + a2;
        case D3DTOP_ADDSIGNED: return a1 + " + " + a2 + " - 0.5";
        case D3DTOP_ADDSIGNED2X: return "2.0 * (" + a1 + " + " + a2 + " - 0.5)";
        case D3DTOP_SUBTRACT: return a1 + " - " + a2;
        case D3DTOP_ADDSMOOTH: return a1 + " + " + a2 + " - " + a1 + " * " + a2;
        case D3DTOP_BLENDDIFFUSEALPHA: return "mix(" + a2 + ", " + a1 + ", diffuse.a)";
        case D3DTOP_BLENDTEXTUREALPHA: return "mix(" + a2 + ", " + a1 + ", " + t + ")";
        case D3DTOP_BLENDFACTORALPHA: return "mix(" + a2 + ", " + a1 + ", uTextureFactor.a)";
        case D3DTOP_BLENDCURRENTALPHA: return "mix(" + a2 + ", " + a1 + ", current.a)";
        case D3DTOP_BLENDTEXTUREALPHAPM: return a1 + " + " + a2 + " * (1.0 - " + t + ")";
        case D3DTOP_MULTIPLYADD: return a0 + " + " + a1 + " * " + a2;
        case D3DTOP_LERP: return "mix(" + a2 + ", " + a1 + ", " + a0 + ")";
        default: break;
    }
    (void)alpha;
    return a1;
}

// The colour-only operations that read the first argument's alpha, on raw argument values.
std::string ColourWithAlpha(uint8_t op, uint8_t arg1, uint8_t arg2, int stage) {
    std::string c1 = Argument(arg1, stage, false);
    std::string a1 = Argument(arg1, stage, true);
    std::string c2 = Argument(arg2, stage, false);
    switch (op) {
        case D3DTOP_MODULATEALPHA_ADDCOLOR: return c1 + " + " + a1 + " * " + c2;
        case D3DTOP_MODULATECOLOR_ADDALPHA: return c1 + " * " + c2 + " + " + a1;
        case D3DTOP_MODULATEINVALPHA_ADDCOLOR: return "(1.0 - " + a1 + ") * " + c2 + " + " + c1;
        default: return "(1.0 - " + c1 + ") * " + c2 + " + " + a1;  // MODULATEINVCOLOR_ADDALPHA
    }
}

const char* CompareCode(uint8_t func) {
    switch (func) {
        case D3DCMP_NEVER: return "false";
        case D3DCMP_LESS: return "a8 < uAlphaRef";
        case D3DCMP_EQUAL: return "a8 == uAlphaRef";
        case D3DCMP_LESSEQUAL: return "a8 <= uAlphaRef";
        case D3DCMP_GREATER: return "a8 > uAlphaRef";
        case D3DCMP_NOTEQUAL: return "a8 != uAlphaRef";
        case D3DCMP_GREATEREQUAL: return "a8 >= uAlphaRef";
        default: return "true";
    }
}

}  // namespace

std::string FragmentProgramSource(const PipelineKey& key) {
    std::string s = "#version 120\n";
    bool factor = false;
    for (int i = 0; i < key.stageCount; ++i) {
        const StageKey& st = key.stages[i];
        if (st.texture != PipelineKey::kNoTexture) {
            s += std::string(st.texture == PipelineKey::kTextureCube ? "uniform samplerCube" : "uniform sampler2D") +
                 " uTexture" + Str(i) + ";\n";
        }
        for (int k = 0; k < 3; ++k) {
            factor |= (st.colorArg[k] & D3DTA_SELECTMASK) == D3DTA_TFACTOR && st.colorOp != 0;
            factor |= (st.alphaArg[k] & D3DTA_SELECTMASK) == D3DTA_TFACTOR && st.alphaOp != 0;
        }
        factor |= st.colorOp == D3DTOP_BLENDFACTORALPHA || st.alphaOp == D3DTOP_BLENDFACTORALPHA;
    }
    if (factor) s += "uniform vec4 uTextureFactor;\n";
    if (key.fog == kFogTable) s += "uniform vec4 uFog;\n";
    if (key.fog != kFogOff) s += "uniform vec4 uFogColor;\n";
    if (key.alphaFunc != 0) s += "uniform float uAlphaRef;\n";
    s += "void main() {\n";
    s += "    vec4 diffuse = gl_Color;\n";
    s += "    vec4 specular = gl_SecondaryColor;\n";
    s += "    vec4 current = diffuse;\n";
    s += "    vec4 temp = vec4(0.0);\n";
    for (int i = 0; i < key.stageCount; ++i) {
        const StageKey& st = key.stages[i];
        if (st.colorOp == 0) break;
        s += "    {\n";
        if (st.texture != PipelineKey::kNoTexture) {
            std::string tc = "gl_TexCoord[" + Str(i) + "]";
            // A sprite shows the whole texture on every stage, (0, 0) at its top-left: GL's
            // default origin, the upper left of the window, is the render target's top.
            if (key.pointSprite) tc = "vec4(gl_PointCoord, 0.0, 1.0)";
            if (!key.pointSprite && st.projected && st.transformCount >= 2) {
                const char* last = st.transformCount == 2 ? "y" : st.transformCount == 3 ? "z" : "w";
                tc = "(" + tc + " / " + tc + "." + last + ")";
            }
            if (st.texture == PipelineKey::kTextureCube) {
                s += "        vec4 t" + Str(i) + " = textureCube(uTexture" + Str(i) + ", " + tc + ".xyz);\n";
            } else {
                s += "        vec4 t" + Str(i) + " = texture2D(uTexture" + Str(i) + ", " + tc + ".xy);\n";
            }
        }
        std::string rgb;
        switch (st.colorOp) {
            case D3DTOP_MODULATEALPHA_ADDCOLOR: case D3DTOP_MODULATECOLOR_ADDALPHA:
            case D3DTOP_MODULATEINVALPHA_ADDCOLOR: case D3DTOP_MODULATEINVCOLOR_ADDALPHA:
                rgb = ColourWithAlpha(st.colorOp, st.colorArg[1], st.colorArg[2], i);
                break;
            case D3DTOP_DOTPRODUCT3: break;
            default:
                rgb = Operation(st.colorOp, Argument(st.colorArg[0], i, false), Argument(st.colorArg[1], i, false),
                                Argument(st.colorArg[2], i, false), i, false);
                break;
        }
        std::string a;
        if (st.alphaOp == 0) {
            a = "current.a";
        } else if (st.alphaOp == D3DTOP_DOTPRODUCT3) {
            // The alpha operation's own arguments decide the dot product of the alpha.
            a = "dot(2.0 * vec3(" + Argument(st.alphaArg[1], i, true) + ") - 1.0, 2.0 * vec3(" +
                Argument(st.alphaArg[2], i, true) + ") - 1.0)";
        } else {
            a = Operation(st.alphaOp, Argument(st.alphaArg[0], i, true), Argument(st.alphaArg[1], i, true),
                          Argument(st.alphaArg[2], i, true), i, true);
        }
        std::string result = st.resultTemp ? "temp" : "current";
        if (st.colorOp == D3DTOP_DOTPRODUCT3) {
            // The dot product goes to every channel, alpha included.
            s += "        float dp = clamp(dot(2.0 * " + Argument(st.colorArg[1], i, false) + " - 1.0, 2.0 * " +
                 Argument(st.colorArg[2], i, false) + " - 1.0), 0.0, 1.0);\n";
            s += "        " + result + " = vec4(dp);\n";
        } else {
            s += "        " + result + " = clamp(vec4(" + rgb + ", " + a + "), 0.0, 1.0);\n";
        }
        s += "    }\n";
    }
    s += "    vec4 c = current;\n";
    // The specular colour is added after the stages.
    if (key.specular) s += "    c.rgb = clamp(c.rgb + specular.rgb, 0.0, 1.0);\n";
    if (key.fog == kFogTable) {
        s += "    float f = " + FogFactor(key.fogMode, "gl_FogFragCoord") + ";\n";
    } else if (key.fog != kFogOff) {
        s += "    float f = clamp(gl_FogFragCoord, 0.0, 1.0);\n";
    }
    if (key.fog != kFogOff) s += "    c.rgb = mix(uFogColor.rgb, c.rgb, f);\n";
    if (key.alphaFunc != 0) {
        // The 8-bit alpha the frame buffer would hold, compared with ALPHAREF as integers.
        s += "    float a8 = floor(clamp(c.a, 0.0, 1.0) * 255.0 + 0.5);\n";
        s += "    if (!(" + std::string(CompareCode(key.alphaFunc)) + ")) discard;\n";
    }
    s += "    gl_FragColor = c;\n";
    s += "}\n";
    return s;
}

namespace {

GLuint Compile(GLenum type, const std::string& source) {
    GLuint shader = gl.CreateShader(type);
    const GLchar* text = source.c_str();
    gl.ShaderSource(shader, 1, &text, nullptr);
    gl.CompileShader(shader);
    GLint ok = GL_FALSE;
    gl.GetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok != GL_TRUE) {
        GLint length = 0;
        gl.GetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
        std::vector<GLchar> log(static_cast<size_t>(length > 0 ? length : 1), '\0');
        gl.GetShaderInfoLog(shader, static_cast<GLsizei>(log.size()), nullptr, log.data());
        rh::LogError("Direct3D: a generated %s program does not compile: %s\n%s",
                     type == GL_VERTEX_SHADER ? "vertex" : "fragment", log.data(), source.c_str());
        gl.DeleteShader(shader);
        return 0;
    }
    return shader;
}

Program Build(const PipelineKey& key) {
    Program program;
    GLuint vertex = Compile(GL_VERTEX_SHADER, VertexProgramSource(key));
    GLuint fragment = Compile(GL_FRAGMENT_SHADER, FragmentProgramSource(key));
    if (vertex == 0 || fragment == 0) {
        if (vertex != 0) gl.DeleteShader(vertex);
        if (fragment != 0) gl.DeleteShader(fragment);
        return program;
    }
    GLuint name = gl.CreateProgram();
    gl.AttachShader(name, vertex);
    gl.AttachShader(name, fragment);
    gl.BindAttribLocation(name, kAttribPosition, "aPosition");
    gl.BindAttribLocation(name, kAttribNormal, "aNormal");
    gl.BindAttribLocation(name, kAttribColor0, "aColor0");
    gl.BindAttribLocation(name, kAttribColor1, "aColor1");
    gl.BindAttribLocation(name, kAttribPointSize, "aPointSize");
    for (GLuint set = 0; set < 8; ++set) {
        gl.BindAttribLocation(name, kAttribTexCoord0 + set, ("aTexCoord" + std::to_string(set)).c_str());
    }
    gl.LinkProgram(name);
    // The program keeps what it needs; the shaders go with it.
    gl.DeleteShader(vertex);
    gl.DeleteShader(fragment);
    GLint ok = GL_FALSE;
    gl.GetProgramiv(name, GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE) {
        GLint length = 0;
        gl.GetProgramiv(name, GL_INFO_LOG_LENGTH, &length);
        std::vector<GLchar> log(static_cast<size_t>(length > 0 ? length : 1), '\0');
        gl.GetProgramInfoLog(name, static_cast<GLsizei>(log.size()), nullptr, log.data());
        rh::LogError("Direct3D: a generated program does not link: %s", log.data());
        gl.DeleteProgram(name);
        return program;
    }
    program.name = name;
    program.worldViewProjection = gl.GetUniformLocation(name, "uWorldViewProjection");
    program.worldView = gl.GetUniformLocation(name, "uWorldView");
    program.normalMatrix = gl.GetUniformLocation(name, "uNormalMatrix");
    program.pixel = gl.GetUniformLocation(name, "uPixel");
    program.material = gl.GetUniformLocation(name, "uMaterial");
    program.ambientLight = gl.GetUniformLocation(name, "uAmbientLight");
    program.lights = gl.GetUniformLocation(name, "uLights");
    program.fog = gl.GetUniformLocation(name, "uFog");
    program.fogColor = gl.GetUniformLocation(name, "uFogColor");
    program.textureFactor = gl.GetUniformLocation(name, "uTextureFactor");
    program.alphaRef = gl.GetUniformLocation(name, "uAlphaRef");
    program.point = gl.GetUniformLocation(name, "uPoint");
    program.pointScale = gl.GetUniformLocation(name, "uPointScale");
    // Samplers name their units once; the program in use goes back to what it was, which the
    // GL cache remembers.
    GLint previous = 0;
    gl.GetIntegerv(GL_CURRENT_PROGRAM, &previous);
    gl.UseProgram(name);
    for (int i = 0; i < kMaxStages; ++i) {
        program.textureMatrix[i] = gl.GetUniformLocation(name, ("uTextureMatrix" + std::to_string(i)).c_str());
        GLint sampler = gl.GetUniformLocation(name, ("uTexture" + std::to_string(i)).c_str());
        if (sampler >= 0) gl.Uniform1i(sampler, i);
    }
    gl.UseProgram(static_cast<GLuint>(previous));
    return program;
}

}  // namespace

const Program* ProgramCache::Find(const PipelineKey& key, GlCache& cache) {
    auto found = entries_.find(key);
    if (found != entries_.end()) {
        // Most recently used first: a splice moves the node, the program stays where it is.
        order_.splice(order_.begin(), order_, found->second);
        const Program& program = found->second->program;
        return program.name != 0 ? &program : nullptr;
    }
    if (entries_.size() >= kCapacity) {
        Entry& last = order_.back();
        if (evictions_ == 0) {
            rh::LogWarning("Direct3D: more than %zu fixed-function programs; the least recently used are dropped",
                           kCapacity);
        }
        rh::LogTrace("Direct3D: dropped a fixed-function program (%llu dropped so far)",
                     static_cast<unsigned long long>(evictions_ + 1));
        if (last.program.name != 0) {
            cache.ForgetProgram(last.program.name);
            gl.DeleteProgram(last.program.name);
        }
        entries_.erase(last.key);
        order_.pop_back();
        ++evictions_;
    }
    order_.push_front(Entry{key, Build(key)});
    entries_.emplace(key, order_.begin());
    CheckGlError("ProgramCache::Find");
    const Program& program = order_.front().program;
    return program.name != 0 ? &program : nullptr;
}

void ProgramCache::Destroy() {
    for (Entry& entry : order_) {
        if (entry.program.name != 0) gl.DeleteProgram(entry.program.name);
    }
    order_.clear();
    entries_.clear();
}

int ProgramCache::size() const {
    int count = 0;
    for (const Entry& entry : order_) count += entry.program.name != 0 ? 1 : 0;
    return count;
}

}  // namespace rh::d3d9
