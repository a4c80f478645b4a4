// The display every window of the layer needs: SDL's video started once, a missing display
// reported once, and the one probe of the OpenGL driver.

#include "platform/win32/sdl_window.h"

#include <rimeholt/log.h>

#include <SDL.h>
#include <SDL_opengl.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace rh::win32 {
namespace {

bool g_noDisplay = false;

// SDL falls back to these when no display server answers; a window there is never seen, and
// a full-screen program on them could not even be ended. They serve only when asked for.
bool IsInvisibleDriver(const char* driver) {
    return driver != nullptr && (SDL_strcasecmp(driver, "offscreen") == 0 || SDL_strcasecmp(driver, "dummy") == 0);
}

bool VideoDriverRequested() {
    const char* requested = SDL_GetHint(SDL_HINT_VIDEODRIVER);
    return requested != nullptr && requested[0] != '\0';
}

const char* EnvironmentValue(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && value[0] != '\0' ? value : nullptr;
}

// glGetString and friends, reached through SDL so that they belong to the context SDL made.
struct GlQueries {
    using GetStringFn = const GLubyte*(APIENTRY*)(GLenum);
    using GetIntegervFn = void(APIENTRY*)(GLenum, GLint*);
    using GetFloatvFn = void(APIENTRY*)(GLenum, GLfloat*);
    using GetErrorFn = GLenum(APIENTRY*)();
    GetStringFn getString = reinterpret_cast<GetStringFn>(SDL_GL_GetProcAddress("glGetString"));
    GetIntegervFn getIntegerv = reinterpret_cast<GetIntegervFn>(SDL_GL_GetProcAddress("glGetIntegerv"));
    GetFloatvFn getFloatv = reinterpret_cast<GetFloatvFn>(SDL_GL_GetProcAddress("glGetFloatv"));
    GetErrorFn getError = reinterpret_cast<GetErrorFn>(SDL_GL_GetProcAddress("glGetError"));

    bool complete() const { return getString != nullptr && getIntegerv != nullptr && getFloatv != nullptr && getError != nullptr; }
    std::string Text(GLenum name) const {
        auto text = reinterpret_cast<const char*>(getString(name));
        return text != nullptr ? text : "";
    }
    int Integer(GLenum name) const {
        GLint value = 0;
        getIntegerv(name, &value);
        return value;
    }
};

constexpr GLenum kShadingLanguageVersion = 0x8B8C;  // GL_SHADING_LANGUAGE_VERSION
constexpr GLenum kMaxTextureUnits = 0x84E2;         // GL_MAX_TEXTURE_UNITS (fixed-function stages)
constexpr GLenum kMax3dTextureSize = 0x8073;        // GL_MAX_3D_TEXTURE_SIZE
constexpr GLenum kMaxAnisotropy = 0x84FF;           // GL_MAX_TEXTURE_MAX_ANISOTROPY_EXT

void ReadFacts(const GlQueries& q, GlDriverFacts* facts) {
    facts->vendor = q.Text(GL_VENDOR);
    facts->renderer = q.Text(GL_RENDERER);
    facts->version = q.Text(GL_VERSION);
    facts->shadingLanguageVersion = q.Text(kShadingLanguageVersion);
    facts->extensions = q.Text(GL_EXTENSIONS);
    facts->maxTextureSize = q.Integer(GL_MAX_TEXTURE_SIZE);
    facts->max3dTextureSize = q.Integer(kMax3dTextureSize);
    facts->maxTextureUnits = q.Integer(kMaxTextureUnits);
    facts->maxLights = q.Integer(GL_MAX_LIGHTS);
    facts->maxClipPlanes = q.Integer(GL_MAX_CLIP_PLANES);
    GLfloat pointRange[2] = {1.0f, 1.0f};
    q.getFloatv(GL_POINT_SIZE_RANGE, pointRange);
    facts->maxPointSize = pointRange[1];
    if (HasGlExtension(facts->extensions, "GL_EXT_texture_filter_anisotropic")) {
        q.getFloatv(kMaxAnisotropy, &facts->maxAnisotropy);
    }
    // A limit the driver does not know must not surface as an error of the program's own calls.
    while (q.getError() != GL_NO_ERROR) {
    }
}

// One context request on window; the facts are read while it is current.
bool TryContext(SDL_Window* window, int major, int minor, GlDriverFacts* facts) {
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_PROFILE_MASK, SDL_GL_CONTEXT_PROFILE_COMPATIBILITY);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MAJOR_VERSION, major);
    SDL_GL_SetAttribute(SDL_GL_CONTEXT_MINOR_VERSION, minor);
    SDL_GLContext context = SDL_GL_CreateContext(window);  // also makes it current
    if (context == nullptr) return false;
    facts->hasContext = true;
    facts->contextMajor = major;
    facts->contextMinor = minor;
    GlQueries queries;
    if (queries.complete()) ReadFacts(queries, facts);
    SDL_GL_DeleteContext(context);
    return true;
}

