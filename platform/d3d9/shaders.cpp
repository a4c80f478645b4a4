// GLSL shaders on the device: the shader objects, the programs of their pairs, the draws'
// use of them, and the services the effect framework reaches by QueryInterface.

#include "platform/d3d9/shaders.h"

#include "platform/d3d9/clip_space.h"
#include "platform/d3d9/d3d9_local.h"
#include "platform/d3d9/gl.h"

#include <rimeholt/log.h>

#include <cstring>
#include <vector>

namespace rh::d3d9 {
namespace {

std::string ShaderLog(GLuint shader) {
    GLint length = 0;
    gl.GetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
    std::vector<GLchar> log(static_cast<size_t>(length > 0 ? length : 1), '\0');
    gl.GetShaderInfoLog(shader, static_cast<GLsizei>(log.size()), nullptr, log.data());
    return log.data();
}

std::string ProgramLog(GLuint program) {
    GLint length = 0;
    gl.GetProgramiv(program, GL_INFO_LOG_LENGTH, &length);
    std::vector<GLchar> log(static_cast<size_t>(length > 0 ? length : 1), '\0');
    gl.GetProgramInfoLog(program, static_cast<GLsizei>(log.size()), nullptr, log.data());
    return log.data();
}

// The attribute names of effect code: the declaration usage's name and its index.
struct UsageName {
    const char* name;
    BYTE usage;
    BYTE count;
};
constexpr UsageName kUsageNames[] = {
    {"POSITION", D3DDECLUSAGE_POSITION, 1}, {"NORMAL", D3DDECLUSAGE_NORMAL, 1},
    {"TANGENT", D3DDECLUSAGE_TANGENT, 1},   {"BINORMAL", D3DDECLUSAGE_BINORMAL, 1},
    {"COLOR", D3DDECLUSAGE_COLOR, 2},       {"TEXCOORD", D3DDECLUSAGE_TEXCOORD, 8},
};

ShaderProgram Link(GLuint vertex, GLuint pixel) {
    ShaderProgram result;
    GLuint name = gl.CreateProgram();
    gl.AttachShader(name, vertex);
    gl.AttachShader(name, pixel);
    for (const UsageName& u : kUsageNames) {
        for (BYTE i = 0; i < u.count; ++i) {
            gl.BindAttribLocation(name, AttribLocationOf(u.usage, i), (u.name + std::to_string(i)).c_str());
        }
    }
    gl.LinkProgram(name);
    GLint ok = GL_FALSE;
    gl.GetProgramiv(name, GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE) {
        result.log = ProgramLog(name);
        gl.DeleteProgram(name);
        return result;
    }
    result.ok = true;
    result.program.name = name;
    result.program.pixel = gl.GetUniformLocation(name, "rh_Pixel");
    result.fogEnable = gl.GetUniformLocation(name, "rh_FogEnable");
    result.fogColor = gl.GetUniformLocation(name, "rh_FogColor");
    for (const UsageName& u : kUsageNames) {
        for (BYTE i = 0; i < u.count; ++i) {
            if (gl.GetAttribLocation(name, (u.name + std::to_string(i)).c_str()) >= 0) {
                result.reads |= 1u << AttribLocationOf(u.usage, i);
            }
        }
    }
    return result;
}

}  // namespace

// ---- Shader objects ----

template <typename Interface, const IID& Iid>
GlslShader<Interface, Iid>::GlslShader(Device* device, GLuint name)
    : DeviceChild<Interface, Iid>(device), owner_(device), name_(name) {}

template <typename Interface, const IID& Iid>
GlslShader<Interface, Iid>::~GlslShader() {
    owner_->ForgetShader(name_);
}

template class GlslShader<IDirect3DVertexShader9, IID_IDirect3DVertexShader9>;
template class GlslShader<IDirect3DPixelShader9, IID_IDirect3DPixelShader9>;

// ---- Programs ----

ShaderProgram* ShaderProgramCache::Find(GLuint vertex, GLuint pixel) {
    auto key = std::make_pair(vertex, pixel);
    auto found = programs_.find(key);
    if (found == programs_.end()) {
        found = programs_.emplace(key, Link(vertex, pixel)).first;
        CheckGlError("ShaderProgramCache::Find");
    }
    return &found->second;
}

void ShaderProgramCache::Forget(GLuint shader, GlCache* cache) {
    for (auto it = programs_.begin(); it != programs_.end();) {
        if (it->first.first == shader || it->first.second == shader) {
            if (it->second.ok) {
                gl.DeleteProgram(it->second.program.name);
                cache->ForgetProgram(it->second.program.name);
            }
            it = programs_.erase(it);
        } else {
            ++it;
        }
    }
}

void ShaderProgramCache::Destroy(GlCache* cache) {
    for (auto& [pair, program] : programs_) {
        if (program.ok) {
            gl.DeleteProgram(program.program.name);
            cache->ForgetProgram(program.program.name);
        }
    }
    programs_.clear();
}

// ---- The device's side ----

HRESULT Device::CreateGlslShader(bool vertex, const std::string& text, IUnknown** shader, std::string* log) {
    *shader = nullptr;
    if (!MakeCurrent()) {
        *log += "the device's window is gone";
        return E_FAIL;
    }
    GLuint name = gl.CreateShader(vertex ? GL_VERTEX_SHADER : GL_FRAGMENT_SHADER);
    const GLchar* source = text.c_str();
    gl.ShaderSource(name, 1, &source, nullptr);
    gl.CompileShader(name);
    GLint ok = GL_FALSE;
    gl.GetShaderiv(name, GL_COMPILE_STATUS, &ok);
    if (ok != GL_TRUE) {
        *log += ShaderLog(name);
        gl.DeleteShader(name);
        return E_FAIL;
    }
    if (vertex) {
        *shader = static_cast<IDirect3DVertexShader9*>(new VertexShader(this, name));
    } else {
        *shader = static_cast<IDirect3DPixelShader9*>(new PixelShader(this, name));
    }
    return D3D_OK;
}

void Device::ForgetShader(GLuint name) {
    // Whatever remembers a pair forgets it first, even without GL: the shader's address may
    // come back as another shader's.
    glslServices_.ForgetLinked();
    if (shaderProgram_ != nullptr) {
        // The program in use may be among those going: the next draw finds its own again.
        shaderProgram_ = nullptr;
        program_ = nullptr;
    }
    if (!MakeCurrent()) return;
    shaderPrograms_.Forget(name, &glCache_);
    gl.DeleteShader(name);
}

bool Device::ShadersBound() const { return vertexShader_.get() != nullptr && pixelShader_.get() != nullptr; }

void Device::ApplyShaderStage() {
    ShaderProgram* linked = shaderProgram_;
    if (linked == nullptr || shaderVertex_ != vertexShader_.get() || shaderPixel_ != pixelShader_.get()) {
        auto* vertex = dynamic_cast<VertexShader*>(vertexShader_.get());
        auto* pixel = dynamic_cast<PixelShader*>(pixelShader_.get());
        linked = vertex != nullptr && pixel != nullptr ? shaderPrograms_.Find(vertex->name(), pixel->name()) : nullptr;
        shaderVertex_ = vertexShader_.get();
        shaderPixel_ = pixelShader_.get();
    }
    uint32_t groups = vertexStageDirty_;
    if (linked != shaderProgram_ || program_ == nullptr) groups = kDirtyAll;  // a program switched to has stale uniforms
    shaderProgram_ = linked;
    program_ = linked != nullptr && linked->ok ? &linked->program : nullptr;
    if (program_ == nullptr) return;
    glCache_.UseProgram(program_->name);
    glCache_.DepthRange(state_.viewport.MinZ, state_.viewport.MaxZ);
    if ((groups & kDirtyViewport) != 0 && program_->pixel >= 0) {
        GLfloat pixelShift[4];
        PixelShift(state_.viewport, false, pixelShift);
        gl.Uniform4fv(program_->pixel, 1, pixelShift);
    }
    if ((groups & kDirtyFog) != 0) {
        // Direct3D fogs after shaders below model 3.0, by the factor the vertex code wrote.
        const DWORD* rs = state_.renderStates;
        if (linked->fogEnable >= 0) gl.Uniform1i(linked->fogEnable, rs[D3DRS_FOGENABLE] != FALSE ? 1 : 0);
        if (linked->fogColor >= 0) {
            DWORD c = rs[D3DRS_FOGCOLOR];
            GLfloat colour[4] = {static_cast<float>((c >> 16) & 0xFF) / 255.0f, static_cast<float>((c >> 8) & 0xFF) / 255.0f,
                                 static_cast<float>(c & 0xFF) / 255.0f, static_cast<float>(c >> 24) / 255.0f};
            gl.Uniform4fv(linked->fogColor, 1, colour);
        }
    }
    vertexStageDirty_ = 0;
    CheckGlError("ApplyShaderStage");
}

HRESULT STDMETHODCALLTYPE Device::QueryInterface(REFIID iid, void** object) {
    if (object != nullptr && iid == IID_IRhGlslDevice) {
        AddRef();
        *object = static_cast<IRhGlslDevice*>(&glslServices_);
        return S_OK;
    }
    return ComObject::QueryInterface(iid, object);
}

// ---- The services ----

HRESULT STDMETHODCALLTYPE GlslServices::QueryInterface(REFIID iid, void** object) {
    return device_->QueryInterface(iid, object);
}
ULONG STDMETHODCALLTYPE GlslServices::AddRef() { return device_->AddRef(); }
ULONG STDMETHODCALLTYPE GlslServices::Release() { return device_->Release(); }

std::string GlslServices::ClipFixup(const char* pixelUniform) {
    return ClipFixupStatement("gl_Position", pixelUniform != nullptr ? pixelUniform : "");
}

HRESULT GlslServices::CreateGlslVertexShader(const std::string& text, IDirect3DVertexShader9** shader, std::string* log) {
    if (shader == nullptr || log == nullptr) return D3DERR_INVALIDCALL;
    IUnknown* made = nullptr;
    HRESULT hr = device_->CreateGlslShader(true, text, &made, log);
    *shader = static_cast<IDirect3DVertexShader9*>(made);
    return hr;
}

HRESULT GlslServices::CreateGlslPixelShader(const std::string& text, IDirect3DPixelShader9** shader, std::string* log) {
    if (shader == nullptr || log == nullptr) return D3DERR_INVALIDCALL;
    IUnknown* made = nullptr;
    HRESULT hr = device_->CreateGlslShader(false, text, &made, log);
    *shader = static_cast<IDirect3DPixelShader9*>(made);
    return hr;
}

ShaderProgram* GlslServices::Linked(IDirect3DVertexShader9* vertex, IDirect3DPixelShader9* pixel) {
    if (lastProgram_ != nullptr && vertex == lastVertex_ && pixel == lastPixel_) {
        return device_->MakeCurrent() ? lastProgram_ : nullptr;
    }
    auto* vs = dynamic_cast<VertexShader*>(vertex);
    auto* ps = dynamic_cast<PixelShader*>(pixel);
    if (vs == nullptr || ps == nullptr || vs->device() != device_ || ps->device() != device_ || !device_->MakeCurrent()) {
        return nullptr;
    }
    lastProgram_ = device_->shaderPrograms().Find(vs->name(), ps->name());
    lastVertex_ = vertex;
    lastPixel_ = pixel;
    return lastProgram_;
}

HRESULT GlslServices::LinkGlslProgram(IDirect3DVertexShader9* vertex, IDirect3DPixelShader9* pixel, std::string* log) {
    ShaderProgram* program = Linked(vertex, pixel);
    if (program == nullptr) return D3DERR_INVALIDCALL;
    if (!program->ok) {
        if (log != nullptr) *log += program->log;
        return E_FAIL;
    }
    return D3D_OK;
}

uint64_t GlslServices::BindingsSerial() { return device_->bindingsSerial(); }

int GlslServices::GlslUniformLocation(IDirect3DVertexShader9* vertex, IDirect3DPixelShader9* pixel, const char* name) {
    ShaderProgram* program = Linked(vertex, pixel);
    if (program == nullptr || !program->ok || name == nullptr) return -1;
    return gl.GetUniformLocation(program->program.name, name);
}

namespace {

// The floats an upload of u reads: a matrix's 16, a vector's 1 to 3, else 4 (the switch below).
uint32_t SentFloats(const GlslUniform& u) {
    if (u.kind == GlslUniform::kMatrix) return 16;
    return u.count >= 1 && u.count <= 3 ? u.count : 4;
}

// Whether the program holds u's value already, as SetGlslUniforms gave it; bitwise, so that
// only the very same bits are taken as unchanged (a -0 after a 0 is sent).
bool Holds(const ShaderProgram& program, const GlslUniform& u) {
    if (GlCache::bypassing() || u.location >= ShaderProgram::kUploadedLocations) return false;
    const size_t at = static_cast<size_t>(u.location);
    if (at >= program.uploaded.size()) return false;
    const UploadedUniform& held = program.uploaded[at];
    if (!held.known || held.kind != u.kind) return false;
    if (u.kind == GlslUniform::kInt) return held.integer == u.integer;
    const uint32_t floats = SentFloats(u);
    if (held.count != floats) return false;
    // Word by word, a library call would cost more than these few words. A matrix from the
    // last word back: the translation row is what mostly differs from one object to the next.
    if (floats == 16) {
        for (int i = 15; i >= 0; --i) {
            uint32_t a, b;
            std::memcpy(&a, &held.floats[i], sizeof a);
            std::memcpy(&b, &u.floats[i], sizeof b);
            if (a != b) return false;
        }
        return true;
    }
    uint32_t differs = 0;
    for (uint32_t i = 0; i < floats; ++i) {
        uint32_t a, b;
        std::memcpy(&a, &held.floats[i], sizeof a);
        std::memcpy(&b, &u.floats[i], sizeof b);
        differs |= a ^ b;
    }
    return differs == 0;
}

void Remember(ShaderProgram* program, const GlslUniform& u) {
    if (u.location >= ShaderProgram::kUploadedLocations) return;
    // The device's own uniforms are set behind this record (ApplyShaderStage): never kept.
    if (u.location == program->program.pixel || u.location == program->fogEnable || u.location == program->fogColor) {
        return;
    }
    const size_t at = static_cast<size_t>(u.location);
    if (at >= program->uploaded.size()) program->uploaded.resize(at + 1);
    UploadedUniform& held = program->uploaded[at];
    held.known = true;
    held.kind = u.kind;
    held.integer = u.integer;
    held.count = u.kind == GlslUniform::kInt ? 0 : SentFloats(u);
    // A fixed size for the matrix: a copy of a size known only here costs more than its bytes.
    if (held.count == 16) {
        std::memcpy(held.floats, u.floats, 16 * sizeof(float));
    } else {
        for (uint32_t i = 0; i < held.count; ++i) held.floats[i] = u.floats[i];
    }
}

}  // namespace

HRESULT GlslServices::SetGlslUniforms(IDirect3DVertexShader9* vertex, IDirect3DPixelShader9* pixel,
                                      const GlslUniform* values, UINT count) {
    ShaderProgram* program = Linked(vertex, pixel);
    if (program == nullptr || !program->ok || (values == nullptr && count != 0)) return D3DERR_INVALIDCALL;
    // The program in use is the cache's business: binding it here is what a draw would do.
    device_->glCache().UseProgram(program->program.name);
    for (UINT i = 0; i < count; ++i) {
        const GlslUniform& u = values[i];
        if (u.location < 0) continue;
        // Most of an effect's values are those of the object before; GL would take the same
        // bits again, at a cost per call.
        if (Holds(*program, u)) continue;
        switch (u.kind) {
            case GlslUniform::kInt: gl.Uniform1i(u.location, u.integer); break;
            case GlslUniform::kMatrix:
                // Direct3D's rows become GLSL's columns: M * v there is v * M here.
                gl.UniformMatrix4fv(u.location, 1, GL_FALSE, u.floats);
                break;
            case GlslUniform::kFloat:
                switch (u.count) {
                    case 1: gl.Uniform1fv(u.location, 1, u.floats); break;
                    case 2: gl.Uniform2fv(u.location, 1, u.floats); break;
                    case 3: gl.Uniform3fv(u.location, 1, u.floats); break;
                    default: gl.Uniform4fv(u.location, 1, u.floats); break;
                }
                break;
        }
        Remember(program, u);
    }
    CheckGlError("SetGlslUniforms");
    return D3D_OK;
}

}  // namespace rh::d3d9

