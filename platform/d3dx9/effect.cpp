// D3DX effects: the compiler object, effect pools and effects over the device's GLSL services
// (platform/d3d9/glsl_device.h, reached by QueryInterface). Handles are addresses of the
// effect's (or pool's) own records and are looked up before use, never followed blindly.

#include "platform/com/com_object.h"
#include "platform/d3d9/glsl_device.h"
#include "platform/d3dx9/effect_model.h"

#include <d3dx9effect.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <memory>
#include <unordered_map>

namespace rh::d3dx9 {
namespace {

using d3d9::GlslUniform;
using d3d9::IRhGlslDevice;

class TextBuffer final : public com::ComObject<ID3DXBuffer> {
public:
    explicit TextBuffer(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    LPVOID STDMETHODCALLTYPE GetBufferPointer() override { return bytes_.data(); }
    DWORD STDMETHODCALLTYPE GetBufferSize() override { return static_cast<DWORD>(bytes_.size()); }

private:
    std::vector<uint8_t> bytes_;
};

// Messages as a buffer: the text and a terminating zero, as D3DX hands them out.
void GiveText(const std::string& text, ID3DXBuffer** out) {
    if (out == nullptr) return;
    *out = nullptr;
    if (text.empty()) return;
    std::vector<uint8_t> bytes(text.begin(), text.end());
    bytes.push_back(0);
    *out = new TextBuffer(std::move(bytes));
}

// ---- The compiler ----

class EffectCompiler final : public com::ComObject<ID3DXEffectCompiler, IID_ID3DXEffectCompiler> {
public:
    EffectCompiler(fx::Effect effect, uint64_t hash) : effect_(std::move(effect)), hash_(hash) {}

    HRESULT STDMETHODCALLTYPE CompileEffect(DWORD flags, ID3DXBuffer** effect, ID3DXBuffer** errors) override {
        if (errors != nullptr) *errors = nullptr;
        if (effect != nullptr) *effect = nullptr;
        if (flags != 0) return D3DERR_INVALIDCALL;
        if (effect != nullptr) *effect = new TextBuffer(fx::WriteBinary(effect_, hash_));
        return D3D_OK;
    }

private:
    fx::Effect effect_;
    uint64_t hash_;
};

// ---- Values: parameters and annotations ----

struct AnnotationSlot {
    fx::Annotation annotation;
};

// A parameter's value; its address is its handle.
struct ParamSlot {
    fx::Parameter desc;  // of the effect that made it (for shared ones: the first)
    float values[16] = {};
    // Counts the Set calls that wrote values: a pass that sent the values at this count has
    // nothing new to send. Starts at 1; a pass's record of 0 means "never sent".
    uint64_t version = 1;
    com::ComRef<IDirect3DBaseTexture9> texture;
    std::vector<std::unique_ptr<AnnotationSlot>> annotations;
};

std::unique_ptr<ParamSlot> MakeSlot(const fx::Parameter& p) {
    auto slot = std::make_unique<ParamSlot>();
    slot->desc = p;
    for (size_t i = 0; i < p.initial.size() && i < 16; ++i) slot->values[i] = p.initial[i];
    for (const fx::Annotation& a : p.annotations) slot->annotations.push_back(std::make_unique<AnnotationSlot>(AnnotationSlot{a}));
    return slot;
}

D3DXHANDLE HandleOf(const void* p) { return static_cast<D3DXHANDLE>(p); }

class EffectPool final : public com::ComObject<ID3DXEffectPool, IID_ID3DXEffectPool> {
public:
    // The pool's slot of a shared parameter, made on first use; null when the pool has one of
    // that name and another type.
    ParamSlot* Share(const fx::Parameter& p) {
        auto found = shared_.find(p.name);
        if (found == shared_.end()) {
            found = shared_.emplace(p.name, MakeSlot(p)).first;
            byHandle_.emplace(found->second.get(), found->second.get());
            for (const auto& a : found->second->annotations) annotations_.emplace(a.get(), a.get());
        }
        return found->second->desc.type == p.type ? found->second.get() : nullptr;
    }
    ParamSlot* FindParameter(const void* handle) const {
        auto found = byHandle_.find(handle);
        return found != byHandle_.end() ? found->second : nullptr;
    }
    AnnotationSlot* FindAnnotation(const void* handle) const {
        auto found = annotations_.find(handle);
        return found != annotations_.end() ? found->second : nullptr;
    }

private:
    std::map<std::string, std::unique_ptr<ParamSlot>> shared_;
    std::unordered_map<const void*, ParamSlot*> byHandle_;
    std::unordered_map<const void*, AnnotationSlot*> annotations_;
};

// ---- Effects ----

class Effect final : public com::ComObject<ID3DXEffect, IID_ID3DXEffect> {
public:
    Effect(IDirect3DDevice9* device, IRhGlslDevice* glsl, EffectPool* pool, fx::Effect desc)
        : glsl_(glsl), desc_(std::move(desc)) {
        device->AddRef();
        device_ = com::ComRef<IDirect3DDevice9>(device);
        if (pool != nullptr) {
            pool->AddRef();
            pool_ = com::ComRef<EffectPool>(pool);
        }
    }

