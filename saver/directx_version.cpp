// The DirectX version: asked of the DirectX diagnostic provider first, else read from the file
// versions of the system's DirectX libraries.

#include "saver/entry.h"

#include <dxdiag.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdio>
#include <new>
#include <string_view>

namespace {

// Each object is released once, on every way out.
template <typename T>
void SafeRelease(T** p) {
    if (*p != nullptr) {
        (*p)->Release();
        *p = nullptr;
    }
}

bool ReadDword(IDxDiagContainer* container, LPCWSTR name, DWORD* out) {
    VARIANT v;
    VariantInit(&v);
    bool ok = SUCCEEDED(container->GetProp(name, &v)) && v.vt == VT_UI4;
    if (ok) *out = v.ulVal;
    VariantClear(&v);
    return ok;
}

bool ReadLetter(IDxDiagContainer* container, LPCWSTR name, char* out) {
    VARIANT v;
    VariantInit(&v);
    bool ok = SUCCEEDED(container->GetProp(name, &v)) && v.vt == VT_BSTR && v.bstrVal != nullptr;
    if (ok) {
        char text[10] = {};
        WideCharToMultiByte(CP_ACP, 0, v.bstrVal, -1, text, sizeof text, nullptr, nullptr);
        *out = text[0];
    }
    VariantClear(&v);
    return ok;
}

// A version of at least a.b.c.d: (MS, LS) compared as one unsigned 64-bit number.
constexpr ULONGLONG Version(unsigned a, unsigned b, unsigned c, unsigned d) {
    return (ULONGLONG((a << 16) | b) << 32) | ((c << 16) | d);
}

struct FileCheck {
    const char* file;
    // Some files carry 4.x versions on older systems and 5.x on newer ones; a check with a
    // required major word applies only to files of that major word.
    unsigned majorWord;  // 0: any
    ULONGLONG atLeast;
    DWORD major, minor;
    char letter;
};

// Later rows overwrite what earlier rows found.
const FileCheck kFileChecks[] = {
    {"ddraw.dll", 0, Version(4, 2, 0, 95), 1, 0, ' '},
    {"ddraw.dll", 0, Version(4, 3, 0, 1096), 2, 0, ' '},
    {"ddraw.dll", 0, Version(4, 4, 0, 68), 3, 0, ' '},
    {"d3drg8x.dll", 0, Version(4, 4, 0, 70), 3, 0, 'a'},
    {"ddraw.dll", 0, Version(4, 5, 0, 155), 5, 0, ' '},
    {"ddraw.dll", 0, Version(4, 6, 0, 318), 6, 0, ' '},
    {"ddraw.dll", 0, Version(4, 6, 0, 436), 6, 1, ' '},
    {"dplayx.dll", 0, Version(4, 6, 3, 518), 6, 1, 'a'},
    {"ddraw.dll", 0, Version(4, 7, 0, 700), 7, 0, ' '},
    {"dinput.dll", 0, Version(4, 7, 0, 716), 7, 0, 'a'},
    {"ddraw.dll", 4, Version(4, 8, 0, 400), 8, 0, ' '},
    {"ddraw.dll", 5, Version(5, 1, 2258, 400), 8, 0, ' '},
    {"d3d8.dll", 4, Version(4, 8, 1, 881), 8, 1, ' '},
    {"d3d8.dll", 5, Version(5, 1, 2600, 881), 8, 1, ' '},
    {"d3d8.dll", 4, Version(4, 8, 1, 901), 8, 1, 'a'},
    {"d3d8.dll", 5, Version(5, 1, 2600, 901), 8, 1, 'a'},
    {"mpg2splt.ax", 0, Version(6, 3, 1, 885), 8, 1, 'b'},
    {"dpnet.dll", 4, Version(4, 9, 0, 134), 8, 2, ' '},
    {"dpnet.dll", 5, Version(5, 2, 3677, 390), 8, 2, ' '},
    {"d3d9.dll", 0, 0, 9, 0, ' '},  // any readable version
};

}  // namespace

HRESULT GetFileVersion(const char* path, ULONGLONG* version) {
    if (path == nullptr || version == nullptr) return E_INVALIDARG;
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeA(path, &handle);
    if (size == 0) return E_FAIL;
    BYTE* block = new (std::nothrow) BYTE[size];
    if (block == nullptr) return E_OUTOFMEMORY;
    HRESULT hr = E_FAIL;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT length = 0;
    if (GetFileVersionInfoA(path, handle, size, block) &&
        VerQueryValueA(block, "\\", reinterpret_cast<LPVOID*>(&info), &length) && info != nullptr &&
        length >= sizeof(VS_FIXEDFILEINFO)) {
        *version = (ULONGLONG(info->dwFileVersionMS) << 32) | info->dwFileVersionLS;
        hr = S_OK;
    }
    delete[] block;
    return hr;
}

