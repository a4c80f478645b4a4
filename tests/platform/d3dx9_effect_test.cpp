// Effects on a device: made from compiled binaries, drawn and read back; shared parameters
// through a pool; invalid techniques; damaged binaries refused.

#include "tests/platform/d3d9_draw_support.h"

#include <d3dx9.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

using d3d9_test::DrawTest;

// A quad in clip space, drawn with the identity as WorldViewProj: z and w set per vertex.
const char kQuadEffect[] = R"(
shared float4x4 WorldViewProj;
float4 Colour = {1, 0, 0, 1};
float FogAmount = 1.0;
texture Picture;
sampler2D PictureSampler = sampler_state {
    Texture = <Picture>;
    MinFilter = Point;
    MagFilter = Point;
    AddressU = Clamp;
    AddressV = Clamp;
};

glsl_vertex QuadVS {
    varying vec2 uv;
    void main() {
        gl_Position = WorldViewProj * POSITION0;
        uv = TEXCOORD0.xy;
        FOG = FogAmount;
    }
}
glsl_fragment SolidPS {
    void main() { gl_FragColor = Colour; }
}
glsl_fragment PicturePS {
    varying vec2 uv;
    void main() { gl_FragColor = texture2D(PictureSampler, uv); }
}
// Links only if the vertex code wrote "missing": it does not.
glsl_fragment UnlinkablePS {
    varying vec3 missing;
    void main() { gl_FragColor = vec4(missing, 1.0); }
}

technique Unlinkable < int DIR = 9; > {
    pass { VertexShader = QuadVS; PixelShader = UnlinkablePS; }
}
technique Solid < int DIR = NUMDIR; int POINT = 1; > {
    pass P0 {
        VertexShader = QuadVS;
        PixelShader = SolidPS;
        CullMode = None;
        ZEnable = False;
        AlphaBlendEnable = false;
    }
}
technique Picture {
    pass { VertexShader = QuadVS; PixelShader = PicturePS; CullMode = None; ZEnable = false; }
}
)";

// Another effect of the same pool: the shared matrix and a parameter of its own.
const char kOtherEffect[] = R"(
shared float4x4 WorldViewProj;
float4 Colour = {0, 1, 0, 1};
glsl_vertex VS { void main() { gl_Position = WorldViewProj * POSITION0; } }
glsl_fragment PS { void main() { gl_FragColor = Colour; } }
technique T { pass { VertexShader = VS; PixelShader = PS; CullMode = None; ZEnable = false; } }
)";

struct QuadVertex {
    float x, y, z, w;
    float u, v;
};

std::vector<uint8_t> Compile(const char* source, const D3DXMACRO* macros = nullptr) {
    ID3DXEffectCompiler* compiler = nullptr;
    ID3DXBuffer* errors = nullptr;
    HRESULT hr = D3DXCreateEffectCompiler(source, static_cast<UINT>(std::strlen(source)), macros, nullptr, 0, &compiler,
                                          &errors);
    std::string messages = errors != nullptr ? static_cast<const char*>(errors->GetBufferPointer()) : "";
    if (errors != nullptr) errors->Release();
    EXPECT_EQ(hr, D3D_OK) << messages;
    if (compiler == nullptr) return {};
    ID3DXBuffer* binary = nullptr;
    EXPECT_EQ(compiler->CompileEffect(0, &binary, nullptr), D3D_OK);
    compiler->Release();
    if (binary == nullptr) return {};
    const auto* p = static_cast<const uint8_t*>(binary->GetBufferPointer());
    std::vector<uint8_t> bytes(p, p + binary->GetBufferSize());
    binary->Release();
    return bytes;
}