    // Parameters first (shared ones from the pool), then each pass with the driver. False
    // when a shared parameter's type differs from the pool's.
    bool Build(std::string* log) {
        for (const fx::Parameter& p : desc_.parameters) {
            ParamSlot* slot = nullptr;
            if (p.shared && pool_) {
                slot = pool_->Share(p);
                if (slot == nullptr) {
                    *log += "shared parameter '" + p.name + "' has another type in the pool\n";
                    return false;
                }
            } else {
                own_.push_back(MakeSlot(p));
                slot = own_.back().get();
                for (const auto& a : slot->annotations) annotations_.emplace(a.get(), a.get());
            }
            params_.push_back(slot);
            paramIndex_.emplace(slot, params_.size() - 1);
        }
        std::string fixup = glsl_->ClipFixup(fx::kPixelUniform);
        std::vector<com::ComRef<IUnknown>> shaders(desc_.code.size());
        std::vector<bool> tried(desc_.code.size(), false);
        auto shaderOf = [&](uint32_t index) -> IUnknown* {
            if (!tried[index]) {
                tried[index] = true;
                const fx::CodeBlock& code = desc_.code[index];
                std::string text = fx::StageSource(desc_, code, fixup);
                std::string glLog;
                HRESULT hr;
                IUnknown* made = nullptr;
                if (code.stage == fx::Stage::kVertex) {
                    IDirect3DVertexShader9* vs = nullptr;
                    hr = glsl_->CreateGlslVertexShader(text, &vs, &glLog);
                    made = vs;
                } else {
                    IDirect3DPixelShader9* ps = nullptr;
                    hr = glsl_->CreateGlslPixelShader(text, &ps, &glLog);
                    made = ps;
                }
                if (hr != D3D_OK) *log += "code '" + code.name + "' does not compile: " + glLog + "\n";
                shaders[index] = com::ComRef<IUnknown>(made);
            }
            return shaders[index].get();
        };
        for (const fx::TechniqueDesc& t : desc_.techniques) {
            auto technique = std::make_unique<TechniqueSlot>();
            technique->desc = &t;
            technique->valid = true;
            for (const fx::Annotation& a : t.annotations) {
                technique->annotations.push_back(std::make_unique<AnnotationSlot>(AnnotationSlot{a}));
                annotations_.emplace(technique->annotations.back().get(), technique->annotations.back().get());
            }
            for (const fx::PassDesc& p : t.passes) {
                auto pass = std::make_unique<PassSlot>();
                pass->desc = &p;
                for (const fx::Annotation& a : p.annotations) {
                    pass->annotations.push_back(std::make_unique<AnnotationSlot>(AnnotationSlot{a}));
                    annotations_.emplace(pass->annotations.back().get(), pass->annotations.back().get());
                }
                auto* vs = static_cast<IDirect3DVertexShader9*>(shaderOf(p.vertexCode));
                auto* ps = static_cast<IDirect3DPixelShader9*>(shaderOf(p.fragmentCode));
                pass->ok = vs != nullptr && ps != nullptr && LinkPass(vs, ps, pass.get(), log);
                if (pass->ok) {
                    vs->AddRef();
                    ps->AddRef();
                    pass->vertex = com::ComRef<IDirect3DVertexShader9>(vs);
                    pass->pixel = com::ComRef<IDirect3DPixelShader9>(ps);
                } else {
                    technique->valid = false;
                    *log += "technique '" + t.name + "' pass '" + p.name + "' is not valid\n";
                }
                passes_.emplace(pass.get(), pass.get());
                technique->passes.push_back(std::move(pass));
            }
            techniqueIndex_.emplace(technique.get(), techniques_.size());
            techniques_.push_back(std::move(technique));
        }
        D3DXHANDLE first = nullptr;
        FindNextValidTechnique(nullptr, &first);
        current_ = first != nullptr ? static_cast<const TechniqueSlot*>(static_cast<const void*>(first)) : nullptr;
        return true;
    }

