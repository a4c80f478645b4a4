// Generated programs: their sources, compilation and cache.

#include "platform/d3d9/programs.h"

#include "platform/d3d9/gl.h"
#include "platform/d3d9/vertex_input.h"

#include <rimeholt/log.h>

#include <vector>

namespace rh::d3d9 {

uint32_t PipelineKey::Bits() const {
    return (pretransformed ? 1u : 0u) | (color0 ? 2u : 0u) | (color0Bgra ? 4u : 0u) | (color1 ? 8u : 0u) |
           (color1Bgra ? 16u : 0u) | (lighting ? 32u : 0u) | (specular ? 64u : 0u) | (uint32_t{texture} << 7) |
           (uint32_t{texCoordSet} << 9) | (texCoordPresent ? 1u << 12 : 0u) | (uint32_t(colour) << 13) |
           (uint32_t(alpha) << 15);
}

namespace {

// A vertex colour read from its attribute, or the value Direct3D gives a missing one.
std::string ColourInput(bool present, bool bgra, const char* attribute, const char* missing) {
    if (!present) return missing;
    // D3DCOLOR's bytes are B, G, R, A; GL read them into x, y, z, w in that order.
    return bgra ? std::string(attribute) + ".zyxw" : std::string(attribute);
}

}  // namespace

std::string VertexProgramSource(const PipelineKey& key) {
    std::string s = "#version 120\n";
    s += "attribute vec4 aPosition;\n";
    if (key.color0) s += "attribute vec4 aColor0;\n";
    if (key.color1) s += "attribute vec4 aColor1;\n";
    std::string texCoord = "aTexCoord" + std::to_string(key.texCoordSet);
    if (key.texture != PipelineKey::kNoTexture && key.texCoordPresent) s += "attribute vec4 " + texCoord + ";\n";
    s += "uniform vec4 uPixel;\n";
    bool lit = key.lighting && !key.pretransformed;
    if (!key.pretransformed) s += "uniform mat4 uWorldViewProjection;\n";
    if (lit) {
        s += "uniform vec4 uMaterial[3];\n";      // diffuse, ambient, emissive
        s += "uniform vec4 uSource[3];\n";        // their weights of (material, COLOR0, COLOR1)
        s += "uniform vec4 uAmbientLight;\n";
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
        s += "    gl_Position = vec4(p.xy + p.w * uPixel.xy, 2.0 * p.z - p.w, p.w);\n";
    }
    if (lit) {
        // Without lights Direct3D's lit colour is the emissive colour plus the ambient colour
        // times the ambient light; alpha comes from the diffuse colour.
        s += "    vec4 diffuse = uMaterial[0] * uSource[0].x + colour0 * uSource[0].y + colour1 * uSource[0].z;\n";
        s += "    vec4 ambient = uMaterial[1] * uSource[1].x + colour0 * uSource[1].y + colour1 * uSource[1].z;\n";
        s += "    vec4 emissive = uMaterial[2] * uSource[2].x + colour0 * uSource[2].y + colour1 * uSource[2].z;\n";
        s += "    gl_FrontColor = clamp(vec4(emissive.rgb + ambient.rgb * uAmbientLight.rgb, diffuse.a), 0.0, 1.0);\n";
        s += "    gl_FrontSecondaryColor = vec4(0.0);\n";
    } else {
        s += "    gl_FrontColor = colour0;\n";
        s += "    gl_FrontSecondaryColor = colour1;\n";
    }
    // Coordinates missing from the vertices read as (0, 0, 0, 1), as GL's missing attribute
    // components do.
    if (key.texture != PipelineKey::kNoTexture) {
        s += "    gl_TexCoord[0] = " + (key.texCoordPresent ? texCoord : std::string("vec4(0.0, 0.0, 0.0, 1.0)")) + ";\n";
    }
    // The built-in colour varyings follow glShadeModel, as D3DRS_SHADEMODE wants.
    s += "}\n";
    return s;
}

namespace {

// One channel group of stage 0's result from the texture t and the diffuse colour d.
std::string Blend(StageBlend blend, const char* channels) {
    std::string t = std::string("t.") + channels;
    std::string d = std::string("gl_Color.") + channels;
    switch (blend) {
        case StageBlend::Texture: return t;
        case StageBlend::Diffuse: return d;
        default: return t + " * " + d;
    }
}

}  // namespace

std::string FragmentProgramSource(const PipelineKey& key) {
    // Without a texture, stage 0's CURRENT, the diffuse colour, passes through.
    std::string s = "#version 120\n";
    bool textured = key.texture != PipelineKey::kNoTexture;
    if (textured) s += key.texture == PipelineKey::kTextureCube ? "uniform samplerCube uTexture0;\n" : "uniform sampler2D uTexture0;\n";
    s += "void main() {\n";
    if (textured) {
        s += key.texture == PipelineKey::kTextureCube ? "    vec4 t = textureCube(uTexture0, gl_TexCoord[0].xyz);\n"
                                                      : "    vec4 t = texture2D(uTexture0, gl_TexCoord[0].xy);\n";
        s += "    vec4 c = vec4(" + Blend(key.colour, "rgb") + ", " + Blend(key.alpha, "a") + ");\n";
    } else {
        s += "    vec4 c = gl_Color;\n";
    }
    // The specular colour is added after the stages.
    if (key.specular && !(key.lighting && !key.pretransformed)) {
        s += "    gl_FragColor = vec4(c.rgb + gl_SecondaryColor.rgb, c.a);\n";
    } else {
        s += "    gl_FragColor = c;\n";
    }
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
        rh::LogError("Direct3D: a generated %s program does not compile: %s",
                     type == GL_VERTEX_SHADER ? "vertex" : "fragment", log.data());
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
    gl.BindAttribLocation(name, kAttribColor0, "aColor0");
    gl.BindAttribLocation(name, kAttribColor1, "aColor1");
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
    program.pixel = gl.GetUniformLocation(name, "uPixel");
    program.material = gl.GetUniformLocation(name, "uMaterial");
    program.source = gl.GetUniformLocation(name, "uSource");
    program.ambientLight = gl.GetUniformLocation(name, "uAmbientLight");
    program.texture0 = gl.GetUniformLocation(name, "uTexture0");
    if (program.texture0 >= 0) {
        // A sampler names its unit once; the program in use goes back to what it was, which
        // the GL cache remembers.
        GLint previous = 0;
        gl.GetIntegerv(GL_CURRENT_PROGRAM, &previous);
        gl.UseProgram(name);
        gl.Uniform1i(program.texture0, 0);
        gl.UseProgram(static_cast<GLuint>(previous));
    }
    return program;
}

}  // namespace

const Program* ProgramCache::Find(const PipelineKey& key) {
    // Entries are nodes of the map: the programs handed out stay where they are.
    Entry& entry = entries_[key.Bits()];
    if (!entry.tried) {
        entry.tried = true;
        entry.program = Build(key);
        CheckGlError("ProgramCache::Find");
    }
    return entry.program.name != 0 ? &entry.program : nullptr;
}

void ProgramCache::Destroy() {
    for (auto& [bits, entry] : entries_) {
        if (entry.program.name != 0) gl.DeleteProgram(entry.program.name);
    }
    entries_.clear();
}

int ProgramCache::size() const {
    int count = 0;
    for (const auto& [bits, entry] : entries_) count += entry.program.name != 0 ? 1 : 0;
    return count;
}

}  // namespace rh::d3d9