class EffectTest : public DrawTest {
protected:
    void SetUp() override {
        DrawTest::SetUp();
        if (HasFatalFailure()) return;
        ASSERT_EQ(D3DXCreateEffectPool(&pool_), D3D_OK);
        const D3DVERTEXELEMENT9 elements[] = {{0, 0, D3DDECLTYPE_FLOAT4, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_POSITION, 0},
                                              {0, 16, D3DDECLTYPE_FLOAT2, D3DDECLMETHOD_DEFAULT, D3DDECLUSAGE_TEXCOORD, 0},
                                              D3DDECL_END()};
        declaration_ = Declaration(std::vector<D3DVERTEXELEMENT9>(std::begin(elements), std::end(elements)));
    }
    void TearDown() override {
        for (ID3DXEffect* effect : effects_) effect->Release();
        if (pool_ != nullptr) pool_->Release();
        DrawTest::TearDown();
    }

    // An effect of the pool from source; its messages in *messages.
    ID3DXEffect* Make(const char* source, std::string* messages = nullptr, const D3DXMACRO* macros = nullptr) {
        std::vector<uint8_t> binary = Compile(source, macros);
        ID3DXEffect* effect = nullptr;
        ID3DXBuffer* errors = nullptr;
        EXPECT_EQ(D3DXCreateEffect(device_, binary.data(), static_cast<UINT>(binary.size()), nullptr, nullptr, 0, pool_,
                                   &effect, &errors),
                  D3D_OK);
        if (errors != nullptr) {
            if (messages != nullptr) *messages = static_cast<const char*>(errors->GetBufferPointer());
            errors->Release();
        }
        if (effect != nullptr) effects_.push_back(effect);
        return effect;
    }

    // A rectangle in clip space at depth z (Direct3D's clip z: 0 near, w far).
    void DrawQuad(float x0, float y0, float x1, float y1, float z = 0.5f) {
        std::vector<QuadVertex> v = {{x0, y1, z, 1, 0, 0}, {x1, y1, z, 1, 1, 0}, {x0, y0, z, 1, 0, 1}, {x1, y0, z, 1, 1, 1}};
        IDirect3DVertexBuffer9* buffer = Vertices(v);
        device_->SetVertexDeclaration(declaration_);
        device_->SetStreamSource(0, buffer, 0, sizeof(QuadVertex));
        EXPECT_EQ(device_->DrawPrimitive(D3DPT_TRIANGLESTRIP, 0, 2), D3D_OK);
    }

    // Draws the whole target with a technique's first pass.
    void DrawWith(ID3DXEffect* effect, const char* technique, float z = 0.5f) {
        ASSERT_EQ(effect->SetTechnique(effect->GetTechniqueByName(technique)), D3D_OK);
        UINT passes = 0;
        ASSERT_EQ(effect->Begin(&passes, D3DXFX_DONOTSAVESTATE), D3D_OK);
        ASSERT_EQ(passes, 1u);
        ASSERT_EQ(effect->Pass(0), D3D_OK);
        DrawQuad(-1, -1, 1, 1, z);
        EXPECT_EQ(effect->End(), D3D_OK);
    }

    // The colour most of the middle of the target has, 0x00RRGGBB.
    DWORD Middle() {
        std::vector<DWORD> pixels = Read(RECT{kWidth / 4, kHeight / 4, 3 * kWidth / 4, 3 * kHeight / 4});
        std::map<DWORD, int> counts;
        for (DWORD p : pixels) ++counts[p];
        DWORD best = 0xDEADBEEF;
        int most = 0;
        for (auto [colour, n] : counts) {
            if (n > most) {
                best = colour;
                most = n;
            }
        }
        return best;
    }

    void SetIdentity(ID3DXEffect* effect) {
        D3DXMATRIX identity;
        D3DXMatrixIdentity(&identity);
        ASSERT_EQ(effect->SetMatrix(effect->GetParameterByName(nullptr, "WorldViewProj"), &identity), D3D_OK);
    }