    HRESULT STDMETHODCALLTYPE FindNextValidTechnique(D3DXHANDLE technique, D3DXHANDLE* next) override {
        if (next == nullptr) return D3DERR_INVALIDCALL;
        *next = nullptr;
        size_t start = 0;
        if (technique != nullptr) {
            auto found = techniqueIndex_.find(technique);
            if (found == techniqueIndex_.end()) return D3DERR_INVALIDCALL;
            start = found->second + 1;
        }
        for (size_t i = start; i < techniques_.size(); ++i) {
            if (techniques_[i]->valid) {
                *next = HandleOf(techniques_[i].get());
                break;
            }
        }
        return D3D_OK;
    }

    D3DXHANDLE STDMETHODCALLTYPE GetTechniqueByName(LPCSTR name) override {
        if (name == nullptr) return nullptr;
        for (const auto& t : techniques_) {
            if (t->desc->name == name) return HandleOf(t.get());
        }
        return nullptr;
    }

    HRESULT STDMETHODCALLTYPE GetTechniqueDesc(D3DXHANDLE technique, D3DXTECHNIQUE_DESC* desc) override {
        const TechniqueSlot* t = FindTechnique(technique);
        if (t == nullptr || desc == nullptr) return D3DERR_INVALIDCALL;
        desc->Name = t->desc->name.c_str();
        desc->Passes = static_cast<UINT>(t->passes.size());
        desc->Annotations = static_cast<UINT>(t->annotations.size());
        return D3D_OK;
    }

    D3DXHANDLE STDMETHODCALLTYPE GetAnnotation(D3DXHANDLE object, UINT index) override {
        const std::vector<std::unique_ptr<AnnotationSlot>>* list = nullptr;
        if (const TechniqueSlot* t = FindTechnique(object)) list = &t->annotations;
        if (auto found = passes_.find(object); found != passes_.end()) list = &found->second->annotations;
        if (ParamSlot* p = FindParameter(object)) list = &p->annotations;
        if (list == nullptr || index >= list->size()) return nullptr;
        return HandleOf((*list)[index].get());
    }

    HRESULT STDMETHODCALLTYPE GetParameterDesc(D3DXHANDLE parameter, D3DXPARAMETER_DESC* desc) override {
        if (desc == nullptr) return D3DERR_INVALIDCALL;
        *desc = D3DXPARAMETER_DESC{};
        if (ParamSlot* p = FindParameter(parameter)) {
            Describe(p->desc.type, desc);
            desc->Name = p->desc.name.c_str();
            desc->Semantic = p->desc.semantic.empty() ? nullptr : p->desc.semantic.c_str();
            desc->Annotations = static_cast<UINT>(p->annotations.size());
            desc->Flags = p->desc.shared ? D3DX_PARAMETER_SHARED : 0;
            return D3D_OK;
        }
        if (AnnotationSlot* a = FindAnnotation(parameter)) {
            Describe(a->annotation.type, desc);
            desc->Name = a->annotation.name.c_str();
            desc->Flags = D3DX_PARAMETER_ANNOTATION;
            return D3D_OK;
        }
        return D3DERR_INVALIDCALL;
    }

    D3DXHANDLE STDMETHODCALLTYPE GetParameterByName(D3DXHANDLE parent, LPCSTR name) override {
        if (parent != nullptr || name == nullptr) return nullptr;
        for (ParamSlot* p : params_) {
            if (p->desc.name == name) return HandleOf(p);
        }
        return nullptr;
    }

