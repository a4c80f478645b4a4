// What the benchmarks' hand-written peers share: a table of GL entry points loaded by name, and
// the process's processor time.
#pragma once

#include <time.h>

// The table expands where it is used, after the includer's own SDL_opengl.h (which must come
// after the layer's Windows headers, as both name APIENTRY).

// Inside a struct, RH_RAW_GL_TABLE(LIST) declares one pointer member per entry of LIST, an
// X-macro of X(return type, name without "gl", (parameters)), and `bool Load()`, which fills
// them from the current context and answers whether every one was found.
#define RH_RAW_GL_MEMBER(ret, name, params) ret(APIENTRY* name) params = nullptr;
#define RH_RAW_GL_LOAD(ret, name, params)                                       \
    name = reinterpret_cast<decltype(name)>(SDL_GL_GetProcAddress("gl" #name)); \
    ok = ok && name != nullptr;
#define RH_RAW_GL_TABLE(LIST) \
    LIST(RH_RAW_GL_MEMBER)    \
    bool Load() {             \
        bool ok = true;       \
        LIST(RH_RAW_GL_LOAD)  \
        return ok;            \
    }

namespace bench {

// The process's processor time (every thread, llvmpipe's rasterisers too) in milliseconds.
inline double ProcessMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) * 1e3 + static_cast<double>(t.tv_nsec) / 1e6;
}

}  // namespace bench
