// Layer-private parts of the DirectX diagnostic provider, shared by its sources and the
// conformance tests.
#pragma once

#include <objbase.h>
#include <windows.h>

#include <optional>

namespace rh::com {

// A DirectX version as the diagnostic provider reports it.
struct DirectXVersion {
    DWORD major = 0;
    DWORD minor = 0;
    char16_t letter = u' ';  // 'a'..'z', or a blank when the version has no letter
};

// What the OpenGL probe found. Versions are 0.0 when unknown.
struct GlCapabilities {
    bool hasContext = false;
    int glMajor = 0;
    int glMinor = 0;
    int glslMajor = 0;
    int glslMinor = 0;  // two digits as GLSL writes them: "1.20" is 1 and 20
};

// Reads "major.minor" where it starts in a GL_VERSION or GL_SHADING_LANGUAGE_VERSION text
// (any text before the first digit is skipped, as some drivers prefix a name). For the
// shading language, a one-digit minor is taken as tens ("1.2" is 1.20). False when there is
// no such number.
bool ParseGlVersion(const char* text, int* major, int* minor);
bool ParseGlslVersion(const char* text, int* major, int* minor);

// The DirectX version an OpenGL backend with these capabilities stands for: 9.0c when it has
// what the Direct3D 9 layer needs, 8.1 for an older context, nothing without a context.
std::optional<DirectXVersion> DirectXVersionFromGl(const GlCapabilities& gl);

// The versions the layer's one OpenGL driver probe found (an OpenGL 2.1 compatibility context,
// else any context, to tell "old" from "none"). Probes on the first call of the process.
const GlCapabilities& ProbeOpenGl();

// The RIMEHOLT_DXDIAG_VERSION override: "9.0c", "8.1b", "9.0" (no letter) or "none".
struct VersionOverride {
    bool forced = false;                    // false: no override, probe as usual
    std::optional<DirectXVersion> version;  // empty with forced: report no version
};
// Null, empty and malformed texts force nothing (a malformed one is logged once).
VersionOverride ParseVersionOverride(const char* text);

// CoCreateInstance for CLSID_DxDiagProvider: a new, uninitialised provider's interface iid in
// *object (object is not null). E_NOINTERFACE (and NULL) when the provider lacks iid.
HRESULT CreateDxDiagProvider(REFIID iid, void** object);

}  // namespace rh::com