    HRESULT STDMETHODCALLTYPE GetInt(D3DXHANDLE parameter, INT* value) override {
        if (value == nullptr) return D3DERR_INVALIDCALL;
        if (ParamSlot* p = FindParameter(parameter)) {
            if (fx::ComponentCount(p->desc.type) != 1) return D3DERR_INVALIDCALL;
            *value = fx::SaturatedInt(p->values[0]);
            return D3D_OK;
        }
        if (AnnotationSlot* a = FindAnnotation(parameter)) {
            const fx::Annotation& an = a->annotation;
            if (an.type == fx::Type::kInt || an.type == fx::Type::kBool) {
                *value = an.ints[0];
            } else if (an.type == fx::Type::kFloat) {
                *value = fx::SaturatedInt(an.values[0]);
            } else {
                return D3DERR_INVALIDCALL;
            }
            return D3D_OK;
        }
        return D3DERR_INVALIDCALL;
    }

    HRESULT STDMETHODCALLTYPE GetFloat(D3DXHANDLE parameter, FLOAT* value) override {
        if (value == nullptr) return D3DERR_INVALIDCALL;
        if (ParamSlot* p = FindParameter(parameter)) {
            if (fx::ComponentCount(p->desc.type) != 1) return D3DERR_INVALIDCALL;
            *value = p->values[0];
            return D3D_OK;
        }
        if (AnnotationSlot* a = FindAnnotation(parameter)) {
            if (fx::ComponentCount(a->annotation.type) != 1) return D3DERR_INVALIDCALL;
            *value = a->annotation.type == fx::Type::kFloat ? a->annotation.values[0]
                                                             : static_cast<FLOAT>(a->annotation.ints[0]);
            return D3D_OK;
        }
        return D3DERR_INVALIDCALL;
    }

    HRESULT STDMETHODCALLTYPE SetMatrix(D3DXHANDLE parameter, const D3DXMATRIX* matrix) override {
        ParamSlot* p = FindParameter(parameter);
        if (p == nullptr || matrix == nullptr || p->desc.type != fx::Type::kFloat4x4) return D3DERR_INVALIDCALL;
        std::memcpy(p->values, &matrix->m[0][0], sizeof(float) * 16);
        ++p->version;
        return D3D_OK;
    }

    HRESULT STDMETHODCALLTYPE SetVector(D3DXHANDLE parameter, const D3DXVECTOR4* vector) override {
        ParamSlot* p = FindParameter(parameter);
        if (p == nullptr || vector == nullptr) return D3DERR_INVALIDCALL;
        int n = fx::ComponentCount(p->desc.type);
        if (p->desc.type < fx::Type::kFloat || n < 1 || n > 4) return D3DERR_INVALIDCALL;
        const float v[4] = {vector->x, vector->y, vector->z, vector->w};
        std::memcpy(p->values, v, sizeof(float) * static_cast<size_t>(n));
        ++p->version;
        return D3D_OK;
    }

    HRESULT STDMETHODCALLTYPE SetFloat(D3DXHANDLE parameter, FLOAT value) override {
        ParamSlot* p = FindParameter(parameter);
        if (p == nullptr || p->desc.type != fx::Type::kFloat) return D3DERR_INVALIDCALL;
        p->values[0] = value;
        ++p->version;
        return D3D_OK;
    }

    HRESULT STDMETHODCALLTYPE SetBool(D3DXHANDLE parameter, BOOL value) override {
        ParamSlot* p = FindParameter(parameter);
        if (p == nullptr || (p->desc.type != fx::Type::kBool && p->desc.type != fx::Type::kInt)) return D3DERR_INVALIDCALL;
        p->values[0] = value != FALSE ? 1.0f : 0.0f;
        ++p->version;
        return D3D_OK;
    }

    HRESULT STDMETHODCALLTYPE SetInt(D3DXHANDLE parameter, INT value) override {
        ParamSlot* p = FindParameter(parameter);
        if (p == nullptr || (p->desc.type != fx::Type::kBool && p->desc.type != fx::Type::kInt)) return D3DERR_INVALIDCALL;
        p->values[0] = p->desc.type == fx::Type::kBool ? (value != 0 ? 1.0f : 0.0f) : static_cast<float>(value);
        ++p->version;
        return D3D_OK;
    }

    HRESULT STDMETHODCALLTYPE SetTexture(D3DXHANDLE parameter, IDirect3DBaseTexture9* texture) override {
        ParamSlot* p = FindParameter(parameter);
        if (p == nullptr || p->desc.type != fx::Type::kTexture) return D3DERR_INVALIDCALL;
        if (texture != nullptr) texture->AddRef();
        p->texture = com::ComRef<IDirect3DBaseTexture9>(texture);
        return D3D_OK;
    }

