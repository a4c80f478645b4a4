// The OpenGL capability probe behind the DirectX diagnostic provider.

#include "platform/com/com_local.h"

#include <rimeholt/log.h>

#include <SDL.h>
#include <SDL_opengl.h>

namespace rh::com {
namespace {

// Reads digits at *text; false when there are none. Caps the value so a silly driver string
// cannot overflow.
bool ReadNumber(const char*& text, int* value, int* digits) {
    int n = 0;
    int count = 0;
    while (*text >= '0' && *text <= '9') {
        if (n < 100000) n = n * 10 + (*text - '0');
        ++text;
        ++count;
    }
    *value = n;
    if (digits != nullptr) *digits = count;
    return count > 0;
}

bool ParseVersion(const char* text, int* major, int* minor, int* minorDigits) {
    if (text == nullptr) return false;
    while (*text != '\0' && (*text < '0' || *text > '9')) ++text;
    int a = 0;
    int b = 0;
    if (!ReadNumber(text, &a, nullptr) || *text != '.') return false;
    ++text;
    if (!ReadNumber(text, &b, minorDigits)) return false;
    *major = a;
    *minor = b;
    return true;
}

// The GL attributes the probe changes, so that it can put them back for whoever creates the
// real context later.
struct SavedGlAttributes {
    int profile = 0;
    int major = 0;
    int minor = 0;

    void Save() {
        SDL_GL_GetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, &profile);
        SDL_GL_GetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, &major);
        SDL_GL_GetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, &minor);
    }
    void Restore() const {
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, profile);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, major);
        SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, minor);
    }
};

// Tries one context request on window; fills gl when a context comes up.
bool ProbeContext(SDL_Window* window, int major, int minor, GlCapabilities* gl) {
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, major);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, minor);
    SDL_GLContext context = SDL_GL_CreateContext(window);  // also makes it current
    if (context == nullptr) return false;

    gl->hasContext = true;
    // Loaded through SDL so that the entry point matches the context SDL made (GLX or EGL).
    using GetStringFn = const GLubyte*(APIENTRY*)(GLenum);
    auto getString = reinterpret_cast<GetStringFn>(SDL_GL_GetProcAddress("glGetString"));
    if (getString != nullptr) {
        auto version = reinterpret_cast<const char*>(getString(GL_VERSION));
        auto glsl = reinterpret_cast<const char*>(getString(GL_SHADING_LANGUAGE_VERSION));
        if (!ParseGlVersion(version, &gl->glMajor, &gl->glMinor)) gl->glMajor = gl->glMinor = 0;
        if (!ParseGlslVersion(glsl, &gl->glslMajor, &gl->glslMinor)) gl->glslMajor = gl->glslMinor = 0;
    }
    SDL_GL_DeleteContext(context);
    return true;
}

GlCapabilities RunProbe() {
    GlCapabilities gl;
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) {
        rh::LogError("DirectX diagnostics: no video: %s", SDL_GetError());
        return gl;
    }
    SDL_Window* previousWindow = SDL_GL_GetCurrentWindow();
    SDL_GLContext previousContext = SDL_GL_GetCurrentContext();
    SavedGlAttributes saved;
    saved.Save();

    SDL_Window* window = SDL_CreateWindow("", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, 1, 1,
                                          SDL_WINDOW_OPENGL | SDL_WINDOW_HIDDEN);
    if (window == nullptr) {
        rh::LogError("DirectX diagnostics: no OpenGL window: %s", SDL_GetError());
    } else {
        // What the Direct3D 9 layer asks for first; any older context still tells "old" from "none".
        if (!ProbeContext(window, 2, 1, &gl) && !ProbeContext(window, 1, 1, &gl)) {
            rh::LogError("DirectX diagnostics: no OpenGL context: %s", SDL_GetError());
        }
        SDL_DestroyWindow(window);
    }

    saved.Restore();
    if (previousContext != nullptr) SDL_GL_MakeCurrent(previousWindow, previousContext);
    SDL_QuitSubSystem(SDL_INIT_VIDEO);
    return gl;
}

}  // namespace

bool ParseGlVersion(const char* text, int* major, int* minor) {
    return ParseVersion(text, major, minor, nullptr);
}

bool ParseGlslVersion(const char* text, int* major, int* minor) {
    int digits = 0;
    if (!ParseVersion(text, major, minor, &digits)) return false;
    if (digits == 1) *minor *= 10;
    return true;
}

std::optional<DirectXVersion> DirectXVersionFromGl(const GlCapabilities& gl) {
    if (!gl.hasContext) return std::nullopt;
    bool glOk = gl.glMajor > 2 || (gl.glMajor == 2 && gl.glMinor >= 1);
    bool glslOk = gl.glslMajor > 1 || (gl.glslMajor == 1 && gl.glslMinor >= 20);
    if (glOk && glslOk) return DirectXVersion{9, 0, u'c'};
    // Below what the Direct3D 9 layer can run on; 8.1 keeps the program's 9.0 threshold honest.
    return DirectXVersion{8, 1, u' '};
}

const GlCapabilities& ProbeOpenGl() {
    static const GlCapabilities probed = RunProbe();
    return probed;
}

}  // namespace rh::com
