// Materials: how one drawable is drawn. A MultiMaterial holds up to eight sub-materials, each one
// drawing pass (or one part of a multi-part mesh) with its colours, depth, blend, fog, alpha-test
// and cull states, eight fixed-function texture stages and five named texture maps, or else an
// effect material that draws it through an effect. A RenderContext carries what a draw needs
// besides the material (matrices, eye, lights); a MaterialLibrary keeps a scene's named
// materials.
//
// Materials are plain values: copied into scene nodes, meshes and the library, compared for
// sharing. Every device state goes through the render-state cache (render/state_cache.h).
//
// Stage, sampler and blend values come from scene files: an operation, argument, filter,
// address mode or blend factor the device does not know is applied as Direct3D's default for
// that state, with a warning logged once.
#pragma once

#include "core/bounds/bounding_box.h"
#include "core/containers/ordered_map.h"
#include "core/math/typed_matrix.h"
#include "core/math/vec3.h"
#include "core/object/property_node.h"
#include "core/text/string.h"
#include "core/types/argb_color.h"
#include "render/light.h"

#include <d3d9types.h>

#include <cstdint>
#include <memory>

class CameraView;
class LitEffectMaterial;
class Texture;

// A stage operation that the material chooses when it is applied (from the stage's texture,
// the sub-material's lighting and alpha sources).
constexpr int32_t kAutomaticOp = 100;
// Blend kinds of SubMaterial::SetBlendKind beyond the D3DTOP values it shares: 1 plain alpha
// blending, 100 the automatic (modulating) kind.
constexpr int32_t kBlendKindAlpha = 1;
constexpr int32_t kBlendKindAutomatic = 100;

constexpr int32_t kMaxSubMaterials = 8;
constexpr int32_t kMaxTextureStages = 8;

// The named maps of a sub-material, in their order.
enum MapSlot : int32_t {
    kDiffuseMap = 0,
    kBumpMap = 1,
    kReflectMap = 2,
    kRefractMap = 3,
    kSpecularMap = 4,
    kMapSlotCount = 5,
};

// One sampler's settings and its texture (not owned: the texture registry holds textures).
struct TextureMap {
    int32_t addressU = D3DTADDRESS_WRAP;
    int32_t addressV = D3DTADDRESS_WRAP;
    int32_t minFilter = D3DTEXF_LINEAR;
    int32_t magFilter = D3DTEXF_LINEAR;
    int32_t mipFilter = D3DTEXF_LINEAR;
    Texture* texture = nullptr;
    float amount = 1.0f;

    // The textures have the same owner (a sub-texture stands for its parent; two without
    // texture are equal) and the five sampler values are equal; the amount is not compared.
    bool Equals(const TextureMap& other) const;
};

// One fixed-function texture stage.
struct TextureStage {
    // D3DTOP values or kAutomaticOp.
    int32_t colorOp = D3DTOP_DISABLE;
    int32_t alphaOp = D3DTOP_DISABLE;
    // D3DTA values for arguments 0, 1 and 2.
    DWORD colorArgs[3] = {D3DTA_DIFFUSE, D3DTA_TEXTURE, D3DTA_DIFFUSE};
    DWORD alphaArgs[3] = {D3DTA_DIFFUSE, D3DTA_TEXTURE, D3DTA_DIFFUSE};
    // D3DTSS_TEXCOORDINDEX: the coordinate set, possibly with a generation flag
    // (D3DTSS_TCI_SPHEREMAP, D3DTSS_TCI_CAMERASPACEPOSITION, ...). SubMaterial sets it to the
    // stage's number.
    DWORD texCoordIndex = 0;
    // Applied to the coordinates when valid; not valid = none.
    TypedMatrix transform = NoTransform();
    TextureMap map;

    // Alpha presets: 0 off; 1 the texture factor; 2 the texture; 3 texture x factor; 4 the
    // diffuse colour; 5 diffuse x factor; 6 texture x diffuse. Other values change nothing.
    void SetAlphaSource(int32_t preset);

    static TypedMatrix NoTransform() {
        TypedMatrix m;
        m.valid = 0;
        return m;
    }
};

// The fixed-function material colours, in the D3DMATERIAL9 layout. Diffuse, ambient and
// specular start white, emissive black, power 16.
class MaterialColors {
public:
    MaterialColors();

    void SetDiffuse(const ArgbColor& color) { material_.Diffuse = color.ToColorValue(); }
    void SetAmbient(const ArgbColor& color) { material_.Ambient = color.ToColorValue(); }
    void SetSpecular(const ArgbColor& color) { material_.Specular = color.ToColorValue(); }
    void SetEmissive(const ArgbColor& color) { material_.Emissive = color.ToColorValue(); }
    void SetPower(float power) { material_.Power = power; }
    ArgbColor GetDiffuse() const { return FromValue(material_.Diffuse); }
    ArgbColor GetAmbient() const { return FromValue(material_.Ambient); }
    ArgbColor GetSpecular() const { return FromValue(material_.Specular); }
    ArgbColor GetEmissive() const { return FromValue(material_.Emissive); }
    float GetPower() const { return material_.Power; }