    HRESULT STDMETHODCALLTYPE SetTechnique(D3DXHANDLE technique) override {
        // The technique set already is valid and ours: nothing to look up.
        if (current_ != nullptr && technique == HandleOf(current_)) return D3D_OK;
        const TechniqueSlot* t = FindTechnique(technique);
        if (t == nullptr || !t->valid) return D3DERR_INVALIDCALL;
        current_ = t;
        return D3D_OK;
    }

    D3DXHANDLE STDMETHODCALLTYPE GetCurrentTechnique() override { return HandleOf(current_); }

    HRESULT STDMETHODCALLTYPE Begin(UINT* passes, DWORD) override {
        if (current_ == nullptr) return D3DERR_INVALIDCALL;
        if (passes != nullptr) *passes = static_cast<UINT>(current_->passes.size());
        begun_ = true;
        return D3D_OK;
    }

    HRESULT STDMETHODCALLTYPE Pass(UINT index) override {
        if (!begun_ || current_ == nullptr || index >= current_->passes.size()) return D3DERR_INVALIDCALL;
        PassSlot& pass = *current_->passes[index];
        IDirect3DDevice9* d = device_.get();
        const bool everything = glsl_->SendsEverything();
        // Textures, sampler states and shaders are set again only when the device's bindings
        // moved since this pass set them, or a texture parameter now names another texture:
        // object after object they are all as the pass left them. Render states are always
        // set; the application changes those between passes.
        bool bindingsHold = !everything && pass.bindingsSerial != 0 && pass.bindingsSerial == glsl_->BindingsSerial();
        for (size_t i = 0; bindingsHold && i < pass.textures.size(); ++i) {
            bindingsHold = pass.textures[i].bound == pass.textures[i].slot->texture.get();
        }
        for (const fx::PassState& s : pass.desc->states) {
            switch (s.kind) {
                case fx::PassState::kRender: d->SetRenderState(static_cast<D3DRENDERSTATETYPE>(s.state), s.value); break;
                case fx::PassState::kSampler:
                    if (!bindingsHold) d->SetSamplerState(s.index, static_cast<D3DSAMPLERSTATETYPE>(s.state), s.value);
                    break;
                case fx::PassState::kTexture:
                    if (!bindingsHold) d->SetTexture(s.index, params_[s.value]->texture.get());
                    break;
            }
        }
        if (!bindingsHold) {
            for (const PassSlot::Sampler& sampler : pass.samplers) {
                const fx::Parameter& desc = desc_.parameters[sampler.parameter];
                IDirect3DBaseTexture9* texture =
                    desc.texture != fx::Parameter::kNone ? params_[desc.texture]->texture.get() : nullptr;
                d->SetTexture(sampler.unit, texture);
                for (const fx::SamplerState& s : desc.samplerStates) {
                    d->SetSamplerState(sampler.unit, static_cast<D3DSAMPLERSTATETYPE>(s.state), s.value);
                }
            }
            d->SetVertexShader(pass.vertex.get());
            d->SetPixelShader(pass.pixel.get());
            for (PassSlot::BoundTexture& t : pass.textures) t.bound = t.slot->texture.get();
            pass.bindingsSerial = glsl_->BindingsSerial();
        }
        // The values' list is made once when the pass links: floats are read through pointers
        // to the parameters' storage, only the ints are converted here. The program keeps what
        // it was given, so only values set since this pass last sent them go (a pass's program
        // is its own: passes that share one share their code and parameters too).
        for (const PassSlot::IntUniform& u : pass.ints) {
            pass.values[u.value].integer = fx::SaturatedInt(u.slot->values[0]);
        }
        pass.changed.clear();
        for (size_t i = 0; i < pass.values.size(); ++i) {
            const uint64_t version = pass.slots[i]->version;
            if (pass.sent[i] == version && !everything) continue;
            pass.sent[i] = version;
            pass.changed.push_back(pass.values[i]);
        }
        const HRESULT hr = glsl_->SetGlslUniforms(pass.vertex.get(), pass.pixel.get(), pass.changed.data(),
                                                  static_cast<UINT>(pass.changed.size()));
        if (hr != D3D_OK) std::fill(pass.sent.begin(), pass.sent.end(), uint64_t{0});
        return hr;
    }