HRESULT GetDirectXVersionFromDiagnostics(DWORD* major, DWORD* minor, char* letter) {
    bool comReady = SUCCEEDED(CoInitialize(nullptr));
    IDxDiagProvider* provider = nullptr;
    IDxDiagContainer* root = nullptr;
    IDxDiagContainer* systemInfo = nullptr;
    DWORD foundMajor = 0, foundMinor = 0;
    char foundLetter = ' ';
    bool gotMajor = false, gotMinor = false, gotLetter = false;

    if (SUCCEEDED(CoCreateInstance(CLSID_DxDiagProvider, nullptr, CLSCTX_INPROC_SERVER,
                                   IID_IDxDiagProvider, reinterpret_cast<LPVOID*>(&provider)))) {
        DXDIAG_INIT_PARAMS params = {};
        params.dwSize = 16;  // the structure's size on the original 32-bit platform
        params.dwDxDiagHeaderVersion = DXDIAG_DX9_SDK_VERSION;
        params.bAllowWHQLChecks = FALSE;
        params.pReserved = nullptr;
        if (SUCCEEDED(provider->Initialize(&params)) && SUCCEEDED(provider->GetRootContainer(&root)) &&
            SUCCEEDED(root->GetChildContainer(u"DxDiag_SystemInfo", &systemInfo))) {
            gotMajor = ReadDword(systemInfo, u"dwDirectXVersionMajor", &foundMajor);
            gotMinor = ReadDword(systemInfo, u"dwDirectXVersionMinor", &foundMinor);
            gotLetter = ReadLetter(systemInfo, u"szDirectXVersionLetter", &foundLetter);
        }
    }
    SafeRelease(&systemInfo);
    SafeRelease(&root);
    SafeRelease(&provider);
    if (comReady) CoUninitialize();

    if (!(gotMajor && gotMinor && gotLetter)) return E_FAIL;
    if (major != nullptr) *major = foundMajor;
    if (minor != nullptr) *minor = foundMinor;
    if (letter != nullptr) *letter = foundLetter;
    return S_OK;
}

HRESULT GetDirectXVersionFromFiles(DWORD* major, DWORD* minor, char* letter) {
    char systemDir[MAX_PATH];
    UINT length = GetSystemDirectoryA(systemDir, MAX_PATH);
    bool found = false;
    DWORD foundMajor = 0, foundMinor = 0;
    char foundLetter = ' ';
    if (length > 0 && length < MAX_PATH) {
        const char* lastFile = nullptr;
        ULONGLONG fileVersion = 0;
        bool readable = false;
        for (const FileCheck& check : kFileChecks) {
            if (lastFile == nullptr || std::string_view(lastFile) != check.file) {
                char path[MAX_PATH + 32];
                std::snprintf(path, sizeof path, "%s/%s", systemDir, check.file);
                readable = SUCCEEDED(GetFileVersion(path, &fileVersion));
                lastFile = check.file;
            }
            if (!readable) continue;
            unsigned fileMajorWord = static_cast<unsigned>(fileVersion >> 48);
            if (check.majorWord != 0 && check.majorWord != fileMajorWord) continue;
            if (fileVersion >= check.atLeast) {
                found = true;
                foundMajor = check.major;
                foundMinor = check.minor;
                foundLetter = check.letter;
            }
        }
    }
    // No check passed: no version was found, which is a failure, not version 0.0.
    if (!found) return E_FAIL;
    if (major != nullptr) *major = foundMajor;
    if (minor != nullptr) *minor = foundMinor;
    if (letter != nullptr) *letter = foundLetter;
    return S_OK;
}

HRESULT GetDirectXVersion(DWORD* version, char* text, int capacity) {
    if (version != nullptr) *version = 0;
    if (text != nullptr && capacity > 0) text[0] = '\0';

    DWORD major = 0, minor = 0;
    char letter = ' ';
    if (FAILED(GetDirectXVersionFromDiagnostics(&major, &minor, &letter)) &&
        FAILED(GetDirectXVersionFromFiles(&major, &minor, &letter))) {
        return E_FAIL;
    }
    if (letter >= 'A' && letter <= 'Z') letter = static_cast<char>(letter - 'A' + 'a');
    DWORD packed = ((major * 256 + minor) << 8);
    bool hasLetter = letter >= 'a' && letter <= 'z';
    if (hasLetter) packed += static_cast<DWORD>(letter - 'a' + 1);
    if (version != nullptr) *version = packed;
    if (text != nullptr && capacity > 0) {
        if (hasLetter) {
            std::snprintf(text, static_cast<size_t>(capacity), "%u.%u%c", major, minor, letter);
        } else {
            std::snprintf(text, static_cast<size_t>(capacity), "%u.%u", major, minor);
        }
        text[capacity - 1] = '\0';
    }
    return S_OK;
}