    static bool Near(DWORD a, DWORD b, int tolerance = 2) {
        for (int shift = 0; shift < 24; shift += 8) {
            int x = static_cast<int>((a >> shift) & 0xFF);
            int y = static_cast<int>((b >> shift) & 0xFF);
            if (x - y > tolerance || y - x > tolerance) return false;
        }
        return true;
    }

    ID3DXEffectPool* pool_ = nullptr;
    IDirect3DVertexDeclaration9* declaration_ = nullptr;
    std::vector<ID3DXEffect*> effects_;
};

const D3DXMACRO kMacros[] = {{"NUMDIR", "2"}, {nullptr, nullptr}};

TEST_F(EffectTest, DrawsWithTheShaderAndParametersSetBeforePass) {
    ID3DXEffect* effect = Make(kQuadEffect, nullptr, kMacros);
    ASSERT_NE(effect, nullptr);
    SetIdentity(effect);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    DrawWith(effect, "Solid");
    EXPECT_EQ(Middle(), 0xFF0000u);  // the initial value
    SaveImage("effect_solid");

    // A value set before Pass takes effect in that pass, also between passes of one Begin.
    D3DXHANDLE colour = effect->GetParameterByName(nullptr, "Colour");
    D3DXVECTOR4 green(0, 1, 0, 1);
    ASSERT_EQ(effect->SetVector(colour, &green), D3D_OK);
    DrawWith(effect, "Solid");
    EXPECT_EQ(Middle(), 0x00FF00u);
    UINT passes = 0;
    ASSERT_EQ(effect->Begin(&passes, D3DXFX_DONOTSAVESTATE), D3D_OK);
    D3DXVECTOR4 blue(0, 0, 1, 1);
    ASSERT_EQ(effect->SetVector(colour, &blue), D3D_OK);
    ASSERT_EQ(effect->Pass(0), D3D_OK);
    DrawQuad(-1, -1, 1, 1);
    EXPECT_EQ(effect->End(), D3D_OK);
    EXPECT_EQ(Middle(), 0x0000FFu);

    // Back to the fixed function: the device draws with its own programs again.
    device_->SetVertexShader(nullptr);
    device_->SetPixelShader(nullptr);
    device_->SetRenderState(D3DRS_LIGHTING, FALSE);
    EXPECT_EQ(DrawScreenQuad(0, 0, kWidth, kHeight, 0.5f, 0xFFFFFF00), D3D_OK);
    EXPECT_EQ(Middle(), 0xFFFF00u);
}

// The layer remembers the last shader pair and its program between passes; shaders that go
// and new ones made in their place (often at the same addresses) must draw with their own.
TEST_F(EffectTest, EffectsMadeAfterOthersWentDrawWithTheirOwnPrograms) {
    const struct {
        const char* colour;
        DWORD expected;
    } kRounds[] = {{"vec4(1, 0, 0, 1)", 0xFF0000u}, {"vec4(0, 1, 0, 1)", 0x00FF00u}, {"vec4(0, 0, 1, 1)", 0x0000FFu}};
    for (const auto& round : kRounds) {
        std::string source = kQuadEffect;
        const std::string from = "gl_FragColor = Colour;";
        source.replace(source.find(from), from.size(), std::string("gl_FragColor = ") + round.colour + ";");
        ID3DXEffect* effect = Make(source.c_str(), nullptr, kMacros);
        ASSERT_NE(effect, nullptr);
        SetIdentity(effect);
        device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        DrawWith(effect, "Solid");
        DrawWith(effect, "Solid");
        EXPECT_EQ(Middle(), round.expected) << round.colour;
        // Unbound and released: its shaders go.
        device_->SetVertexShader(nullptr);
        device_->SetPixelShader(nullptr);
        effects_.erase(std::find(effects_.begin(), effects_.end(), effect));
        effect->Release();
    }
}