    HRESULT STDMETHODCALLTYPE End() override {
        if (!begun_) return D3DERR_INVALIDCALL;
        begun_ = false;
        return D3D_OK;
    }

    HRESULT STDMETHODCALLTYPE OnLostDevice() override { return D3D_OK; }
    HRESULT STDMETHODCALLTYPE OnResetDevice() override { return D3D_OK; }

private:
    struct PassSlot {
        const fx::PassDesc* desc = nullptr;
        bool ok = false;
        com::ComRef<IDirect3DVertexShader9> vertex;
        com::ComRef<IDirect3DPixelShader9> pixel;
        struct Sampler {
            DWORD unit;
            size_t parameter;
        };
        // What Pass uploads, one per parameter the program uses: floats point into the parameters'
        // slots (which live as long as the effect and its pool); ints are refreshed from theirs.
        struct IntUniform {
            size_t value;
            const ParamSlot* slot;
        };
        std::vector<GlslUniform> values;
        std::vector<const ParamSlot*> slots;  // whose value each of values is
        std::vector<uint64_t> sent;           // the slot's version each was last sent at; 0 never
        std::vector<GlslUniform> changed;     // Pass's list of what goes, kept for its storage
        std::vector<IntUniform> ints;
        std::vector<Sampler> samplers;
        // Each texture parameter the pass binds and the texture it last bound from it; with the
        // device's bindings serial as it was after those Set calls (0: not set yet).
        struct BoundTexture {
            const ParamSlot* slot;
            IDirect3DBaseTexture9* bound;
        };
        std::vector<BoundTexture> textures;
        uint64_t bindingsSerial = 0;
        std::vector<std::unique_ptr<AnnotationSlot>> annotations;
    };
    struct TechniqueSlot {
        const fx::TechniqueDesc* desc = nullptr;
        bool valid = false;
        std::vector<std::unique_ptr<PassSlot>> passes;
        std::vector<std::unique_ptr<AnnotationSlot>> annotations;
    };

    // Links the pass's program and finds where its parameters go; samplers take texture
    // units 0, 1, ... in the order of their declarations.
    bool LinkPass(IDirect3DVertexShader9* vs, IDirect3DPixelShader9* ps, PassSlot* pass, std::string* log) {
        std::string glLog;
        if (glsl_->LinkGlslProgram(vs, ps, &glLog) != D3D_OK) {
            *log += "pass '" + pass->desc->name + "' does not link: " + glLog + "\n";
            return false;
        }
        std::vector<uint32_t> used = fx::UsedParameters(desc_, desc_.code[pass->desc->vertexCode]);
        std::vector<uint32_t> more = fx::UsedParameters(desc_, desc_.code[pass->desc->fragmentCode]);
        used.insert(used.end(), more.begin(), more.end());
        std::sort(used.begin(), used.end());
        used.erase(std::unique(used.begin(), used.end()), used.end());
        std::vector<GlslUniform> units;
        for (uint32_t index : used) {
            const fx::Parameter& p = desc_.parameters[index];
            int location = glsl_->GlslUniformLocation(vs, ps, p.name.c_str());
            if (fx::IsSampler(p.type)) {
                DWORD unit = static_cast<DWORD>(pass->samplers.size());
                pass->samplers.push_back({unit, index});
                if (location >= 0) {
                    GlslUniform u;
                    u.location = location;
                    u.kind = GlslUniform::kInt;
                    u.integer = static_cast<int>(unit);
                    units.push_back(u);
                }
            } else if (location >= 0) {
                const ParamSlot& slot = *params_[index];
                GlslUniform value;
                value.location = location;
                switch (slot.desc.type) {
                    case fx::Type::kBool:
                    case fx::Type::kInt:
                        value.kind = GlslUniform::kInt;
                        pass->ints.push_back({pass->values.size(), &slot});
                        break;
                    case fx::Type::kFloat4x4:
                        value.kind = GlslUniform::kMatrix;
                        value.count = 16;
                        value.floats = slot.values;
                        break;
                    default:
                        value.kind = GlslUniform::kFloat;
                        value.count = static_cast<uint32_t>(fx::ComponentCount(slot.desc.type));
                        value.floats = slot.values;
                        break;
                }
                pass->values.push_back(value);
                pass->slots.push_back(&slot);
                pass->sent.push_back(0);
            }
        }
        pass->changed.reserve(pass->values.size());
        for (const fx::PassState& s : pass->desc->states) {
            if (s.kind == fx::PassState::kTexture) pass->textures.push_back({params_[s.value], nullptr});
        }
        for (const PassSlot::Sampler& sampler : pass->samplers) {
            const fx::Parameter& desc = desc_.parameters[sampler.parameter];
            if (desc.texture != fx::Parameter::kNone) pass->textures.push_back({params_[desc.texture], nullptr});
        }
        if (pass->samplers.size() > 16) {
            *log += "pass '" + pass->desc->name + "' uses more than 16 samplers\n";
            return false;
        }
        return glsl_->SetGlslUniforms(vs, ps, units.data(), static_cast<UINT>(units.size())) == D3D_OK;
    }