GlDriverFacts RunProbe() {
    GlDriverFacts facts;
    if (!EnsureSdlVideo()) return facts;  // reported there
    SDL_Window* previousWindow = SDL_GL_GetCurrentWindow();
    SDL_GLContext previousContext = SDL_GL_GetCurrentContext();
    // In the pixel format every window and device of the layer is made with, so that what is
    // found here holds for them.
    SDL_Window* window = CreateGlWindow("", SDL_WINDOWPOS_UNDEFINED, SDL_WINDOWPOS_UNDEFINED, 1, 1, SDL_WINDOW_HIDDEN);
    if (window == nullptr) {
        rh::LogError("OpenGL: no window for the driver probe: %s", SDL_GetError());
    } else {
        // What the Direct3D layer asks for; any older context still tells "old" from "none".
        if (!TryContext(window, 2, 1, &facts) && !TryContext(window, 1, 1, &facts)) {
            rh::LogError("OpenGL: no context: %s", SDL_GetError());
        }
        SDL_DestroyWindow(window);
    }
    SetGlPixelFormat(8);
    if (previousContext != nullptr) SDL_GL_MakeCurrent(previousWindow, previousContext);
    return facts;
}

}  // namespace

void ReportNoDisplay() {
    if (g_noDisplay) return;
    g_noDisplay = true;
    const char* display = EnvironmentValue("DISPLAY");
    const char* wayland = EnvironmentValue("WAYLAND_DISPLAY");
    if (display == nullptr && wayland == nullptr) {
        rh::LogError("no display: neither DISPLAY nor WAYLAND_DISPLAY is set");
    } else {
        rh::LogError("cannot open the display (DISPLAY=%s, WAYLAND_DISPLAY=%s)", display != nullptr ? display : "unset",
                     wayland != nullptr ? wayland : "unset");
    }
}

bool NoDisplay() { return g_noDisplay; }

bool EnsureSdlVideo() {
    // Kept until exit: the GL contexts and DirectInput depend on it as long as the program runs.
    static bool started = [] {
        if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_TIMER | SDL_INIT_EVENTS) != 0) {
            ReportNoDisplay();
            return false;
        }
        if (IsInvisibleDriver(SDL_GetCurrentVideoDriver()) && !VideoDriverRequested()) {
            SDL_QuitSubSystem(SDL_INIT_VIDEO | SDL_INIT_TIMER | SDL_INIT_EVENTS);
            ReportNoDisplay();
            return false;
        }
        // The GL driver stays loaded too: SDL would unload it with the last GL window and load
        // it again for the next, each time a device's window is remade. Failing here only
        // means there is no GL, which the driver probe finds.
        SDL_GL_LoadLibrary(nullptr);
        CatchHangup();
        return true;
    }();
    return started;
}

bool HasGlExtension(const std::string& extensions, const char* name) {
    size_t length = std::strlen(name);
    for (size_t at = extensions.find(name); at != std::string::npos; at = extensions.find(name, at + length)) {
        bool startsWord = at == 0 || extensions[at - 1] == ' ';
        bool endsWord = at + length == extensions.size() || extensions[at + length] == ' ';
        if (startsWord && endsWord) return true;
    }
    return false;
}

const GlDriverFacts& ProbeGlDriver() {
    static const GlDriverFacts facts = RunProbe();
    return facts;
}

}  // namespace rh::win32
