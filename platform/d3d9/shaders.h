// GLSL shader objects behind IDirect3DVertexShader9 and IDirect3DPixelShader9, the programs
// linked from their pairs, and the device's GLSL services for the effect framework
// (glsl_device.h). Private to platform/d3d9.
#pragma once

#include "platform/d3d9/device_child.h"
#include "platform/d3d9/gl_state.h"
#include "platform/d3d9/glsl_device.h"
#include "platform/d3d9/programs.h"

#include <d3d9.h>

#include <SDL_opengl.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace rh::d3d9 {

class Device;

// One compiled GLSL stage. The GL shader goes with the object; the programs linked from it
// go with it too.
template <typename Interface, const IID& Iid>
class GlslShader final : public DeviceChild<Interface, Iid> {
public:
    GlslShader(Device* device, GLuint name);
    ~GlslShader() override;

    HRESULT STDMETHODCALLTYPE GetDevice(IDirect3DDevice9** device) override { return this->ShareDevice(device); }
    GLuint name() const { return name_; }

private:
    Device* owner_;
    GLuint name_;
};
using VertexShader = GlslShader<IDirect3DVertexShader9, IID_IDirect3DVertexShader9>;
using PixelShader = GlslShader<IDirect3DPixelShader9, IID_IDirect3DPixelShader9>;

// What SetGlslUniforms last gave one uniform location of a program.
struct UploadedUniform {
    bool known = false;
    GlslUniform::Kind kind = GlslUniform::kFloat;
    uint32_t count = 0;
    int integer = 0;
    float floats[16] = {};
};

// A program linked from a vertex and a pixel shader.
struct ShaderProgram {
    bool ok = false;
    std::string log;  // the driver's, when it did not link
    Program program;  // name and the half-pixel uniform (pixel)
    GLint fogEnable = -1;
    GLint fogColor = -1;
    uint32_t reads = 0;  // the attribute locations the program reads (bit per location)
    // By location, below kUploadedLocations: a program keeps its uniform values while it
    // lives, so a value it already holds need not be sent again. Only SetGlslUniforms writes
    // these locations (the device's own uniforms, pixel and fog, are never recorded here).
    std::vector<UploadedUniform> uploaded;
    static constexpr int kUploadedLocations = 256;
};

// Programs by the GL names of their pair.
class ShaderProgramCache {
public:
    // With the context current: the pair's program, linked on first use (a failure is kept).
    ShaderProgram* Find(GLuint vertex, GLuint pixel);
    // With the context current: deletes the programs made from shader; the program in use
    // among them is forgotten by cache.
    void Forget(GLuint shader, GlCache* cache);
    void Destroy(GlCache* cache);

private:
    std::map<std::pair<GLuint, GLuint>, ShaderProgram> programs_;
};

// The device's IRhGlslDevice: a part of the device, counted on it.
class GlslServices final : public IRhGlslDevice {
public:
    explicit GlslServices(Device* device) : device_(device) {}

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    std::string ClipFixup(const char* pixelUniform) override;
    HRESULT CreateGlslVertexShader(const std::string& text, IDirect3DVertexShader9** shader, std::string* log) override;
    HRESULT CreateGlslPixelShader(const std::string& text, IDirect3DPixelShader9** shader, std::string* log) override;
    HRESULT LinkGlslProgram(IDirect3DVertexShader9* vertex, IDirect3DPixelShader9* pixel, std::string* log) override;
    int GlslUniformLocation(IDirect3DVertexShader9* vertex, IDirect3DPixelShader9* pixel, const char* name) override;
    HRESULT SetGlslUniforms(IDirect3DVertexShader9* vertex, IDirect3DPixelShader9* pixel, const GlslUniform* values,
                            UINT count) override;
    bool SendsEverything() override { return GlCache::bypassing(); }
    uint64_t BindingsSerial() override;

    // A shader of the device goes: the pair remembered below may name it.
    void ForgetLinked() {
        lastVertex_ = nullptr;
        lastPixel_ = nullptr;
        lastProgram_ = nullptr;
    }

private:
    // The pair's program when both are this device's shaders and it linked; else null.
    ShaderProgram* Linked(IDirect3DVertexShader9* vertex, IDirect3DPixelShader9* pixel);

    Device* device_;
    // The last pair Linked answered for and its program: an effect asks about the same pair at
    // every pass, and the casts and the cache's lookup are then skipped.
    IDirect3DVertexShader9* lastVertex_ = nullptr;
    IDirect3DPixelShader9* lastPixel_ = nullptr;
    ShaderProgram* lastProgram_ = nullptr;
};

}  // namespace rh::d3d9