    static void Describe(fx::Type type, D3DXPARAMETER_DESC* desc) {
        static const D3DXPARAMETER_TYPE kTypes[fx::kTypeCount] = {
            D3DXPT_BOOL,  D3DXPT_INT,     D3DXPT_FLOAT,     D3DXPT_FLOAT,       D3DXPT_FLOAT,  D3DXPT_FLOAT,
            D3DXPT_FLOAT, D3DXPT_TEXTURE, D3DXPT_SAMPLER2D, D3DXPT_SAMPLERCUBE, D3DXPT_STRING};
        int n = fx::ComponentCount(type);
        desc->Type = kTypes[static_cast<int>(type)];
        desc->Class = n == 0 ? D3DXPC_OBJECT : n == 1 ? D3DXPC_SCALAR : n == 16 ? D3DXPC_MATRIX_ROWS : D3DXPC_VECTOR;
        desc->Rows = n == 16 ? 4 : n != 0 ? 1 : 0;
        desc->Columns = n == 16 ? 4 : static_cast<UINT>(n);
        desc->Bytes = static_cast<UINT>(n * 4);
    }

    const TechniqueSlot* FindTechnique(D3DXHANDLE h) const {
        auto found = techniqueIndex_.find(h);
        return found != techniqueIndex_.end() ? techniques_[found->second].get() : nullptr;
    }
    // This effect's parameters, and any shared parameter of its pool. Every Set call asks, so
    // handles found before are remembered in a small table of sets of four, the latest first: a
    // slot, once found, stays valid as long as the effect (which holds its pool) lives.
    ParamSlot* FindParameter(D3DXHANDLE h) const {
        if (h == nullptr) return nullptr;
        uint64_t bits = static_cast<uint64_t>(reinterpret_cast<uintptr_t>(h));
        bits ^= bits >> 33;
        bits *= 0xFF51AFD7ED558CCDull;
        bits ^= bits >> 33;
        FoundParameter* set = foundParameters_[bits % kFoundSets];
        for (size_t way = 0; way < kFoundWays; ++way) {
            if (set[way].handle == h) return set[way].slot;
        }
        ParamSlot* slot = nullptr;
        auto found = paramIndex_.find(h);
        if (found != paramIndex_.end()) {
            slot = params_[found->second];
        } else if (pool_) {
            slot = pool_->FindParameter(h);
        }
        if (slot != nullptr) {
            for (size_t way = kFoundWays - 1; way > 0; --way) set[way] = set[way - 1];
            set[0] = FoundParameter{h, slot};
        }
        return slot;
    }
    AnnotationSlot* FindAnnotation(D3DXHANDLE h) const {
        if (h == nullptr) return nullptr;
        auto found = annotations_.find(h);
        if (found != annotations_.end()) return found->second;
        return pool_ ? pool_->FindAnnotation(h) : nullptr;
    }

