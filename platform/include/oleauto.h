// OLE Automation strings (BSTR) and variants, as far as the DirectX diagnostic provider
// answers them. Implemented in platform/com.
#pragma once

#include "objbase.h"

typedef WCHAR OLECHAR;
typedef const OLECHAR* LPCOLESTR;
// A length-prefixed, NUL-terminated UTF-16 string. The pointer addresses the first character;
// the 32-bit byte length sits just before it. NULL is a valid, empty BSTR.
typedef OLECHAR* BSTR;

// Allocates a copy of text (up to its NUL); NULL for a NULL text or when memory runs out.
// The caller frees it with SysFreeString.
BSTR WINAPI SysAllocString(const OLECHAR* text);
// Frees a BSTR from SysAllocString; NULL is allowed.
void WINAPI SysFreeString(BSTR text);
// Characters in the string, without the terminator; 0 for NULL.
UINT WINAPI SysStringLen(BSTR text);

typedef unsigned short VARTYPE;
#define VT_EMPTY 0
#define VT_BSTR 8
#define VT_UI4 19

#define DISP_E_BADVARTYPE ((HRESULT)0x80020008L)

// A tagged value. The three reserved words are there so the value starts where it does on
// Windows (offset 8).
typedef struct tagVARIANT {
    VARTYPE vt;
    WORD wReserved1;
    WORD wReserved2;
    WORD wReserved3;
    union {
        ULONG ulVal;
        BSTR bstrVal;
    };
} VARIANT, VARIANTARG;
static_assert(offsetof(VARIANT, ulVal) == 8, "a variant's value starts at offset 8");

#define V_VT(v) ((v)->vt)
#define V_UI4(v) ((v)->ulVal)
#define V_BSTR(v) ((v)->bstrVal)

// Sets vt to VT_EMPTY; the value is not read, so an uninitialised variant may be passed.
void WINAPI VariantInit(VARIANTARG* variant);
// Frees what the variant owns (a VT_BSTR's string) and sets vt to VT_EMPTY. E_INVALIDARG for
// NULL; DISP_E_BADVARTYPE, with the variant untouched, for a type this layer does not know.
HRESULT WINAPI VariantClear(VARIANTARG* variant);