// A value the program already holds is not sent again: a value set back to an earlier one,
// and the same value given to a new effect's program (GL starts its uniforms at 0, and the
// program's name and locations often come back), must still reach what draws.
TEST_F(EffectTest, ParameterValuesReachTheProgramWhateverItHeldBefore) {
    const D3DXVECTOR4 red(1, 0, 0, 1), green(0, 1, 0, 1);
    const struct {
        bool remake;  // a new effect from the same source in place of the last
        const D3DXVECTOR4* colour;
        DWORD expected;
    } kRounds[] = {{false, &red, 0xFF0000u},  {false, &green, 0x00FF00u}, {false, &red, 0xFF0000u},
                   {false, &red, 0xFF0000u},  {true, &red, 0xFF0000u},    {true, &red, 0xFF0000u},
                   {false, &green, 0x00FF00u}, {true, &green, 0x00FF00u}};
    ID3DXEffect* effect = nullptr;
    int round = 0;
    for (const auto& r : kRounds) {
        if (effect == nullptr || r.remake) {
            if (effect != nullptr) {
                device_->SetVertexShader(nullptr);
                device_->SetPixelShader(nullptr);
                effects_.erase(std::find(effects_.begin(), effects_.end(), effect));
                effect->Release();
            }
            effect = Make(kQuadEffect, nullptr, kMacros);
            ASSERT_NE(effect, nullptr);
            SetIdentity(effect);
        }
        ASSERT_EQ(effect->SetVector(effect->GetParameterByName(nullptr, "Colour"), r.colour), D3D_OK);
        device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        DrawWith(effect, "Solid");
        EXPECT_EQ(Middle(), r.expected) << "round " << round;
        ++round;
    }
}

// Each effect's pass sends only what was set since it last drew: a shared value set through
// another effect of the pool counts as set for every effect's passes.
TEST_F(EffectTest, SharedValuesSetThroughAnotherEffectReachEveryProgram) {
    ID3DXEffect* first = Make(kQuadEffect, nullptr, kMacros);
    ID3DXEffect* second = Make(kOtherEffect);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    D3DXHANDLE shared = first->GetParameterByName(nullptr, "WorldViewProj");
    D3DXMATRIX whole, half;
    D3DXMatrixIdentity(&whole);
    D3DXMatrixScaling(&half, 0.5f, 0.5f, 1.0f);
    const struct {
        ID3DXEffect* setter;
        const D3DXMATRIX* matrix;
        ID3DXEffect* drawer;
        const char* technique;
        DWORD colour;
        int pixels;
    } kRounds[] = {
        {first, &whole, first, "Solid", 0xFF0000u, kWidth * kHeight},
        {second, &half, first, "Solid", 0xFF0000u, kWidth * kHeight / 4},
        {first, &whole, second, "T", 0x00FF00u, kWidth * kHeight},
        {second, &half, second, "T", 0x00FF00u, kWidth * kHeight / 4},
        {second, &whole, first, "Solid", 0xFF0000u, kWidth * kHeight},
        {first, &half, second, "T", 0x00FF00u, kWidth * kHeight / 4},
        {first, &half, first, "Solid", 0xFF0000u, kWidth * kHeight / 4},
    };
    int round = 0;
    for (const auto& r : kRounds) {
        ASSERT_EQ(r.setter->SetMatrix(shared, r.matrix), D3D_OK);
        device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        DrawWith(r.drawer, r.technique);
        EXPECT_EQ(Count(RECT{0, 0, kWidth, kHeight}, r.colour), r.pixels) << "round " << round;
        ++round;
    }
}

TEST_F(EffectTest, ClipsDepthAsDirect3DDoes) {
    // Direct3D clips z below 0; GL's own range would keep z = -0.5 w.
    ID3DXEffect* effect = Make(kQuadEffect, nullptr, kMacros);
    ASSERT_NE(effect, nullptr);
    SetIdentity(effect);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    DrawWith(effect, "Solid", -0.5f);
    EXPECT_EQ(Middle(), 0x000000u);
    DrawWith(effect, "Solid", 0.25f);
    EXPECT_EQ(Middle(), 0xFF0000u);
}