    com::ComRef<IDirect3DDevice9> device_;
    com::ComRef<IRhGlslDevice> glsl_;
    com::ComRef<EffectPool> pool_;
    fx::Effect desc_;
    std::vector<ParamSlot*> params_;  // by parameter index: this effect's own or the pool's
    std::vector<std::unique_ptr<ParamSlot>> own_;
    std::unordered_map<const void*, size_t> paramIndex_;
    std::unordered_map<const void*, AnnotationSlot*> annotations_;
    std::vector<std::unique_ptr<TechniqueSlot>> techniques_;
    std::unordered_map<const void*, size_t> techniqueIndex_;
    std::unordered_map<const void*, PassSlot*> passes_;
    const TechniqueSlot* current_ = nullptr;
    bool begun_ = false;
    struct FoundParameter {
        D3DXHANDLE handle = nullptr;
        ParamSlot* slot = nullptr;
    };
    static constexpr size_t kFoundSets = 16;
    static constexpr size_t kFoundWays = 4;
    mutable FoundParameter foundParameters_[kFoundSets][kFoundWays];
};

}  // namespace
}  // namespace rh::d3dx9

using rh::d3dx9::EffectCompiler;

HRESULT WINAPI D3DXCreateEffectCompiler(LPCSTR srcData, UINT srcDataLen, const D3DXMACRO* defines,
                                        LPD3DXINCLUDE include, DWORD flags, LPD3DXEFFECTCOMPILER* compiler,
                                        LPD3DXBUFFER* errors) {
    namespace fx = rh::d3dx9::fx;
    if (errors != nullptr) *errors = nullptr;
    if (compiler == nullptr) return D3DERR_INVALIDCALL;
    *compiler = nullptr;
    if ((srcData == nullptr && srcDataLen != 0) || include != nullptr || flags != 0) return D3DERR_INVALIDCALL;
    std::vector<fx::Macro> macros;
    for (const D3DXMACRO* m = defines; m != nullptr && m->Name != nullptr; ++m) {
        if (macros.size() >= fx::kMaxMacros) return D3DERR_INVALIDCALL;
        macros.push_back({m->Name, m->Definition != nullptr ? m->Definition : ""});
    }
    std::string_view source(srcData != nullptr ? srcData : "", srcDataLen);
    fx::Effect effect;
    std::string messages;
    if (!fx::Compile(source, macros, &effect, &messages)) {
        rh::d3dx9::GiveText(messages, errors);
        return D3DXERR_INVALIDDATA;
    }
    *compiler = new EffectCompiler(std::move(effect), fx::SourceHash(source, macros));
    return D3D_OK;
}

HRESULT WINAPI D3DXCreateEffectPool(LPD3DXEFFECTPOOL* pool) {
    if (pool == nullptr) return D3DERR_INVALIDCALL;
    *pool = new rh::d3dx9::EffectPool();
    return D3D_OK;
}

HRESULT WINAPI D3DXCreateEffect(LPDIRECT3DDEVICE9 device, LPCVOID srcData, UINT srcDataLen, const D3DXMACRO* defines,
                                LPD3DXINCLUDE include, DWORD flags, LPD3DXEFFECTPOOL pool, LPD3DXEFFECT* effect,
                                LPD3DXBUFFER* errors) {
    namespace fx = rh::d3dx9::fx;
    if (errors != nullptr) *errors = nullptr;
    if (effect == nullptr) return D3DERR_INVALIDCALL;
    *effect = nullptr;
    if (device == nullptr || srcData == nullptr || defines != nullptr || include != nullptr || flags != 0) {
        return D3DERR_INVALIDCALL;
    }
    // Only pools of this library carry shared parameters.
    auto* ownPool = dynamic_cast<rh::d3dx9::EffectPool*>(pool);
    if (pool != nullptr && ownPool == nullptr) return D3DERR_INVALIDCALL;
    fx::Effect desc;
    std::string messages;
    if (!fx::ReadBinary(srcData, srcDataLen, &desc, &messages)) {
        rh::d3dx9::GiveText(messages, errors);
        return D3DXERR_INVALIDDATA;
    }
    void* glsl = nullptr;
    if (device->QueryInterface(rh::d3d9::IID_IRhGlslDevice, &glsl) != S_OK) return D3DERR_INVALIDCALL;
    auto* made = new rh::d3dx9::Effect(device, static_cast<rh::d3d9::IRhGlslDevice*>(glsl), ownPool, std::move(desc));
    if (!made->Build(&messages)) {
        made->Release();
        rh::d3dx9::GiveText(messages, errors);
        return D3DXERR_INVALIDDATA;
    }
    rh::d3dx9::GiveText(messages, errors);
    *effect = made;
    return D3D_OK;
}
