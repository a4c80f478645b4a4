// What the OpenGL driver offers, in the terms of the DirectX diagnostic provider.

#include "platform/com/com_local.h"
#include "platform/win32/sdl_window_local.h"

#include <rimeholt/log.h>

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
    // The driver is probed once per process; Direct3DCreate9 answers from the same probe.
    static const GlCapabilities probed = [] {
        const win32::GlDriverFacts& driver = win32::ProbeGlDriver();
        GlCapabilities gl;
        gl.hasContext = driver.hasContext;
        if (!ParseGlVersion(driver.version.c_str(), &gl.glMajor, &gl.glMinor)) gl.glMajor = gl.glMinor = 0;
        if (!ParseGlslVersion(driver.shadingLanguageVersion.c_str(), &gl.glslMajor, &gl.glslMinor))
            gl.glslMajor = gl.glslMinor = 0;
        return gl;
    }();
    return probed;
}

}  // namespace rh::com
