// Loading the OpenGL entry points and the debug-build error check.

#include "platform/d3d9/gl.h"

#include <rimeholt/log.h>

#include <set>
#include <string>

namespace rh::d3d9 {

GlFunctions gl;
GlObjectCounts g_glObjects;

namespace {

// The driver's own creation and deletion calls; the table's entries count around them, so
// that every object the layer makes or deletes is seen whichever part of it does so.
GlFunctions g_driver;

int64_t NonZero(GLsizei n, const GLuint* names) {
    int64_t count = 0;
    for (GLsizei i = 0; names != nullptr && i < n; ++i) count += names[i] != 0;
    return count;
}

#define RH_D3D9_COUNT_PAIR(kind, gen, del)                                          \
    void APIENTRY Counted##gen(GLsizei n, GLuint* names) {                          \
        g_driver.gen(n, names);                                                     \
        g_glObjects.kind += NonZero(n, names);                                      \
    }                                                                               \
    void APIENTRY Counted##del(GLsizei n, const GLuint* names) {                    \
        g_glObjects.kind -= NonZero(n, names);                                      \
        g_driver.del(n, names);                                                     \
    }
RH_D3D9_COUNT_PAIR(textures, GenTextures, DeleteTextures)
RH_D3D9_COUNT_PAIR(buffers, GenBuffers, DeleteBuffers)
RH_D3D9_COUNT_PAIR(queries, GenQueries, DeleteQueries)
RH_D3D9_COUNT_PAIR(framebuffers, GenFramebuffers, DeleteFramebuffers)
RH_D3D9_COUNT_PAIR(renderbuffers, GenRenderbuffers, DeleteRenderbuffers)
#undef RH_D3D9_COUNT_PAIR

GLuint APIENTRY CountedCreateShader(GLenum type) {
    const GLuint name = g_driver.CreateShader(type);
    g_glObjects.shaders += name != 0;
    return name;
}
void APIENTRY CountedDeleteShader(GLuint name) {
    g_glObjects.shaders -= name != 0;
    g_driver.DeleteShader(name);
}
GLuint APIENTRY CountedCreateProgram() {
    const GLuint name = g_driver.CreateProgram();
    g_glObjects.programs += name != 0;
    return name;
}
void APIENTRY CountedDeleteProgram(GLuint name) {
    g_glObjects.programs -= name != 0;
    g_driver.DeleteProgram(name);
}

}  // namespace

bool LoadGlFunctions() {
    bool ok = true;
#define RH_D3D9_GL_LOAD(ret, name, params)                                                   \
    if (gl.name == nullptr) {                                                                \
        gl.name = reinterpret_cast<decltype(gl.name)>(SDL_GL_GetProcAddress("gl" #name));    \
        if (gl.name == nullptr) {                                                            \
            rh::LogError("Direct3D: OpenGL entry point gl%s is missing", #name);             \
            ok = false;                                                                      \
        }                                                                                    \
    }
    RH_D3D9_GL_FUNCTIONS(RH_D3D9_GL_LOAD)
#undef RH_D3D9_GL_LOAD
    if (ok && g_driver.GenTextures == nullptr) {
        g_driver = gl;
#define RH_D3D9_COUNTED(name) gl.name = &Counted##name;
        RH_D3D9_COUNTED(GenTextures)
        RH_D3D9_COUNTED(DeleteTextures)
        RH_D3D9_COUNTED(GenBuffers)
        RH_D3D9_COUNTED(DeleteBuffers)
        RH_D3D9_COUNTED(GenQueries)
        RH_D3D9_COUNTED(DeleteQueries)
        RH_D3D9_COUNTED(GenFramebuffers)
        RH_D3D9_COUNTED(DeleteFramebuffers)
        RH_D3D9_COUNTED(GenRenderbuffers)
        RH_D3D9_COUNTED(DeleteRenderbuffers)
        RH_D3D9_COUNTED(CreateShader)
        RH_D3D9_COUNTED(DeleteShader)
        RH_D3D9_COUNTED(CreateProgram)
        RH_D3D9_COUNTED(DeleteProgram)
#undef RH_D3D9_COUNTED
    }
    return ok;
}

void CheckGlError([[maybe_unused]] const char* where) {
#ifndef NDEBUG
    if (gl.GetError == nullptr) return;
    static std::set<std::string> reported;
    for (GLenum error = gl.GetError(); error != GL_NO_ERROR; error = gl.GetError()) {
        if (reported.insert(where).second) {
            rh::LogWarning("Direct3D: OpenGL error 0x%04X at %s", static_cast<unsigned>(error), where);
        }
    }
#endif
}

}  // namespace rh::d3d9
