// The gamma ramp as a last pass from the back buffer to the window.

#include "platform/d3d9/gamma_pass.h"

#include "platform/d3d9/gl.h"
#include "platform/d3d9/gl_state.h"

#include <rimeholt/log.h>

#include <array>
#include <cstring>

namespace rh::d3d9 {
namespace {

constexpr const char* kVertexSource =
    "#version 120\n"
    "attribute vec2 aCorner;\n"
    "varying vec2 vAt;\n"
    "void main() {\n"
    "    vAt = aCorner * 0.5 + 0.5;\n"
    "    gl_Position = vec4(aCorner, 0.0, 1.0);\n"
    "}\n";

// A level l (0..255) of the picture reads the lookup's texel l at its centre.
constexpr const char* kFragmentSource =
    "#version 120\n"
    "uniform sampler2D uPicture;\n"
    "uniform sampler2D uLookup;\n"
    "varying vec2 vAt;\n"
    "void main() {\n"
    "    vec3 at = (floor(texture2D(uPicture, vAt).rgb * 255.0 + 0.5) + 0.5) / 256.0;\n"
    "    gl_FragColor = vec4(texture2D(uLookup, vec2(at.r, 0.5)).r, texture2D(uLookup, vec2(at.g, 0.5)).g,\n"
    "                        texture2D(uLookup, vec2(at.b, 0.5)).b, 1.0);\n"
    "}\n";

// The whole window as a strip, in normalised coordinates.
constexpr std::array<GLfloat, 8> kCorners = {-1.0f, -1.0f, 1.0f, -1.0f, -1.0f, 1.0f, 1.0f, 1.0f};

constexpr GLuint kPictureUnit = 0;
constexpr GLuint kLookupUnit = 1;

GLuint Compile(GLenum type, const char* source) {
    GLuint shader = gl.CreateShader(type);
    gl.ShaderSource(shader, 1, &source, nullptr);
    gl.CompileShader(shader);
    GLint ok = GL_FALSE;
    gl.GetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok == GL_TRUE) return shader;
    std::array<GLchar, 1024> log{};
    gl.GetShaderInfoLog(shader, static_cast<GLsizei>(log.size()), nullptr, log.data());
    rh::LogError("Direct3D: the gamma ramp's program does not compile: %s", log.data());
    gl.DeleteShader(shader);
    return 0;
}

void SetSampling(GLint filter) {
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, filter);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
    gl.TexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
}

}  // namespace

bool IsIdentityRamp(const D3DGAMMARAMP& ramp) {
    for (int i = 0; i < 256; ++i) {
        if ((ramp.red[i] >> 8) != i || (ramp.green[i] >> 8) != i || (ramp.blue[i] >> 8) != i) return false;
    }
    return true;
}

bool GammaPass::MakeProgram() {
    tried_ = true;
    GLuint vertex = Compile(GL_VERTEX_SHADER, kVertexSource);
    GLuint fragment = Compile(GL_FRAGMENT_SHADER, kFragmentSource);
    if (vertex == 0 || fragment == 0) {
        if (vertex != 0) gl.DeleteShader(vertex);
        if (fragment != 0) gl.DeleteShader(fragment);
        return false;
    }
    GLuint program = gl.CreateProgram();
    gl.AttachShader(program, vertex);
    gl.AttachShader(program, fragment);
    gl.BindAttribLocation(program, 0, "aCorner");
    gl.LinkProgram(program);
    gl.DeleteShader(vertex);
    gl.DeleteShader(fragment);
    GLint ok = GL_FALSE;
    gl.GetProgramiv(program, GL_LINK_STATUS, &ok);
    if (ok != GL_TRUE) {
        std::array<GLchar, 1024> log{};
        gl.GetProgramInfoLog(program, static_cast<GLsizei>(log.size()), nullptr, log.data());
        rh::LogError("Direct3D: the gamma ramp's program does not link: %s", log.data());
        gl.DeleteProgram(program);
        return false;
    }
    program_ = program;
    return true;
}