TEST_F(EffectTest, FogEpilogueMixesTheFogColourByTheVertexFactor) {
    ID3DXEffect* effect = Make(kQuadEffect, nullptr, kMacros);
    ASSERT_NE(effect, nullptr);
    SetIdentity(effect);
    D3DXHANDLE amount = effect->GetParameterByName(nullptr, "FogAmount");
    device_->SetRenderState(D3DRS_FOGCOLOR, 0xFF0000FF);
    struct Case {
        BOOL fog;
        float factor;
        DWORD expected;
    };
    // Factor 1 is no fog, 0 all fog colour; with fog off the factor does nothing.
    const Case cases[] = {{TRUE, 1.0f, 0xFF0000}, {TRUE, 0.0f, 0x0000FF}, {TRUE, 0.25f, 0x4000BF}, {FALSE, 0.0f, 0xFF0000}};
    for (const Case& c : cases) {
        device_->SetRenderState(D3DRS_FOGENABLE, c.fog);
        ASSERT_EQ(effect->SetFloat(amount, c.factor), D3D_OK);
        device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
        DrawWith(effect, "Solid");
        EXPECT_TRUE(Near(Middle(), c.expected)) << std::hex << Middle() << " for fog " << c.fog << " factor " << c.factor;
    }
    SaveImage("effect_fog");
}

TEST_F(EffectTest, SamplesTheTextureOfItsSampler) {
    ID3DXEffect* effect = Make(kQuadEffect, nullptr, kMacros);
    ASSERT_NE(effect, nullptr);
    SetIdentity(effect);
    IDirect3DTexture9* texture = nullptr;
    ASSERT_EQ(device_->CreateTexture(2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &texture, nullptr), D3D_OK);
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(texture->LockRect(0, &locked, nullptr, 0), D3D_OK);
    // Top row red, green; bottom row blue, white.
    auto* row0 = static_cast<DWORD*>(locked.pBits);
    auto* row1 = reinterpret_cast<DWORD*>(static_cast<BYTE*>(locked.pBits) + locked.Pitch);
    row0[0] = 0xFFFF0000;
    row0[1] = 0xFF00FF00;
    row1[0] = 0xFF0000FF;
    row1[1] = 0xFFFFFFFF;
    ASSERT_EQ(texture->UnlockRect(0), D3D_OK);
    ASSERT_EQ(effect->SetTexture(effect->GetParameterByName(nullptr, "Picture"), texture), D3D_OK);
    texture->Release();  // the effect holds it
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    DrawWith(effect, "Picture");
    SaveImage("effect_picture");
    // v = 0 at the quad's top (the first texture row), as Direct3D's texture space has it.
    EXPECT_EQ(Pixel(kWidth / 4, kHeight / 4), 0xFF0000u);
    EXPECT_EQ(Pixel(3 * kWidth / 4, kHeight / 4), 0x00FF00u);
    EXPECT_EQ(Pixel(kWidth / 4, 3 * kHeight / 4), 0x0000FFu);
    EXPECT_EQ(Pixel(3 * kWidth / 4, 3 * kHeight / 4), 0xFFFFFFu);
}

TEST_F(EffectTest, TechniqueWhosePassDoesNotLinkIsInvalid) {
    std::string messages;
    ID3DXEffect* effect = Make(kQuadEffect, &messages, kMacros);
    ASSERT_NE(effect, nullptr);  // the effect is made all the same
    EXPECT_NE(messages.find("does not link"), std::string::npos) << messages;
    D3DXHANDLE unlinkable = effect->GetTechniqueByName("Unlinkable");
    ASSERT_NE(unlinkable, nullptr);
    EXPECT_EQ(effect->SetTechnique(unlinkable), D3DERR_INVALIDCALL);
    D3DXHANDLE first = nullptr;
    ASSERT_EQ(effect->FindNextValidTechnique(nullptr, &first), D3D_OK);
    EXPECT_EQ(first, effect->GetTechniqueByName("Solid"));
    D3DXHANDLE next = nullptr;
    ASSERT_EQ(effect->FindNextValidTechnique(first, &next), D3D_OK);
    EXPECT_EQ(next, effect->GetTechniqueByName("Picture"));
    ASSERT_EQ(effect->FindNextValidTechnique(next, &next), D3D_OK);
    EXPECT_EQ(next, nullptr);
}