    // Exact float comparison of the four colours and the power.
    bool Equals(const MaterialColors& other) const;
    const D3DMATERIAL9& record() const { return material_; }

private:
    static ArgbColor FromValue(const D3DCOLORVALUE& v) { return ArgbColor(v.a, v.r, v.g, v.b); }

    D3DMATERIAL9 material_;
};

// One drawing pass of a material.
struct SubMaterial {
    SubMaterial();

    // Blending per kind: kind 1 turns blending off and sets SRCALPHA / INVSRCALPHA; every
    // other kind turns it on, with 4 (modulate) DESTCOLOR / ZERO, 5 (modulate 2x) and 100
    // DESTCOLOR / SRCCOLOR, 7 (add) SRCALPHA / ONE; any other kind keeps the factors.
    void SetBlendKind(int32_t kind);

    // Draws the sub-material through an effect; null = the fixed function. Not owned.
    LitEffectMaterial* effectMaterial = nullptr;
    // Effect quality asked for by the scene; -2 for "custom".
    int32_t quality = -1;
    // Technique its effect material draws with; empty = the effect material's default.
    String techniqueName;
    TextureStage stages[kMaxTextureStages];
    int32_t zEnable = 1;
    int32_t zFunc = D3DCMP_LESSEQUAL;
    int32_t zWrite = 1;
    // Float bits, as the render states hold them.
    DWORD depthBias = 0;
    DWORD slopeScaleDepthBias = 0;
    // Fog switched off while drawing.
    bool noFog = false;
    // Drawn with fog in fogColor.
    bool ownFogColor = false;
    D3DCOLOR fogColor = 0;
    bool blendEnable = false;
    int32_t srcBlend = D3DBLEND_SRCALPHA;
    int32_t destBlend = D3DBLEND_INVSRCALPHA;
    String name;
    MaterialColors colors;
    // D3DCULL_CCW; D3DCULL_NONE for two-sided materials.
    int32_t cullMode = D3DCULL_CCW;
    float opacity = 1.0f;
    bool specular = false;
    bool localViewer = false;
    int32_t alphaRef = 1;
    int32_t alphaFunc = D3DCMP_GREATEREQUAL;
    // The vertices carry a colour to modulate with / carry alpha.
    bool vertexColor = false;
    bool vertexAlpha = false;
    // Lit by the fixed-function lights.
    bool lit = false;
    TextureMap maps[kMapSlotCount];

    // The comparison MultiMaterial::Equals makes: colours, effect material, blending, depth,
    // alpha test, lighting and vertex flags, cull mode, opacity and the Diffuse, Bump, Reflect
    // and Refract maps. The Specular map, the stages, the biases, the fog fields, the quality,
    // the technique name and the name are left out: materials that differ only there share.
    bool Equals(const SubMaterial& other) const;
};

// What a draw needs besides the material. Set up per scene draw (SetCamera, the world matrix
// per object) and referenced, not owned, by the materials drawn in it.
struct RenderContext {
    // When set it draws every sub-material instead of their own effect materials. Not owned.
    LitEffectMaterial* effectOverride = nullptr;
    // Filled by the scene traversal.
    int32_t passFlags = 0;
    // The pass's animation time, as the nodes of the pass are posed with it.
    float passTime = 0.0f;
    LightSet lights;
    // The drawn object's world box; lit effect materials rank lights by their influence on it.
    BoundingBox worldBox;
    TypedMatrix world = TextureStage::NoTransform();
    TypedMatrix view = TextureStage::NoTransform();
    TypedMatrix projection = TextureStage::NoTransform();
    TypedMatrix viewProjection = TextureStage::NoTransform();
    // Computed on demand by its users and then marked valid; InverseWorld recomputes it when
    // the world matrix has changed since.
    TypedMatrix inverseWorld = TextureStage::NoTransform();
    // The world matrix inverseWorld was computed from.
    TypedMatrix inverseSource = TextureStage::NoTransform();
    Vec3 eye{0.0f, 0.0f, 0.0f};

    // The camera's view, projection and view-projection matrices and its eye.
    void SetCamera(const CameraView& camera);
    // world x view-projection and world x view, valid.
    TypedMatrix WorldViewProjection() const;
    TypedMatrix WorldView() const;
    // The inverse of the world matrix, valid; recomputed (D3DXMatrixInverse) unless it is valid
    // and was computed from the present world matrix. A singular world gives the identity.
    const TypedMatrix& InverseWorld();
};

