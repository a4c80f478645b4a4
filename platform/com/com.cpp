// COM apartment initialisation, object creation, BSTRs and variants.

#include "platform/com/com_local.h"

#include <dxdiag.h>
#include <objbase.h>
#include <oleauto.h>

#include <cstdlib>
#include <cstring>

namespace {

// COM is initialised per thread on Windows; the count pairs CoInitialize with CoUninitialize.
thread_local unsigned t_comInitCount = 0;

// Variant types that own nothing, so clearing them only resets the tag: VT_EMPTY and VT_NULL
// (0, 1), the numbers, currency and dates (2-7), VT_ERROR and VT_BOOL (10, 11), and the
// sized integers (16-23, VT_UI4 among them).
bool IsPlainVariantType(VARTYPE type) {
    return type <= 7 || type == 10 || type == 11 || (type >= 16 && type <= 23);
}

}  // namespace

HRESULT WINAPI CoInitialize(LPVOID reserved) {
    if (reserved != nullptr) return E_INVALIDARG;
    return t_comInitCount++ == 0 ? S_OK : S_FALSE;
}

void WINAPI CoUninitialize(void) {
    if (t_comInitCount > 0) --t_comInitCount;
}

HRESULT WINAPI CoCreateInstance(REFCLSID clsid, LPUNKNOWN outer, DWORD context, REFIID iid, LPVOID* object) {
    if (object == nullptr) return E_POINTER;
    *object = nullptr;
    if (t_comInitCount == 0) return CO_E_NOTINITIALIZED;
    if (outer != nullptr) return CLASS_E_NOAGGREGATION;
    // The provider is an in-process server only; no other context can reach it.
    if (clsid != CLSID_DxDiagProvider || (context & CLSCTX_INPROC_SERVER) == 0) return REGDB_E_CLASSNOTREG;
    return rh::com::CreateDxDiagProvider(iid, object);
}

// A BSTR's allocation: the byte length (without the terminator), then the characters and a
// NUL. The pointer handed out addresses the characters, as on Windows.
BSTR WINAPI SysAllocString(const OLECHAR* text) {
    if (text == nullptr) return nullptr;
    size_t length = 0;
    while (text[length] != u'\0') ++length;
    size_t bytes = length * sizeof(OLECHAR);
    if (bytes > 0xFFFFFFF0u) return nullptr;
    auto* block = static_cast<unsigned char*>(std::malloc(sizeof(DWORD) + bytes + sizeof(OLECHAR)));
    if (block == nullptr) return nullptr;
    DWORD prefix = static_cast<DWORD>(bytes);
    std::memcpy(block, &prefix, sizeof prefix);
    auto* characters = reinterpret_cast<OLECHAR*>(block + sizeof(DWORD));
    std::memcpy(characters, text, bytes + sizeof(OLECHAR));
    return characters;
}

void WINAPI SysFreeString(BSTR text) {
    if (text == nullptr) return;
    std::free(reinterpret_cast<unsigned char*>(text) - sizeof(DWORD));
}

UINT WINAPI SysStringLen(BSTR text) {
    if (text == nullptr) return 0;
    DWORD bytes;
    std::memcpy(&bytes, reinterpret_cast<const unsigned char*>(text) - sizeof(DWORD), sizeof bytes);
    return bytes / sizeof(OLECHAR);
}

void WINAPI VariantInit(VARIANTARG* variant) {
    if (variant != nullptr) variant->vt = VT_EMPTY;
}

HRESULT WINAPI VariantClear(VARIANTARG* variant) {
    if (variant == nullptr) return E_INVALIDARG;
    if (variant->vt == VT_BSTR) {
        SysFreeString(variant->bstrVal);
    } else if (!IsPlainVariantType(variant->vt)) {
        return DISP_E_BADVARTYPE;
    }
    variant->vt = VT_EMPTY;
    return S_OK;
}