TEST_F(EffectTest, TechniqueAnnotationsAreInts) {
    ID3DXEffect* effect = Make(kQuadEffect, nullptr, kMacros);
    ASSERT_NE(effect, nullptr);
    D3DXHANDLE solid = effect->GetTechniqueByName("Solid");
    D3DXTECHNIQUE_DESC desc{};
    ASSERT_EQ(effect->GetTechniqueDesc(solid, &desc), D3D_OK);
    EXPECT_STREQ(desc.Name, "Solid");
    EXPECT_EQ(desc.Passes, 1u);
    ASSERT_EQ(desc.Annotations, 2u);
    const char* names[] = {"DIR", "POINT"};
    const INT values[] = {2, 1};  // DIR from the caller's NUMDIR
    for (UINT i = 0; i < 2; ++i) {
        D3DXHANDLE annotation = effect->GetAnnotation(solid, i);
        D3DXPARAMETER_DESC parameter{};
        ASSERT_EQ(effect->GetParameterDesc(annotation, &parameter), D3D_OK);
        EXPECT_STREQ(parameter.Name, names[i]);
        EXPECT_EQ(parameter.Type, D3DXPT_INT);
        INT value = 0;
        ASSERT_EQ(effect->GetInt(annotation, &value), D3D_OK);
        EXPECT_EQ(value, values[i]);
    }
    EXPECT_EQ(effect->GetAnnotation(solid, 2), nullptr);
}

TEST_F(EffectTest, SharedParametersHaveThePoolsHandleInEveryEffect) {
    ID3DXEffect* first = Make(kQuadEffect, nullptr, kMacros);
    ID3DXEffect* second = Make(kOtherEffect);
    ASSERT_NE(first, nullptr);
    ASSERT_NE(second, nullptr);
    D3DXHANDLE shared = first->GetParameterByName(nullptr, "WorldViewProj");
    ASSERT_NE(shared, nullptr);
    EXPECT_EQ(second->GetParameterByName(nullptr, "WorldViewProj"), shared);
    D3DXPARAMETER_DESC desc{};
    ASSERT_EQ(second->GetParameterDesc(shared, &desc), D3D_OK);
    EXPECT_EQ(desc.Flags & D3DX_PARAMETER_SHARED, DWORD{D3DX_PARAMETER_SHARED});
    EXPECT_EQ(desc.Type, D3DXPT_FLOAT);
    EXPECT_EQ(desc.Class, D3DXPC_MATRIX_ROWS);

    // Parameters of one name but not shared are each effect's own.
    D3DXHANDLE firstColour = first->GetParameterByName(nullptr, "Colour");
    D3DXHANDLE secondColour = second->GetParameterByName(nullptr, "Colour");
    EXPECT_NE(firstColour, secondColour);
    D3DXVECTOR4 v(0.5f, 0.5f, 0.5f, 1);
    EXPECT_EQ(second->SetVector(firstColour, &v), D3DERR_INVALIDCALL);
    EXPECT_EQ(second->SetVector("Colour", &v), D3DERR_INVALIDCALL);  // names are no handles here
    INT unused = 0;
    EXPECT_EQ(second->GetInt(first->GetTechniqueByName("Solid"), &unused), D3DERR_INVALIDCALL);

    // A value set through one effect is the other's: the second draws with the first's matrix.
    D3DXMATRIX half;
    D3DXMatrixScaling(&half, 0.5f, 0.5f, 1.0f);
    ASSERT_EQ(first->SetMatrix(shared, &half), D3D_OK);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    DrawWith(second, "T");
    SaveImage("effect_shared");
    EXPECT_EQ(Count(RECT{0, 0, kWidth, kHeight}, 0x00FF00), kWidth * kHeight / 4);
    EXPECT_EQ(Pixel(2, 2), 0x000000u);
}