// A whole material: up to eight sub-materials and the state a draw keeps between applying them
// and restoring fog.
class MultiMaterial {
public:
    // One sub-material whose first stage is automatic (colour and alpha).
    MultiMaterial();
    // Every field, the sub-materials one by one and the properties deeply.
    MultiMaterial(const MultiMaterial& other);
    MultiMaterial& operator=(const MultiMaterial& other);
    void Assign(const MultiMaterial& other);

    // The same count and each sub-material equal to its partner (SubMaterial::Equals).
    bool Equals(const MultiMaterial& other) const;

    // For each sub-material below the count, the effect its maps ask for: "ReflPP"/"ReflPV" for
    // a Reflect map with/without a Bump map, else "RefrPP"/"RefrPV" for a Refract map, else
    // "Bump" for a Bump map; with a kind the effect material becomes the registry's choice for
    // it at quality 200 (null when nothing is registered); without one it stays.
    void SelectShaderKind();
    // Merges sub-materials into multi-texture passes by their names ("LightMap", "Modulate",
    // "AddSigned", "Add", "Chrome", ...), run by the scene loader after SelectShaderKind. The
    // passes move into the first slots and the count becomes the number of passes; with exactly
    // two passes the first gets a small depth bias so that the second lies on top of it.
    void BuildStageCombination();

    // Whether sub-material i (-1 means 0) draws with alpha: its effect material decides when it
    // has one; else vertex alpha; else its automatic stages from stage 0 (a texture format with
    // alpha) up to the first explicit alpha operation, which counts unless it is DISABLE.
    bool HasAlpha(int32_t i) const;
    // HasAlpha(0), or the first sub-material blends with a destination factor other than ZERO.
    bool IsTransparent() const;
    // The effect material of the first sub-material below the count that has one, or null.
    LitEffectMaterial* FirstEffectMaterial() const;

    // Fog, depth, cull, alpha test and blending of sub-material i; remembers what RestoreFog
    // undoes after the draw. True.
    bool ApplyMaterialStates(int32_t i);
    // The context's valid matrices, the material colours and the lighting switches; false
    // without a render context.
    bool ApplyFixedFunction(int32_t i);
    // Textures, samplers, the texture factor (the opacity in its alpha) and the stage cascade;
    // false without a render context.
    bool ApplyTextureStages(int32_t i);
    // Puts fog back as ApplyMaterialStates found it. True.
    bool RestoreFog();

    RenderContext* renderContext() const { return context_; }
    void SetRenderContext(RenderContext* context) { context_ = context; }
    int32_t count() const { return count_; }
    // Clamped to 1..8.
    void SetCount(int32_t count);
    // Every slot 0..7 reads as a sub-material; a slot beyond the first is stored only once it
    // is written through here, and until then reads as a default one.
    SubMaterial& sub(int32_t i) { return i == 0 ? first_ : MakeSlot(i); }
    const SubMaterial& sub(int32_t i) const;
    bool alphaTestAllowed() const { return alphaTestAllowed_; }
    void SetAlphaTestAllowed(bool allowed) { alphaTestAllowed_ = allowed; }
    PropertyNode& properties() { return properties_; }
    const PropertyNode& properties() const { return properties_; }
    // 0 nothing to undo, 1 fog was switched on, 2 fog was on and was switched off or recoloured.
    int32_t fogSaveState() const { return fogSaveState_; }

private:
    SubMaterial& MakeSlot(int32_t i);
    void CopySlots(const MultiMaterial& other);

    RenderContext* context_ = nullptr;
    int32_t count_ = 1;
    // Most materials draw one pass, and a sub-material is over a kilobyte: the slots after the
    // first are made on first write and dropped again when stage combination leaves them
    // unused.
    SubMaterial first_;
    std::unique_ptr<SubMaterial> more_[kMaxSubMaterials - 1];
    bool alphaTestAllowed_ = true;
    PropertyNode properties_;
    D3DCOLOR savedFogColor_ = 0;
    int32_t fogSaveState_ = 0;
};

// A scene's named materials (value copies), in insertion order.
class MaterialLibrary {
public:
    MaterialLibrary() = default;
    MaterialLibrary(const MaterialLibrary&) = delete;
    MaterialLibrary& operator=(const MaterialLibrary&) = delete;
    ~MaterialLibrary() { Destroy(); }

    // Inserts a copy after the cursor; an existing name gets the new material.
    void Add(const String& name, const MultiMaterial& material);
    // Copies the named material out; false (out untouched) when absent.
    bool Contains(const String& name, MultiMaterial* out) const;
    int32_t count() const { return materials_.count(); }
    void Destroy() { materials_.DeleteAll(); }

private:
    OrderedMap<String, MultiMaterial*, StringCompare> materials_;
};
