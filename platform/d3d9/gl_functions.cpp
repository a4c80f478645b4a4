// Loading the OpenGL entry points and the debug-build error check.

#include "platform/d3d9/gl.h"

#include <rimeholt/log.h>

#include <set>
#include <string>

namespace rh::d3d9 {

GlFunctions gl;

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