TEST_F(EffectTest, DamagedBinaryIsRefusedWithAMessage) {
    std::vector<uint8_t> binary = Compile(kOtherEffect);
    ASSERT_FALSE(binary.empty());
    binary[binary.size() / 2] ^= 1;
    ID3DXEffect* effect = nullptr;
    ID3DXBuffer* errors = nullptr;
    EXPECT_EQ(D3DXCreateEffect(device_, binary.data(), static_cast<UINT>(binary.size()), nullptr, nullptr, 0, pool_,
                               &effect, &errors),
              D3DXERR_INVALIDDATA);
    EXPECT_EQ(effect, nullptr);
    ASSERT_NE(errors, nullptr);
    EXPECT_NE(std::string(static_cast<const char*>(errors->GetBufferPointer())).find("checksum"), std::string::npos);
    errors->Release();
    // Effect source is no binary.
    EXPECT_EQ(D3DXCreateEffect(device_, kOtherEffect, sizeof kOtherEffect, nullptr, nullptr, 0, nullptr, &effect, nullptr),
              D3DXERR_INVALIDDATA);
}

TEST_F(EffectTest, SharedParameterOfAnotherTypeFailsTheEffect) {
    ASSERT_NE(Make(kOtherEffect), nullptr);
    std::vector<uint8_t> binary = Compile(
        "shared float4 WorldViewProj;\n"
        "glsl_vertex VS { void main() { gl_Position = WorldViewProj; } }\n"
        "glsl_fragment PS { void main() { gl_FragColor = vec4(1.0); } }\n"
        "technique T { pass { VertexShader = VS; PixelShader = PS; } }\n");
    ID3DXEffect* effect = nullptr;
    ID3DXBuffer* errors = nullptr;
    EXPECT_EQ(D3DXCreateEffect(device_, binary.data(), static_cast<UINT>(binary.size()), nullptr, nullptr, 0, pool_,
                               &effect, &errors),
              D3DXERR_INVALIDDATA);
    ASSERT_NE(errors, nullptr);
    EXPECT_NE(std::string(static_cast<const char*>(errors->GetBufferPointer())).find("WorldViewProj"), std::string::npos);
    errors->Release();
}