bool GammaPass::Draw(const D3DGAMMARAMP& ramp, GlCache& cache, int sourceWidth, int sourceHeight, int width,
                     int height) {
    if (program_ == 0 && (tried_ || !MakeProgram())) return false;
    cache.UseProgram(program_);
    if (picture_ == 0) {
        // Set once: the program keeps its samplers' units.
        gl.Uniform1i(gl.GetUniformLocation(program_, "uPicture"), static_cast<GLint>(kPictureUnit));
        gl.Uniform1i(gl.GetUniformLocation(program_, "uLookup"), static_cast<GLint>(kLookupUnit));
        gl.GenTextures(1, &picture_);
        gl.GenTextures(1, &lookup_);
    }

    cache.BindTexture(kLookupUnit, GL_TEXTURE_2D, lookup_);
    if (!lookupValid_ || std::memcmp(&uploaded_, &ramp, sizeof ramp) != 0) {
        // A ramp entry's level is its top byte, as the display hardware takes it.
        std::array<GLubyte, 256 * 4> levels{};
        for (size_t i = 0; i < 256; ++i) {
            levels[i * 4 + 0] = static_cast<GLubyte>(ramp.red[i] >> 8);
            levels[i * 4 + 1] = static_cast<GLubyte>(ramp.green[i] >> 8);
            levels[i * 4 + 2] = static_cast<GLubyte>(ramp.blue[i] >> 8);
            levels[i * 4 + 3] = 0xFF;
        }
        gl.PixelStorei(GL_UNPACK_ALIGNMENT, 4);
        gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, 256, 1, 0, GL_RGBA, GL_UNSIGNED_BYTE, levels.data());
        SetSampling(GL_NEAREST);
        uploaded_ = ramp;
        lookupValid_ = true;
    }

    cache.BindTexture(kPictureUnit, GL_TEXTURE_2D, picture_);
    if (pictureWidth_ != sourceWidth || pictureHeight_ != sourceHeight) {
        gl.TexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, sourceWidth, sourceHeight, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        pictureWidth_ = sourceWidth;
        pictureHeight_ = sourceHeight;
    }
    SetSampling(sourceWidth == width && sourceHeight == height ? GL_NEAREST : GL_LINEAR);
    gl.ReadBuffer(GL_COLOR_ATTACHMENT0);
    gl.CopyTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, 0, 0, sourceWidth, sourceHeight);

    gl.BindFramebuffer(GL_DRAW_FRAMEBUFFER, 0);
    gl.DrawBuffer(GL_BACK);
    // Nothing of the device's drawing state may touch the pass: every fragment is written.
    for (GLenum cap : {GL_DEPTH_TEST, GL_STENCIL_TEST, GL_BLEND, GL_ALPHA_TEST, GL_CULL_FACE, GL_SCISSOR_TEST}) {
        cache.Enable(cap, false);
    }
    cache.ColorMask(true, true, true, true);
    cache.PolygonMode(GL_FILL);
    cache.Viewport(0, 0, width, height);
    GlCache::AttribArray corners;
    corners.size = 2;
    corners.type = GL_FLOAT;
    corners.offset = reinterpret_cast<uintptr_t>(kCorners.data());  // client memory: no buffer bound
    cache.VertexAttribPointer(0, corners);
    cache.EnableAttribArrays(1u);
    gl.DrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    gl.BindFramebuffer(GL_FRAMEBUFFER, 0);
    CheckGlError("GammaPass::Draw");
    return true;
}

void GammaPass::Destroy(GlCache& cache) {
    if (program_ != 0) {
        gl.DeleteProgram(program_);
        cache.ForgetProgram(program_);
    }
    for (GLuint* texture : {&picture_, &lookup_}) {
        if (*texture == 0) continue;
        gl.DeleteTextures(1, texture);
        cache.ForgetTexture(*texture);
        *texture = 0;
    }
    program_ = 0;
    tried_ = false;
    pictureWidth_ = pictureHeight_ = 0;
    lookupValid_ = false;
}

}  // namespace rh::d3d9