// A pass that finds the device as it left it sets nothing again; whatever moved since, on the
// device or in the effect, it sets again.
TEST_F(EffectTest, PassSetsItsTexturesSamplersAndShadersAgainWhenAnythingMoved) {
    ID3DXEffect* effect = Make(kQuadEffect, nullptr, kMacros);
    ID3DXEffect* other = Make(kOtherEffect);
    ASSERT_NE(effect, nullptr);
    ASSERT_NE(other, nullptr);
    SetIdentity(effect);
    IDirect3DTexture9* textures[2] = {};
    for (IDirect3DTexture9*& t : textures) {
        ASSERT_EQ(device_->CreateTexture(2, 2, 1, 0, D3DFMT_A8R8G8B8, D3DPOOL_MANAGED, &t, nullptr), D3D_OK);
    }
    const D3DXHANDLE picture = effect->GetParameterByName(nullptr, "Picture");
    struct Case {
        const char* name;
        std::function<void()> change;
        IDirect3DTexture9* expected;
    };
    const Case cases[] = {
        {"nothing", [] {}, textures[0]},
        {"device texture", [&] { device_->SetTexture(0, textures[1]); }, textures[0]},
        {"device texture none", [&] { device_->SetTexture(0, nullptr); }, textures[0]},
        {"device sampler", [&] { device_->SetSamplerState(0, D3DSAMP_MINFILTER, D3DTEXF_LINEAR); }, textures[0]},
        {"device address", [&] { device_->SetSamplerState(0, D3DSAMP_ADDRESSU, D3DTADDRESS_WRAP); }, textures[0]},
        {"device shaders", [&] { device_->SetVertexShader(nullptr); device_->SetPixelShader(nullptr); }, textures[0]},
        {"another effect", [&] { DrawWith(other, "T"); }, textures[0]},
        {"parameter", [&] { effect->SetTexture(picture, textures[1]); }, textures[1]},
        {"parameter back", [&] { effect->SetTexture(picture, textures[0]); }, textures[0]},
    };
    ASSERT_EQ(effect->SetTexture(picture, textures[0]), D3D_OK);
    ASSERT_EQ(effect->SetTechnique(effect->GetTechniqueByName("Picture")), D3D_OK);
    UINT passes = 0;
    for (const Case& c : cases) {
        // The pass has run once before the change: it remembers what it set.
        ASSERT_EQ(effect->Begin(&passes, D3DXFX_DONOTSAVESTATE), D3D_OK);
        ASSERT_EQ(effect->Pass(0), D3D_OK);
        ASSERT_EQ(effect->End(), D3D_OK);
        c.change();
        ASSERT_EQ(effect->SetTechnique(effect->GetTechniqueByName("Picture")), D3D_OK);
        ASSERT_EQ(effect->Begin(&passes, D3DXFX_DONOTSAVESTATE), D3D_OK);
        ASSERT_EQ(effect->Pass(0), D3D_OK);
        IDirect3DBaseTexture9* bound = nullptr;
        ASSERT_EQ(device_->GetTexture(0, &bound), D3D_OK);
        EXPECT_EQ(bound, static_cast<IDirect3DBaseTexture9*>(c.expected)) << c.name;
        if (bound != nullptr) bound->Release();
        DWORD minFilter = 0, address = 0;
        device_->GetSamplerState(0, D3DSAMP_MINFILTER, &minFilter);
        device_->GetSamplerState(0, D3DSAMP_ADDRESSU, &address);
        EXPECT_EQ(minFilter, static_cast<DWORD>(D3DTEXF_POINT)) << c.name;
        EXPECT_EQ(address, static_cast<DWORD>(D3DTADDRESS_CLAMP)) << c.name;
        IDirect3DVertexShader9* vertex = nullptr;
        IDirect3DPixelShader9* pixel = nullptr;
        device_->GetVertexShader(&vertex);
        device_->GetPixelShader(&pixel);
        EXPECT_NE(vertex, nullptr) << c.name;
        EXPECT_NE(pixel, nullptr) << c.name;
        if (vertex != nullptr) vertex->Release();
        if (pixel != nullptr) pixel->Release();
        ASSERT_EQ(effect->End(), D3D_OK);
    }
    // And it draws with them: the texture's colour fills the target.
    D3DLOCKED_RECT locked{};
    ASSERT_EQ(textures[0]->LockRect(0, &locked, nullptr, 0), D3D_OK);
    for (int y = 0; y < 2; ++y) {
        auto* row = reinterpret_cast<DWORD*>(static_cast<BYTE*>(locked.pBits) + y * locked.Pitch);
        row[0] = row[1] = 0xFF20C040;
    }
    ASSERT_EQ(textures[0]->UnlockRect(0), D3D_OK);
    device_->SetTexture(0, nullptr);
    device_->Clear(0, nullptr, D3DCLEAR_TARGET, 0xFF000000, 1.0f, 0);
    DrawWith(effect, "Picture");
    EXPECT_EQ(Middle(), 0x20C040u);
    for (IDirect3DTexture9* t : textures) t->Release();
}

}  // namespace
